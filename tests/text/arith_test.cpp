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

// The memory log with its outputs off, emptied before and after the scope.
struct QuietLog {
    QuietLog()
    {
        mem_log_clr();
        mem_log_lck(1);
    }
    ~QuietLog()
    {
        mem_log_lck(0);
        mem_log_clr();
    }
};

// Runs op with the status word at 0; returns the result and counts the
// memory-log records and checks each new one and the status word.
template <typename F>
int64_t reported(F op, uint32_t *reports)
{
    uint32_t before = __mem_log_mng.pos; // the ring's count stops at 64, its position does not
    __rtn = 0;
    int64_t r = op();
    *reports = (__mem_log_mng.pos + MEM_LOG_RCD_NUM - before) % MEM_LOG_RCD_NUM;
    EXPECT_EQ(__rtn, *reports ? -1 : 0);
    for (uint32_t i = 0; i < *reports; i++) {
        const st_mem_log_rcd &rec = __mem_log_mng.rcd[(__mem_log_mng.pos + MEM_LOG_RCD_NUM - 1 - i) %
                                                      MEM_LOG_RCD_NUM];
        EXPECT_EQ(rec.val, -1);
        EXPECT_STREQ(rec.fil, "base");
        EXPECT_EQ(std::memcmp(rec.dat, "Error", 6), 0);
        EXPECT_EQ(rec.prt, &mem_log_prt_str);
    }
    return r;
}

} // namespace

TEST(Arith, EdgesGiveTheWrappedResultAndOneReportEach)
{
    QuietLog quiet;
    struct Case {
        const char *what;
        int64_t (*op)(int32_t, int32_t);
        int32_t a, b;
        int64_t res;
        uint32_t reports;
    };
    auto pls = [](int32_t a, int32_t b) -> int64_t { return int_pls(a, b); };
    auto mns = [](int32_t a, int32_t b) -> int64_t { return int_mns(a, b); };
    auto mlt = [](int32_t a, int32_t b) -> int64_t { return int_mlt(a, b); };
    auto dvs = [](int32_t a, int32_t b) -> int64_t { return int_dvs(a, b); };
    auto spl = [](int32_t a, int32_t b) -> int64_t { return int_spl(a, b); };
    auto abs = [](int32_t a, int32_t) -> int64_t { return int_abs(a); };
    auto toi = [](int32_t a, int32_t) -> int64_t { return ctoi(static_cast<uint32_t>(a)); };
    const Case cases[] = {
        {"pls max+1", pls, INT32_MAX, 1, INT32_MIN, 1},
        {"pls min-1", pls, INT32_MIN, -1, INT32_MAX, 1},
        {"pls max+0", pls, INT32_MAX, 0, INT32_MAX, 0},
        {"pls min+max", pls, INT32_MIN, INT32_MAX, -1, 0},
        {"mns min-1", mns, INT32_MIN, 1, INT32_MAX, 1},
        {"mns max-(-1)", mns, INT32_MAX, -1, INT32_MIN, 1},
        {"mns 0-min", mns, 0, INT32_MIN, INT32_MIN, 1},
        {"mns -1-min", mns, -1, INT32_MIN, INT32_MAX, 0},
        {"mlt 65536^2", mlt, 65536, 65536, 0, 1},
        {"mlt min*-1", mlt, INT32_MIN, -1, INT32_MIN, 1},
        {"mlt 5*-1", mlt, 5, -1, -5, 0},
        {"mlt max*-1", mlt, INT32_MAX, -1, -INT32_MAX, 0},
        {"mlt -32768*65536", mlt, -32768, 65536, INT32_MIN, 0},
        {"mlt min*2", mlt, INT32_MIN, 2, 0, 1},
        {"mlt 46341^2", mlt, 46341, 46341, -2147479015, 1},
        {"mlt min*0", mlt, INT32_MIN, 0, 0, 0},
        {"dvs 7/-2", dvs, 7, -2, -3, 0},
        {"dvs 7/0", dvs, 7, 0, 0, 1},
        {"dvs min/-1", dvs, INT32_MIN, -1, INT32_MIN, 1},
        {"spl -7%2", spl, -7, 2, -1, 0},
        {"spl 7%-2", spl, 7, -2, 1, 0},
        {"spl 7%0", spl, 7, 0, 0, 1},
        {"spl min%-1", spl, INT32_MIN, -1, 0, 0},
        {"abs min", abs, INT32_MIN, 0, INT32_MAX, 1},
        {"abs -5", abs, -5, 0, 5, 0},
        {"ctoi 7", toi, '7', 0, 7, 0},
        {"ctoi 0", toi, '0', 0, 0, 0},
        {"ctoi a", toi, 'a', 0, 49, 1},
        {"ctoi /", toi, '/', 0, UINT32_MAX, 1},
        {"ctoi :", toi, ':', 0, 10, 1},
    };
    for (const Case &c : cases) {
        uint32_t n;
        EXPECT_EQ(reported([&] { return c.op(c.a, c.b); }, &n), c.res) << c.what;
        EXPECT_EQ(n, c.reports) << c.what;
    }
}

