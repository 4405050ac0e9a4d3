// Simple and complex timers on an injected clock, the interval check, files
// named by the environment and the stream hand-off slot.
#include "tests/diag/fixture.h"

#include <fcntl.h>

namespace
{

using diag_test::EnvVar;
using diag_test::FakeClock;
using diag_test::TempDir;

TEST(Timer, SimpleTimerMeasuresLongIntervalsExactly)
{
    FakeClock clk(0);
    st_simple_timer t{};
    ASSERT_EQ(simple_timer_start(&t), &t);
    EXPECT_NE(t.stt, 0u) << "a start at tick 0 must not look stopped";
    clk.advance(70000); // beyond what a 16-bit stamp can hold
    EXPECT_EQ(simple_timer_diff(&t), 70000u);
    EXPECT_EQ(simple_timer_stop(&t), 70000u);
    EXPECT_EQ(t.tot, 70000u);
    EXPECT_EQ(t.cnt, 1u);
    EXPECT_EQ(t.stt, 0u);

    clk.advance(65530);
    simple_timer_start(&t); // stamp crosses a 16-bit boundary
    clk.advance(3ull * 24 * 3600 * 1000 + 17);
    EXPECT_EQ(simple_timer_stop(&t), 3ull * 24 * 3600 * 1000 + 17);
    EXPECT_EQ(t.tot, 70000u + 3ull * 24 * 3600 * 1000 + 17);
    EXPECT_EQ(t.cnt, 2u);
}

TEST(Timer, StoppedAndAbsentTimersMeasureNothing)
{
    FakeClock clk(5000);
    st_simple_timer t{};
    EXPECT_EQ(simple_timer_diff(&t), 0u);
    EXPECT_EQ(simple_timer_stop(&t), 0u) << "a never-started timer counts 0 ms";
    EXPECT_EQ(t.tot, 0u);
    EXPECT_EQ(t.cnt, 1u);
    EXPECT_EQ(simple_timer_start(nullptr), nullptr);
    EXPECT_EQ(simple_timer_diff(nullptr), 0u);
    EXPECT_EQ(simple_timer_stop(nullptr), 0u);
    EXPECT_EQ(complex_timer_start(nullptr, nullptr), nullptr);
    EXPECT_EQ(complex_timer_stop(nullptr), 0u);
}

TEST(Timer, ComplexTimerChargesItsParent)
{
    FakeClock clk(100);
    st_complex_timer par{}, chl{};
    complex_timer_start(&par, nullptr);
    clk.advance(5);
    ASSERT_EQ(complex_timer_start(&chl, &par), &chl);
    EXPECT_EQ(chl.par, &par);
    clk.advance(12);
    EXPECT_EQ(complex_timer_stop(&chl), 12u);
    complex_timer_start(&chl, &par);
    clk.advance(3);
    complex_timer_stop(&chl);
    clk.advance(1);
    EXPECT_EQ(complex_timer_stop(&par), 21u);
    EXPECT_EQ(par.chl_tot, 15u);
    EXPECT_EQ(par.chl_cnt, 2u);
    EXPECT_EQ(chl.tmr.tot, 15u);
    EXPECT_EQ(chl.tmr.cnt, 2u);
    EXPECT_EQ(chl.chl_cnt, 0u);
}

TEST(Timer, CheckTimeupAnswersOncePerInterval)
{
    FakeClock clk(10000); // 10 s
    uint64_t stt = 0;
    EXPECT_EQ(check_timeup(&stt, 20), 0);
    EXPECT_EQ(stt, 0u);
    clk.advance(10000);
    EXPECT_EQ(check_timeup(&stt, 20), 1);
    EXPECT_EQ(stt, 20u);
    clk.advance(19999);
    EXPECT_EQ(check_timeup(&stt, 20), 0);
    clk.advance(1);
    EXPECT_EQ(check_timeup(&stt, 20), 1);
    EXPECT_EQ(check_timeup(&stt, 0), 1) << "an interval of 0 is always up";
    EXPECT_EQ(check_timeup(&stt, 0), 1);
    EXPECT_EQ(check_timeup(nullptr, 0), 0);
}

bool cloexec(FILE *fp)
{
    return fcntl(fileno(fp), F_GETFD) & FD_CLOEXEC;
}

TEST(Timer, EnvFopenPrefersTheVariableThenTheDefault)
{
    TempDir dir;
    std::string named = dir.file("named.txt"), def = dir.file("default.txt");
    {
        EnvVar env("DIAG_TEST_PATH", named.c_str());
        FILE *fp = env_fopen("DIAG_TEST_PATH", def.c_str(), "w");
        ASSERT_NE(fp, nullptr);
        EXPECT_TRUE(cloexec(fp));
        fclose(fp);
        EXPECT_TRUE(std::filesystem::exists(named));
        EXPECT_FALSE(std::filesystem::exists(def));
    }
    {
        EnvVar env("DIAG_TEST_PATH", dir.file("missing/x.txt").c_str());
        FILE *fp = env_fopen("DIAG_TEST_PATH", def.c_str(), "wb");
        ASSERT_NE(fp, nullptr) << "a failed open falls back to the default";
        EXPECT_TRUE(cloexec(fp));
        fclose(fp);
        EXPECT_TRUE(std::filesystem::exists(def));
        EXPECT_EQ(env_fopen("DIAG_TEST_PATH", nullptr, "w"), nullptr);
    }
    EnvVar env("DIAG_TEST_PATH", nullptr);
    EXPECT_EQ(env_fopen("DIAG_TEST_PATH", nullptr, "w"), nullptr);
    FILE *fp = env_fopen("DIAG_TEST_PATH", named.c_str(), "r");
    ASSERT_NE(fp, nullptr);
    fclose(fp);
}

int32_t fake_end(st_stream *)
{
    return 0;
}

TEST(Timer, StkptrHandsAParkedStreamOnOnce)
{
    auto *a = reinterpret_cast<st_stream *>(0x1000);
    auto *b = reinterpret_cast<st_stream *>(0x2000);
    EXPECT_EQ(stkptr(nullptr, nullptr), nullptr);
    EXPECT_EQ(stkptr(a, fake_end), a);
    EXPECT_EQ(__stkptr.end, fake_end);
    EXPECT_EQ(stkptr(b, nullptr), b) << "a second parking replaces the first";
    EXPECT_EQ(stkptr(nullptr, nullptr), b);
    EXPECT_EQ(stkptr(nullptr, nullptr), nullptr);
    EXPECT_EQ(__stkptr.end, nullptr);
}

} // namespace
