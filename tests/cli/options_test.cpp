// End-to-end runs of the long options.
#include "tests/cli/cli.h"
#include "tests/cli/feed.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cstdio>
#include <fstream>
#include <csignal>
#include <regex>
#include <sys/wait.h>

namespace
{

// Standard output of a shell command line; *status gets its exit status.
std::string shell(const std::string &cmd, int *status)
{
    std::string out;
    char buf[4096];
    FILE *p = popen(cmd.c_str(), "r");
    for (size_t n; p && (n = fread(buf, 1, sizeof buf, p)) > 0;)
        out.append(buf, n);
    *status = p ? WEXITSTATUS(pclose(p)) : -1;
    return out;
}

TEST(CliOptions, HelpVersionAndUsageErrors)
{
    CliResult help = run_rundif({"--help"});
    EXPECT_EQ(help.status, 0);
    for (const char *w : {"Usage: rundif", "/key=", "/file-out=", "--count=N", "--exit-on-change",
                          "--timeout=", "--json", "--color", "--compare", "Exit status", "man rundif"})
        EXPECT_NE(help.out.find(w), std::string::npos) << w;
    EXPECT_EQ(run_rundif({"/key=0", "-h"}).out, help.out); // among the "/" options too
    CliResult v = run_rundif({"--version"});
    EXPECT_TRUE(std::regex_match(v.out, std::regex(R"(rundif \d+\.\d+\.\d+\n)"))) << v.out;
    EXPECT_EQ(v.status, 0);

    std::vector<std::pair<std::vector<std::string>, std::string>> bad = {
        {{"--foo", "ls"}, "unknown option '--foo'"},
        {{"--count=0", "ls"}, "--count needs a whole number of 1 or more"},
        {{"--count", "3x", "ls"}, "--count needs a whole number of 1 or more"},
        {{"--timeout=-1", "ls"}, "--timeout needs a whole number of seconds, 1 or more"},
        {{"--color=sometimes", "ls"}, "--color needs never, always or auto"},
        {{"--json=yes", "ls"}, "--json takes no value"},
        {{"--compare", "a"}, "--compare needs two saved outputs: --compare OLD NEW"},
        {{"--compare", "-", "-"}, "--compare can read only one of OLD and NEW from standard input"},
        {{"--compare", "a", "b", "ls"}, "--compare takes no command ('ls')"},
    };
    for (auto &[args, line] : bad) {
        CliResult r = run_rundif(args);
        EXPECT_EQ(r.status, 2) << line;
        EXPECT_EQ(r.err, "rundif: " + line + "\n");
        EXPECT_EQ(r.out, "");
    }
}

TEST(CliOptions, CountDoubleDashAndExitOnChange)
{
    // After "--" a command starting with "/" is the command.
    CliResult r = run_rundif({"--count=1", "/key=0", "--", "/bin/echo", "x", "/y"});
    EXPECT_EQ(r.out, "+ x /y\n");
    EXPECT_EQ(r.status, 0);

    // The feed's count file tells how many runs were made.
    struct {
        std::vector<std::string> runs, args;
        std::string out, count;
        int status;
    } cases[] = {
        {{"a\n", "b\n", "c\n", "d\n"}, {"--count=3"}, "+ a\n+ b\n- a\n+ c\n- b\n", "3\n", 0},
        {{"a\n", "a\n", "a\nb\n", "c\n"}, {"--exit-on-change"}, "+ a\n+ b\n", "3\n", 0},
        {{"a\n", "a\n", "a\n"}, {"--exit-on-change", "--count=2"}, "+ a\n", "2\n", 1},
        {{"a\n", "b\n", "b\n"}, {"--count=2", "--exit-on-change"}, "+ a\n+ b\n- a\n", "2\n", 0},
    };
    for (auto &c : cases) {
        Feed g(c.runs);
        r = g.run(c.args);
        EXPECT_EQ(r.out, c.out) << c.args.size();
        EXPECT_EQ(r.status, c.status) << c.out;
        EXPECT_EQ(g.read("count"), c.count) << c.out;
    }
}

TEST(CliOptions, TimeoutEndsTheCommandsGroupAndTheCycleGoesOn)
{
    Feed f({});
    // Run 1 ends by itself; run 2 prints a, then waits for a child that
    // keeps the output pipe open.
    f.write("tree.sh", "n=$(cat count 2>/dev/null || echo 0); n=$((n+1)); echo $n > count\n"
                       "if [ $n = 1 ]; then echo a; echo b; exit; fi\n"
                       "echo a; sleep 30 & echo $! > child; wait\n");
    CliOptions opt;
    opt.cwd = f.dir;
    opt.timeout_ms = 15000;
    CliResult r = run_rundif({"--timeout=1", "--count=3", "/span=1", "sh", "tree.sh"}, opt);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "+ a\n+ b\n"); // b is not reported gone: run 2 was cut short
    std::string told = "rundif: the command ran for 1 s and was ended (--timeout)\n";
    EXPECT_EQ(r.err.substr(0, 2 * told.size()), told + told);
    pid_t child = std::stoi("0" + f.read("child"));
    ASSERT_GT(child, 0);
    bool gone = process_gone(child);
    for (int i = 0; i < 300 && !gone; i++, usleep(10000))
        gone = process_gone(child);
    EXPECT_TRUE(gone) << "the command's child outlived its run";
    kill(child, SIGKILL);
}

