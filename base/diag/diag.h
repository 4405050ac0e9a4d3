// Diagnostics: the status word and error trail shared by every library
// operation, the checked memory wrappers, the tick count and timers, the
// profiler, the memory log, the resource manager and the interface manager.
//
// The bottom layer of the library. Its one edge upward is by design: the
// resource manager and the interface manager keep their records in the
// ordered map of the containers (itfmng.cpp and rscmng.cpp include
// container.h), while the containers use only the status word and the
// memory wrappers from here. No other file of diag includes a higher layer.
//
// The library is single-threaded by design: every process-wide variable
// declared here is a plain global without locking.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <type_traits>

// ---------------------------------------------------------------------------
// Status word
//
// Every fallible operation returns the process-wide status word `__rtn`.
// Bit 31 is the error flag (`err`), bits 0..30 the code (`cod`).
//
//   0           success
//   1           nothing (more) to give: end of data, end of iteration, absent
//   -1          general failure
//   0x80000001  failure with code 1: the object can no longer serve
//   0x80000000  error flag with code 0 (text-analyzer node creation only)
//
// Rules for an operation:
//   - its success path clears the word (rtn_ok);
//   - when a callee fails it stops and applies the keeping rule (rtn_keep):
//     -1 if the word is 0, else the callee's status travels up unchanged;
//     a few operations use the real-error rule instead (rtn_real);
//   - a failure found by the operation itself sets -1 (rtn_fail) or
//     0x80000001 (rtn_fail1).
// ---------------------------------------------------------------------------

extern int32_t __rtn; // the status word, initially 0
extern int32_t __dbg; // re-entrancy guard of the diagnostics, initially 0

constexpr int32_t RTN_OK = 0;                  // success
constexpr int32_t RTN_NONE = 1;                // nothing more
constexpr int32_t RTN_ERR = -1;                // general failure
constexpr int32_t RTN_ERR1 = INT32_MIN | 1;    // 0x80000001
constexpr int32_t RTN_ERR0 = INT32_MIN;        // 0x80000000
constexpr uint32_t RTN_ERR_FLAG = 0x80000000u; // bit 31: error flag
constexpr uint32_t RTN_COD_MASK = 0x7fffffffu; // bits 0..30: code

// True when the word is a real error: error flag set and code not 0.
constexpr bool rtn_is_err(int32_t w) noexcept
{
    return (static_cast<uint32_t>(w) & RTN_ERR_FLAG) && (static_cast<uint32_t>(w) & RTN_COD_MASK);
}

// Success path: clears the word and returns 0.
inline int32_t rtn_ok() noexcept
{
    return __rtn = RTN_OK;
}

// Keeping rule after a callee failed: -1 when the word is 0, else unchanged.
inline int32_t rtn_keep() noexcept
{
    if (__rtn == RTN_OK)
        __rtn = RTN_ERR;
    return __rtn;
}

// Real-error rule: -1 unless the word already holds a real error.
inline int32_t rtn_real() noexcept
{
    if (!rtn_is_err(__rtn))
        __rtn = RTN_ERR;
    return __rtn;
}

// The operation's own failure: -1, whatever the word held.
inline int32_t rtn_fail() noexcept
{
    return __rtn = RTN_ERR;
}

// The operation's own failure with code 1 (0x80000001).
inline int32_t rtn_fail1() noexcept
{
    return __rtn = RTN_ERR1;
}

// An expected answer of nothing more: 1.
inline int32_t rtn_none() noexcept
{
    return __rtn = RTN_NONE;
}

// Puts the status word back at the end of the scope, for bookkeeping that
// calls status-setting operations but must leave the caller's word alone.
struct st_rtn_save {
    int32_t w = __rtn; // the word at the start of the scope
    ~st_rtn_save() { __rtn = w; }
};

// Call a fallible operation; on failure apply the keeping rule and return.
#define RTN_TRY(call)                                                                              \
    do {                                                                                           \
        if ((call) != 0)                                                                           \
            return rtn_keep();                                                                     \
    } while (0)

