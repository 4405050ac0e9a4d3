// Text processing: checked integer arithmetic, string utilities, regular
// expressions and their matching engine, the text splitter, the text
// analyzer, and the variant-map text format (writer and reader).
//
// The library is single-threaded by design: the light-log id slots of the
// arithmetic and the status word are plain globals without locking.
#pragma once

#include "base/diag/diag.h"
#include "base/container/container.h"
#include "base/stream/stream.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <type_traits>

// ---------------------------------------------------------------------------
// Checked integer arithmetic
//
// Each operation returns the ordinary (32-bit wrapped) result. When the
// operation leaves its domain it pushes one memory-log record (value -1,
// file "base", payload "Error") and sets the status word to -1 unless the
// word already holds a real error (error flag and a non-zero code), which
// stays. Success never touches the status word: check it afterwards.
// ---------------------------------------------------------------------------

// The value of a digit character: chr - 48. Reports when chr is not one of
// "0" to "9"; the result is then still chr - 48, wrapped as unsigned.
uint32_t ctoi(uint32_t chr) noexcept;

// a + b. Reports when the sum leaves the signed 32-bit range; returns it wrapped.
int32_t int_pls(int32_t a, int32_t b) noexcept;

// a - b. Reports when the difference leaves the range; returns it wrapped.
int32_t int_mns(int32_t a, int32_t b) noexcept;

// a * b. Reports once when the product is above the range and once (from
// another site) when below; returns it wrapped.
int32_t int_mlt(int32_t a, int32_t b) noexcept;

// a / b truncated toward zero. b = 0 reports and returns 0. The one
// quotient out of range, INT32_MIN / -1, returns INT32_MIN and reports.
int32_t int_dvs(int32_t a, int32_t b) noexcept;

// The remainder of a / b with the sign of a. b = 0 reports and returns 0;
// INT32_MIN % -1 is 0.
int32_t int_spl(int32_t a, int32_t b) noexcept;

// |a|. INT32_MIN reports and returns INT32_MAX.
int32_t int_abs(int32_t a) noexcept;

// ---------------------------------------------------------------------------
// String utilities
// ---------------------------------------------------------------------------

// Copies units from src to dst up to the first unit found in dlm (32-bit
// unit values ended by 0); that delimiter is consumed, not copied, and
// stored in *fnd (when given), which is 0 when src ended first. Units are
// read in src's unit size (1 byte or 4). A failed push is not reported.
// 0; 0x80000001 when src is not usable at the start (*fnd untouched).
int32_t stm_tok(st_stream *src, const uint32_t *dlm, st_stream *dst, uint32_t *fnd) noexcept;

// Pointer just after the last chr in str; none when chr does not occur or
// str is none. chr must not be 0.
char *_strchr_rev(const char *str, int chr) noexcept;

// The file-name part of path: after its last "/" and then after its last
// backslash; the whole path without either. Points into path.
const char *fil_nam(const char *path) noexcept;

// 1 when a and b are equal with ASCII letters folded to upper case, else 0
// (also when either is none).
int32_t strsml(const char *a, const char *b) noexcept;

// ---------------------------------------------------------------------------
// Regular expressions and the matching engine
//
// A pattern, read from a character stream, compiles into a term list (one
// st_trm per element, linked through nxt, ended by a node with TRM_END).
// The engine runs a term list over a text one character at a time with a
// list of live attempts (threads), so every character is read once.
//
// The language: a literal character; "\" escapes the next character ("\n"
// line end, "\t" tab, "\r" carriage return, any other stands for itself);
// "." any character but the line end; "[...]" a class of members and
// ranges "a-z", negated by a leading "^" ("\]" and "\-" are members);
// "^" line start; "$" line end (not part of the match); "|" alternation;
// "(" ... ")" one level of group with alternatives; quantifiers after one
// character, "." or class: "*" (0 or more), "+" (1 or more), "?" (0 or 1),
// "{n}", "{n,}", "{n,m}". Braces never let the atom be skipped: "a{0,2}"
// needs one "a".
//
// Refused at compile time (-1, nothing kept): a quantifier with no atom
// right before it ("*a", "a|*", "^+", "a**", "(?a)"); a count of exactly
// zero ("{0}", "{}"); a number above 4294967295; a "(" inside a group, a
// ")" without "(" and a "(" never closed; an empty class, a class or range
// that is not closed, a "-" with no member before it or after a range. A
// "|" after a group at the top level has its ordinary meaning. A
// quantifier right after ")" compiles, but a search whose thread reaches
// it fails with -1 (every thread freed): groups do not repeat.
//
// Matching: attempts start at each character fed (an empty text never
// matches). With MTC_LNG the result is the leftmost match and the longest
// from there, also when it ends only at the end of the text; without it,
// the first match completed, where an attempt that ends on a character is
// seen at that character.
//
// The library is single-threaded by design; a matcher record and its term
// list belong to one user at a time.
// ---------------------------------------------------------------------------

