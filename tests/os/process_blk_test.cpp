// Block pops of the process stream: the same bytes and access counts as
// single pops; a stop request ends them.
#include "base/os/os.h"

#include <gtest/gtest.h>

#include <csignal>
#include <random>
#include <string>

namespace
{

// The output of cmd through a process stream: single pops for blk 0, else
// block pops of random sizes 1..blk. acs gets the access count and size
// added to the record "process" / "seq".
std::string run(const char *cmd, uint32_t blk, uint64_t acs[2])
{
    uint32_t id = 0;
    st_itfmng_rcd *rcd = nullptr;
    EXPECT_EQ(itf_get_id("process", &id) | itfmng_get(id, "seq", 3, &rcd), 0);
    const st_itfmng_rcd was = *rcd;
    st_stream s;
    EXPECT_EQ(stream_prc_set(&s, cmd, PRC_STDOUT), 0);
    std::mt19937 rng(7);
    std::string out;
    uint8_t b[4096];
    for (uint32_t got = 1;
         (blk ? stream_pop_blk(&s, b, rng() % blk + 1, &got) : stream_pop(&s, b)) == 0;)
        out.append(reinterpret_cast<char *>(b), got);
    EXPECT_EQ(__rtn, 1) << "the end of the output";
    stream_end(&s);
    acs[0] = rcd->tim.cnt - was.tim.cnt;
    acs[1] = rcd->siz - was.siz;
    return out;
}

TEST(ProcessBlk, BlockPopsGiveTheBytesAndCountsOfSinglePops)
{
    uint64_t one[2], blk[2];
    const std::string out = run("seq 50000", 0, one); // more than the read-ahead holds
    EXPECT_EQ(out.size(), 288894u);
    EXPECT_EQ(run("seq 50000", 4096, blk), out);
    EXPECT_EQ(one[0], out.size() + 1) << "one access per byte and one for the end";
    EXPECT_TRUE(blk[0] == one[0] && blk[1] == one[1]);
}

TEST(ProcessBlk, StopRequestEndsBlockPopsOfAFlood)
{
    st_stream s;
    ASSERT_EQ(stream_prc_set(&s, "yes", PRC_STDOUT), 0);
    uint8_t b[1000];
    uint32_t got;
    uint64_t total = 0, was = 0;
    while (total < (1u << 20) && stream_pop_blk(&s, b, sizeof b, &got) == 0)
        total += got;
    EXPECT_GE(total, 1u << 20) << "yes floods";
    os_stop_set(SIGTERM);
    // What is buffered still comes out, then the stop ends the pops.
    for (was = total; total < (2u << 20) && stream_pop_blk(&s, b, sizeof b, &got) == 0;)
        total += got;
    EXPECT_EQ(__rtn, -1);
    EXPECT_LE(total - was, 2u * PRC_BUF_SIZ);
    stream_end(&s);
    os_stop_set(0);
}

} // namespace
