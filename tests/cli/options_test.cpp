// End-to-end runs of the options: the reports they give, byte for byte;
// the help texts, the version and the usage errors.
#include "tests/cli/cli.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <regex>
#include <tuple>

namespace
{

// Keys, watches (-5 and 5 lie in different bands of 10), exclusions,
// duplicate keys (each row vanishes), a carriage return and a last line
// without a line feed (a line as any other).
const std::string kOld = "a 19 foo\nb 10\nx 5\nc -5\nd 1\nd 2\ne 7\r\nno-line-feed";
const std::string kNew = "a 20 foo\nb 19\nc 5\nx 6\ne 7\r\nf 3\n";
const std::string kChange = "* a 20 foo\n* c 5\n+ f 3\n- d 1\n- d 2\n- no-line-feed\n";
const std::string kReport =
    "+ a 19 foo\n+ b 10\n+ c -5\n+ d 1\n+ d 2\n+ e 7\r\n+ no-line-feed\n" + kChange;

// The words of s between the separator characters.
std::vector<std::string> words(const std::string &s, char sep)
{
    std::vector<std::string> v;
    for (size_t at = 0, end; at <= s.size(); at = end + 1)
        v.push_back(s.substr(at, (end = std::min(s.find(sep, at), s.size())) - at));
    return v;
}

// s with each distinct time stamp replaced, in the order they first appear,
// by T1, T2, ... (2026/12/07 10:04:18) or I1, I2, ... (ISO 8601 with offset).
std::string mask_times(const std::string &s)
{
    std::regex stamp(
        R"(\d{4}/\d\d/\d\d \d\d:\d\d:\d\d|\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d[+-]\d\d:\d\d)");
    std::vector<std::string> seen;
    std::string out;
    size_t at = 0;
    for (std::sregex_iterator it(s.begin(), s.end(), stamp), end; it != end; ++it) {
        size_t k = std::find(seen.begin(), seen.end(), it->str()) - seen.begin();
        if (k == seen.size())
            seen.push_back(it->str());
        out += s.substr(at, size_t(it->position()) - at) + (it->str()[4] == '/' ? "T" : "I") +
               std::to_string(k + 1);
        at = size_t(it->position() + it->length());
    }
    return out + s.substr(at);
}

// JSON lines: the line ends at its NUL; a byte that is not UTF-8 becomes U+FFFD.
const std::string kJsonRuns = "a 19\nb 1\n|" + std::string("a 21\nc\x01\t\"q\\\xff\0zz\n", 16);
const std::string kJson = R"({"run":1,"time":"I1","mark":"+","key":"a","line":"a 19"}
{"run":1,"time":"I1","mark":"+","key":"b","line":"b 1"}
{"run":2,"time":"I2","mark":"*","key":"a","line":"a 21","watch":[{"column":1,"old":19,"new":21}]}
{"run":2,"time":"I2","mark":"+","key":"c\u0001\t\"q\\�","line":"c\u0001\t\"q\\�"}
{"run":2,"time":"I2","mark":"-","key":"b","line":"b 1"}
)";

