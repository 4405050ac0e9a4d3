// Timers on an injected clock, the interval check, files named by the
// environment and the stream hand-off slot.
#include "tests/diag/fixture.h"

#include <fcntl.h>

namespace
{

using namespace diag_test;

TEST(Timer, SimpleStampsSpanLongIntervalsAndComplexTimersChargeTheirParent)
{
    FakeClock clk(0);
    st_simple_timer t{};
    EXPECT_EQ(simple_timer_stop(&t), 0u) << "a timer never started counts 0 ms";
    simple_timer_start(&t);
    EXPECT_NE(t.stt, 0u) << "a start at tick 0 must not look stopped";
    clk.advance(70000); // more than a 16-bit stamp can span
    EXPECT_EQ(simple_timer_diff(&t), 70000u);
    EXPECT_EQ(simple_timer_stop(&t), 70000u);
    EXPECT_EQ(simple_timer_diff(&t), 0u);
    clk.advance(65530);
    simple_timer_start(&t);
    clk.advance(3 * 86400000ull + 17); // three days, across many 16-bit wraps
    simple_timer_stop(&t);
    EXPECT_TRUE(t.tot == 70000 + 3 * 86400000ull + 17 && t.cnt == 3);

    st_complex_timer par{}, chl{};
    complex_timer_start(&par, nullptr);
    for (uint64_t ms : {12, 3}) {
        complex_timer_start(&chl, &par);
        clk.advance(ms);
        complex_timer_stop(&chl);
    }
    clk.advance(1);
    EXPECT_EQ(complex_timer_stop(&par), 16u);
    EXPECT_TRUE(par.chl_tot == 15 && par.chl_cnt == 2 && chl.tmr.cnt == 2);
}

TEST(Timer, CheckTimeupAnswersOncePerInterval)
{
    FakeClock clk(10000);
    uint64_t stt = 0;
    EXPECT_EQ(check_timeup(&stt, 20), 0);
    clk.advance(10000);
    EXPECT_TRUE(check_timeup(&stt, 20) == 1 && stt == 20);
    clk.advance(19999);
    EXPECT_EQ(check_timeup(&stt, 20), 0);
    EXPECT_EQ(check_timeup(&stt, 0) + check_timeup(&stt, 0), 2) << "an interval of 0 is always up";
}

TEST(Timer, EnvFopenPrefersTheVariableThenTheDefault)
{
    TempDir dir;
    std::string named = dir.file("named"), def = dir.file("default");
    auto opens = [&](const char *var_val, const char *dflt) {
        EnvVar env("DIAG_TEST_PATH", var_val);
        FILE *fp = env_fopen("DIAG_TEST_PATH", dflt, "w");
        bool cloexec = fp && (fcntl(fileno(fp), F_GETFD) & FD_CLOEXEC);
        if (fp)
            fclose(fp);
        return fp ? (cloexec ? "cloexec" : "inherited") : "none";
    };
    EXPECT_STREQ(opens(named.c_str(), def.c_str()), "cloexec");
    EXPECT_TRUE(std::filesystem::exists(named) && !std::filesystem::exists(def));
    EXPECT_STREQ(opens(dir.file("no/dir").c_str(), def.c_str()), "cloexec");
    EXPECT_TRUE(std::filesystem::exists(def)) << "a failed open falls back to the default";
    EXPECT_STREQ(opens(dir.file("no/dir").c_str(), nullptr), "none");
    EXPECT_STREQ(opens(nullptr, nullptr), "none");
}

TEST(Timer, StkptrHandsAParkedStreamOnOnce)
{
    auto *a = reinterpret_cast<st_stream *>(0x1000), *b = reinterpret_cast<st_stream *>(0x2000);
    stream_end_fn end = [](st_stream *) { return 0; };
    EXPECT_TRUE(stkptr(a, end) == a && __stkptr.end == end);
    EXPECT_EQ(stkptr(b, nullptr), b) << "a second parking replaces the first";
    EXPECT_EQ(stkptr(nullptr, nullptr), b);
    EXPECT_EQ(stkptr(nullptr, nullptr), nullptr);
}

} // namespace