// As RTN_TRY, but leave through a clean-up label instead of returning.
#define RTN_TRY_GOTO(call, label)                                                                  \
    do {                                                                                           \
        if ((call) != 0) {                                                                         \
            rtn_keep();                                                                            \
            goto label;                                                                            \
        }                                                                                          \
    } while (0)

// ---------------------------------------------------------------------------
// Event counter and source position
// ---------------------------------------------------------------------------

// Returns the current event count, stores it in *out when given, then
// advances the counter by 1 (wrapping at 2^64).
uint64_t __prc_cnt(uint64_t *out) noexcept;

// Writes "%lld" of *slot, or of a fresh __prc_cnt() when slot is absent.
// Returns the number of characters written.
int __prc_prt(const uint64_t *slot, FILE *fp) noexcept;

// Source position; the same four leading fields open every record of the
// resource manager and of the test-coverage recorder (cover.h), so one
// printer serves.
struct st_src_pos {
    const char *abt; // what the position is about
    const char *fil; // source file name
    int32_t lin;     // line number
    const char *fnc; // function name
};

// Three uses: with ref, remember it as the current position and return it;
// else with fil, fill the register's own record, forget any remembered ref
// and return the own record; else return the remembered ref or the own one.
st_src_pos *__src_pos(st_src_pos *ref, const char *fil, int32_t lin, const char *fnc,
                      const char *abt) noexcept;

// Writes "%s(%d),%s,%s" with fil, lin, fnc, abt. -1 without stream or record.
int32_t __src_pos_fprint(FILE *fp, const st_src_pos *pos) noexcept;

// ---------------------------------------------------------------------------
// Memory wrappers
//
// Each takes the address of the caller's pointer slot (any pointer type),
// fills it and returns the status word. On failure the slot holds none
// (_realloc: the old block stays in the slot and stays valid).
// ---------------------------------------------------------------------------

int32_t _malloc(void *slot, size_t siz) noexcept;                      // contents undefined
int32_t _malloc0(void *slot, size_t siz) noexcept;                     // zero-filled
int32_t _malloc_cpy(void *slot, const void *src, size_t siz) noexcept; // copy of siz bytes
int32_t _malloc_str(void *slot, const char *txt) noexcept;             // copy of txt; none for none
int32_t _calloc(void *slot, size_t cnt, size_t siz) noexcept;          // cnt*siz zero bytes
int32_t _realloc(void *slot, size_t siz) noexcept;                     // empty slot allocates
void _free(void *slot) noexcept; // frees *slot when both present; slot itself unchanged

// Allocations through the wrappers that have failed since the start (so a
// program can tell exhausted memory from other failures).
uint64_t mem_fail_cnt() noexcept;

// ---------------------------------------------------------------------------
// Tick count
//
// A monotonic millisecond clock read from CLOCK_MONOTONIC_COARSE: no system
// call, a few nanoseconds per read, so stream accounting can time every unit.
// ---------------------------------------------------------------------------

// Milliseconds of the monotonic clock (or of a clock a test injected).
uint64_t tick_get() noexcept;

// ---------------------------------------------------------------------------
// Simple and complex timers
//
// The start stamp keeps the whole 64-bit tick count plus one, so every
// interval comes out exact and 0 still means "stopped" even at tick 0.
// ---------------------------------------------------------------------------

struct st_simple_timer {
    uint64_t tot; // sum of the measured intervals, ms
    uint64_t cnt; // number of measured intervals
    uint64_t stt; // tick count at start + 1; 0 when stopped
};

struct st_complex_timer {
    st_simple_timer tmr;   // the call's own intervals
    uint64_t chl_tot;      // sum of the intervals of timers whose parent this is
    uint64_t chl_cnt;      // number of those intervals
    st_complex_timer *par; // parent charged at stop, may be absent
    st_complex_timer *lnk; // next timer down the profiler's stack
};
static_assert(std::is_standard_layout_v<st_complex_timer>);

// Stores the start stamp; returns the timer (none for none).
st_simple_timer *simple_timer_start(st_simple_timer *tmr) noexcept;