enum : uint8_t {        /* st_trm.flg */
    TRM_RNG = 0x01,     // range start: class member, or a count's lower bound
    TRM_RNG_END = 0x02, // range end: class member, or a count's upper bound
    TRM_NOT = 0x04,     // negated check (class with "^", and ".")
    TRM_CHK = 0x08,     // check start: first node of a character, "." or class
    TRM_CHK_END = 0x10, // check end: last node of that check
    TRM_CNT = 0x20,     // count node (val: exact count or a bound)
    TRM_END = 0x40,     // end of pattern
    TRM_JMP = 0x80,     // printed, never set
};

enum : uint8_t {        /* st_trm.grp */
    TRM_OPN = 0x01,     // group open: fork point (val: next alternative's open node)
    TRM_CLS = 0x02,     // group close: jump (val: the node after the group)
    TRM_CNT0 = 0x04,    // the atom starting here may occur zero times
    TRM_LIN_TOP = 0x08, // "^": passes at line start only
    TRM_LIN_END = 0x10, // "$": passes before a line end or at the end of the text
};

constexpr uint32_t TRM_INF = 0xFFFFFFFFu; // count bound: no upper bound

// Term node, allocated one by one.
struct st_trm {
    st_trm *nxt;   // next node in compile order; none after the end node
    uintptr_t val; // character, count bound, or a node pointer (TRM_OPN, TRM_CLS)
    uint8_t flg;   // TRM_RNG .. TRM_JMP
    uint8_t grp;   // TRM_OPN .. TRM_LIN_END
};
static_assert(std::is_standard_layout_v<st_trm>);

enum : uint32_t {   /* st_txt_mtc.opt */
    MTC_DEF = 0x01, // set by default; no effect
    MTC_LNG = 0x02, // longest: keep searching after a match
    MTC_ANC = 0x04, // anchored: the match must start at position 0
    MTC_ONE = 0x08, // start no new attempts (one token at a time)
    MTC_OWN = 0x10, // the record owns its term list: its end frees it
};
constexpr uint32_t MTC_OPT_DEF = MTC_DEF | MTC_LNG; // options when none are given

enum : uint8_t {        /* st_txt_mtc.stt */
    MTC_STT_ANC = 0x01, // anchored (copied from MTC_ANC by txt_mtc)
    MTC_STT_MTC = 0x02, // a match is recorded in mtc_top / mtc_end
    MTC_STT_LIN = 0x08, // at line start: the previous character was a line end,
                        // or txt_mtc has fed nothing yet
};

// A live attempt.
struct st_txt_mtc_thr {
    st_txt_mtc_thr *nxt; // next thread in its list
    const st_trm *nod;   // the node the thread is at
    uint32_t cnt;        // repetitions of the current atom (kept at the lower bound
                         // once an unbounded count has passed it)
    uint32_t top;        // position where the attempt started
    uint8_t spl;         // the zero-occurrence split at nod is done for this character
};

constexpr size_t MTC_ENG_SIZ = 120; // bytes of st_txt_mtc::eng

// Matcher record, owned by its user; set up by txt_mtc_chk_set (or zeroed
// and filled by regexp_chk), ended by txt_mtc_chk_end. The engine keeps
// dead threads and its tables in the record: a warm search allocates
// nothing, which alc_cnt shows.
struct st_txt_mtc {
    st_trm *trm;         // head of the term list
    st_txt_mtc_thr *thr; // live threads, in visiting order
    uint32_t opt;        // MTC_* options
    uint32_t mtc_top;    // start of the recorded match (character position)
    uint32_t mtc_end;    // end of the recorded match, exclusive
    uint32_t pos;        // position of the next character (characters fed)
    uint8_t stt;         // MTC_STT_* bits
    uint64_t alc_cnt;    // allocations the engine has made for the record so far
    alignas(8) unsigned char eng[MTC_ENG_SIZ]; // the engine's own state; zero when fresh
};
static_assert(std::is_standard_layout_v<st_txt_mtc>);

