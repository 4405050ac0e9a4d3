// Status-word rules, event counter and source-position register.
#include "tests/diag/fixture.h"

namespace
{

using namespace diag_test;
using callee = int32_t (*)();

int32_t keeping_caller(callee c)
{
    RTN_TRY(c());
    return rtn_ok();
}

int32_t real_error_caller(callee c)
{
    return c() != 0 ? rtn_real() : rtn_ok();
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
        EXPECT_EQ(real_error_caller(c.c), c.real);
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
    EXPECT_STREQ(own->fil, "a.cpp");
    EXPECT_EQ(own->lin, 12);
    st_src_pos mine = {"x", "b.cpp", 3, "g"};
    EXPECT_EQ(__src_pos(&mine, nullptr, 0, nullptr, nullptr), &mine);
    EXPECT_EQ(__src_pos(nullptr, nullptr, 0, nullptr, nullptr), &mine);
    EXPECT_EQ(__src_pos(nullptr, "c.cpp", 4, "h", "y"), own);
    EXPECT_EQ(written([&](FILE *fp) {
                  EXPECT_EQ(__src_pos_fprint(fp, &mine), 0);
                  EXPECT_TRUE(__src_pos_fprint(fp, nullptr) == -1 &&
                              __src_pos_fprint(nullptr, &mine) == -1);
              }),
              "b.cpp(3),g,x");
}

} // namespace
