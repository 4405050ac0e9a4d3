// Checked integer arithmetic: ordinary 32-bit results, with a memory-log
// record and a failure in the status word when an operation leaves its
// domain. The range tests are written so that they cannot overflow.
#include "base/text/text.h"

#include <climits>

namespace
{

// One report: a record in the memory log under the site's own light-log
// line, then -1 in the status word unless it already holds a real error.
void report(int32_t *llog_id, int32_t lin)
{
    static const char dat[] = "Error";
    mem_log_psh(llog_id, RTN_ERR, "base", lin, dat, sizeof dat - 1, mem_log_prt_str);
    rtn_real();
}

// The 32-bit result of a computation done in unsigned (wrapping) arithmetic.
constexpr int32_t wrap(uint32_t v)
{
    return static_cast<int32_t>(v);
}

} // namespace

uint32_t ctoi(uint32_t chr) noexcept
{
    static int32_t llog_id;
    if (chr < '0' || chr > '9')
        report(&llog_id, __LINE__);
    return chr - '0';
}

int32_t int_pls(int32_t a, int32_t b) noexcept
{
    static int32_t llog_id;
    if ((b > 0 && a > INT32_MAX - b) || (b < 0 && a < INT32_MIN - b))
        report(&llog_id, __LINE__);
    return wrap(static_cast<uint32_t>(a) + static_cast<uint32_t>(b));
}

int32_t int_mns(int32_t a, int32_t b) noexcept
{
    static int32_t llog_id;
    if ((b < 0 && a > INT32_MAX + b) || (b > 0 && a < INT32_MIN + b))
        report(&llog_id, __LINE__);
    return wrap(static_cast<uint32_t>(a) - static_cast<uint32_t>(b));
}

// The limits divided by b are safe for every b but -1, where INT32_MIN / -1
// itself overflows; there the only product out of range is INT32_MIN * -1.
int32_t int_mlt(int32_t a, int32_t b) noexcept
{
    static int32_t llog_hi;
    static int32_t llog_lo;
    bool hi = false;
    bool lo = false;
    if (b > 0) {
        hi = a > INT32_MAX / b;
        lo = a < INT32_MIN / b;
    } else if (b == -1) {
        hi = a == INT32_MIN;
    } else if (b < 0) {
        hi = a < INT32_MAX / b;
        lo = a > INT32_MIN / b;
    }
    if (hi)
        report(&llog_hi, __LINE__);
    if (lo)
        report(&llog_lo, __LINE__);
    return wrap(static_cast<uint32_t>(a) * static_cast<uint32_t>(b));
}

// INT32_MIN / -1 would trap; its wrapped quotient is INT32_MIN, reported.
int32_t int_dvs(int32_t a, int32_t b) noexcept
{
    static int32_t llog_zero;
    static int32_t llog_ovf;
    if (b == 0) {
        report(&llog_zero, __LINE__);
        return 0;
    }
    if (b == -1 && a == INT32_MIN) {
        report(&llog_ovf, __LINE__);
        return INT32_MIN;
    }
    return a / b;
}

// INT32_MIN % -1 would trap as well; its remainder is 0.
int32_t int_spl(int32_t a, int32_t b) noexcept
{
    static int32_t llog_id;
    if (b == 0) {
        report(&llog_id, __LINE__);
        return 0;
    }
    if (b == -1)
        return 0;
    return a % b;
}

int32_t int_abs(int32_t a) noexcept
{
    static int32_t llog_id;
    if (a == INT32_MIN) {
        report(&llog_id, __LINE__);
        return INT32_MAX;
    }
    return a < 0 ? -a : a;
}
