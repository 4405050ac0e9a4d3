// Status-word rules, event counter, source-position register and the memory
// wrappers.
#include "tests/diag/fixture.h"

#include <cstring>

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
        EXPECT_EQ(keeping_caller(c.c), c.keep);
        EXPECT_EQ(__rtn, c.keep);
        __rtn = 0;
        EXPECT_EQ(c.c() != 0 ? rtn_real() : rtn_ok(), c.real);
        int cleaned = 0;
        __rtn = 0;
        EXPECT_EQ(caller_with_cleanup(c.c, &cleaned), c.keep);
        EXPECT_EQ(cleaned, 1) << "the clean-up runs on every path";
    }
    int cleaned = 0;
    __rtn = 1; // what an earlier callee left behind
    EXPECT_EQ(caller_with_cleanup(rtn_ok, &cleaned), 0) << "success clears the word";
    // 0x80000000 has the flag but code 0: not a real error.
    EXPECT_FALSE(rtn_is_err(RTN_ERR0) || rtn_is_err(RTN_NONE));
    EXPECT_TRUE(rtn_is_err(RTN_ERR));
    __rtn = RTN_ERR0;
    EXPECT_EQ(rtn_real(), -1);
    __rtn = 0;
}

TEST(Status, EventCounterAndSourcePositions)
{
    uint64_t slot = 0, big = 1234567890123ull;
    uint64_t n = __prc_cnt(&slot);
    EXPECT_EQ(slot, n);
    EXPECT_EQ(__prc_cnt(nullptr), n + 1);
    int w = 0;
    EXPECT_EQ(written([&](FILE *fp) {
                  w = __prc_prt(nullptr, fp); // prints n+2, counter goes to n+3
                  __prc_prt(&big, fp);        // prints the slot's value, counter unchanged
              }),
              std::to_string(n + 2) + "1234567890123");
    EXPECT_EQ(w, static_cast<int>(std::to_string(n + 2).size()));
    EXPECT_EQ(__prc_cnt(nullptr), n + 3);

    // The register remembers a reference until the next file name.
    st_src_pos *own = __src_pos(nullptr, "a.cpp", 12, "f", "about");
    EXPECT_EQ(__src_pos(nullptr, nullptr, 0, nullptr, nullptr), own);
    st_src_pos mine = {"x", "b.cpp", 3, "g"};
    EXPECT_EQ(__src_pos(&mine, nullptr, 0, nullptr, nullptr), &mine);
    EXPECT_EQ(__src_pos(nullptr, nullptr, 0, nullptr, nullptr), &mine);
    EXPECT_EQ(written([&](FILE *fp) {
                  EXPECT_EQ(__src_pos_fprint(fp, own), 0);
                  EXPECT_EQ(__src_pos_fprint(fp, &mine), 0);
                  EXPECT_TRUE(__src_pos_fprint(fp, nullptr) == -1 &&
                              __src_pos_fprint(nullptr, &mine) == -1);
              }),
              "a.cpp(12),f,aboutb.cpp(3),g,x");
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
    ASSERT_EQ(_realloc(&a, 1000 * sizeof(int)), 0);
    a[999] = 7;
    EXPECT_EQ(a[0] | a[9], 0);
    _free(&a);
    p = nullptr; // _free leaves the slot as it was
    ASSERT_EQ(_realloc(&p, 8), 0) << "an empty slot allocates";
    _free(&p);
    p = nullptr;
    _free(nullptr);
    _free(&p); // an empty slot

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

} // namespace