// -- compiling --

// Compiles the whole pattern stream into a term list stored in mtc->trm.
// 0; the status of the first pop for an empty pattern (1); -1 for a refused
// or malformed pattern or a failed allocation; a failing pop's status. On
// failure every node made is freed and mtc->trm is unchanged.
int32_t regexp_trm(st_txt_mtc *mtc, st_stream *pat) noexcept;

// With *chr a backslash, pops the escaped character into *chr ("r" 13,
// "t" 9, "n" 10, any other itself). 0; 1 when that pop fails.
int32_t __regexp_escape(st_stream *pat, uint32_t *chr) noexcept;

// Sets mtc->opt to *opt (MTC_OPT_DEF without opt) plus MTC_OWN and compiles
// with regexp_trm. On failure the record is ended (txt_mtc_chk_end) and the
// compile's status returned.
int32_t regexp_chk(st_txt_mtc *mtc, st_stream *pat, const uint32_t *opt) noexcept;

// Compiles pat and searches txt (a record of its own, ended before return).
// 0 with rng[0] = match start and rng[1] = end (exclusive, in characters);
// 0x80000001 when there is no match; the compile's failure; -1 when the
// search fails (an anchored search whose last attempt died before the
// text ended). rng is only written on a match. Neither stream is ended.
int32_t regexp(st_stream *txt, st_stream *pat, uint32_t *rng, const uint32_t *opt) noexcept;

// regexp over two zero-terminated Shift-JIS strings.
int32_t strregexp(const char *txt, const char *pat, uint32_t *rng, const uint32_t *opt) noexcept;

// Debug print, one line per node: "[%08X]" address, "[v:%c/%10d/%08X]" val
// (a blank for 0, the byte 0xFF above 127; a val above 32 bits prints in
// full), then the flag bits "Flg[rng:%d%d not:%d chk:%d%d cnt:%d end:%d
// jmp:%d grp:%d%d cnt0:%d line:%d%d " and a line end. 0; -1 without fp.
int32_t txt_mtc_trm_prt(const st_trm *lst, FILE *fp) noexcept;

// Frees every node of the list (none: nothing).
void txt_mtc_trm_end(st_trm *lst) noexcept;

// -- matching --

// Zeroes the record (which must be fresh or ended), sets opt to *opt
// (MTC_OPT_DEF without opt) and the term list. 0; -1 without a record.
int32_t txt_mtc_chk_set(st_txt_mtc *mtc, st_trm *trm, const uint32_t *opt) noexcept;

// Drops every live thread, clears the match, mtc_top, mtc_end and MTC_ONE;
// pos is unchanged. 0; -1 without a record.
int32_t txt_mtc_chk_rst(st_txt_mtc *mtc) noexcept;

// Resets, frees the engine's memory and, with MTC_OWN, the term list, and
// zeroes the record. 0; -1 without a record.
int32_t txt_mtc_chk_end(st_txt_mtc *mtc) noexcept;

// Frees every thread of a list.
void __txt_mtc_chk_end(st_txt_mtc_thr *lst) noexcept;

// One step with the character chr; chr 0 is the end-of-text step, which
// finishes the live threads without a character and does not advance pos.
// A new attempt starts at pos unless MTC_ONE is set. 0; -1 on a malformed
// term list, a failed allocation, or an anchored search left with no
// thread and no match (all threads are dropped on failure).
int32_t txt_mtc_wrd(st_txt_mtc *mtc, uint32_t chr) noexcept;

// Searches txt from its current position (a failing pop or a character 0
// ends the text). With MTC_LNG the match is the leftmost one and the
// longest from there; without it the search stops at the first match
// completed. 0 with the match in mtc_top / mtc_end; 0x80000001 when the
// text ends without one; -1 when a step fails. While no attempt is live,
// characters that cannot start a match are stepped over without the
// engine; a Shift-JIS stream over a string (cstream_str_set) is decoded in
// place, its cursor left where single pops would leave it.
int32_t txt_mtc(st_txt_mtc *mtc, st_stream *txt) noexcept;

