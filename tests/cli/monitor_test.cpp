// End-to-end runs of the monitor under stops, failures and odd descriptors.
#include "tests/cli/cli.h"

#include <gtest/gtest.h>

#include <csignal>

namespace
{

TEST(CliMonitor, StopsAndALostReaderEndWithTheirStatus)
{
    Feed f({"a\n"});
    // Each stop is sent once the command runs (it made the file "started")
    // or the text shows, so the tool's handlers are in place.
    struct {
        int sig, status;
        std::vector<std::string> args;
        std::string stop_at = "";
        int delay_ms = 0;
    } cases[] = {
        // No report line, endless output.
        {SIGINT, 130, {"/hide", "sh", "-c", "touch started; exec yes"}},
        {SIGHUP, 129, {"/key=0", "yes"}, "+ y\n"}, // a report line per output line
        // The run has ended and the wait begun (no event shows it: a short
        // delay): a wait not cut short by the stop ends in SIGKILL (137).
        {SIGTERM, 143, {"/span=60", "/file-out=out.log", "sh", "feed.sh"}, "+ a\n", 300},
    };
    for (auto &c : cases) {
        unlink((f.dir + "/started").c_str());
        CliOptions opt = {.cwd = f.dir,
                          .stop_at = c.stop_at,
                          .stop_file = c.stop_at.empty() ? "started" : "",
                          .stop_sig = c.sig,
                          .stop_delay_ms = c.delay_ms,
                          .timeout_ms = 10000};
        CliResult r = run_rundif(c.args, opt);
        EXPECT_EQ(r.status, c.status) << c.args[1];
        if (c.delay_ms) {
            EXPECT_EQ(r.out, c.stop_at);
        }
    }
    EXPECT_EQ(f.read("out.log"), "+ a\n");
    // The reader of standard output went away: 255.
    EXPECT_EQ(run_rundif({"/span=1", "echo", "a"}, {.out_gone = true}).status, 255);
}

TEST(CliMonitor, AStopOrATimeoutEndsTheCommandsWholeProcessGroup)
{
    Feed f({});
    // The script and its child keep no descriptor of the test, which would
    // wait for them and so see the child gone in any case.
    f.write("tree.sh", "exec 2>/dev/null; sleep 30 & echo $! > grandchild\necho started\nwait\n");
    // A stop, and a signal that would kill the tool by default: the group
    // is ended first either way.
    for (int sig : {SIGTERM, SIGUSR1}) {
        CliOptions opt = {.cwd = f.dir, .stop_at = "+ started\n", .stop_sig = sig};
        EXPECT_EQ(run_rundif({"/span=1", "sh", "tree.sh"}, opt).status, 128 + sig);
        EXPECT_TRUE(f.gone("grandchild")) << "the grandchild outlived rundif, " << sig;
    }
    // Signals ignored at start (as nohup and trap '' leave them) stay ignored.
    EXPECT_EQ(f.sh("(trap '' HUP INT; exec " RUNDIF_BIN
                   " --count=3 /span=1 echo a >out 2>/dev/null)"
                   " & sleep 0.5; kill -HUP $!; kill -INT $!; wait $!"),
              0);
    EXPECT_EQ(f.read("out"), "+ a\n");

    // Run 1 ends by itself; run 2 prints a, then waits for a child that
    // keeps the output pipe open. Both ignore SIGTERM, so the end of the
    // group's grace period must send SIGKILL.
    f.write("tree.sh",
            "trap '' TERM; n=$(cat count 2>/dev/null || echo 0); n=$((n+1)); echo $n > count\n"
            "if [ $n = 1 ]; then echo a; echo b; exit; fi\n"
            "echo a; sleep 30 & echo $! > child; wait\n");
    CliResult r = run_rundif({"--timeout=1", "--count=3", "/span=1", "sh", "tree.sh"},
                             {.cwd = f.dir, .timeout_ms = 15000});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "+ a\n+ b\n"); // b is not reported gone: run 2 was cut short
    std::string told = "rundif: the command ran for 1 s and was ended (--timeout)\n";
    EXPECT_EQ(r.err.substr(0, 2 * told.size()), told + told);
    EXPECT_TRUE(f.gone("child")) << "the command's child outlived its run";
}

