// Child processes: spawning, reading, writing, ending, and command lines.
#include "base/os/os.h"

#include <gtest/gtest.h>

#include <csignal>
#include <dirent.h>
#include <string>
#include <sys/wait.h>
#include <vector>

namespace
{

std::vector<std::string> split(const char *cmd)
{
    char **argv = nullptr;
    int32_t argc = -1;
    EXPECT_EQ(cmdline_split(cmd, &argv, &argc), 0);
    std::vector<std::string> v(argv, argv + argc);
    EXPECT_EQ(argv[argc], nullptr);
    _free(&argv);
    return v;
}

using Args = std::vector<std::string>;

TEST(CmdLine, BlanksQuotesAndBackslashes)
{
    EXPECT_EQ(split(""), Args{});
    EXPECT_EQ(split(" \t "), Args{});
    EXPECT_EQ(split("  ps\t-e  -o comm= "), (Args{"ps", "-e", "-o", "comm="}));
    EXPECT_EQ(split("\"a b\" c"), (Args{"a b", "c"}));
    EXPECT_EQ(split("x\"a b\"y"), Args{"xa by"});
    EXPECT_EQ(split("a \"\" b"), (Args{"a", "", "b"}));
    // Backslashes are literal unless they precede a quote.
    EXPECT_EQ(split("C:\\dir\\ a\\\\b"), (Args{"C:\\dir\\", "a\\\\b"}));
    EXPECT_EQ(split("\\\"q\\\""), Args{"\"q\""});           // \" is a literal quote
    EXPECT_EQ(split("\"a\\\\\" b"), (Args{"a\\", "b"}));    // \\" is \ and a closing quote
    EXPECT_EQ(split("\"a\\\\\\\" b\""), (Args{"a\\\" b"})); // \\\" is \ and a literal quote
    EXPECT_EQ(split("\"unterminated arg"), Args{"unterminated arg"});
}

// Number of open file descriptors of this process.
int open_fds()
{
    int n = 0;
    DIR *d = opendir("/proc/self/fd");
    while (readdir(d))
        n++;
    closedir(d);
    return n;
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

// Waits until the child has exited without reaping it.
void wait_exited(const st_prc *prc)
{
    siginfo_t si;
    ASSERT_EQ(waitid(P_PID, (id_t)prc->pid, &si, WEXITED | WNOWAIT), 0);
}

bool reaped(pid_t pid)
{
    return waitpid(pid, nullptr, WNOHANG) < 0 && errno == ECHILD;
}

TEST(Process, OutputArrivesCompleteAndInOrderThenEnds)
{
    st_prc prc = {};
    ASSERT_EQ(_prc_set(&prc, nullptr, "printf \"one\\ntwo\\nthree\"", PRC_STDOUT), 0);
    int32_t last = 0;
    EXPECT_EQ(drain(&prc, &last), "one\ntwo\nthree");
    EXPECT_EQ(last, 1);
    EXPECT_EQ(__rtn, 1);
    pid_t pid = prc.pid;
    EXPECT_EQ(_prc_end(&prc), 0);
    EXPECT_TRUE(reaped(pid));
    EXPECT_EQ(_prc_end(&prc), 0); // idempotent

    // A large output crosses many buffer refills byte-exactly.
    ASSERT_EQ(_prc_set(&prc, nullptr, "head -c 1000000 /dev/zero", PRC_STDOUT), 0);
    EXPECT_EQ(drain(&prc), std::string(1000000, '\0'));
    _prc_end(&prc);

    // Nothing written: the end comes after the exit.
    ASSERT_EQ(_prc_set(&prc, nullptr, "true", PRC_STDOUT), 0);
    EXPECT_EQ(drain(&prc, &last), "");
    EXPECT_EQ(last, 1);
    _prc_end(&prc);
}

TEST(Process, ErrorOutputIsPreferredWhenBothPipesHoldData)
{
    st_prc prc = {};
    ASSERT_EQ(_prc_set(&prc, nullptr, "sh -c \"echo out; echo err 1>&2\"", PRC_STDOUT | PRC_STDERR),
              0);
    wait_exited(&prc);
    EXPECT_EQ(_prc_acs_inf(&prc, 0, 0, 0, nullptr), 0);
    EXPECT_EQ(drain(&prc), "err\nout\n");
    const char *dsc = nullptr;
    EXPECT_NE(_prc_acs_inf(&prc, 0, 0, 0, &dsc), 0); // nothing left
    EXPECT_STREQ(dsc, "if pop data is exist then return 0, else other.");
    _prc_end(&prc);
}

TEST(Process, InputPipeAndAccessInformation)
{
    st_prc prc = {};
    ASSERT_EQ(_prc_set(&prc, nullptr, "head -c 3", PRC_STDIN | PRC_STDOUT), 0);
    int fd = -2;
    const char *dsc = nullptr;
    EXPECT_EQ(_prc_acs_inf(&prc, 1, 0, (intptr_t)&fd, &dsc), 0);
    EXPECT_EQ(fd, prc.par[0]);
    EXPECT_STREQ(dsc, "return pipe handle to res.key 0:stdin 1:stdout 2:stderr");
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

    ASSERT_EQ(_prc_set(&prc, nullptr, "true", PRC_STDOUT), 0);
    EXPECT_EQ(_prc_psh(&prc, &c), -1); // input not piped
    EXPECT_EQ(_prc_fls(&prc), -1);
    _prc_end(&prc);
}

TEST(Process, EndKillsARunningChildAndLeavesNoZombieOrDescriptor)
{
    int fds = open_fds();
    st_prc prc = {};
    ASSERT_EQ(_prc_set(&prc, nullptr, "sleep 30", PRC_STDOUT), 0);
    pid_t pid = prc.pid;
    EXPECT_EQ(_prc_end(&prc), 0);
    EXPECT_TRUE(reaped(pid));
    EXPECT_EQ(open_fds(), fds);

    // With PRC_WAIT the end waits for the child's own exit code.
    ASSERT_EQ(_prc_set(&prc, nullptr, "sh -c \"sleep 0.2; exit 7\"", PRC_STDOUT | PRC_WAIT), 0);
    EXPECT_EQ(_prc_end(&prc), 7);

    // A child that cannot be found leaves nothing behind.
    EXPECT_EQ(_prc_set(&prc, nullptr, "no-such-program-rundif-test x", PRC_STDOUT), -1);
    EXPECT_EQ(_prc_set(&prc, nullptr, "   ", PRC_STDOUT), -1);
    EXPECT_EQ(_prc_end(&prc), 0);
    EXPECT_EQ(open_fds(), fds);
    uint8_t c;
    EXPECT_EQ(_prc_pop(&prc, &c), -1);
}

TEST(Process, ChildGetsDefaultSigpipeEvenWhenTheCallerIgnoresIt)
{
    struct sigaction old, ign = {};
    ign.sa_handler = SIG_IGN;
    sigaction(SIGPIPE, &ign, &old);
    st_prc prc = {};
    // A shell cannot catch a signal ignored at its start: it would survive.
    ASSERT_EQ(_prc_set(&prc, nullptr, "sh -c \"kill -PIPE $$; echo survived\"", PRC_STDOUT), 0);
    EXPECT_EQ(drain(&prc), "");
    EXPECT_EQ(_prc_end(&prc), 128 + SIGPIPE);
    sigaction(SIGPIPE, &old, nullptr);
}

TEST(Process, StopRequestEndsAWaitingPop)
{
    st_prc prc = {};
    ASSERT_EQ(_prc_set(&prc, nullptr, "sleep 30", PRC_STDOUT), 0);
    os_stop_set(SIGTERM);
    uint8_t c;
    EXPECT_EQ(_prc_pop(&prc, &c), -1);
    EXPECT_EQ(os_sleep_ms(50000), -1);
    EXPECT_EQ(os_stop_sig(), SIGTERM);
    os_stop_set(0);
    EXPECT_EQ(os_sleep_ms(1), 0);
    _prc_end(&prc);
}

} // namespace
