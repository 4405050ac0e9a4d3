// End-to-end runs of the monitor: a helper command prints a prepared file
// on each run and stops rundif (SIGTERM to its parent) after the last one.
#include "tests/cli/cli.h"
#include "tests/cli/feed.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <fstream>
#include <regex>
#include <sstream>
#include <unistd.h>

namespace
{

TEST(CliMonitor, KeysWatchesExclusionsDuplicatesAndFileMatchConsole)
{
    Feed f({"a 19 foo\nb 10\nx 5\nc -5\nd 1\nd 2\ne 7\r\nno-line-feed",
            "a 20 foo\nb 19\nc 5\nx 6\ne 7\r\nf 3\n"});
    CliResult r = f.run({"/key=0", "/watch=1:10", "/exclude=0:x", "/file-out=out.log"});
    EXPECT_EQ(r.out, "+ a 19 foo\n+ b 10\n+ c -5\n+ d 1\n+ d 2\n+ e 7\r\n"
                     "* a 20 foo\n+ f 3\n- d 2\n");
    EXPECT_EQ(f.read("out.log"), r.out); // truncated once, appended after every run
    EXPECT_EQ(r.status, 143);
    EXPECT_NE(r.err.find("interface-name=\"process\" access-name=\"sh\""), std::string::npos);
}

TEST(CliMonitor, SeparatorRunsAndMissingKeyColumns)
{
    Feed f({"k1  v1\n v2\nk3 v3\nonly\n", "zz v1\nv3 k3\nonly \n"});
    // Key column 1: "v1 ", "v2 ", "v3 ", and " " for a line without column 1.
    CliResult r = f.run({"/key=1"});
    EXPECT_EQ(r.out, "+ k1  v1\n+  v2\n+ k3 v3\n+ only\n"
                     "+ v3 k3\n-  v2\n- k3 v3\n");
    EXPECT_EQ(r.status, 143);

    // Without key columns the whole line is the key: order does not matter.
    Feed g({"p\nq\n", "q\np\n", "p\n"});
    r = g.run({"/separate-word=,"});
    EXPECT_EQ(r.out, "+ p\n+ q\n- q\n");
}

TEST(CliMonitor, TimePrefixIsTheRunsStampOnEveryLine)
{
    Feed f({"a\nb\n", "c\n"});
    CliResult r = f.run({"/time=1"}); // an inline value on a switch is accepted
    std::regex line(R"(([+-]) (\d{4}/\d\d/\d\d \d\d:\d\d:\d\d) ([abc])\n)");
    std::vector<std::string> stamps;
    for (std::sregex_iterator it(r.out.begin(), r.out.end(), line), end; it != end; ++it)
        stamps.push_back((*it)[2]);
    ASSERT_EQ(stamps.size(), 5u) << r.out; // + a, + b, + c, - a, - b
    EXPECT_EQ(stamps[0], stamps[1]);
    EXPECT_EQ(stamps[2], stamps[3]);
    EXPECT_EQ(stamps[3], stamps[4]);
    EXPECT_NE(stamps[1], stamps[2]); // runs are at least a second apart
}

TEST(CliMonitor, HideWritesOnlyTheFileAndNothingWithoutOne)
{
    Feed f({"a\n", "b\n"});
    CliResult r = f.run({"/hide", "/file-out=out.log"});
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(f.read("out.log"), "+ a\n+ b\n- a\n");

    Feed g({"a\n"});
    r = g.run({"/hide"});
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.status, 143);
}

TEST(CliMonitor, OutputIsDecodedInTheConsoleEncoding)
{
    // 0x83 0x5C is one Shift-JIS character whose second byte is a backslash,
    // the separator here. Shift-JIS: columns "\x83\x5Cb" and "c", key "c\".
    // UTF-8 takes the lone bytes one by one: columns "\x83", "b", "c", key "b\".
    std::vector<std::string> runs = {"\x83\x5C"
                                     "b\\c\n",
                                     "x\\c\n"};
    Feed f(runs), g(runs);
    CliResult sjis = f.run({"/separate-word=\\", "/key=1"}, "C");
    CliResult utf8 = g.run({"/separate-word=\\", "/key=1"}, "C.UTF-8");
    EXPECT_EQ(sjis.out, "+ \x83\x5C"
                        "b\\c\n");
    EXPECT_EQ(utf8.out, "+ \x83\x5C"
                        "b\\c\n+ x\\c\n- \x83\x5C"
                        "b\\c\n");
    EXPECT_EQ(sjis.status, 143);
}

TEST(CliMonitor, FailuresEndWithStatus255AndTheReports)
{
    CliResult r = run_rundif({"/span=1", "no-such-command-rundif", "x"});
    EXPECT_EQ(r.status, 255);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "interface-id=1 interface-name=\"process\" "
                     "access-name=\"no-such-command-rundif\" access-time=0 access-count=0 "
                     "access-size=0\n");
    for (auto args : std::vector<std::vector<std::string>>{{"/key", "ls"}, {"/span=2"}, {}}) {
        r = run_rundif(args);
        EXPECT_EQ(r.status, 255);
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.err, "");
    }
}