// ---------------------------------------------------------------------------
// Text splitter
//
// Cuts a character stream into tokens (kind, text). Each rule is a compiled
// pattern with a kind, an optional condition (a named variable must hold a
// value) and an optional assignment made when its token is complete; the
// variables let rules switch each other on and off.
//
// Between tokens every character is offered to the rules in list order
// (rule order is the priority); the first rule whose matcher is then live or
// has a match consumes characters until its last thread dies. Its token is
// the text up to the end of its longest match (at least the first
// character); the characters read beyond it are kept and offered to the
// rules again: "ab|abcd" over "abcx" gives the token "ab", then "c" and "x"
// are offered anew. An attempt that ends
// without a match is not backtracked: its characters become unclaimed text
// (kind 0), and only the character at which it failed is offered to all
// rules again. "^" passes at the start of the text and after a line end of
// the text. The source ends at a failing pop; a character 0 ends the text
// as well (a later call reads on past it, once the characters kept before
// it are handed out).
// At the end of the text a rule still inside its attempt gets the matcher's
// end-of-text step, so "ab*" claims a final "a"; its assignment is not made.
// Texts are the characters' bytes (low byte first), zero-terminated.
// ---------------------------------------------------------------------------

enum : uint8_t {    /* st_txt_spr.flg */
    SPR_PND = 0x01, // the active rule's token is still to be handed out
    SPR_RST = 0x02, // reset both buffers and the active rule at the next call
    SPR_EOT = 0x04, // the text has ended after the characters still queued
    SPR_LIN = 0x08, // chq[0] is at line start (first, or after a line end)
};

// Rule record (tracked allocator), in the splitter's list.
struct st_txt_spr_rul {
    st_txt_spr_rul *nxt; // next rule
    uint32_t rsv;        // always 0
    st_txt_mtc mtc;      // the compiled pattern (owned) and its threads
    char *cnd_nam;       // condition variable, or none (owned copy)
    int32_t cnd_val;     // value the condition variable must hold
    char *asg_nam;       // variable assigned when a token is complete, or none
    int32_t asg_val;     // value assigned
    uint32_t knd;        // kind of this rule's tokens
};

// Splitter record, owned by the caller: txt_spr_set, txt_spr_end.
struct st_txt_spr {
    st_txt_spr_rul *lst;  // first rule
    st_txt_spr_rul *act;  // the rule consuming characters now; none between tokens
    st_vmap var;          // the variables: string keys, integer values
    st_buf mtc_buf;       // bytes consumed by the active rule
    st_buf unm_buf;       // bytes no rule claimed since the last token
    st_txt_spr_rul **tal; // where the next rule is linked (none: not set up)
    st_stream *src;       // source character stream (borrowed)
    uint32_t chr;         // the current character
    uint32_t cnt;         // characters fed (a character fed again counts again)
    uint8_t flg;          // SPR_* bits
    uint32_t *chq;        // characters read and not yet handed out: the active
                          // rule's from its first on, or those kept after a token
    uint32_t chq_len;     // characters in chq
    uint32_t chq_cap;     // characters allocated
    uint32_t chq_pos;     // the next one to feed; chq_len: read a new one
};

// A token as txt_spr and its stream hand it out.
struct st_txt_spr_tkn {
    uint32_t knd;    // the rule's kind; 0 for unclaimed text
    const char *txt; // zero-terminated; valid until the next call
};

// Token record of the text analyzer (its list owns records and texts).
struct st_txt_anr_tkn {
    st_txt_anr_tkn *nxt; // next token in the list
    uint32_t rsv;        // 0
    uint32_t knd;        // token kind
    char *txt;           // the token's text
    uint8_t stt;         // analyzer state bits
};

// Sets the record up over the character stream src (borrowed). 0; -1 for a
// missing record or stream, or when the variable map cannot be set up.
int32_t txt_spr_set(st_txt_spr *spr, st_stream *src) noexcept;

// Appends a rule: the pattern read from pat (not ended) is compiled with
// options *opt (none: MTC_OPT_DEF); cnd_nam / asg_nam may be none. 0; -1
// when spr is not set up or an allocation fails; the compile's status for
// a malformed pattern. On failure no rule is appended.
int32_t txt_spr_psh_lst_regexp(st_txt_spr *spr, uint32_t knd, st_stream *pat, const uint32_t *opt,
                               const char *cnd_nam, int32_t cnd_val, const char *asg_nam,
                               int32_t asg_val) noexcept;

