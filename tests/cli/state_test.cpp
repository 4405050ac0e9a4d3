// --state=FILE end to end: runs from cron report what one long run
// reports; refusals, --state-reset, a save that fails and a timed-out run.
#include "tests/cli/cli.h"

#include <gtest/gtest.h>

namespace
{

const std::vector<std::string> kRuns = {"a 1\nb 1\nb 2\nc 5\n", "a 1\nb 1\nc 25\nd 1\n",
                                        "a 1\nb 3\nb 4\nb 5\nd 1\n", "a 1\nb 3\n"};

TEST(CliState, RunsFromCronReportWhatOneLongRunReports)
{
    Feed one(kRuns), cron(kRuns);
    CliResult r = one.run({"--stats=never", "--count=4", "/key=0", "/watch=1:10"});
    ASSERT_EQ(r.status, 0) << r.err;
    std::string reports;
    for (const char *count : {"--count=1", "--count=1", "--count=2"}) { // runs after the state's
        CliResult c = cron.run({"--stats=never", count, "--state=st", "/key=0", "/watch=1:10"});
        EXPECT_EQ(c.status, 0) << c.err;
        EXPECT_EQ(c.err, "");
        reports += c.out;
    }
    EXPECT_EQ(reports, r.out);
    EXPECT_EQ(reports, "+ a 1\n+ b 1\n+ b 2\n+ c 5\n* c 25\n+ d 1\n- b 2\n+ b 4\n+ b 5\n- c 25\n"
                       "- b 4\n- b 5\n- d 1\n");
    EXPECT_NE(cron.read("st").find("\nrun=4\n"), std::string::npos);
}

TEST(CliState, RefusalsResetsFailedSavesAndTimedOutRuns)
{
    Feed f({"a 1\n", "a 1\nb 2\n", "a 1\nb 2\n", "a 1\nb 2\n"});
    auto run = [&](std::vector<std::string> args) {
        args.insert(args.begin(), {"--stats=never", "--count=1"});
        return f.run(args);
    };
    EXPECT_EQ(run({"--state=st", "/key=0"}).out, "+ a 1\n");
    const std::string saved = f.read("st");
    // Other settings: refused with 2 before any run; the state stays.
    CliResult r = run({"--state=st", "/key=1"});
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err, "rundif: st was written with other settings (key columns)\n");
    EXPECT_EQ(f.read("count"), "1\n") << "no run was made";
    EXPECT_EQ(f.read("st"), saved);
    // --state-reset starts afresh: every row is new.
    r = run({"--state=st", "--state-reset", "/key=1"});
    EXPECT_EQ(r.out, "+ a 1\n+ b 2\n");
    EXPECT_EQ(r.status, 0);
    // A state that cannot be read, one that cannot be saved.
    f.sh("mkdir d");
    r = run({"--state=d"});
    EXPECT_EQ(r.err, "rundif: cannot read d: Is a directory\n");
    EXPECT_EQ(r.status, 2);
    r = run({"--state=none/st"});
    EXPECT_EQ(r.out, "+ a 1\n+ b 2\n") << "the runs go on";
    EXPECT_EQ(r.err, "rundif: cannot save the state to none/st: No such file or directory\n");
    EXPECT_EQ(r.status, 2);
    // A run the time limit cut short is not saved.
    const std::string before = f.read("st");
    r = run({"--state=st", "--timeout=1", "/key=1", "sh", "-c", "echo x 9; sleep 5", "#"});
    EXPECT_EQ(r.out, "+ x 9\n");
    EXPECT_EQ(f.read("st"), before);
}

} // namespace