// Milliseconds since the start stamp; 0 for a stopped or absent timer.
uint64_t simple_timer_diff(const st_simple_timer *tmr) noexcept;

// Adds the elapsed time to tot and 1 to cnt, clears the stamp; returns the
// elapsed time (a stopped timer counts an interval of 0).
uint64_t simple_timer_stop(st_simple_timer *tmr) noexcept;

// Records the parent (may be absent) and starts the timer; returns it.
st_complex_timer *complex_timer_start(st_complex_timer *tmr, st_complex_timer *par) noexcept;

// Stops the timer and charges the interval to the parent's chl_tot/chl_cnt.
// Returns the elapsed time.
uint64_t complex_timer_stop(st_complex_timer *tmr) noexcept;

// ---------------------------------------------------------------------------
// Profiler (debug timers)
//
// One static st_debug_timer per measured code site, with msg, fil and lin
// filled in by the caller; each call is timed by a complex timer that the
// caller owns for the duration of the call:
//
//     static st_debug_timer site = {"parse", __FILE__, __LINE__};
//     st_complex_timer call;
//     debug_timer_start(&site, &call);
//     ...
//     debug_timer_stop(&site, &call);
// ---------------------------------------------------------------------------

// Fields after lin start at zero, so a site is written {msg, fil, lin}.
struct st_debug_timer {
    const char *msg;          // name of the site: report column and lookup key
    const char *fil;          // source file
    int32_t lin;              // source line
    uint64_t tot = 0;         // total time of the site's outermost calls
    uint64_t cnt = 0;         // number of completed calls
    uint64_t chl_tot = 0;     // time of nested sites' calls inside this site's calls
    uint64_t chl_cnt = 0;     // number of those nested calls
    uint64_t max_tot = 0;     // greatest total time of one call
    uint64_t min_tot = 0;     // least total time of one call
    uint64_t max_own = 0;     // greatest own time (total minus nested) of one call
    uint64_t min_own = 0;     // least own time of one call
    st_debug_timer *nxt = {}; // next site in the report list
    int32_t dpt = 0;          // current recursion depth
    uint64_t rec_own = 0;     // time of finished inner recursive calls, not yet folded
    uint32_t mm_set : 1 = 0;  // the max/min fields hold values
};
static_assert(std::is_standard_layout_v<st_debug_timer>);

extern st_debug_timer *__global_debug_timer_link;           // report list head
extern st_complex_timer *__global_debug_timer_stack_link;   // running call timers
extern st_simple_timer __global_debug_timer_function_timer; // the profiler's own work
extern int32_t __global_debug_timer_flg_lock;               // set while the report is written

// Starts timing one call of the site; the call timer is reset first.
void debug_timer_start(st_debug_timer *site, st_complex_timer *call) noexcept;

// Ends the call started with the same call timer and folds it into the site.
void debug_timer_stop(st_debug_timer *site, st_complex_timer *call) noexcept;

// Writes the comma-separated report to $BAS_TMR_PATH, else "_bas_tmr.txt".
// Returns the close result of the file, 0 when it could not be opened.
int32_t debug_timer_print() noexcept;

// The first call registers debug_timer_print for program end. Writes the
// report when itv seconds have passed since the last one written this way
// and returns its result; else returns 0.
int32_t debug_timer_auto(uint32_t itv) noexcept;

// Finds the site named msg; fills the count, total and own time of the
// outputs that are given. 0, or -1 when no site has that name.
int32_t debug_timer_get(const char *msg, uint64_t *cnt, uint64_t *tot, uint64_t *own) noexcept;

// ---------------------------------------------------------------------------
// Helpers: interval check, files named by the environment, hand-off slot
// ---------------------------------------------------------------------------

// 1 when at least itv seconds of the monotonic clock have passed since *stt
// (seconds), storing the current time in *stt; else 0 (also without stt).
int32_t check_timeup(uint64_t *stt, uint32_t itv) noexcept;

// Opens the file named by the environment variable var, else (unset or the
// open failed) def when given. Always close-on-exec. Returns none on failure.
FILE *env_fopen(const char *var, const char *def, const char *mode) noexcept;