// Hands out the next token in *out. 0 with a token; 0x80000001 when the
// source has ended and nothing is left (again on later calls); -1 for a
// missing argument or a failed step (the splitter is then unusable).
int32_t txt_spr(st_txt_spr *spr, st_txt_spr_tkn *out) noexcept;

// Ends every rule, both buffers and the variables; zeroes the record. 0.
int32_t txt_spr_end(st_txt_spr *spr) noexcept;

// Streams over a set-up splitter (stm is not self-allocated; ending the
// stream ends the splitter). A pop hands out one st_txt_spr_tkn, or for the
// analyzer's kind one st_txt_anr_tkn with only knd and txt filled; the end
// of the text is 0x80000001. 0; -1 for a missing argument.
extern const st_stream_fnc __txt_spr_stream_fnclst;
extern const st_stream_fnc __txt_spr_for_anr_stream_fnclst;
int32_t txt_spr_stream(st_stream *stm, st_txt_spr *spr) noexcept;
int32_t txt_spr_for_anr_stream(st_stream *stm, st_txt_spr *spr) noexcept;

// ---------------------------------------------------------------------------
// Variant-map text format: the writer
//
// One pair per line: the key, "=", the value, a line end. Nested keys are
// written either with their full "/"-separated path (path layout) or inside
// "[" and "]" lines after their parent's line, one tab deeper (block
// layout). Integers are written in decimal (a negative one between
// quotes, as the reader drops a bare "-"); a non-empty string of ASCII
// letters, digits and "_" only is written bare, any other (the empty
// string too, as "") between quotes with "\" as "\\", a quote as "\""
// and a line end as "\n". Strings are decoded as Shift-JIS; a lead byte that ends a string is a
// character of its own, so every byte of a value reaches the text.
//
// A key without value is not written: its nested keys carry its name in
// their paths, so "a/b=1" read and written again gives "a/b=1". In block
// layout a block opens only after a key written without path, and a key
// is written with the path from the block it is in; so every "]" takes the
// reader back to where its "[" found it. A key without value and without
// nested keys leaves no trace in the text.
// A key in a map without nests counts as a top-level key.
// ---------------------------------------------------------------------------

enum : uint8_t {         /* st_cstream_vmap_opt.flg */
    VMAP_FMT_BLK = 0x01, // block layout; clear: path layout
};

// Writer options (all zero when none are given).
struct st_cstream_vmap_opt {
    uint32_t lvl; // format level: 0, 1 or 2; above 2 every key and value fails
    uint32_t rsv; // reserved, not read
    uint32_t dpt; // tabs before every line, and the bracket depth to start from
    uint8_t flg;  // VMAP_FMT_* bits
};

// The writer's list, the fnc member of a list with a block slot (a block
// pop hands out the rest of the current line).
extern const st_stream_fnc &cstream_vmap_fnclst;

// Sets stm up (none: a self-allocated stream parked in the hand-off slot) as
// a character stream of the text of the keys below stt (none: the whole
// map), depth first, siblings in key order. Pops end with 1 after the text;
// a key or value of another kind than integer or string, or lvl above 2,
// fails the pop (-1; the text handed out so far stays out). After the text
// every block still open is closed, the initial depth included. The map
// must not change while the stream is open. 0; -1 for a missing map or a
// failed allocation (nothing set up).
int32_t cstream_vmap(st_stream *stm, st_vmap *map, void *stt,
                     const st_cstream_vmap_opt *opt) noexcept;

// Append one key or value node's text (as above) to the chain stream out,
// setting out up as a chain when it is not open. cstream_vtyp without out
// parks a new self-allocated stream of the text in the hand-off slot.
// cstream_vtyp_key writes dpt tabs and, in path layout, the key's ancestors
// each followed by "/", then the key; cstream_vtyp_pr the key, "=" and its
// value. 0; -1 for a node of another kind, lvl above 2, a key without value
// (cstream_vtyp_pr) or a failed allocation or push (out unchanged).
int32_t cstream_vtyp(st_stream *out, const void *nod, const st_cstream_vmap_opt *opt) noexcept;
int32_t cstream_vtyp_key(st_stream *out, const void *nod, const st_cstream_vmap_opt *opt) noexcept;
int32_t cstream_vtyp_pr(st_stream *out, const void *nod, const st_cstream_vmap_opt *opt) noexcept;