TEST(CliOptions, FeedRunsGiveTheReportsOnTheConsoleAndInTheFile)
{
    // A Shift-JIS character ending in a backslash; the ideographic comma in
    // UTF-8 and in Shift-JIS.
    const std::string sjis = "\x83\x5C", comma8 = "\xE3\x80\x81", commaj = "\x81\x41";
    struct {
        std::string runs;               // the feed's outputs, split at "|"
        std::string args;               // the options, split at " "
        std::string out;                // the console
        int status = 143;               // 143: the feed stopped rundif after its last run
        int made = 0;                   // runs made; 0: one more than the feed has
        const char *locale = "C.UTF-8"; // "ja_JP.SJIS" takes Shift-JIS, "C" UTF-8
        std::string file = "";          // out.log afterwards
    } cases[] = {
        {kOld + "|" + kNew, "/key=0 /watch=1:10 /exclude=0:x /file-out=out.log", kReport, 143, 0,
         "C.UTF-8", kReport},
        // Key column 1: "v1 ", "v2 ", "v3 ", and " " for a line without column 1.
        {"k1  v1\n v2\nk3 v3\nonly\n|zz v1\nv3 k3\nonly \n", "/key=1",
         "+ k1  v1\n+  v2\n+ k3 v3\n+ only\n+ v3 k3\n-  v2\n- k3 v3\n"},
        // Without key columns the whole line is the key: order does not matter.
        {"p\nq\n|q\np\n|p\n", "/separate-word=,", "+ p\n+ q\n- q\n"},
        {"a\n|b\n", "/hide /file-out=out.log", "", 143, 0, "C.UTF-8", "+ a\n+ b\n- a\n"},
        // 0x83 0x5C is one Shift-JIS character whose second byte is the
        // separator: columns "\x83\x5Cb" and "c", key "c\". UTF-8 takes the
        // lone bytes one by one: columns "\x83", "b", "c", key "b\".
        {sjis + "b\\c\n|x\\c\n", "/separate-word=\\ /key=1", "+ " + sjis + "b\\c\n", 143, 0,
         "ja_JP.SJIS"},
        {sjis + "b\\c\n|x\\c\n", "/separate-word=\\ /key=1",
         "+ " + sjis + "b\\c\n+ x\\c\n- " + sjis + "b\\c\n", 143, 0, "C"},
        // An em dash ends in 0x94, a Shift-JIS lead byte: under C (UTF-8) it
        // leaves the blank after it alone, so column 2 is the key.
        {"x \u2014 y\n|x \u2014 z\n", "/key=2", "+ x \u2014 y\n+ x \u2014 z\n- x \u2014 y\n", 143,
         0, "C"},
        {"a" + comma8 + "b\n|z" + comma8 + "c\n", "/separate-word=" + comma8 + " /key=1",
         "+ a" + comma8 + "b\n+ z" + comma8 + "c\n- a" + comma8 + "b\n"},
        {"a" + commaj + "b\n|z" + commaj + "c\n", "/separate-word=" + commaj + " /key=1",
         "+ a" + commaj + "b\n+ z" + commaj + "c\n- a" + commaj + "b\n", 143, 0, "ja_JP.SJIS"},
        // Equal rows match one for one, as comm matches them; the count ends
        // the tool before a change is seen: 1.
        {"a\na\n|a\na\n|a\na\n", "--exit-on-change --count=3", "+ a\n+ a\n", 1, 3},
        {"a\n|b\n|c\n|d\n", "--count=3", "+ a\n+ b\n- a\n+ c\n- b\n", 0, 3},
        {"a\n|a\n|a\nb\n|c\n", "--exit-on-change", "+ a\n+ b\n", 0, 3},
        {"a\n|b\n|b\n", "--count=2 --exit-on-change", "+ a\n+ b\n- a\n", 0, 2},
        // Colour on the console only; standard output is a pipe for "auto".
        {"a 1\n|b\na 20\n", "--color=always --count=2 /key=0 /watch=1:10 /file-out=out.log",
         "\x1b[32m+ a 1\x1b[0m\n\x1b[32m+ b\x1b[0m\n\x1b[33m* a 20\x1b[0m\n", 0, 2, "C.UTF-8",
         "+ a 1\n+ b\n* a 20\n"},
        {"a\n", "--color=auto --count=1", "+ a\n", 0, 1},
        // The time of its run on every line; runs are at least a second apart.
        {"a\nb\n|c\n", "/time=1", "+ T1 a\n+ T1 b\n+ T2 c\n- T2 a\n- T2 b\n"},
        {kJsonRuns, "--json --count=2 /key=0 /watch=1:10 /file-out=out.log", kJson, 0, 2, "C.UTF-8",
         kJson},
        // Shift-JIS is written as UTF-8: 0x82 0xA0 is HIRAGANA LETTER A.
        {"\x82\xA0\n", "--json --count=1",
         R"({"run":1,"time":"I1","mark":"+","key":"あ","line":"あ"}
)",
         0, 1, "ja_JP.SJIS"},
    };
    for (auto &c : cases) {
        std::vector<std::string> runs = words(c.runs, '|');
        Feed f(runs);
        CliResult r = f.run(words(c.args, ' '), c.locale);
        SCOPED_TRACE(c.args + " " + c.locale);
        EXPECT_EQ(mask_times(r.out), c.out);
        EXPECT_EQ(mask_times(f.read("out.log")), c.file); // truncated once, appended each run
        EXPECT_EQ(r.status, c.status);
        EXPECT_EQ(f.read("count"), std::to_string(c.made ? c.made : runs.size() + 1) + "\n");
        if (c.status == 143) {
            EXPECT_NE(r.err.find("interface-name=\"process\" access-name=\"sh\""),
                      std::string::npos);
        }
    }
}

