// Interface manager: interface ids, access-name limits, timed accesses on
// an injected clock and the statistics lines.
#include "tests/diag/fixture.h"

#include <cstring>

namespace
{

using namespace diag_test;

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

TEST_F(ItfMng, IdsUpToTheSixtyFourthName)
{
    uint32_t id = 99;
    const char *nam = "x";
    std::string names[65];
    for (int i = 0; i < 64; i++) {
        names[i] = "itf" + std::to_string(i + 1);
        ASSERT_EQ(itf_get_id(names[i].c_str(), &id), 0);
        ASSERT_EQ(id, static_cast<uint32_t>(i + 1));
    }
    EXPECT_TRUE(itf_get_id(std::string("itf2").c_str(), &id) == 0 && id == 2) << "compared as text";
    EXPECT_TRUE(itf_get_nam(64, &nam) == 0 && std::string(nam) == "itf64");
    EXPECT_TRUE(itf_get_nam(65, &nam) == -1 && itf_get_nam(0, &nam) == -1);
    EXPECT_TRUE(itf_get_id("itf65", &id) == -1 && id == 0);
    EXPECT_TRUE(itfmng_start("itf65", "a") == -1 && itfmng_stop("itf65", "a", 1) == -1);
    EXPECT_EQ(print(), "") << "the refused interface recorded nothing";
}

TEST_F(ItfMng, AccessNameLengthsAndAMapThatCannotBeMade)
{
    std::string n63(63, 'a'), n64(64, 'b');
    EXPECT_EQ(itfmng_start("file", n63.c_str()), 0);
    EXPECT_EQ(itfmng_start("file", n64.c_str()), -1);
    st_itfmng_rcd *r = nullptr, *s = nullptr;
    ASSERT_EQ(itfmng_get(1, n63.data(), 63, &r), 0);
    EXPECT_NE(r->tim.stt, 0u) << "started by itfmng_start";
    ASSERT_EQ(itfmng_get(1, n64.data(), 64, &s), 0) << "a record holds 64 bytes";
    EXPECT_NE(r, s);
    EXPECT_EQ(itfmng_get(1, n64.data(), 65, &s), -1);
    EXPECT_EQ(print(), line(1, "file", n63, zero) + line(1, "file", n64, zero));

    itf_end(); // a record map that cannot be made
    r = nullptr;
    __mem_fail_at(1);
    EXPECT_TRUE(itfmng_get(1, "x", 1, &r) == -1 && !r);
    EXPECT_EQ(itfmng_start("system", "sleep"), 0);
}

TEST_F(ItfMng, TimedAccessesAndTheirLines)
{
    FakeClock clk(500);
    for (int i = 0; i < 2; i++) { // the monitor's wait between runs, twice
        EXPECT_EQ(itfmng_start("system", "sleep"), 0);
        clk.advance(10000);
        EXPECT_EQ(itfmng_stop("system", "sleep", 10000), 0);
    }
    itfmng_start("process", "ps");
    clk.advance(70000);
    itfmng_stop("process", "ps", UINT32_MAX);
    itfmng_stop("process", "ps", UINT32_MAX); // sizes add up past 32 bits
    st_itfmng_rcd *r;
    ASSERT_EQ(itfmng_get(0, "", 0, &r), 0); // an id without a name
    itfmng_get(2, "ab", 2, &r);
    itfmng_get(2, "a", 1, &r);
    EXPECT_EQ(
        print(),
        line(0, "", "", zero) +
            line(1, "system", "sleep", "access-time=20000 access-count=2 access-size=20000") +
            line(2, "process", "a", zero) + line(2, "process", "ab", zero) +
            line(2, "process", "ps", "access-time=70000 access-count=2 access-size=8589934590"));

    itf_end(); // records end, names stay
    itfmng_start("system", "sleep");
    itfmng_stop("system", "sleep", 10);
    EXPECT_EQ(print(), line(1, "system", "sleep", "access-time=0 access-count=1 access-size=10"))
        << "the other records ended, this one started again";
}

} // namespace