// ---------------------------------------------------------------------------
// Text analyzer
//
// A rule-driven rewriter over a stream of tokens (st_txt_anr_tkn, e.g. from
// txt_spr_for_anr_stream). Tokens are read lazily into a list; each token
// that becomes the head gets one pass: every rule, in order, tests its
// items from the head (a cursor walks forward, marks remember places), and
// a rule whose tests all pass performs its items' actions. The head is then
// handed out unless deleted. Kind bits ANR_OPN / ANR_CLS open and close a
// group, ANR_BLK marks a blank; -1 in a test matches any kind.
//
// Choices: a pattern item with the anchored option tests each token's text
// from its start; ANR_ECHO with no text prints the text of the token it was
// tested on, also when the rule applies. Output files are opened
// close-on-exec. The end of the source tokens (status 1 or 0x80000001) is
// reported as 1; other failures are passed on.
// ---------------------------------------------------------------------------

enum : uint32_t {          /* token kind bits the analyzer reads */
    ANR_OPN = 0x80000000u, // opens a group
    ANR_CLS = 0x40000000u, // closes a group
    ANR_BLK = 0x20000000u, // blank: skipped by moves
};

enum : uint8_t {        /* st_txt_anr_tkn.stt */
    ANR_TKN_ANR = 0x01, // its pass has run
    ANR_TKN_GEN = 0x02, // made by an action
    ANR_TKN_DEL = 0x04, // deleted: never handed out, skipped by moves and joins
};

// Item types (st_txt_anr_itm.typ), numbered from 0 in this order. Each
// line: what the item does while its rule is tested / what it does when
// the rule applies. To mark is to remember the link in front of the cursor
// token, so that the action concerns that token wherever later items move.
// "txt sub" is txt with "@name@" variables substituted (vmap_fmt_stream).
enum : uint32_t {
    ANR_TST = 0,     // the cursor token's kind is val (-1 any) and, with a txt,
                     // its text holds a match of the pattern txt / -
    ANR_TST_NOT,     // the inverse of ANR_TST / -
    ANR_LOOK,        // ANR_TST on the cursor token, else on each next one (moving
                     // as ANR_MOV) until one passes; the cursor goes back / -
    ANR_FIND,        // as ANR_LOOK; the cursor stays on the token found / -
    ANR_MOV,         // to the next token, skipping blanks, deleted tokens and, from
                     // an opener, its whole group / -
    ANR_MOV_ALL,     // to the next token / -
    ANR_OPN_IN,      // the cursor is on an opener; to the next token not blank / -
    ANR_GRP_OUT,     // past the closer that ends the group (depth 1 at the start) / -
    ANR_GRP_CLS,     // onto that closer / -
    ANR_KND,         // mark / the marked token's kind becomes val
    ANR_INS_GRP,     // remember the cursor token, or its group's closer at an
                     // opener / a new token (val, txt) after it
    ANR_INS_AFT,     // remember the cursor token / a new token (val, txt) after it
    ANR_INS_BEF,     // mark / a new token (val, txt) before the marked one
    ANR_INS_GRP_VAR, // as ANR_INS_GRP, the new text txt sub
    ANR_INS_AFT_VAR, // as ANR_INS_AFT, the new text txt sub
    ANR_INS_BEF_VAR, // as ANR_INS_BEF, the new text txt sub
    ANR_DEL,         // mark / the marked token is deleted
    ANR_ECHO,        // print txt (none: the cursor token's text) / print it again
    ANR_FIL_NEW,     // - / open the output file txt for writing (closing one open)
    ANR_FIL_ADD,     // - / the same for appending
    ANR_FIL_CLS,     // - / close the output file (none open: fail)
    ANR_FIL_PUT,     // - / write txt to the output file (none open: fail)
    ANR_FIL_PUT_VAR, // - / write txt sub to the output file (none open: fail)
    ANR_VAR_SEL,     // select the variable named txt (none or empty: the cursor
                     // token's text); a missing one fails the test, or with val
                     // not 0 is made with the value "" / select it again
    ANR_VAR_STR,     // a variable is selected; mark / it gets the string txt (none
                     // or empty: the marked token's text); the selection ends
    ANR_VAR_INT,     // as ANR_VAR_STR / it gets that text's integer (atoi)
    ANR_VAR_ADD,     // as ANR_VAR_STR / that integer is added to its integer value
                     // (another value is replaced)
    ANR_CAT_TOP,     // mark / a join starts at the marked token
    ANR_CAT_END,     // mark / a join ends at the marked token
    ANR_CAT,         // - / the texts of the join's tokens not deleted become one
                     // new token (kind val) before its last; they are deleted
    ANR_TYP_NUM      // the number of types; this and any above fail their test
};

