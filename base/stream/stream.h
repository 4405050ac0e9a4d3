// Streams: the stream object with its table of six operations, byte streams
// over memory, values and files, character streams (Shift-JIS and UTF-8
// decoding, argument joining, replacing, chaining) and conversions.
//
// A stream moves one unit at a time (a kind with block slots also moves
// runs of them); the unit is fixed by the kind: a byte
// for byte streams, a 32-bit character for character streams, a stream
// object for the chain's pushes. A character packs its bytes low byte
// first: a one-byte character is its byte value (10 is the line feed, 0 the
// terminator), the Shift-JIS character 0x82 0xA0 is 0xA082.
//
// The library is single-threaded by design: the status word and the
// hand-off slot are plain globals, and a stream must not be shared between
// threads.
#pragma once

#include "base/diag/diag.h"

#include <cstdint>
#include <cstdio>
#include <type_traits>

// ---------------------------------------------------------------------------
// Stream object and function list
// ---------------------------------------------------------------------------

// A kind's operations, in this slot order; any slot may be empty.
struct st_stream_fnc {
    int32_t (*pop)(void *hdl, void *unit); // one unit out: 0; else 1 (no more data) or a failure
    int32_t (*psh)(void *hdl, const void *unit); // one unit in: 0; non-zero is a failure
    int32_t (*end)(void *hdl); // releases the handle and what it owns; result ignored
    int32_t (*rst)(void *hdl); // rewinds: 0 or a failure
    int32_t (*fls)(void *hdl); // sends buffered output: 0 or a failure
    int32_t (*acs_inf)(void *hdl, int32_t num, intptr_t a1, intptr_t a2,
                       const char **dsc); // numbered access information: 0 or a failure
};

// A kind that can move many units in one call extends its list with block
// slots; its streams carry STM_BLK, and fnc_lst then points at the fnc
// member of this record.
struct st_stream_fnc_blk {
    st_stream_fnc fnc; // the six slots, as for any kind
    // 1..max units out: 0 with *got >= 1; else the end or a failure, with
    // the *got units (maybe none) met before it. May be empty.
    int32_t (*pop_blk)(void *hdl, void *units, uint32_t max, uint32_t *got);
    // The cnt units at units in: 0 with *put = cnt; non-zero is a failure,
    // with the *put units stored before it. Empty by default, so lists that
    // leave it out still build: their block pushes go unit by unit.
    int32_t (*psh_blk)(void *hdl, const void *units, uint32_t cnt, uint32_t *put) = nullptr;
};
static_assert(std::is_standard_layout_v<st_stream_fnc_blk>);

// Pending end (STM_PND, STM_PNE): a block pop that met an end after it had
// units hands the units out and keeps the end for the next pop:
//   neither           nothing pending
//   STM_PND           1 (no more data)
//   STM_PND | STM_PNE -1 (and any failure word other than 0x80000001)
//   STM_PNE           0x80000001
// The stream is stopped meanwhile; rst, fls and end drop what is pending.
enum : uint8_t {    /* st_stream.flg */
    STM_OPN = 0x01, // open: set by stream_set, cleared by stream_end
    STM_STP = 0x02, // stopped: a pop or push of the kind failed; cleared by rst, fls and end
    STM_SLF = 0x04, // self-allocated: stream_set allocated the object, stream_end frees it
    STM_CNT = 0x08, // counted: itf_rec is attached and accounts every pop and push
    STM_BLK = 0x10, // fnc_lst is the fnc member of an st_stream_fnc_blk
    STM_SLT = 0x20, // self-timed: the kind adds the time of its pops and pushes to
                    // itf_rec; the framework counts them without reading the clock
    STM_PND = 0x40, // pending end, see above
    STM_PNE = 0x80, // pending end is a failure, see above
};

// The stream object. A zero-filled object is a valid, closed stream.
struct st_stream {
    void *hdl; // the kind's context, first argument of every slot; none once ended
    const st_stream_fnc *fnc_lst; // the kind's function list
    uint8_t flg;                  // STM_* bits
    uint32_t acs_unt;             // added to itf_rec->siz per counted pop or push (1)
    st_itfmng_rcd *itf_rec;       // access statistics, or none
};
static_assert(std::is_standard_layout_v<st_stream>);

// The hand-off slot: a constructor given no stream record allocates one
// and parks it here, from which the next constructor or the caller takes it.
using stream_end_fn = int32_t (*)(st_stream *); // how a parked stream is ended

