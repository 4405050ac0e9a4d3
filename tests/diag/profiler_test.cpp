// The profiler on an injected clock: counts, nesting, recursion, the report
// columns and the overhead correction.
#include "tests/diag/fixture.h"

namespace
{

using namespace diag_test;

const std::string header = "sorce,func,msg,count,total[ms],max_total[ms],min_total[ms],own[ms],"
                           "max_own[ms],min_own[ms],ave_total[ms],ave_own[ms]\n";

// Each test starts with an empty report list and overhead timer, on a fake
// clock, with the report going to a private directory.
class Profiler : public ::testing::Test
{
  protected:
    FakeClock clk{1000};
    TempDir dir;
    EnvVar env{"BAS_TMR_PATH", dir.file("tmr.csv").c_str()};

    void SetUp() override
    {
        __global_debug_timer_link = nullptr;
        __global_debug_timer_function_timer = {};
    }
    void TearDown() override
    {
        SetUp();
        EXPECT_EQ(__global_debug_timer_stack_link, nullptr) << "unbalanced start/stop";
    }

    // One call of site: pre ms, then body, then post ms.
    void call(st_debug_timer *site, uint64_t pre, uint64_t post = 0,
              const std::function<void()> &body = {})
    {
        st_complex_timer t;
        debug_timer_start(site, &t);
        clk.advance(pre);
        if (body)
            body();
        clk.advance(post);
        debug_timer_stop(site, &t);
    }

    // "count total own" of the named site, or "none".
    static std::string got(const char *nam)
    {
        uint64_t c, t, o;
        return debug_timer_get(nam, &c, &t, &o) != 0
                   ? "none"
                   : std::to_string(c) + " " + std::to_string(t) + " " + std::to_string(o);
    }

    std::string report()
    {
        EXPECT_EQ(debug_timer_print(), 0);
        return read_file(dir.file("tmr.csv"));
    }
};

TEST_F(Profiler, PlainAndNestedCalls)
{
    st_debug_timer a = {"alpha", "a.cpp", 12}, b = {"beta", "b.cpp", 3};
    call(&a, 10);
    call(&a, 2, 14, [&] { call(&b, 7), call(&b, 7); }); // 30 ms, 14 of them in beta
    EXPECT_EQ(__global_debug_timer_function_timer.cnt, 8u) << "start and stop time themselves";
    EXPECT_EQ(got("alpha") + ", " + got("gamma"), "2 40 26, none");
    // Sites are listed by their first completion, the latest first.
    EXPECT_EQ(report(), header + "b.cpp(3),,beta,2,14,7,7,14,7,7,7.000000e+00,7.000000e+00\n" +
                            "a.cpp(12),,alpha,2,40,30,10,26,16,10,2.000000e+01,1.300000e+01\n");
}

TEST_F(Profiler, RecursionCountsEveryCallButOnlyOutermostTime)
{
    st_debug_timer r = {"rec", "r.cpp", 3};
    // Three levels: inner 4 ms, middle 1+4+1 = 6 ms, outer 2+6+2 = 10 ms.
    call(&r, 2, 2, [&] { call(&r, 1, 1, [&] { call(&r, 4); }); });
    EXPECT_EQ(got("rec"), "3 10 10") << "the site's own recursion is not nested time";
    EXPECT_TRUE(r.min_own == 2 && r.max_own == 4) << "own per call: inner 4, middle 2, outer 4";

    // Another site inside an inner recursive call stays nested time.
    st_debug_timer s = {"rec2", "r.cpp", 4}, leaf = {"leaf", "l.cpp", 5};
    call(&s, 1, 0, [&] { call(&s, 2, 0, [&] { call(&leaf, 3); }); });
    EXPECT_EQ(got("rec2"), "2 6 3");
}

TEST_F(Profiler, ReportSubtractsTheEstimatedOverhead)
{
    // f = 3 / 2 = 1.5 ms per profiler call, so o = 1.5 * cnt * 2 + 0.5, cut.
    __global_debug_timer_function_timer = {3, 2, 0};
    st_debug_timer big = {"big", "b.cpp", 7}, tiny = {"tiny", "t.cpp", 8}, idle = {"idle", "", 9};
    big.cnt = 2, big.tot = 40, big.chl_tot = 30, big.max_tot = 25, big.min_tot = 15;
    tiny.cnt = 2, tiny.tot = 6;
    big.nxt = &tiny, tiny.nxt = &idle;
    __global_debug_timer_link = &big;
    EXPECT_EQ(report(), header + "b.cpp(7),,big,2,34,25,15,4,0,0,1.700000e+01,2.000000e+00\n" +
                            "t.cpp(8),,tiny,2,0,0,0,0,0,0,0.000000e+00,0.000000e+00\n" +
                            "(9),,idle,0,0,0,0,0,0,0,-1.000000e+00,-1.000000e+00\n");

    __global_debug_timer_flg_lock = 1; // nothing is measured while a report is written
    call(&tiny, 10);
    __global_debug_timer_flg_lock = 0;
    EXPECT_TRUE(tiny.cnt == 2 && tiny.dpt == 0);
}

TEST_F(Profiler, AutoReportWritesOncePerInterval)
{
    std::string path = dir.file("tmr.csv");
    st_debug_timer a = {"auto", "x.cpp", 1};
    call(&a, 1);
    static uint64_t epoch; // later than any report written by an earlier run of this test
    epoch += 1000000000000ull;
    clk.advance(epoch - 1); // a whole second on the clock
    EXPECT_EQ(debug_timer_auto(10), 0);
    ASSERT_TRUE(std::filesystem::remove(path)) << "the first call writes the report";
    clk.advance(9999); // 9.999 s later
    EXPECT_EQ(debug_timer_auto(10), 0);
    EXPECT_FALSE(std::filesystem::exists(path));
    clk.advance(1);
    EXPECT_EQ(debug_timer_auto(10), 0);
    EXPECT_EQ(read_file(path), header + "x.cpp(1),,auto,1,1,1,1,1,1,1,1.000000e+00,1.000000e+00\n");
}

} // namespace