struct st_txt_anr_itm {
    st_txt_anr_itm *nxt;  // next item of the rule
    uint32_t typ;         // ANR_TST .. ANR_CAT; any other fails its test
    int32_t val;          // kind to test (-1 any), kind to give, or a flag
    char *txt;            // pattern, text, file or variable name, or none (owned)
    st_txt_mtc mtc;       // ANR_TST .. ANR_FIND with a text: the compiled pattern (owned)
    st_txt_anr_tkn **mrk; // remembered link: its token is the one concerned
    void *var_nod;        // ANR_VAR_SEL: the variable found
    void *var_nst;        // ANR_VAR_SEL: its nest (none: top level)
};

struct st_txt_anr_rul {
    st_txt_anr_rul *nxt; // next rule, in the order added
    st_txt_anr_itm *itm; // first item
    st_txt_anr_tkn *use; // token at which its tests ended while it is in use; none: free
    st_txt_anr_rul *stk; // next rule on the stack of rules in use
    int32_t stt_req;     // the analyzer state in which it is tried
    int32_t stt_new;     // state set when it is applied
    int32_t stt_end;     // state set when it is released
};

enum : uint8_t {    /* st_txt_anr.flg */
    ANR_HND = 0x01, // the head was handed out and is removed at the next call
    ANR_EOS = 0x02, // src has reported its end: no more reads
};

// Analyzer record, owned by the caller: txt_anr_set / _txt_anr_set,
// txt_anr_end.
struct st_txt_anr {
    st_stream *src;           // token source (owned)
    st_txt_anr_tkn *tok;      // the token list; the first is the head
    st_txt_anr_tkn *cur;      // the cursor token
    st_txt_anr_tkn **cur_lnk; // the link in front of the cursor token
    st_txt_anr_rul *rul;      // first rule
    st_txt_anr_rul **rul_tal; // where the next rule is linked
    st_txt_anr_itm **itm_tal; // where the next item of the current rule is linked
    int32_t stt;              // the analyzer state (starts at 0)
    st_txt_anr_rul *stk;      // stack of rules in use
    st_vmap var;              // variables: string keys, string or integer values
    void *var_sel;            // the selected variable's key node, or none
    void *var_sel_nst;        // its nest
    st_txt_anr_tkn **cat_top; // first token of a join (a link), or none
    st_txt_anr_tkn **cat_end; // last token of a join (a link), or none
    FILE *fil;                // the output file, or none
    uint8_t flg;              // ANR_* bits
};

// Set the record up over a splitter (its token stream, owned: ending the
// analyzer ends the splitter) or over a token stream src (owned; ended
// when the set-up fails). 0; -1 for a missing argument or allocation.
int32_t txt_anr_set(st_txt_anr *anr, st_txt_spr *spr) noexcept;
int32_t _txt_anr_set(st_txt_anr *anr, st_stream *src) noexcept;

// Appends a rule with states stt[0..2] (required, on apply, on release;
// none: 0, 0, 0); later items go to it. 0; -1 on failure.
int32_t txt_anr_chk_add_lst(st_txt_anr *anr, const int32_t *stt) noexcept;

// Appends an item to the current rule; ANR_TST .. ANR_FIND with a text
// compile it with *opt (none: MTC_OPT_DEF). 0; -1 without a rule, for a
// malformed pattern or a failed allocation (nothing appended).
int32_t txt_anr_chk_add_fct(st_txt_anr *anr, uint32_t typ, int32_t val, const char *txt,
                            const uint32_t *opt) noexcept;

// The head token (read from src when the list is empty), made the cursor;
// *lnk (when given) = the list head link. 0; -1 when there is none.
int32_t txt_anr_top(st_txt_anr *anr, st_txt_anr_tkn **tok, st_txt_anr_tkn ***lnk) noexcept;

// Moves the cursor to the next token (read from src at the end); *prv = the
// token left. 0; -1 when there is none (the cursor is then cleared).
int32_t txt_anr_nxt(st_txt_anr *anr, st_txt_anr_tkn **tok, st_txt_anr_tkn **prv) noexcept;