struct st_stkptr {
    st_stream *stm;    // the parked stream, or none
    stream_end_fn end; // its end routine (kept, never called here)
};

extern st_stkptr __stkptr; // the one-slot hand-off of self-allocated streams

// With stm: parks stm and end (replacing what was parked) and returns stm.
// Without: returns the parked stream (none if empty) and empties the slot.
st_stream *stkptr(st_stream *stm, stream_end_fn end) noexcept;

// ---------------------------------------------------------------------------
// Framework
// ---------------------------------------------------------------------------

// Sets a stream up: stm is zero-filled first; without stm a zeroed object is
// allocated, marked self-allocated and parked in the hand-off slot (stkptr).
// With rcd the stream is counted and rcd's lifetime timer starts. 0; -1 (or
// the allocator's status) only when the allocation fails, nothing parked.
int32_t stream_set(st_stream *stm, void *hdl, const st_stream_fnc *lst,
                   st_itfmng_rcd *rcd) noexcept;

// As stream_set over lst->fnc with STM_BLK and the extra bits flg (STM_SLT)
// set on the object, also on one parked in the hand-off slot.
int32_t stream_set_blk(st_stream *stm, void *hdl, const st_stream_fnc_blk *lst, st_itfmng_rcd *rcd,
                       uint8_t flg) noexcept;

// One unit out of the stream into unit. 0; 1 for no more data; a failure
// passed on from the kind. -1 without calling the kind when the stream is
// missing, closed or stopped (after a pending end is reported, see
// STM_PND). Any non-zero result of the kind stops it.
int32_t stream_pop(st_stream *stm, void *unit) noexcept;

// Up to max units (the kind's unit: a byte, a 32-bit character) into units.
// 0 with *got >= 1 as soon as one unit is there (it never waits to fill
// max); 1 with *got = 0 at the end of data; failures as stream_pop. Units
// met before an end are handed out first and the end comes with the next
// pop (single or block). A kind without a block slot gives one unit per
// call. Accounted as the same units popped one by one, but timed once per
// call. -1 for max 0 or no units or got (*got = 0 when given).
int32_t stream_pop_blk(st_stream *stm, void *units, uint32_t max, uint32_t *got) noexcept;

// One unit in. 0; a failure of the kind stops the stream and gives the push
// failure value 0x80000001; -1 as stream_pop for a missing, closed or
// stopped stream.
int32_t stream_psh(st_stream *stm, const void *unit) noexcept;

// Up to cnt units (the kind's unit) from units in, *put of them. 0 with
// *put >= 1: a kind with a block push slot takes all cnt; one without takes
// one unit per call through stream_psh (the framework does not know the
// size of a unit, so the caller steps on by *put and calls again). A
// failure stops the stream and gives 0x80000001, with the *put units stored
// before it. Accounted as the same units pushed one by one, but timed once
// per call. -1 as stream_psh for a missing, closed or stopped stream, and
// for cnt 0 or no units or put (*put = 0 when given).
int32_t stream_psh_blk(st_stream *stm, const void *units, uint32_t cnt, uint32_t *put) noexcept;

// Ends the stream: calls the kind's end, stops the lifetime timer, empties
// the handle, frees a self-allocated object. Returns 0 and leaves the status
// word as it was, so clean-up paths keep their failure. A second call (the
// handle is empty) does nothing.
int32_t stream_end(st_stream *stm) noexcept;
int32_t _stream_end(st_stream *stm) noexcept; // the same, in the form parked with stkptr

// An end slot that only frees the handle with _free.
int32_t stream_end_fnc_only_free(void *hdl) noexcept;

// 0 when the object, its handle and its list are present, it is open and
// not stopped; -1 otherwise (so a console stream, whose handle is empty,
// fails it).
int32_t stream_chk(const st_stream *stm) noexcept;

// Clears stopped and rewinds through the rst slot (success without one).
// -1 for a missing object or list or a closed stream; a failing slot gives
// its own status (-1 if it left none).
int32_t stream_rst(st_stream *stm) noexcept;
int32_t _stream_rst(void *stm) noexcept; // the same as an rst slot: hdl is a stream

// As stream_rst with the fls slot.
int32_t stream_fls(st_stream *stm) noexcept;

// Calls the acs_inf slot with the handle; open or stopped do not matter.
// -1 for a missing object, list or slot or a closed stream; a failing slot
// gives its own status (-1 if it left none).
int32_t stream_acs_inf(st_stream *stm, int32_t num, intptr_t a1, intptr_t a2,
                       const char **dsc) noexcept;