TEST(CliOptions, JsonLinesParseBackFieldByField)
{
    Feed f({"a 19\nb 1\n", std::string("a 21\nc\x01\t\"q\\\xff\0zz\n", 16)});
    CliResult r = f.run({"--json", "--count=2", "/key=0", "/watch=1:10", "/file-out=out.log"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(f.read("out.log"), r.out);
    std::vector<nlohmann::json> ev;
    std::istringstream in(r.out);
    for (std::string line; std::getline(in, line);)
        ev.push_back(nlohmann::json::parse(line)); // throws on invalid JSON
    ASSERT_EQ(ev.size(), 5u) << r.out;
    std::regex iso(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d[+-]\d\d:\d\d)");
    std::string marks, keys, lines;
    for (auto &e : ev) {
        EXPECT_TRUE(std::regex_match(e["time"].get<std::string>(), iso)) << e;
        marks += e["mark"].get<std::string>() + e["run"].dump();
        keys += e["key"].get<std::string>() + "|";
        lines += e["line"].get<std::string>() + "|";
    }
    EXPECT_EQ(marks, "+1+1*2+2-2");
    EXPECT_EQ(keys, "a|b|a|c\x01\t\"q\\\xEF\xBF\xBD|b|"); // the line ends at its NUL
    EXPECT_EQ(lines, "a 19|b 1|a 21|c\x01\t\"q\\\xEF\xBF\xBD|b 1|");
    EXPECT_EQ(ev[2]["watch"], nlohmann::json::parse(R"([{"column":1,"old":19,"new":21}])"));

    // Shift-JIS is written as UTF-8: 0x82 0xA0 is HIRAGANA LETTER A.
    Feed g({"\x82\xA0\n"});
    r = g.run({"--json", "--count=1"}, "C");
    EXPECT_EQ(nlohmann::json::parse(r.out)["line"], "\xE3\x81\x82");
}

TEST(CliOptions, ColourOnTheConsoleOnly)
{
    Feed f({"a 1\n", "b\na 20\n"});
    CliResult r = f.run({"--color=always", "--count=2", "/key=0", "/watch=1:10", "/file-out=o"});
    EXPECT_EQ(r.out, "\x1b[32m+ a 1\x1b[0m\n\x1b[32m+ b\x1b[0m\n\x1b[33m* a 20\x1b[0m\n");
    EXPECT_EQ(f.read("o"), "+ a 1\n+ b\n* a 20\n");
    Feed g({"a\n"});
    EXPECT_EQ(g.run({"--color=auto", "--count=1"}).out, "+ a\n"); // standard output is a pipe
}

TEST(CliOptions, CompareReportsNewAgainstOldOnce)
{
    // The monitor's first scenario, as two saved outputs.
    Feed f({});
    f.write("old", "a 19 foo\nb 10\nx 5\nc -5\nd 1\nd 2\ne 7\r\nno-line-feed");
    f.write("new", "a 20 foo\nb 19\nc 5\nx 6\ne 7\r\nf 3\n");
    auto compare = [&f](const std::string &files, int *status) {
        return shell("cd " + f.dir + " && " RUNDIF_BIN " /key=0 /watch=1:10 /exclude=0:x "
                     "/file-out=out.log 2>/dev/null --compare " + files, status);
    };
    int status = -1;
    EXPECT_EQ(compare("old new", &status), "* a 20 foo\n+ f 3\n- d 2\n");
    EXPECT_EQ(status, 1);
    EXPECT_EQ(f.read("out.log"), "* a 20 foo\n+ f 3\n- d 2\n");
    EXPECT_EQ(compare("- new <old", &status), "* a 20 foo\n+ f 3\n- d 2\n"); // standard input
    EXPECT_EQ(status, 1);
    EXPECT_EQ(compare("new new", &status), "");
    EXPECT_EQ(status, 0);
    std::string err = compare("old missing 2>&1", &status);
    EXPECT_EQ(status, 2);
    EXPECT_NE(err.find("rundif: cannot read missing: No such file or directory\n"), std::string::npos);
}

TEST(CliOptions, ManPageLintsClean)
{
    if (std::system("command -v mandoc >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "mandoc is not installed";
    int status = -1;
    EXPECT_EQ(shell("mandoc -T lint -W warning " TEST_DATA_DIR "/../../doc/rundif.1 2>&1", &status),
              "");
    EXPECT_EQ(status, 0);
}

} // namespace