// Removes the head token; the cursor goes to the new head. 0; -1 when the
// list is empty.
int32_t txt_anr_pop(st_txt_anr *anr) noexcept;

// Inner operations: read one token from src to the end of the list (0;
// the source's status at its end); the move of ANR_MOV (skip) and of
// ANR_INS_GRP; make a token from a text copy, a text taken over, or a
// stream's text (the stream is ended).
int32_t __txt_anr_new(st_txt_anr *anr) noexcept;
int32_t __txt_anr_mov_nxt(st_txt_anr *anr, st_txt_anr_tkn **tok, st_txt_anr_tkn ***lnk,
                          int32_t skp) noexcept;
int32_t __txt_anr_mak_fct(st_txt_anr_tkn **out, uint32_t knd, const char *txt) noexcept;
int32_t __txt_anr_mak_fct_use_prm_txt(st_txt_anr_tkn **out, uint32_t knd, char *txt) noexcept;
int32_t __txt_anr_mak_fct_by_stm(st_txt_anr_tkn **out, uint32_t knd, st_stream *stm) noexcept;

// One pass of all rules from the head. 0; a failing action's status.
int32_t __txt_anr(st_txt_anr *anr) noexcept;

// Advances: removes the head handed out last, runs the new head's pass
// once, hands out the head after it in *tok (may be none). 0; 1 at the end
// of the tokens; a failure.
int32_t _txt_anr(st_txt_anr *anr, st_txt_anr_tkn **tok) noexcept;

// _txt_anr until it reports anything but 0; then 0.
int32_t txt_anr(st_txt_anr *anr) noexcept;

// Ends src, frees tokens, rules and items, closes the output file, ends the
// variables, zeroes the record. 0.
int32_t txt_anr_end(st_txt_anr *anr) noexcept;

// Streams: the analyzer's tokens that are not deleted (a copy of each
// record; its text valid until the next pop; ending the stream ends the
// analyzer; none: self-allocated and parked); the bytes of a token
// stream's texts (owned; deleted tokens skipped); and a copy of the
// character stream src (owned) with each "@name@" replaced by the text of
// the top-level variable name of map ("@@" gives "@"; a missing name, an
// unterminated one or a value of another kind fails the pop).
extern const st_stream_fnc __txt_anr_stream_fnclst;
extern const st_stream_fnc __txt_anr_cvt_bin_stream_fnclst;
extern const st_stream_fnc __vmap_fmt_stream_fnclst;
int32_t txt_anr_stream(st_stream *stm, st_txt_anr *anr) noexcept;
int32_t txt_anr_cvt_bin_stream(st_stream *stm, st_stream *tok, uint32_t rsv) noexcept;
int32_t vmap_fmt_stream(st_stream *stm, st_vmap *map, st_stream *src) noexcept;

// ---------------------------------------------------------------------------
// Variant-map text format: the reader
//
// Reads "key=value" statements (ended by ";", a line end, "[" or "]"),
// "/"-separated paths (nested maps) and "[" ... "]" blocks below the key
// created last. Words are runs of ASCII letters, digits and "_", or quoted
// texts with the escapes "\n", "\t", "\"", "\\" and "\/"; "#" is ignored,
// other characters outside quotes are dropped. Keys and values are stored
// as strings; a path key missing on the way is created without value. On a
// failure the keys stored so far stay in the map.
// ---------------------------------------------------------------------------

enum : uint32_t {       /* read options of _vmap_cstream */
    VMAP_RD_LIN = 0x01, // a line end that ends no statement ends reading (success)
    VMAP_RD_VAL = 0x02, // a key must be followed by "=" and a value
};

// Reads statements from src (not ended) into map below par (none: the top
// level). 0 at the end of the text (whatever the bracket depth) or at a
// line end that ends no statement (VMAP_RD_LIN); 1 when the text ends
// after "=" or after a key in a map without nests (that key not stored);
// 0x80000001 for an unexpected token; -1 for a "]" at the level of par, a
// malformed path, a statement not ended, a bare key with VMAP_RD_VAL or a
// failed put.
int32_t _vmap_cstream(st_vmap *map, void *par, st_stream *src, uint32_t opt) noexcept;

// _vmap_cstream with VMAP_RD_VAL.
int32_t vmap_cstream(st_vmap *map, void *par, st_stream *src) noexcept;
