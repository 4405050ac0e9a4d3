// Status-word rules, event counter, source-position register, memory
// wrappers, timers on an injected clock, the interval check, files named by
// the environment and the stream hand-off slot.
#include "tests/diag/fixture.h"

#include <cstring>

#include <fcntl.h>

namespace
{

using namespace diag_test;
using callee = int32_t (*)();

int32_t keeping_caller(callee c)
{
    RTN_TRY(c());
    return rtn_ok();
}

int32_t caller_with_cleanup(callee c, int *cleaned)
{
    RTN_TRY_GOTO(c(), out);
    rtn_ok();
out:
    (*cleaned)++;
    return __rtn;
}

TEST(Status, KeepingAndRealErrorRules)
{
    callee silent = [] { return 1 == 1 ? -1 : 0; }; // fails without touching the word
    struct {
        callee c;
        int32_t keep, real; // results through the keeping and the real-error caller
    } cases[] = {
        {silent, -1, -1}, {rtn_none, 1, -1}, {rtn_fail1, RTN_ERR1, RTN_ERR1}, {rtn_ok, 0, 0}};
    for (auto &c : cases) {
        __rtn = 0;
        EXPECT_EQ(keeping_caller(c.c), c.keep); // the word itself
        __rtn = 0;
        EXPECT_EQ(c.c() != 0 ? rtn_real() : rtn_ok(), c.real);
        int cleaned = 0;
        __rtn = 0;
        EXPECT_EQ(caller_with_cleanup(c.c, &cleaned), c.keep);
        EXPECT_EQ(cleaned, 1) << "the clean-up runs on every path";
    }
    // 0x80000000 has the flag but code 0: not a real error.
    static_assert(!rtn_is_err(RTN_ERR0) && !rtn_is_err(RTN_NONE) && rtn_is_err(RTN_ERR));
    __rtn = RTN_ERR0;
    EXPECT_EQ(rtn_real(), -1);
    __rtn = 0;
}

TEST(Status, EventCounterAndSourcePositions)
{
    uint64_t slot = 0, big = 1234567890123ull;
    uint64_t n = __prc_cnt(&slot);
    EXPECT_TRUE(slot == n && __prc_cnt(nullptr) == n + 1);
    int w = 0;
    EXPECT_EQ(written([&](FILE *fp) {
                  w = __prc_prt(nullptr, fp); // prints n+2, counter goes to n+3
                  __prc_prt(&big, fp);        // prints the slot's value, counter unchanged
              }),
              std::to_string(n + 2) + "1234567890123");
    EXPECT_TRUE(w == int(std::to_string(n + 2).size()) && __prc_cnt(nullptr) == n + 3);

    // The register remembers a reference until the next file name.
    st_src_pos *own = __src_pos(nullptr, "a.cpp", 12, "f", "about");
    EXPECT_EQ(__src_pos(nullptr, nullptr, 0, nullptr, nullptr), own);
    st_src_pos mine = {"x", "b.cpp", 3, "g"};
    EXPECT_TRUE(__src_pos(&mine, nullptr, 0, nullptr, nullptr) == &mine &&
                __src_pos(nullptr, nullptr, 0, nullptr, nullptr) == &mine);
    // The resource report prints positions too; here the register's own.
    EXPECT_EQ(written([&](FILE *fp) { EXPECT_EQ(__src_pos_fprint(fp, own), 0); }),
              "a.cpp(12),f,about");
    EXPECT_TRUE(__src_pos_fprint(stderr, nullptr) == -1 && __src_pos_fprint(nullptr, &mine) == -1);
    EXPECT_EQ(__src_pos(nullptr, "c.cpp", 4, "h", "y"), own);
}

TEST(Memory, WrappersFillTheSlotOrFailWithMinusOne)
{
    char *p = nullptr, *q = reinterpret_cast<char *>(&q), zero[16] = {};
    __rtn = 1;
    ASSERT_EQ(_malloc0(&p, 16), 0);
    EXPECT_TRUE(__rtn == 0 && std::memcmp(p, zero, 16) == 0);
    _free(&p);
    ASSERT_EQ(_malloc_cpy(&p, "abc", 4), 0);
    EXPECT_STREQ(p, "abc");
    _free(&p);
    EXPECT_TRUE(_malloc_str(&q, nullptr) == 0 && !q) << "a stale slot is replaced";
    int *a = nullptr;
    ASSERT_EQ(_calloc(&a, 10, sizeof(int)), 0);
    EXPECT_EQ(a[0] | a[9], 0);
    _free(&a);
    p = nullptr; // _free leaves the slot as it was
    ASSERT_EQ(_realloc(&p, 8), 0) << "an empty slot allocates";
    _free(&p);
    _free(nullptr);

    ASSERT_EQ(_malloc_str(&p, "keep me"), 0);
    __mem_fail_at(1);
    __rtn = 0;
    EXPECT_TRUE(_realloc(&p, 1 << 20) == -1 && __rtn == -1);
    EXPECT_STREQ(p, "keep me") << "the old block stays valid through the slot";
    _free(&p);
    __mem_fail_at(2); // the second allocation from now fails
    EXPECT_EQ(_malloc(&q, 4), 0);
    _free(&q);
    __rtn = 1; // -1 whatever the word held
    EXPECT_TRUE(_malloc_str(&q, "x") == -1 && !q);
    __mem_fail_at(1);
    EXPECT_TRUE(_calloc(&q, 2, 2) == -1 && !q);
    __mem_fail_at(0);
}

// Complex timers are the profiler's: its tests check the nested time they
// charge to their parent.
TEST(Timer, SimpleStampsSpanLongIntervalsAndCheckTimeupAnswersOncePerInterval)
{
    FakeClock clk(0);
    st_simple_timer t{};
    EXPECT_EQ(simple_timer_stop(&t), 0u) << "a timer never started counts 0 ms";
    simple_timer_start(&t); // at tick 0, which must not look stopped
    clk.advance(70000);     // more than a 16-bit stamp can span
    EXPECT_EQ(simple_timer_diff(&t), 70000u);
    EXPECT_EQ(simple_timer_stop(&t), 70000u);
    clk.advance(65530);
    simple_timer_start(&t);
    clk.advance(3 * 86400000ull + 17); // three days, across many 16-bit wraps
    simple_timer_stop(&t);
    EXPECT_TRUE(t.tot == 70000 + 3 * 86400000ull + 17 && t.cnt == 3);

    fake_ms = 10000; // check_timeup counts whole seconds
    uint64_t stt = 0;
    EXPECT_EQ(check_timeup(&stt, 20), 0);
    clk.advance(10000);
    EXPECT_TRUE(check_timeup(&stt, 20) == 1 && stt == 20);
    clk.advance(19999);
    EXPECT_EQ(check_timeup(&stt, 20), 0);
    EXPECT_EQ(check_timeup(&stt, 0) + check_timeup(&stt, 0), 2) << "an interval of 0 is always up";
    EXPECT_EQ(check_timeup(nullptr, 0), 0);
}

// The memory-log and profiler tests open their files through the variables.
TEST(Timer, EnvFopenFallsBackToTheDefault)
{
    TempDir dir;
    EnvVar env("DIAG_TEST_PATH", dir.file("no/dir").c_str());
    FILE *fp = env_fopen("DIAG_TEST_PATH", dir.file("default").c_str(), "w");
    ASSERT_NE(fp, nullptr) << "a failed open falls back to the default";
    EXPECT_TRUE(fcntl(fileno(fp), F_GETFD) & FD_CLOEXEC);
    fclose(fp);
    EXPECT_EQ(env_fopen("DIAG_TEST_PATH", nullptr, "w"), nullptr);
}

} // namespace
