// Child processes: spawning, reading, writing, ending and stops; block
// pops of the process stream against single pops.
#include "base/os/os_impl.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <random>
#include <string>
#include <sys/wait.h>
#include <thread>

namespace
{

// The lowest free descriptor: the same again when nothing was left open.
int free_fd()
{
    int fd = dup(0);
    close(fd);
    return fd;
}

// Everything the child writes, until the end of its output.
std::string drain(st_prc *prc, int32_t *last = nullptr)
{
    std::string s;
    uint8_t c;
    int32_t r;
    while ((r = _prc_pop(prc, &c)) == 0)
        s += (char)c;
    if (last)
        *last = r;
    return s;
}

bool reaped(pid_t pid)
{
    return waitpid(pid, nullptr, WNOHANG) < 0 && errno == ECHILD;
}

// A child's output (error output first) and input through its pipes; the
// end reaps or kills it and leaves no descriptor; failed starts leave
// nothing; closed records use no pipe.
TEST(Process, OutputAndInputPipesThenTheEnd)
{
    int fd0 = free_fd();
    st_prc prc = {};
    ASSERT_EQ(_prc_set(&prc, nullptr, "printf \"one\\ntwo\\nthree\"", PRC_STDOUT), 0);
    int32_t last = 0;
    EXPECT_EQ(drain(&prc, &last), "one\ntwo\nthree");
    EXPECT_EQ(last, 1); // the output ended and the child exited
    EXPECT_EQ(_prc_end(&prc), 0);
    EXPECT_EQ(_prc_end(&prc), 0); // idempotent

    // Error output is preferred when both pipes hold data.
    ASSERT_EQ(_prc_set(&prc, nullptr, "sh -c \"echo out; echo err 1>&2\"", PRC_STDOUT | PRC_STDERR),
              0);
    siginfo_t si; // waits until the child has exited without reaping it
    ASSERT_EQ(waitid(P_PID, (id_t)prc.pid, &si, WEXITED | WNOWAIT), 0);
    EXPECT_EQ(_prc_acs_inf(&prc, 0, 0, 0, nullptr), 0);
    EXPECT_EQ(drain(&prc), "err\nout\n");
    EXPECT_NE(_prc_acs_inf(&prc, 0, 0, 0, nullptr), 0); // nothing left
    _prc_end(&prc);

    ASSERT_EQ(_prc_set(&prc, nullptr, "head -c 3", PRC_STDIN | PRC_STDOUT), 0);
    int fd = -2;
    EXPECT_EQ(_prc_acs_inf(&prc, 1, 0, (intptr_t)&fd, nullptr), 0);
    EXPECT_EQ(fd, prc.par[0]);
    EXPECT_EQ(_prc_acs_inf(&prc, 1, 3, (intptr_t)&fd, nullptr), -1);
    EXPECT_EQ(_prc_acs_inf(&prc, 2, 0, 0, nullptr), -1);
    for (uint8_t c : {'a', 'b', 'c'})
        EXPECT_EQ(_prc_psh(&prc, &c), 0);
    EXPECT_EQ(_prc_fls(&prc), 0);
    EXPECT_EQ(drain(&prc), "abc");
    // The reader has gone (drained means reaped): a push fails instead of
    // killing us with SIGPIPE.
    ASSERT_TRUE(prc.reaped);
    uint8_t c = 'd';
    EXPECT_EQ(_prc_psh(&prc, &c), -1);
    _prc_end(&prc);

    // The end kills a running child and leaves no zombie or descriptor.
    ASSERT_EQ(_prc_set(&prc, nullptr, "sleep 30", PRC_STDOUT), 0);
    EXPECT_EQ(_prc_psh(&prc, &c), -1); // input not piped
    EXPECT_EQ(_prc_fls(&prc), -1);
    const pid_t pid = prc.pid;
    EXPECT_EQ(_prc_end(&prc), 0);
    EXPECT_TRUE(reaped(pid));
    EXPECT_EQ(free_fd(), fd0);

    // With PRC_WAIT the end waits for the child's own exit code.
    ASSERT_EQ(_prc_set(&prc, nullptr, "sh -c \"sleep 0.2; exit 7\"", PRC_STDOUT | PRC_WAIT), 0);
    EXPECT_EQ(_prc_end(&prc), 7);

    // A child that cannot be found leaves nothing behind.
    EXPECT_EQ(_prc_set(&prc, nullptr, "no-such-program-rundif-test x", PRC_STDOUT), -1);
    EXPECT_EQ(_prc_set(&prc, nullptr, "   ", PRC_STDOUT), -1);
    EXPECT_EQ(_prc_end(&prc), 0);
    EXPECT_EQ(free_fd(), fd0);
    EXPECT_EQ(_prc_pop(&prc, &c), -1);
    // No operation uses a closed record's pipe fields: zero-filled, they
    // name the caller's standard input.
    st_prc zero = {};
    for (st_prc *p : {&prc, &zero})
        EXPECT_TRUE(_prc_psh(p, &c) && _prc_fls(p) && _prc_acs_inf(p, 0, 0, 0, nullptr) &&
                    _prc_acs_inf(p, 1, 0, (intptr_t)&fd, nullptr));
}

// A child starts with SIGPIPE at its default although the caller ignores it.
TEST(Process, ChildGetsDefaultSigpipeEvenWhenTheCallerIgnoresIt)
{
    struct sigaction old, ign = {};
    ign.sa_handler = SIG_IGN;
    sigaction(SIGPIPE, &ign, &old);
    st_prc prc = {};
    // A shell cannot catch a signal ignored at its start: it would survive.
    ASSERT_EQ(_prc_set(&prc, nullptr, "sh -c \"kill -PIPE $$; echo survived\"", PRC_STDOUT), 0);
    drain(&prc); // up to its end
    EXPECT_EQ(_prc_end(&prc), 128 + SIGPIPE);
    sigaction(SIGPIPE, &old, nullptr);
}

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

// Block pops of a process stream give the bytes and the access counts of
// single pops, across many refills.
TEST(Process, BlockPopsGiveTheBytesAndCountsOfSinglePops)
{
    uint64_t one[2], blk[2];
    const std::string out = run("seq 50000", 0, one); // more than the read-ahead holds
    EXPECT_EQ(out.size(), 288894u);
    EXPECT_EQ(run("seq 50000", 4096, blk), out);
    EXPECT_EQ(one[0], out.size() + 1) << "one access per byte and one for the end";
    EXPECT_TRUE(blk[0] == one[0] && blk[1] == one[1]);
}

// A stop request ends the pops once what is buffered is out (single pops
// take the same way), and sleeps; other signals do not.
TEST(Process, StopRequestEndsThePopsOfAFloodAndSleeps)
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
    EXPECT_EQ(os_sleep_ms(50000), -1);
    EXPECT_EQ(os_stop_sig(), SIGTERM);
    // What is buffered still comes out, then the stop ends the pops.
    for (was = total; total < (2u << 20) && stream_pop_blk(&s, b, sizeof b, &got) == 0;)
        total += got;
    EXPECT_EQ(__rtn, -1);
    EXPECT_LE(total - was, 2u * PRC_BUF_SIZ);
    stream_end(&s);
    os_stop_set(0);
    // A signal that is no stop (its handler runs) does not cut a sleep short.
    struct sigaction sa = {}, old;
    sa.sa_handler = [](int) {};
    ASSERT_EQ(sigaction(SIGURG, &sa, &old), 0);
    std::atomic<bool> done = false;
    std::thread k([&, tid = gettid()] {
        for (; !done; usleep(5000))
            tgkill(getpid(), tid, SIGURG);
    });
    const auto t0 = std::chrono::steady_clock::now();
    EXPECT_EQ(os_sleep_ms(100), 0);
    EXPECT_GE(std::chrono::steady_clock::now() - t0, std::chrono::milliseconds(100));
    done = true;
    k.join();
    sigaction(SIGURG, &old, nullptr);
}

} // namespace