TEST(CliMonitor, ARunEndsWithItsOutputAndTakesItsBackgroundJobsAlong)
{
    Feed f({});
    // A background job that still writes belongs to the run; one that
    // holds no output is ended with the run.
    CliResult r = run_rundif({"--count=1", "sh", "-c",
                              "(sleep .3; echo late) & sleep 777 >/dev/null 2>&1 &"
                              " echo $! > bg; echo early"},
                             {.cwd = f.dir});
    EXPECT_EQ(r.out, "+ early\n+ late\n");
    EXPECT_EQ(r.status, 0);
    EXPECT_TRUE(f.gone("bg")) << "a background job outlived its run";
    // A program that disappears after its first run ends the tool, told.
    f.write("prog", "#!/bin/sh\necho x; rm -f \"$0\"\n");
    ASSERT_EQ(f.sh("chmod +x prog"), 0);
    r = run_rundif({"--stats=never", "/span=1", "./prog"}, {.cwd = f.dir});
    EXPECT_EQ(r.out, "+ x\n");
    EXPECT_EQ(r.err, "rundif: cannot run './prog': No such file or directory\n");
    EXPECT_EQ(r.status, 255);
}

TEST(CliMonitor, WriteErrorsLostLinesAndExhaustedMemoryAreTold)
{
    Feed f({});
    const std::string bin = RUNDIF_BIN;
    const std::string full = "rundif: write error: No space left on device\n";
    for (auto [args, status] :
         {std::pair{" --stats=never --count=1 echo hi", 255},
          {" --stats=never --count=1 printf hi", 255}, // a last line without line feed
          {" --help", 1},
          {" /help", 1}}) {
        EXPECT_EQ(f.sh(bin + args + " >/dev/full 2>err"), status) << args;
        EXPECT_EQ(f.read("err"), full) << args;
    }
    // A JSON line longer than the file's buffer fails in the write itself.
    EXPECT_EQ(run_rundif({"--count=1", "--json", "/hide", "/file-out=/dev/full", "printf",
                          "%10000s\\n", "x"})
                  .status,
              2);
    // An endless line: memory runs out, and the tool says so.
#if defined(__SANITIZE_ADDRESS__)
    const std::string limit = "ASAN_OPTIONS=allocator_may_return_null=1:max_allocation_size_mb=64 ";
#else
    const std::string limit = "ulimit -v 400000; ";
#endif
    EXPECT_EQ(f.sh(limit + bin + " --stats=never --count=1 sh -c \"yes | tr -d '\\n'\" 2>err"),
              255);
    const std::string err = f.read("err"), oom = "rundif: out of memory\n";
    EXPECT_EQ(err.substr(err.size() - std::min(err.size(), oom.size())), oom) << err;
}

TEST(CliMonitor, ClosedStandardDescriptorsTakeNoFileOfTheTool)
{
    // The state cannot be saved: that is told on standard error while the
    // output file is open, and so would land in a file on descriptor 2.
    for (int fd = 0; fd <= 2; fd++) {
        Feed f({"a\n", "b\n"});
        CliResult r = run_rundif({"/span=1", "--state=no/st", "/file-out=out.log", "sh", "feed.sh"},
                                 {.cwd = f.dir, .timeout_ms = 8000, .closed_fds = 1 << fd});
        EXPECT_EQ(r.status, 143) << fd;
        EXPECT_EQ(f.read("out.log"), "+ a\n+ b\n- a\n") << fd;
    }
}

TEST(CliMonitor, OutputFileTroubleIsToldOnceAndSoIsItsEnd)
{
    // /dev/full takes the open but no line; a directory or a missing one
    // takes no open. The trouble is told before the reports, and only once;
    // lines the file did not take end in status 2, though the runs went well.
    for (auto [path, why] : std::vector<std::pair<std::string, std::string>>{
             {"/dev/full", "No space left on device"},
             {".", "Is a directory"},
             {"no/such/dir", "No such file or directory"}}) {
        Feed f({"a\nb\n", "c\n"});
        CliResult r = f.run({"--count=2", "/file-out=" + path});
        EXPECT_EQ(r.status, 2) << path;
        EXPECT_EQ(r.out, "+ a\n+ b\n+ c\n- a\n- b\n");
        std::string told = "rundif: cannot write " + path + ": " + why + "\n";
        EXPECT_EQ(r.err.substr(0, told.size()), told);
        EXPECT_EQ(r.err.rfind("rundif:"), 0u) << r.err;
    }
    // A missing directory that the command makes in the first run: the
    // open after the wait works, and says so.
    Feed g({"a\n", "b\n"});
    CliResult r = run_rundif(
        {"/span=1", "/file-out=sub/out.log", "sh", "-c", "mkdir -p sub; exec sh feed.sh"},
        {.cwd = g.dir});
    EXPECT_EQ(r.status, 143);
    std::string told = "rundif: cannot write sub/out.log: No such file or directory\n";
    EXPECT_EQ(r.err.substr(0, told.size() + 34), told + "rundif: writing sub/out.log again\n");
    EXPECT_EQ(r.err.rfind("rundif:"), told.size()) << r.err;
    EXPECT_EQ(g.read("sub/out.log"), "+ b\n- a\n");
}

} // namespace
