// End-to-end runs of the monitor: a helper command prints a prepared file
// on each run and stops rundif (SIGTERM to its parent) after the last one.
#include "tests/cli/cli.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <regex>
#include <sstream>
#include <unistd.h>

namespace
{

// A temporary directory holding the feed script and the run outputs.
struct Feed {
    std::string dir;

    explicit Feed(const std::vector<std::string> &runs)
    {
        char tmpl[] = "/tmp/rundif-cli-XXXXXX";
        dir = mkdtemp(tmpl);
        write("feed.sh", "n=$(cat count 2>/dev/null || echo 0); n=$((n+1)); echo $n > count\n"
                         "if [ -f $n.txt ]; then cat $n.txt; else kill -TERM $PPID; fi\n");
        for (size_t i = 0; i < runs.size(); i++)
            write(std::to_string(i + 1) + ".txt", runs[i]);
    }
    ~Feed() { std::system(("rm -rf " + dir).c_str()); }

    void write(const std::string &name, const std::string &text) const
    {
        std::ofstream(dir + "/" + name, std::ios::binary) << text;
    }
    std::string read(const std::string &name) const
    {
        std::ifstream in(dir + "/" + name, std::ios::binary);
        std::stringstream ss;
        ss << in.rdbuf();
        return ss.str();
    }
    // Runs rundif with the options, the feed as its command, in the feed's
    // directory and the given locale.
    CliResult run(std::vector<std::string> args, const char *locale = "C.UTF-8") const
    {
        args.insert(args.begin(), "/span=1");
        args.push_back("sh");
        args.push_back("feed.sh");
        CliOptions opt;
        opt.cwd = dir;
        opt.env = {std::string("LC_ALL=") + locale};
        return run_rundif(args, opt);
    }
};

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
    EXPECT_EQ(f.read("out.log"), "+ a\n");
    // The wait cut short after about half a second (plus any 10 ms polls
    // while reading), not the 60000 ms asked for.
    std::regex sleep_line(R"(interface-name="system" access-name="sleep" access-time=\d+ )"
                          R"(access-count=(\d+) access-size=(\d+)\n)");
    std::smatch m;
    ASSERT_TRUE(std::regex_search(r.err, m, sleep_line)) << r.err;
    EXPECT_GE(std::stoi(m[2]), 100);
    EXPECT_LT(std::stoi(m[2]), 10000);
}

} // namespace