TEST(CliMonitor, StopDuringTheWaitEndsCleanlyWith143)
{
    Feed f({"a\n"});
    CliOptions opt;
    opt.cwd = f.dir;
    opt.stop_at = "+ a\n";
    opt.stop_sig = SIGTERM;
    opt.stop_delay_ms = 500; // the run has ended and the wait begun
    opt.timeout_ms = 10000;
    CliResult r = run_rundif({"/span=60", "/file-out=out.log", "sh", "feed.sh"}, opt);
    EXPECT_EQ(r.status, 143);
    EXPECT_EQ(r.out, "+ a\n");
    EXPECT_EQ(f.read("out.log"), "+ a\n"); // a wait not cut short ends in SIGKILL (137)
}

TEST(CliMonitor, StopsEndFloodingCommandsWithTheSignalsStatus)
{
    struct {
        int sig, status;
        std::vector<std::string> args;
    } cases[] = {
        {SIGINT, 130, {"/hide", "yes"}},                  // no report line, endless output
        {SIGHUP, 129, {"/key=0", "yes"}},                 // a report line per output line
        {SIGTERM, 143, {"/hide", "seq", "1", "99999999"}}, // ends by itself, but late
    };
    for (auto &c : cases) {
        CliOptions opt;
        opt.stop_sig = c.sig;
        opt.stop_delay_ms = 300;
        opt.timeout_ms = 8000;
        EXPECT_EQ(run_rundif(c.args, opt).status, c.status) << c.args[1];
    }
    CliOptions gone;
    gone.out_gone = true; // the reader of standard output went away
    EXPECT_EQ(run_rundif({"/span=1", "echo", "a"}, gone).status, 255);
}

TEST(CliMonitor, AStopEndsTheCommandsWholeProcessGroup)
{
    Feed f({});
    // The grandchild keeps no descriptor of the test, which would wait for it.
    f.write("tree.sh", "sleep 30 2>/dev/null & echo $! > grandchild\necho started\nwait\n");
    CliOptions opt;
    opt.cwd = f.dir;
    opt.stop_at = "+ started\n";
    opt.stop_sig = SIGTERM;
    opt.timeout_ms = 8000;
    EXPECT_EQ(run_rundif({"/span=1", "sh", "tree.sh"}, opt).status, 143);
    pid_t gc = std::stoi("0" + f.read("grandchild"));
    ASSERT_GT(gc, 0);
    bool gone = process_gone(gc);
    for (int i = 0; i < 300 && !gone; i++, usleep(10000))
        gone = process_gone(gc);
    EXPECT_TRUE(gone) << "the grandchild " << gc << " outlived rundif";
    kill(gc, SIGKILL);
}

TEST(CliMonitor, ClosedStandardDescriptorsTakeNoFileOfTheTool)
{
    for (int fd = 0; fd <= 2; fd++) {
        Feed f({"a\n", "b\n"});
        CliOptions opt;
        opt.cwd = f.dir;
        opt.closed_fds = 1 << fd;
        opt.timeout_ms = 8000;
        CliResult r = run_rundif({"/span=1", "/file-out=out.log", "sh", "feed.sh"}, opt);
        EXPECT_EQ(r.status, 143) << fd;
        EXPECT_EQ(f.read("out.log"), "+ a\n+ b\n- a\n") << fd;
    }
}

TEST(CliMonitor, OutputFileTroubleIsToldOnceAndSoIsItsEnd)
{
    auto count = [](const std::string &s, const std::string &what) {
        size_t n = 0;
        for (size_t at = s.find(what); at != std::string::npos; at = s.find(what, at + 1))
            n++;
        return n;
    };
    // /dev/full takes the open but no line; a directory takes no open.
    for (auto [path, why] : std::vector<std::pair<std::string, std::string>>{
             {"/dev/full", "No space left on device"}, {".", "Is a directory"}}) {
        Feed f({"a\nb\n", "c\n"});
        CliResult r = f.run({"/file-out=" + path});
        EXPECT_EQ(r.out, "+ a\n+ b\n+ c\n- a\n- b\n");
        EXPECT_EQ(count(r.err, "rundif: cannot write " + path + ": " + why + "\n"), 1u) << r.err;
        EXPECT_EQ(count(r.err, "rundif:"), 1u) << r.err;
    }
    // A missing directory that the command makes in the first run: the
    // open after the wait works, and says so.
    Feed g({"a\n", "b\n"});
    CliOptions opt;
    opt.cwd = g.dir;
    CliResult r = run_rundif(
        {"/span=1", "/file-out=sub/out.log", "sh", "-c", "mkdir -p sub; exec sh feed.sh"}, opt);
    EXPECT_EQ(r.status, 143);
    EXPECT_EQ(count(r.err, "rundif: cannot write sub/out.log: No such file or directory\n"), 1u);
    EXPECT_EQ(count(r.err, "rundif: writing sub/out.log again\n"), 1u);
    EXPECT_EQ(g.read("sub/out.log"), "+ b\n- a\n");
}

TEST(CliMonitor, AMultiByteSeparatorSplitsInEitherEncoding)
{
    // The ideographic comma: E3 80 81 in UTF-8, 81 41 in Shift-JIS.
    for (auto [sep, locale] : std::vector<std::pair<std::string, const char *>>{
             {"\xE3\x80\x81", "C.UTF-8"}, {"\x81\x41", "C"}}) {
        Feed f({"a" + sep + "b\n", "z" + sep + "c\n"});
        CliResult r = f.run({"/separate-word=" + sep, "/key=1"}, locale);
        EXPECT_EQ(r.out, "+ a" + sep + "b\n+ z" + sep + "c\n- a" + sep + "b\n") << locale;
    }
}

} // namespace
