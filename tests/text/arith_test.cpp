// Checked integer arithmetic: results, reports and the status word, at the
// edges and against 64-bit arithmetic.
#include "base/text/text.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <random>
#include <vector>

namespace
{

// Runs op with the status word at w and the memory log's outputs off;
// returns the number of records op pushed (read from the ring's position:
// its count stops at 64). Checks the newest record and that the word
// became -1 after a report unless it held a real error, and stayed else.
template <typename F>
uint32_t reports(F op, int32_t w = 0)
{
    const uint32_t pos = __mem_log_mng.pos;
    __rtn = w;
    mem_log_lck(1);
    op();
    mem_log_lck(0);
    const uint32_t n = (__mem_log_mng.pos + MEM_LOG_RCD_NUM - pos) % MEM_LOG_RCD_NUM;
    const st_mem_log_rcd &r = __mem_log_mng.rcd[(pos + n + MEM_LOG_RCD_NUM - 1) % MEM_LOG_RCD_NUM];
    EXPECT_EQ(__rtn, n && !rtn_is_err(w) ? -1 : w);
    EXPECT_TRUE(!n || (r.val == -1 && !strcmp(r.fil, "base") && !memcmp(r.dat, "Error", 6) &&
                       r.prt == mem_log_prt_str));
    return n;
}

#define EXPECT_OP(expr, want, n)                                                                   \
    do {                                                                                           \
        int64_t got;                                                                               \
        EXPECT_EQ(reports([&] { got = (expr); }), n##u) << #expr;                                  \
        EXPECT_EQ(got, want) << #expr;                                                             \
    } while (0)

} // namespace

// The edges of the absolute value and of digits, and what a report does to
// the status word.
TEST(Arith, EdgesOfAbsoluteValueAndDigitsAndTheStatusWord)
{
    EXPECT_OP(int_abs(INT32_MIN), INT32_MAX, 1);
    EXPECT_OP(ctoi('7'), 7, 0);
    EXPECT_OP(ctoi('/'), UINT32_MAX, 1);
    // After a report the word is -1 unless it held a real error; success
    // leaves it as it was.
    for (int32_t w : {RTN_OK, RTN_NONE, RTN_ERR0, RTN_ERR1, RTN_ERR}) {
        EXPECT_EQ(reports([] { int_abs(INT32_MIN); }, w), 1u) << w;
        EXPECT_EQ(reports([] { int_mlt(6, 7), ctoi('0'); }, w), 0u) << w;
    }
}

// Every operation on two operands gives the wrapped 64-bit result and
// reports exactly when it leaves the 32-bit range; a division by 0 counts
// as out of range with the result 0 (INT64_MIN below wraps to 0).
TEST(Arith, OperationsOnTwoOperandsAgreeWith64BitArithmetic)
{
    std::vector<int32_t> vals = {INT32_MIN, INT32_MIN + 1, -65536,        -46341,   -2, -1, 0, 1, 2,
                                 46341,     65536,         INT32_MAX - 1, INT32_MAX};
    std::mt19937 gen(12345);
    while (vals.size() < 300) // magnitudes of every size
        vals.push_back(static_cast<int32_t>(gen()) >> (gen() % 32));
    auto check = [](int64_t exact, int32_t (*op)(int32_t, int32_t), int32_t a, int32_t b) {
        int32_t got = 0;
        uint32_t n = reports([&] { got = op(a, b); });
        ASSERT_EQ(got, static_cast<int32_t>(static_cast<uint32_t>(exact))) << a << " " << b;
        ASSERT_EQ(n, exact < INT32_MIN || exact > INT32_MAX ? 1u : 0u) << a << " " << b;
    };
    for (int32_t a : vals)
        for (int32_t b : vals) {
            check(int64_t{a} + b, int_pls, a, b);
            check(int64_t{a} - b, int_mns, a, b);
            check(int64_t{a} * b, int_mlt, a, b);
            check(b ? int64_t{a} / b : INT64_MIN, int_dvs, a, b); // INT32_MIN / -1 too
            check(b ? int64_t{a} % b : INT64_MIN, int_spl, a, b);
        }
}