// ---------------------------------------------------------------------------
// Memory log
//
// A ring of the 64 latest error records, each written when pushed to the
// log file ($BAS_MEMLOG_PATH, else "memlog.log") and to standard error, and
// a light-log file ($BAS_MEMLLOG_PATH, else "memlightlog.log") in which every
// call site owns one 256-byte line holding its latest record.
// ---------------------------------------------------------------------------

enum : uint8_t {            // st_mem_log_mng.flg
    MEM_LOG_FIL = 0x01,     // log file output on
    MEM_LOG_FIL_PSH = 0x02, // write to the log file at push time (else at print)
    MEM_LOG_ERR = 0x04,     // standard-error output on
    MEM_LOG_ERR_PSH = 0x08, // write to standard error at push time (else at print)
    MEM_LOG_LLG = 0x10,     // light log on
    MEM_LOG_OPN = 0x20,     // outputs opened (first push; cleared by mem_log_clr)
    MEM_LOG_EXT = 0x40,     // end-of-program flush registered
    MEM_LOG_LCK = 0x80,     // locked by mem_log_lck
};
constexpr uint8_t MEM_LOG_OUT = 0x1F;      // the five output bits
constexpr uint8_t MEM_LOG_FLG_INIT = 0x1F; // every output on, at push time
constexpr uint32_t MEM_LOG_RCD_NUM = 64;   // records in the ring
constexpr size_t MEM_LOG_DAT_SIZ = 256;    // payload bytes per record
constexpr long MEM_LOG_LLG_LINE = 256;     // bytes per light-log line
// Record lines name the running program (its invocation name, without the
// directory) after "PRC:".

using mem_log_prt_fn = void (*)(FILE *fp, const void *dat); // payload printer

struct st_mem_log_rcd {
    uint64_t seq;                       // event count at the push
    int32_t lin;                        // source line of the call site
    const char *fil;                    // source file of the call site
    int32_t val;                        // status value given by the caller
    mem_log_prt_fn prt;                 // prints dat, may be absent
    unsigned char dat[MEM_LOG_DAT_SIZ]; // payload, zero-filled past its length
};

struct st_mem_log_mng {
    uint8_t flg;                         // MEM_LOG_* bits
    uint8_t lck_sav;                     // output and opened bits saved by the lock
    st_mem_log_rcd rcd[MEM_LOG_RCD_NUM]; // the ring
    uint32_t pos;                        // slot of the next record
    uint32_t num;                        // valid records, at most 64
    FILE *lgf;                           // log file or none
    FILE *sef;                           // standard error once in use
    FILE *llf;                           // light-log file or none
    int32_t llf_cnt;                     // light-log lines handed out
};

static_assert(std::is_standard_layout_v<st_mem_log_mng>);

extern st_mem_log_mng __mem_log_mng;

// Pushes a record: status value val, call site fil/lin, len bytes of dat
// printed by prt. *id (may be absent) is the site's light-log line, handed
// out on first use. 0; -1 when len is above 256 (nothing is logged).
int32_t mem_log_psh(int32_t *id, int32_t val, const char *fil, int32_t lin, const void *dat,
                    size_t len, mem_log_prt_fn prt) noexcept;

// Writes the ring, oldest first, to the outputs that do not write at push
// time. Returns the number of records; -1 when re-entered from a printer.
int32_t mem_log_prt() noexcept;

// mem_log_prt, then closes both files. Returns the light-log close result.
int32_t mem_log_end() noexcept;

// Empties the ring, forgets the light-log lines and closes both files.
// Returns 0 or the light-log close result.
int32_t mem_log_clr() noexcept;

// The payload area of the slot that the next push will use.
void *mem_log_nxt_buf() noexcept;

// 1: save and turn off the output bits and lock; 0: restore them and
// unlock. Locking twice or unlocking an unlocked log changes nothing.
void mem_log_lck(int32_t sw) noexcept;

// Writes one record line, the short form (no payload, no line feed) when
// sht is set. Nothing without stream or record.
void mem_log_rcd_prt(FILE *fp, const st_mem_log_rcd *rcd, int32_t sht) noexcept;

