// Interface manager: interface ids, access-name limits, timed accesses on
// an injected clock and the statistics lines.
#include "tests/diag/fixture.h"

#include <cstring>
#include <vector>

namespace
{

using diag_test::FakeClock;

// Each test starts with an empty name table and no record map, and gets the
// process's table back at the end (ids must never change for other users).
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

    static std::string print()
    {
        char *buf = nullptr;
        size_t len = 0;
        FILE *fp = open_memstream(&buf, &len);
        itfmng_print(fp);
        fclose(fp);
        std::string out(buf, len);
        free(buf);
        return out;
    }
};

TEST_F(ItfMng, IdsUpToTheSixtyFourthName)
{
    uint32_t id = 99;
    const char *nam = "x";
    EXPECT_EQ(itf_get_id("process", &id), 0);
    EXPECT_EQ(id, 1u);
    EXPECT_EQ(itf_get_id("file", &id), 0);
    EXPECT_EQ(id, 2u);
    std::string again = "process"; // compared as text, not by address
    EXPECT_EQ(itf_get_id(again.c_str(), &id), 0);
    EXPECT_EQ(id, 1u);
    EXPECT_EQ(itf_get_nam(2, &nam), 0);
    EXPECT_STREQ(nam, "file");
    EXPECT_EQ(itf_get_nam(3, &nam), 0);
    EXPECT_EQ(nam, nullptr) << "free slot";
    EXPECT_EQ(itf_get_nam(0, &nam), -1);
    EXPECT_EQ(itf_get_nam(65, &nam), -1);

    std::vector<std::string> names;
    for (int i = 3; i <= 65; i++)
        names.push_back("itf" + std::to_string(i));
    for (int i = 3; i <= 64; i++) {
        ASSERT_EQ(itf_get_id(names[i - 3].c_str(), &id), 0);
        ASSERT_EQ(id, static_cast<uint32_t>(i));
    }
    EXPECT_EQ(itf_get_nam(64, &nam), 0);
    EXPECT_STREQ(nam, "itf64");
    EXPECT_EQ(itf_get_id("itf65", &id), -1);
    EXPECT_EQ(id, 0u);
    EXPECT_EQ(itf_get_id("itf64", &id), 0) << "known names still resolve";
    EXPECT_EQ(id, 64u);
    EXPECT_EQ(itfmng_start("itf65", "a"), -1);
    EXPECT_EQ(itfmng_stop("itf65", "a", 1), -1);
    EXPECT_EQ(print(), "") << "the refused interface recorded nothing";
    EXPECT_EQ(itf_get_id(nullptr, &id), -1);
}

TEST_F(ItfMng, AccessNameLengths)
{
    std::string n63(63, 'a'), n64(64, 'b');
    EXPECT_EQ(itfmng_start("file", n63.c_str()), 0);
    EXPECT_EQ(itfmng_start("file", n64.c_str()), -1);
    EXPECT_EQ(itfmng_stop("file", n64.c_str(), 1), -1);
    st_itfmng_rcd *r = nullptr, *s = nullptr;
    ASSERT_EQ(itfmng_get(1, n63.data(), 63, &r), 0);
    EXPECT_NE(r->tim.stt, 0u) << "the timer started by itfmng_start";
    ASSERT_EQ(itfmng_get(1, n64.data(), 64, &s), 0) << "a record takes 64 bytes";
    EXPECT_NE(r, s);
    EXPECT_EQ(std::memcmp(s->acs, n64.data(), 64), 0);
    EXPECT_EQ(itfmng_get(1, n64.data(), 65, &s), -1);
    st_itfmng_rcd *t = nullptr;
    ASSERT_EQ(itfmng_get(1, n63.data(), 63, &t), 0);
    EXPECT_EQ(t, r) << "the same key finds the same record";
    EXPECT_EQ(print(), "interface-id=1 interface-name=\"file\" access-name=\"" + n63 +
                           "\" access-time=0 access-count=0 access-size=0\n"
                           "interface-id=1 interface-name=\"file\" access-name=\"" +
                           n64 + "\" access-time=0 access-count=0 access-size=0\n");
}

TEST_F(ItfMng, TimedAccessesAndTheirLines)
{
    FakeClock clk(500);
    EXPECT_EQ(print(), "") << "no record yet";
    for (int i = 0; i < 2; i++) { // the monitor's wait between runs, twice
        EXPECT_EQ(itfmng_start("system", "sleep"), 0);
        clk.advance(10000);
        EXPECT_EQ(itfmng_stop("system", "sleep", 10000), 0);
    }
    itfmng_start("process", "ps");
    clk.advance(70000);
    itfmng_stop("process", "ps", UINT32_MAX);
    itfmng_start("process", "ps");
    itfmng_stop("process", "ps", UINT32_MAX); // sizes add up past 32 bits
    st_itfmng_rcd *r;
    ASSERT_EQ(itfmng_get(0, "", 0, &r), 0); // an id without a name
    itfmng_get(2, "ab", 2, &r);
    itfmng_get(2, "a", 1, &r);
    EXPECT_EQ(print(), "interface-id=0 interface-name=\"\" access-name=\"\" access-time=0 "
                       "access-count=0 access-size=0\n"
                       "interface-id=1 interface-name=\"system\" access-name=\"sleep\" "
                       "access-time=20000 access-count=2 access-size=20000\n"
                       "interface-id=2 interface-name=\"process\" access-name=\"a\" access-time=0 "
                       "access-count=0 access-size=0\n"
                       "interface-id=2 interface-name=\"process\" access-name=\"ab\" access-time=0 "
                       "access-count=0 access-size=0\n"
                       "interface-id=2 interface-name=\"process\" access-name=\"ps\" "
                       "access-time=70000 access-count=2 access-size=8589934590\n");

    itf_end();
    EXPECT_EQ(print(), "") << "records ended";
    uint32_t id;
    EXPECT_EQ(itf_get_id("process", &id), 0);
    EXPECT_EQ(id, 2u) << "names stay";
    itfmng_start("system", "sleep");
    itfmng_stop("system", "sleep", 10);
    EXPECT_EQ(print(), "interface-id=1 interface-name=\"system\" access-name=\"sleep\" "
                       "access-time=0 access-count=1 access-size=10\n");
}

TEST_F(ItfMng, RecordMapThatCannotBeMade)
{
    st_itfmng_rcd *r = nullptr;
    __mem_fail_at(1);
    EXPECT_EQ(itfmng_get(1, "x", 1, &r), -1);
    EXPECT_EQ(r, nullptr);
    __mem_fail_at(1);
    EXPECT_EQ(itfmng_start("system", "sleep"), -1);
    __mem_fail_at(0);
    EXPECT_EQ(itfmng_start("system", "sleep"), 0);
}

} // namespace