// ---------------------------------------------------------------------------
// Byte streams. Every constructor takes an absent stm (the object is then
// allocated and parked in the hand-off slot) and reports an allocation
// failure with the allocator's status (-1 if none), nothing changed.
// ---------------------------------------------------------------------------

// Tables whose handles callers may build themselves (on their own stack).
extern const st_stream_fnc buf_stream_fnclst;   // hdl: a buffer handle (st_buf's dat)
extern const st_stream_fnc str_stream_fnclst;   // hdl: const char ** cursor; no end
extern const st_stream_fnc _str_stream_fnclst;  // hdl: allocated cursor cell; end frees it
extern const st_stream_fnc file_stream_fnclst;  // hdl: FILE *; end closes it
extern const st_stream_fnc _file_stream_fnclst; // hdl: FILE *; no end
extern const st_stream_fnc stdio_stream_fnclst; // hdl: none; stdin and stdout

// A stream over a buffer (handle buf) with the buffer's own pop, push, end
// and rst; an exhausted buffer ends pops with 0x80000001, not 1. 0.
int32_t buf_stream_set(st_stream *stm, void *buf) noexcept;

// A stream over cnt elements of siz bytes at ary (the caller's). Pops copy
// elements out, pushes copy in; both end at cnt; rst goes back to the first.
// -1 when ary or siz is missing; cnt 0 is allowed.
int32_t stream_stc_ary_set(st_stream *stm, void *ary, uint32_t siz, uint32_t cnt) noexcept;

// Pops the bytes of the zero-terminated str (the caller's; must outlive the
// stream), then 1. Pops fail with -1 when str is none.
int32_t bstream_str_set(st_stream *stm, const char *str) noexcept;

// Stores a new empty string in *str (the former value is not freed) and
// appends each pushed byte to it; *str names a terminated string after
// every push. The caller frees it with _free after ending the stream.
// -1 when str is none (nothing changed).
int32_t bstream_vstr_set(st_stream *stm, char **str) noexcept;

// Pop the decimal text of val ("-2147483648" included), then 1.
int32_t bstream_int_set(st_stream *stm, int32_t val) noexcept;
int32_t bstream_uint_set(st_stream *stm, uint32_t val) noexcept;

// A stream over the open file fp: pops fgetc (end of file is a failure, -1),
// pushes fputc, rst rewinds. Block pops take one byte as a pop does, then
// what the file's buffer already holds (no further wait). With cls set,
// ending the stream closes fp.
// Counted under "file" / "stdin", "stdout", "stderr" or "unkown".
int32_t bstream_fil_set(st_stream *stm, FILE *fp, int32_t cls) noexcept;

// The console: pops from stdin, pushes to stdout (EOF is a failure). Its
// handle is empty, so stream_end does nothing for it and stream_chk fails.
// Counted under "stdio" / "unkown".
int32_t bstream_stdio_set(st_stream *stm) noexcept;

// ---------------------------------------------------------------------------
// Character streams. A decoder owns its byte stream: ending it ends that
// stream (freeing it when self-allocated).
// ---------------------------------------------------------------------------

// The Shift-JIS decoder (hdl: the byte stream); may be filled in directly
// with hdl = the byte stream, fnc_lst = &stream_btoc_sjis, flg = STM_OPN.
extern const st_stream_fnc stream_btoc_sjis;

// The no-clear view (hdl: the viewed stream).
extern const st_stream_fnc stream_noclear_fnclst;

// Shift-JIS over src, or over the stream taken from the hand-off slot when
// src is none. Pops: a cstream_sjis_lead byte and the byte after it are one
// character; a lead byte at the very end is dropped. -1 when there is no
// byte stream. When the set-up fails, a stream taken from the slot is
// released (it was handed over); a given src stays the caller's.
int32_t cstream_default_btoc_set(st_stream *stm, st_stream *src) noexcept;

// UTF-8 over src (or the hand-off slot, as above). Pops whole valid
// sequences of 1 to 4 bytes; the bytes of an invalid or truncated sequence
// come one by one, so no byte is lost or merged with a following one.
int32_t cstream_utf8_btoc_set(st_stream *stm, st_stream *src) noexcept;

// False when the locale's codeset is Shift-JIS (SHIFT_JIS, SJIS, CP932,
// WINDOWS-31J, after setlocale(LC_CTYPE, "")); true for every other one,
// C and POSIX included: the console then reads UTF-8.
bool cstream_console_utf8() noexcept;

