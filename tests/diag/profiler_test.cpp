// The profiler on an injected clock: counts, nesting, recursion, the report
// columns, the overhead correction and the automatic report. The interface
// manager: interface ids, access-name limits, timed accesses and the
// statistics lines.
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

TEST_F(Profiler, PlainNestedRecursiveCallsOverheadAndTheAutomaticReport)
{
    st_debug_timer a = {"alpha", "a.cpp", 12}, b = {"beta", "b.cpp", 3};
    call(&a, 10);
    call(&a, 2, 14, [&] { call(&b, 7), call(&b, 7); }); // 30 ms, 14 of them in beta
    EXPECT_EQ(got("alpha") + ", " + got("gamma"), "2 40 26, none");
    // Sites are listed by their first completion, the latest first.
    EXPECT_EQ(report(), header + "b.cpp(3),,beta,2,14,7,7,14,7,7,7.000000e+00,7.000000e+00\n" +
                            "a.cpp(12),,alpha,2,40,30,10,26,16,10,2.000000e+01,1.300000e+01\n");

    // Recursion counts every call but only the outermost time. Three levels:
    // inner 4 ms, middle 1+4+1 = 6 ms, outer 2+6+2 = 10 ms.
    st_debug_timer r = {"rec", "r.cpp", 3};
    call(&r, 2, 2, [&] { call(&r, 1, 1, [&] { call(&r, 4); }); });
    EXPECT_EQ(got("rec"), "3 10 10") << "the site's own recursion is not nested time";
    EXPECT_TRUE(r.min_own == 2 && r.max_own == 4) << "own per call: inner 4, middle 2, outer 4";

    // Another site inside an inner recursive call stays nested time.
    st_debug_timer s = {"rec2", "r.cpp", 4}, leaf = {"leaf", "l.cpp", 5};
    call(&s, 1, 0, [&] { call(&s, 2, 0, [&] { call(&leaf, 3); }); });
    EXPECT_EQ(got("rec2"), "2 6 3");

    // The report takes out the profiler's own estimated work: f = 5 / 2 ms
    // per profiler call, two calls per measured call, o = f * cnt * 2 + 0.5,
    // cut; total and own time stop at 0.
    __global_debug_timer_function_timer = {5, 2, 0};
    b.nxt = &leaf, leaf.nxt = nullptr;
    __global_debug_timer_link = &b;
    EXPECT_EQ(report(), header + "b.cpp(3),,beta,2,4,7,7,4,7,7,2.000000e+00,2.000000e+00\n" +
                            "l.cpp(5),,leaf,1,0,3,3,0,3,3,0.000000e+00,0.000000e+00\n");

    // The automatic report is written on its first call (the epoch is later
    // than any report of an earlier run of this test), then not again within
    // the interval (check_timeup's own test covers the interval's edge).
    static uint64_t epoch;
    epoch += 1000000000000ull;
    clk.advance(epoch);
    EXPECT_EQ(debug_timer_auto(10), 0);
    ASSERT_TRUE(std::filesystem::remove(dir.file("tmr.csv"))) << "written";
    EXPECT_EQ(debug_timer_auto(10), 0);
    EXPECT_FALSE(std::filesystem::exists(dir.file("tmr.csv")));
}

// Each test starts with an empty name table and no record map, and gives
// the process's table back at the end (ids must never change for others).
class ItfMng : public ::testing::Test
{
  protected:
    st_itfmng saved = __global_itfmng;
    int32_t w = __rtn = RTN_ERR1; // no operation may change the status word

    void SetUp() override { __global_itfmng = {}; }
    void TearDown() override
    {
        EXPECT_EQ(__rtn, w);
        itf_end();
        __global_itfmng = saved;
        __rtn = 0;
    }
    static std::string print() { return written(itfmng_print); }
    static std::string line(int id, const char *itf, const std::string &acs, const char *stats)
    {
        return "interface-id=" + std::to_string(id) + " interface-name=\"" + itf +
               "\" access-name=\"" + acs + "\" " + stats + "\n";
    }
    static constexpr const char *zero = "access-time=0 access-count=0 access-size=0";
};

// Timed accesses, an id without a name, access names up to 64 bytes, then
// names up to the 64th; the lines are ordered by id and access name.
TEST_F(ItfMng, IdsAccessNamesTimedAccessesAndTheirLines)
{
    FakeClock clk(500);
    EXPECT_EQ(itfmng_start("system", "sleep"), 0); // the monitor's wait between runs
    clk.advance(10000);
    EXPECT_EQ(itfmng_stop("system", "sleep", 10000), 0);
    itfmng_start("process", "ps");
    clk.advance(70000);
    itfmng_stop("process", "ps", UINT32_MAX);
    itfmng_stop("process", "ps", UINT32_MAX); // sizes add up past 32 bits
    st_itfmng_rcd *r = nullptr, *s = nullptr;
    ASSERT_EQ(itfmng_get(0, "", 0, &r), 0); // an id without a name
    itfmng_get(2, "a", 1, &r);
    std::string n63(63, 'a'), n64(64, 'b');
    EXPECT_TRUE(itfmng_start("file", n63.c_str()) == 0 && itfmng_start("file", n64.c_str()) == -1);
    ASSERT_EQ(itfmng_get(3, n63.data(), 63, &r), 0);
    ASSERT_TRUE(itfmng_get(3, n64.data(), 64, &s) == 0 && r != s) << "a record holds 64 bytes";
    EXPECT_EQ(itfmng_get(3, n64.data(), 65, &s), -1);
    const std::string lines =
        line(0, "", "", zero) +
        line(1, "system", "sleep", "access-time=10000 access-count=1 access-size=10000") +
        line(2, "process", "a", zero) +
        line(2, "process", "ps", "access-time=70000 access-count=2 access-size=8589934590") +
        line(3, "file", n63, zero) + line(3, "file", n64, zero);
    EXPECT_EQ(print(), lines);

    uint32_t id = 99;
    const char *nam = "x";
    std::string names[64];
    for (int i = 4; i <= 64; i++) {
        names[i - 1] = "itf" + std::to_string(i);
        ASSERT_TRUE(itf_get_id(names[i - 1].c_str(), &id) == 0 && id == uint32_t(i)) << i;
    }
    EXPECT_TRUE(itf_get_id(std::string("itf5").c_str(), &id) == 0 && id == 5) << "compared as text";
    EXPECT_TRUE(itf_get_nam(64, &nam) == 0 && std::string(nam) == "itf64");
    EXPECT_TRUE(itf_get_nam(65, &nam) == -1 && itf_get_nam(0, &nam) == -1);
    EXPECT_TRUE(itf_get_id("itf65", &id) == -1 && id == 0);
    EXPECT_TRUE(itfmng_start("itf65", "a") == -1 && itfmng_stop("itf65", "a", 1) == -1);
    EXPECT_EQ(print(), lines) << "the refused interface recorded nothing";

    itf_end(); // records end, names stay; a record map that cannot be made
    r = nullptr;
    __mem_fail_at(1);
    EXPECT_TRUE(itfmng_get(1, "x", 1, &r) == -1 && !r);
    EXPECT_EQ(itfmng_start("system", "sleep"), 0);
    EXPECT_EQ(print(), line(1, "system", "sleep", zero)) << "the other records ended";
}

} // namespace