// Payload printer for text: the payload as text, cut at 255 bytes.
void mem_log_prt_str(FILE *fp, const void *dat) noexcept;

// Payload printers for test values: a name text reference at byte 0, the
// value at byte 8.
void __test_mem_log_prt_str(FILE *fp, const void *dat) noexcept;  // "[TS] name = text at *value"
void __test_mem_log_prt__str(FILE *fp, const void *dat) noexcept; // "[TS] name = text at byte 8"
void __test_mem_log_prt_int(FILE *fp, const void *dat) noexcept;  // "[TI] name = %d"
void __test_mem_log_prt_uint(FILE *fp, const void *dat) noexcept; // "[TU] name = %u"
void __test_mem_log_prt_hex(FILE *fp, const void *dat) noexcept;  // "[TX] name = 0x%08X"
void __test_mem_log_prt_flt(FILE *fp, const void *dat) noexcept;  // "[TF] name = %f"

// ---------------------------------------------------------------------------
// Resource manager
//
// A registry of acquired resources (any pointer-like handle with a size),
// each tagged with the source position that acquired it. Registrations made
// with a non-zero nest flag end with the nesting level they were made in.
// Every operation takes a manager and uses __rscmng_base when it is absent;
// none of them changes the status word except rscmng_chk (see there).
// ---------------------------------------------------------------------------

struct st_map; // the ordered map, defined with the containers

// Registry key: ordered by beg, then knst (both unsigned); end is carried
// along for the range checks.
struct st_rscmng_key {
    uintptr_t beg; // range start (the resource); first key field
    uintptr_t end; // range end (resource + size)
    uint32_t knst; // copy of the nest flag; second key field
};

// A registration: one map node per key. The source position comes first so
// that __src_pos_fprint prints it.
struct st_rscmng_rcd {
    st_src_pos pos;      // abt, fil, lin, fnc of the acquiring call
    void *rsc;           // the resource
    uint32_t siz;        // size given at registration (0 for a file)
    uint32_t nst;        // nest-release flag (0: global); also the report level
    uint64_t seq;        // event count at registration
    st_rscmng_key key;   // the registry key
    int32_t cnt;         // registrations of this key
    st_rscmng_rcd *nxt;  // next in the nest frame's list
    st_rscmng_rcd **prv; // the link that points here; none when not in a list
    void *lnk[2];        // map node links
    uint8_t clr;         // map node colour (bit 0)
};
static_assert(std::is_standard_layout_v<st_rscmng_rcd>);

// Nest frame: the registrations that end with one nesting level.
struct st_rscmng_nst {
    st_rscmng_nst *lnk; // enclosing frame
    st_rscmng_rcd *top; // head of the list of this level's registrations
    int32_t lvl;        // the level the frame belongs to
};

struct st_rscmng {
    int32_t lvl;        // nesting level; the default manager starts at 10
    st_map *map;        // the registry, allocated on first use
    st_rscmng_nst *top; // innermost nest frame, may be absent
};

extern st_rscmng __rscmng_base; // the default manager

// Registers rsc (siz bytes) with nest flag nst, acquired at fil/lin/fnc for
// abt. Registering a key (rsc, nst) again counts it once more. Returns rsc
// in every case, so it can wrap the acquiring call.
void *rscmng_psh(st_rscmng *mng, void *rsc, uint32_t siz, uint32_t nst, const char *fil,
                 int32_t lin, const char *fnc, const char *abt) noexcept;

// 0 when [ptr, ptr + siz) (siz 0 counts as 1) lies inside one registered
// resource; 1 when not or ptr is absent; -1 when the registry cannot be set
// up; 0 while the diagnostics are busy (__dbg). With log set, a range not
// covered is logged to the memory log and the status word becomes -1.
int32_t rscmng_chk(st_rscmng *mng, const void *ptr, uint32_t siz, int32_t log, const char *fil,
                   int32_t lin, const char *fnc, const char *abt) noexcept;