TEST(CliOptions, CompareReportsNewAgainstOldOnce)
{
    Feed f({});
    f.write("old", kOld);
    f.write("new", kNew);
    struct {
        const char *files;
        std::string out;
        int status;
        std::string log = ""; // out.log afterwards, when not out: it held "kept"
    } cases[] = {
        {"old new", kChange, 1},
        {"- new <old", kChange, 1}, // OLD from standard input
        {"new new", "", 0},
        {"old missing 2>&1", "rundif: cannot read missing: No such file or directory\n", 2,
         "kept\n"},
        {"old . 2>&1", "rundif: cannot read .: Is a directory\n", 2, "kept\n"},
        // Read errors are no end of file; an output file among the inputs
        // is refused before it is emptied.
        {"- old </ 2>&1", "rundif: cannot read standard input: Is a directory\n", 2},
        {"old /proc/self/mem 2>&1", "rundif: cannot read /proc/self/mem: Input/output error\n", 2},
        {"out.log new 2>&1", "rundif: the output file out.log is one of the compared files\n", 2,
         "kept\n"},
    };
    const std::string cmd = RUNDIF_BIN
        " /key=0 /watch=1:10 /exclude=0:x /file-out=out.log 2>/dev/null > got --compare ";
    for (auto &c : cases) {
        f.write("out.log", "kept\n");
        EXPECT_EQ(f.sh(cmd + c.files), c.status) << c.files;
        // Trouble: its line, then the statistics.
        const std::string got = f.read("got");
        EXPECT_EQ(c.status == 2 ? got.substr(0, c.out.size()) : got, c.out) << c.files;
        EXPECT_EQ(f.read("out.log"), c.status == 2 ? c.log : c.out) << c.files;
    }
}

TEST(CliOptions, ScriptsScalesAndAStopDuringACompare)
{
    // A multi-line script reaches sh -c as written.
    CliResult r = run_rundif({"--count=1", "sh", "-c", "echo first\necho 'second  x'"});
    EXPECT_EQ(r.out, "+ first\n+ second  x\n");
    EXPECT_EQ(r.status, 0);
    // A scale below 1 counts as 1, and the tool says so once.
    r = run_rundif({"--count=2", "/span=1", "/watch=1:0", "/key=0", "sh", "-c", "echo a $$"});
    EXPECT_TRUE(std::regex_match(r.out, std::regex("\\+ a \\d+\n\\* a \\d+\n"))) << r.out;
    const std::string told = "rundif: /watch=1:0: a scale below 1 counts as 1\n";
    EXPECT_EQ(r.err.substr(0, told.size()), told);
    EXPECT_EQ(r.err.find("rundif:", 1), std::string::npos);
    // A stop during a long comparison without report lines (every line
    // excluded) ends it within a block: the file's statistics show that
    // the rest of OLD (30 MB) was never read.
    Feed f({});
    ASSERT_EQ(f.sh("yes | head -n 15000000 > big"), 0);
    r = run_rundif({"/exclude=0:y", "--compare", "big", "big"},
                   {.cwd = f.dir, .stop_sig = SIGINT, .stop_delay_ms = 100});
    EXPECT_EQ(r.status, 130);
    std::smatch m;
    ASSERT_TRUE(std::regex_search(r.err, m, std::regex(R"(name="file".* access-size=(\d+))")))
        << r.err;
    EXPECT_LT(std::stoll(m[1]), 30000000);
}

