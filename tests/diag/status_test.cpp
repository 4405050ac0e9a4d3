// Status-word rules, event counter and source-position register.
#include "base/diag/diag.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

namespace
{

int32_t callee_fails_silently()
{
    return 1 == 1 ? -1 : 0; // fails without touching the word
}

int32_t callee_none()
{
    return rtn_none();
}

int32_t callee_fail1()
{
    return rtn_fail1();
}

int32_t keeping_caller(int32_t (*callee)())
{
    RTN_TRY(callee());
    return rtn_ok();
}

int32_t real_error_caller(int32_t (*callee)())
{
    if (callee() != 0)
        return rtn_real();
    return rtn_ok();
}

int32_t caller_with_cleanup(int32_t (*callee)(), int *cleaned)
{
    RTN_TRY_GOTO(callee(), out);
    rtn_ok();
out:
    (*cleaned)++;
    return __rtn;
}

TEST(Status, KeepingRulePassesStatusUpAndTurnsSilentFailureIntoMinusOne)
{
    __rtn = 0;
    EXPECT_EQ(keeping_caller(callee_fails_silently), -1);
    EXPECT_EQ(__rtn, -1);

    __rtn = 0;
    EXPECT_EQ(keeping_caller(callee_none), 1);
    __rtn = 0;
    EXPECT_EQ(keeping_caller(callee_fail1), RTN_ERR1);
    EXPECT_EQ((uint32_t)__rtn, 0x80000001u);

    int cleaned = 0;
    __rtn = 0;
    EXPECT_EQ(caller_with_cleanup(callee_none, &cleaned), 1);
    EXPECT_EQ(cleaned, 1);
}

TEST(Status, RealErrorRuleTurnsNothingMoreIntoMinusOneButKeepsRealErrors)
{
    __rtn = 0;
    EXPECT_EQ(real_error_caller(callee_none), -1);
    __rtn = 0;
    EXPECT_EQ(real_error_caller(callee_fail1), RTN_ERR1);
    // 0x80000000 has the flag but code 0: not a real error.
    EXPECT_FALSE(rtn_is_err(RTN_ERR0));
    EXPECT_TRUE(rtn_is_err(RTN_ERR));
    EXPECT_FALSE(rtn_is_err(RTN_NONE));
    __rtn = RTN_ERR0;
    EXPECT_EQ(rtn_real(), -1);
}

TEST(Status, SuccessClearsWhatACalleeLeftBehind)
{
    int cleaned = 0;
    __rtn = 0;
    callee_none();
    EXPECT_EQ(caller_with_cleanup([] { return 0; }, &cleaned), 0);
    EXPECT_EQ(__rtn, 0);
}

TEST(Status, EventCounterAdvancesByOneAndPrintsWithoutSlot)
{
    uint64_t slot = 0;
    uint64_t n = __prc_cnt(&slot);
    EXPECT_EQ(slot, n);
    EXPECT_EQ(__prc_cnt(nullptr), n + 1);

    char *buf = nullptr;
    size_t len = 0;
    FILE *fp = open_memstream(&buf, &len);
    int w = __prc_prt(nullptr, fp); // prints n+2, counter goes to n+3
    uint64_t big = 1234567890123ull;
    __prc_prt(&big, fp); // prints the slot's value, counter unchanged
    fclose(fp);
    EXPECT_EQ(std::string(buf, len), std::to_string(n + 2) + "1234567890123");
    EXPECT_EQ(w, (int)std::to_string(n + 2).size());
    free(buf);
    EXPECT_EQ(__prc_cnt(nullptr), n + 3);
}

TEST(Status, SourcePositionRegisterRemembersReferenceUntilNextFileName)
{
    st_src_pos *own = __src_pos(nullptr, "a.cpp", 12, "f", "about");
    EXPECT_EQ(__src_pos(nullptr, nullptr, 0, nullptr, nullptr), own);
    EXPECT_STREQ(own->fil, "a.cpp");
    EXPECT_EQ(own->lin, 12);

    st_src_pos mine = {"x", "b.cpp", 3, "g"};
    EXPECT_EQ(__src_pos(&mine, nullptr, 0, nullptr, nullptr), &mine);
    EXPECT_EQ(__src_pos(nullptr, nullptr, 0, nullptr, nullptr), &mine);
    EXPECT_EQ(__src_pos(nullptr, "c.cpp", 4, "h", "y"), own);
    EXPECT_EQ(__src_pos(nullptr, nullptr, 0, nullptr, nullptr), own);

    char *buf = nullptr;
    size_t len = 0;
    FILE *fp = open_memstream(&buf, &len);
    EXPECT_EQ(__src_pos_fprint(fp, &mine), 0);
    EXPECT_EQ(__src_pos_fprint(fp, nullptr), -1);
    EXPECT_EQ(__src_pos_fprint(nullptr, &mine), -1);
    fclose(fp);
    EXPECT_EQ(std::string(buf, len), "b.cpp(3),g,x");
    free(buf);
}

} // namespace
