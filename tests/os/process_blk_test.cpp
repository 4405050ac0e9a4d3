// Block pops of the process stream: the same bytes, order and access counts
// as single pops; a stop request ends them.
#include "base/os/os.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <random>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

namespace
{

// Pops the whole output of cmd through a process stream: single pops when
// blk is 0, else block pops of random sizes 1..blk. *acs gets the access
// count and size the stream added to its record.
std::string run(const char *cmd, uint32_t blk, uint64_t acs[2])
{
    uint32_t id = 0;
    st_itfmng_rcd *rcd = nullptr;
    EXPECT_EQ(itf_get_id("process", &id) | itfmng_get(id, "head", 4, &rcd), 0);
    const st_itfmng_rcd was = *rcd;
    st_stream s;
    EXPECT_EQ(stream_prc_set(&s, cmd, PRC_STDOUT), 0);
    std::mt19937 rng(7);
    std::string out;
    uint8_t buf[4096];
    uint32_t got = 0;
    while ((blk ? stream_pop_blk(&s, buf, rng() % blk + 1, &got) : stream_pop(&s, buf)) == 0)
        out.append(reinterpret_cast<char *>(buf), blk ? got : 1);
    EXPECT_EQ(__rtn, 1) << "the end of the output";
    EXPECT_EQ(got, 0u);
    stream_end(&s);
    acs[0] = rcd->tim.cnt - was.tim.cnt;
    acs[1] = rcd->siz - was.siz;
    return out;
}

TEST(ProcessBlk, BlockPopsGiveTheBytesAndCountsOfSinglePops)
{
    char path[] = "/tmp/process_blk_XXXXXX";
    const int fd = mkstemp(path);
    ASSERT_GE(fd, 0);
    std::mt19937 rng(1);
    std::string data(300000, '\0'); // more than the read-ahead buffers hold
    for (char &c : data)
        c = static_cast<char>(rng());
    ASSERT_EQ(write(fd, data.data(), data.size()), static_cast<ssize_t>(data.size()));
    close(fd);
    const std::string cmd = "head -c 250001 " + std::string(path);
    uint64_t one[2], blk[2];
    EXPECT_EQ(run(cmd.c_str(), 0, one), data.substr(0, 250001));
    EXPECT_EQ(run(cmd.c_str(), 4096, blk), data.substr(0, 250001));
    EXPECT_EQ(one[0], 250002u) << "one access per byte and one for the end";
    EXPECT_EQ(blk[0], one[0]);
    EXPECT_EQ(blk[1], one[1]);
    unlink(path);
}

TEST(ProcessBlk, ErrorOutputComesFirstAsWithSinglePops)
{
    const char *cmd = "sh -c \"echo out; echo err >&2\"";
    std::string got[2];
    for (int blk = 0; blk < 2; blk++) {
        st_prc prc = {};
        ASSERT_EQ(_prc_set(&prc, nullptr, cmd, PRC_STDOUT | PRC_STDERR), 0);
        siginfo_t si; // both pipes hold their line when the pops start
        ASSERT_EQ(waitid(P_PID, (id_t)prc.pid, &si, WEXITED | WNOWAIT), 0);
        uint8_t b[64];
        uint32_t n = 1;
        while ((blk ? _prc_pop_blk(&prc, b, sizeof b, &n) : _prc_pop(&prc, b)) == 0)
            got[blk].append(reinterpret_cast<char *>(b), n);
        _prc_end(&prc);
    }
    EXPECT_EQ(got[0], "err\nout\n");
    EXPECT_EQ(got[1], got[0]);
    uint32_t n = 5;
    st_prc none = {};
    EXPECT_EQ(_prc_pop_blk(&none, nullptr, 1, &n), -1);
    EXPECT_EQ(n, 0u);
}

TEST(ProcessBlk, StopRequestEndsBlockPopsOfAFlood)
{
    st_stream s;
    ASSERT_EQ(stream_prc_set(&s, "yes", PRC_STDOUT), 0);
    uint8_t buf[1000];
    uint32_t got;
    uint64_t total = 0;
    while (total < (1u << 20) && stream_pop_blk(&s, buf, sizeof buf, &got) == 0)
        total += got;
    EXPECT_GE(total, 1u << 20) << "yes floods";
    const uint64_t was = total;
    os_stop_set(SIGTERM);
    // What is buffered still comes out, then the stop ends the pops.
    while (total < (2u << 20) && stream_pop_blk(&s, buf, sizeof buf, &got) == 0)
        total += got;
    EXPECT_EQ(__rtn, -1);
    EXPECT_LE(total - was, 2u * PRC_BUF_SIZ);
    stream_end(&s);
    os_stop_set(0);
}

} // namespace