// A file of the expected outputs, byte for byte.
std::string expected(const char *name)
{
    std::ifstream in(std::string(TEST_DATA_DIR "/") + name, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

TEST(CliOptions, HelpVersionAndUsageErrors)
{
    // Every help switch prints the help text in the console's encoding (the
    // original's Japanese text, as UTF-8 in the file).
    Feed f({});
    const std::string utf8 = expected("help_ja.txt");
    f.write("help", utf8);
    ASSERT_EQ(f.sh("iconv -f UTF-8 -t CP932 help > help.932"), 0);
    const std::string cp932 = f.read("help.932");
    for (const char *sw : {"/?", "/h", "/H", "/help", "/HELP"})
        for (auto &[locale, want, more] : {std::tuple{"LC_ALL=C.UTF-8", utf8, true},
                                           {"LC_ALL=C", utf8, false},
                                           {"LC_ALL=ja_JP.SJIS", cp932, false}}) {
            // Anything after the switch is ignored.
            CliResult r = run_rundif(more ? std::vector<std::string>{sw, "ignored", "/key"}
                                          : std::vector<std::string>{sw},
                                     {.env = {locale, Feed::sjis_env()}});
            EXPECT_EQ(r.out, want) << sw << " " << locale;
            EXPECT_EQ(r.err, "") << sw;
            EXPECT_EQ(r.status, 0) << sw;
        }
    // The English help, byte for byte.
    CliResult help = run_rundif({"--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_EQ(help.out, expected("help.txt"));
    EXPECT_EQ(run_rundif({"/key=0", "-h"}).out, help.out); // among the "/" options too
    CliResult v = run_rundif({"--version"});
    EXPECT_TRUE(std::regex_match(v.out, std::regex(R"(rundif \d+\.\d+\.\d+\n)"))) << v.out;
    EXPECT_EQ(v.status, 0);
    // Every failure says what went wrong in one line: a usage error of a
    // long option ends with status 2, one of the "/" options or the command
    // with 255; the statistics follow that line unless --stats=never.
    f.write("noexec", "echo never\n"); // no execute bit, even for root
    std::string keys = "/key=0";
    for (int i = 0; i < 64; i++)
        keys += ":1";
    const std::string slash = "' is not an option; put -- before a command that starts with /";
    const std::vector<std::tuple<std::vector<std::string>, int, std::string>> bad = {
        {{"/HeLp"}, 255, "'/HeLp" + slash},
        {{"/time", "/help"}, 255, "'/help" + slash},
        {{"/sapn=1", "ls"}, 255, "'/sapn=1" + slash},
        {{"/key", "ls"}, 255, "/key needs a value (/key=...)"},
        {{keys, "ls"}, 255, "/key takes at most 64 entries"},
        {{}, 255, "no command to run (see rundif --help)"},
        {{"--"}, 255, "no command to run (see rundif --help)"},
        {{""}, 255, "no command to run (see rundif --help)"},
        {{"--stats=never", "no-such-command-rundif", "x"},
         255,
         "cannot run 'no-such-command-rundif': No such file or directory"},
        {{"--stats=never", "./noexec"}, 255, "cannot run './noexec': Permission denied"},
        {{"--foo", "ls"}, 2, "unknown option '--foo'"},
        {{"-tz", "ls"}, 2, "unknown option '-z'"},
        {{"-t", "-k"}, 2, "-k needs a value (-k COLS)"},
        {{"--output"}, 2, "--output needs a value (--output=FILE)"},
        {{"--time=x", "ls"}, 2, "--time takes no value"},
        {{"--count=0", "ls"}, 2, "--count needs a whole number of 1 or more"},
        {{"--count", "3x", "ls"}, 2, "--count needs a whole number of 1 or more"},
        {{"--timeout=4294967296", "ls"}, 2, "--timeout needs a whole number of seconds, 1 or more"},
        {{"--color=sometimes", "ls"}, 2, "--color needs never, always or auto"},
        {{"--stats=sometimes", "ls"}, 2, "--stats needs never or always"},
        {{"--json=yes", "ls"}, 2, "--json takes no value"},
        {{"--compare", "a"}, 2, "--compare needs two saved outputs: --compare OLD NEW"},
        {{"--compare", "-", "-"},
         2,
         "--compare can read only one of OLD and NEW from standard input"},
        {{"--compare", "a", "b", "ls"}, 2, "--compare takes no command ('ls')"},
    };
    for (auto &[args, status, err] : bad) {
        CliResult r = run_rundif(args, {.env = {"LC_ALL=C.UTF-8"}, .cwd = f.dir});
        EXPECT_EQ(r.status, status) << err;
        EXPECT_EQ(r.err, "rundif: " + err + "\n");
        EXPECT_EQ(r.out, "");
    }
    // Without --stats=never the statistics follow.
    CliResult r = run_rundif({"--count=1", "no-such-command-rundif"});
    EXPECT_EQ(r.err, "rundif: cannot run 'no-such-command-rundif': No such file or directory\n"
                     "interface-id=1 interface-name=\"process\" access-name=\"no-such-command-"
                     "rundif\" access-time=0 access-count=0 access-size=0\n");
}

TEST(CliOptions, ManPageLintsClean)
{
    if (std::system("command -v mandoc >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "mandoc is not installed";
    Feed f({});
    EXPECT_EQ(f.sh("mandoc -T lint -W warning " TEST_DATA_DIR "/../../doc/rundif.1 > lint 2>&1"),
              0);
    EXPECT_EQ(f.read("lint"), "");
}

} // namespace