// Drops the registration (rsc, nst); the resource itself is not released.
// 0 when dropped, 1 when not registered; 0 while the diagnostics are busy.
int32_t rscmng_del(st_rscmng *mng, const void *rsc, uint32_t nst, const char *fil, int32_t lin,
                   const char *fnc, const char *abt) noexcept;

// lvl 0: drops every registration and nest frame; otherwise drops the
// frames of level lvl and above with their registrations. Returns 0, or the
// (non-zero) __dbg while the diagnostics are busy.
int32_t rscmng_del_all(st_rscmng *mng, int32_t lvl) noexcept;

// *cnt = the number of registered keys. 0; -1 when the registry cannot be
// set up (*cnt = 0).
int32_t rscmng_cnt(st_rscmng *mng, uint32_t *cnt) noexcept;

// Writes the unreleased-resource report of the registrations whose nest
// flag is not above lvl. Writes nothing and returns 0 without registrations;
// else returns the status of the walk (-1 without a stream).
int32_t rscmng_prt(st_rscmng *mng, FILE *fp, uint32_t lvl) noexcept;

// Memory-log payload of the resource manager.
struct st_rscmng_log {
    const void *ptr; // the pointer checked or dropped
    uint32_t siz;    // its size
    const char *fnc; // function of the call
    const char *abt; // about text of the call
};

// Memory-log printer of a st_rscmng_log payload.
void rscmng_log(FILE *fp, const void *dat) noexcept;

// Opens one nesting level: raises the level. Its nest frame is made by the
// level's first registration, so a level that registers nothing allocates
// nothing. Leaves the status word as it was.
void rscmng_nst_in(st_rscmng *mng) noexcept;

// Closes one nesting level: lowers the level and ends the registrations of
// the level's frame, if it has one. The resources themselves are not
// released. Leaves the status word as it was.
void rscmng_nst_out(st_rscmng *mng) noexcept;

// ---------------------------------------------------------------------------
// Interface manager
//
// Access statistics per outside interface (by name, ids 1 to 64) and access
// name within it: time, count and size of the accesses. The operations
// return plain 0 or -1 and never change the status word.
// ---------------------------------------------------------------------------

constexpr uint32_t ITF_NAM_NUM = 64; // interface names in the table
constexpr size_t ITF_ACS_SIZ = 64;   // bytes of an access name

// Access record; the record map keeps it followed by the map's node links.
struct st_itfmng_rcd {
    uint32_t itf;          // interface id; first key field
    char acs[ITF_ACS_SIZ]; // access name, zero-padded, not terminated at 64; second key field
    st_simple_timer lif;   // lifetime of a stream attached to this record
    st_simple_timer tim;   // access time and count
    uint64_t siz;          // total access size
};
static_assert(std::is_standard_layout_v<st_itfmng_rcd>);

struct st_itfmng {
    const char *nam[ITF_NAM_NUM]; // interface names (not copied); id = slot + 1
    st_map *map;                  // the access records, allocated on first use
};

extern st_itfmng __global_itfmng;

// *id = the id of the interface name nam; an unknown name takes the first
// free slot. 0; -1 with *id = 0 when all 64 slots hold other names.
int32_t itf_get_id(const char *nam, uint32_t *id) noexcept;

// *nam = the name of id (none for a free slot). 0; -1 for id 0 or above 64.
int32_t itf_get_nam(uint32_t id, const char **nam) noexcept;

// *rcd = the access record of (id, len bytes of acs), created when new.
// 0; -1 when len is above 64 or the record cannot be created.
int32_t itfmng_get(uint32_t id, const void *acs, size_t len, st_itfmng_rcd **rcd) noexcept;

// Starts the access timer of (itf, acs). 0; -1 when the interface has no
// id or acs is 64 characters or longer.
int32_t itfmng_start(const char *itf, const char *acs) noexcept;

// Stops the access timer of (itf, acs) and adds siz to its size. 0 or -1
// as itfmng_start.
int32_t itfmng_stop(const char *itf, const char *acs, uint32_t siz) noexcept;

// Prints one line per access record in (id, access name) order.
void itfmng_print(FILE *fp) noexcept;

// Ends the record map (all records are released); the names stay.
void itf_end() noexcept;