TEST(Arith, StatusWordKeepsARealErrorAndSuccessNeverClearsIt)
{
    QuietLog quiet;
    __rtn = RTN_ERR1;
    int_pls(INT32_MAX, 1);
    EXPECT_EQ(__rtn, RTN_ERR1) << "an error code already present stays";
    for (int32_t w : {RTN_NONE, RTN_ERR0}) {
        __rtn = w;
        int_abs(INT32_MIN);
        EXPECT_EQ(__rtn, RTN_ERR) << "word " << w << " carries no error code";
    }
    __rtn = RTN_ERR1;
    EXPECT_EQ(int_mlt(6, 7) + static_cast<int32_t>(ctoi('1')), 43);
    EXPECT_EQ(__rtn, RTN_ERR1) << "success leaves the word";
    // The two ends of the product report from two places of their own.
    __rtn = 0;
    int_mlt(INT32_MAX, 2);
    int_mlt(INT32_MIN, 2);
    const st_mem_log_rcd *r = __mem_log_mng.rcd;
    uint32_t last = (__mem_log_mng.pos + MEM_LOG_RCD_NUM - 1) % MEM_LOG_RCD_NUM;
    EXPECT_NE(r[last].lin, r[(last + MEM_LOG_RCD_NUM - 1) % MEM_LOG_RCD_NUM].lin);
}

TEST(Arith, AgreesWith64BitArithmetic)
{
    QuietLog quiet;
    std::vector<int32_t> vals = {INT32_MIN, INT32_MIN + 1, -65536, -46341, -2, -1, 0,
                                 1,         2,             46341,  65536,  INT32_MAX - 1, INT32_MAX};
    std::mt19937 gen(12345);
    for (int i = 0; i < 300; i++) {
        int32_t v = static_cast<int32_t>(gen());
        vals.push_back(v >> (gen() % 32)); // magnitudes of every size
    }
    auto check = [](const char *what, int64_t exact, int64_t got, uint32_t n) {
        bool out = exact < INT32_MIN || exact > INT32_MAX;
        ASSERT_EQ(got, static_cast<int32_t>(static_cast<uint32_t>(exact))) << what << " " << exact;
        ASSERT_EQ(n, out ? 1u : 0u) << what << " " << exact;
    };
    for (int32_t a : vals) {
        for (int32_t b : vals) {
            uint32_t n;
            int64_t r = reported([&] { return int_pls(a, b); }, &n);
            check("pls", int64_t{a} + b, r, n);
            r = reported([&] { return int_mns(a, b); }, &n);
            check("mns", int64_t{a} - b, r, n);
            r = reported([&] { return int_mlt(a, b); }, &n);
            check("mlt", int64_t{a} * b, r, n);
        }
    }
}
