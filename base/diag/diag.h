// Diagnostics: the status word and error trail shared by every library
// operation, and the checked memory wrappers.
//
// The library is single-threaded by design: every process-wide variable
// declared here is a plain global without locking.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

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
// resource manager and of the test-coverage recorder, so one printer serves.
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

// Test hook: the n-th allocation through the wrappers from now on fails
// (1 = the next one); 0 disarms it.
void __mem_fail_at(int32_t n) noexcept;