// The console's decoder over src: UTF-8 when cstream_console_utf8, else
// Shift-JIS. Same arguments and results as cstream_default_btoc_set.
int32_t cstream_console_btoc_set(st_stream *stm, st_stream *src) noexcept;

// The bytes of a character value, as every character stream pushes them:
// low byte first, up to the first zero byte after the first (0x41 is one
// byte, 0xA082 is 0x82 then 0xA0, a 3-byte UTF-8 character 3 bytes, 0 is
// the one byte 0). Fills out and returns the count, 1 to 4.
inline uint32_t cstream_chr_bytes(int32_t chr, char out[4]) noexcept
{
    uint32_t c = static_cast<uint32_t>(chr), n = 0;
    do {
        out[n++] = static_cast<char>(c & 0xff);
        c >>= 8;
    } while (n < 4 && (c & 0xff));
    return n;
}

// True for a Shift-JIS lead byte (0x81-0x9F, 0xE0-0xEF): it and the byte
// after it are one character. Every other byte is a character of its own.
constexpr bool cstream_sjis_lead(uint8_t b) noexcept
{
    return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xEF);
}

// Shift-JIS character streams over a new byte stream of the same name.
int32_t cstream_str_set(st_stream *stm, const char *str) noexcept;
int32_t cstream_vstr_set(st_stream *stm, char **str) noexcept;
int32_t cstream_int_set(st_stream *stm, int32_t val) noexcept;
int32_t cstream_uint_set(st_stream *stm, uint32_t val) noexcept;
int32_t cstream_fil_set(st_stream *stm, FILE *fp, int32_t cls) noexcept;
int32_t cstream_stdio_set(st_stream *stm) noexcept;

// The arguments args[0 .. cnt-1] (the caller's) joined into one command
// line that cmdline_split gives back: one blank between arguments; an
// argument that is empty or holds a blank, tab, quote or line feed is
// quoted; a quote becomes \" with the backslashes before it doubled, as are
// backslashes before a closing quote; every other byte stays. -1 when
// cnt is not positive or args is none.
int32_t cstream_args_set(st_stream *stm, int32_t cnt, const char *const *args) noexcept;

// *out = the joined command line (free it with _free); none on failure.
int32_t arg_to_vstr(int32_t cnt, const char *const *args, char **out) noexcept;

// The characters of src with every occurrence of pat's characters replaced
// by rpl's, left to right without overlap; an empty pattern replaces
// nothing. pat and rpl are drained and ended at once; src is ended with
// the new stream (it stays the caller's when this fails). -1 for a
// missing stream.
int32_t cstream_replace(st_stream *stm, st_stream *src, st_stream *pat, st_stream *rpl) noexcept;

// An empty chain. Pushing a stream object (the unit is the object) moves it
// in: the pushed object is zero-filled, or freed when self-allocated.
// Pops yield the members' units one member after the other, ending each
// member when it reports anything but success; then 1.
int32_t stream_chain(st_stream *stm) noexcept;

// A view of viw that forwards pop, push and rst and never ends it. -1 when
// viw is none.
int32_t stream_noclear(st_stream *stm, st_stream *viw) noexcept;

// ---------------------------------------------------------------------------
// Conversions. Each ends its source in every case, never the destination.
// ---------------------------------------------------------------------------

// Pops every unit (siz bytes) of src and pushes it to dst; any failing pop
// ends the copy as the end of data. 0; a failing push gives its status.
// -1 for a missing stream or siz 0.
int32_t stream_cpy(st_stream *dst, st_stream *src, uint32_t siz) noexcept;

// Pushes the characters of str to the character stream dst, decoded with
// the console's decoder (so every byte arrives). 0 or stream_cpy's failure.
int32_t cstream_cpy_str(st_stream *dst, const char *str) noexcept;

// *out = a new zero-terminated text of src's characters (free with _free);
// an empty source gives "" not none. A failing source pop passes its
// failure on; none is stored on failure.
int32_t cstream_to_vstr(st_stream *src, char **out) noexcept;

// *out = a new array of src's characters ended by a 0 character.
int32_t cstream_to_vcstr(st_stream *src, int32_t **out) noexcept;

// Writes src's characters as bytes to the open file fp (left open), no
// terminator.
int32_t cstream_to_fil(st_stream *src, FILE *fp) noexcept;
