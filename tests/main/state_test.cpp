// The state file: refusals (every truncation, damage, other settings, each
// named) and --state-reset, and saves killed at random moments.
#include "main/rundif.h"
#include "tests/sjis_locale.h"

#include <gtest/gtest.h>

#include <clocale>
#include <csignal>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <map>
#include <random>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

namespace
{

std::string slurp(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// Settings, generations and a state file in a directory of their own.
struct Rig {
    st_settings set = {};
    st_generations gen = {};
    std::string dir = testing::TempDir() + "rundif-state-XXXXXX", path;

    Rig()
    {
        dir = mkdtemp(dir.data());
        path = dir + "/state";
        set.state = path.c_str();
        set.sep = ' ';
        set.key[set.key_cnt++] = 0;
        set.wtc[set.wtc_cnt++] = {1, 10};
        set.exc[set.exc_cnt++] = {2, "x:y"};
        EXPECT_EQ(generations_set(&gen), 0);
    }
    ~Rig()
    {
        generations_end(&gen);
        std::system(("rm -rf " + dir).c_str());
    }
    // One silent run over out.
    void run(const std::string &out)
    {
        set.src = fmemopen(const_cast<char *>(out.data()), out.size(), "rb");
        EXPECT_EQ(monitor_run(&set, &gen, 0), 0);
        fclose(set.src);
        set.src = nullptr;
    }
    // state_load into emptied generations over the file text; its result
    // and what it told.
    std::pair<int32_t, std::string> load(const std::string &text)
    {
        std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
        generations_end(&gen);
        EXPECT_EQ(generations_set(&gen), 0);
        testing::internal::CaptureStderr();
        int32_t rc = state_load(&set, &gen);
        return {rc, testing::internal::GetCapturedStderr()};
    }
    uint32_t rows()
    {
        uint32_t n = 0;
        map_cnt(&gen.rows.map, &n);
        return n;
    }
};

std::string refused(const std::string &path, const char *why)
{
    return "rundif: " + path + " was written with other settings (" + why + ")\n";
}

TEST(State, CutDamagedOrOfOtherSettingsIsRefusedAndNothingOfItLoaded)
{
    Rig r;
    r.run("a 1\nb 2 c\nb 3\nd 4 x:y\n");
    ASSERT_EQ(state_save(&r.set, &r.gen), 0);
    const std::string good = slurp(r.path);
    ASSERT_EQ(r.load(good), std::make_pair(0, std::string()));
    EXPECT_EQ(r.gen.run, 1u);
    EXPECT_EQ(r.rows(), 2u);

    for (size_t n = 0; n < good.size(); n++)
        ASSERT_EQ(r.load(good.substr(0, n)), std::make_pair(2, refused(r.path, "truncated"))) << n;
    auto edit = [&](const std::string &from, const std::string &to) {
        std::string t = good;
        size_t at = t.find(from);
        EXPECT_NE(at, std::string::npos) << from;
        return at == std::string::npos ? t : t.replace(at, from.size(), to);
    };
    const std::pair<std::string, std::string> damage[] = {
        {"\t\"a \"=\"1 a 1\"\n", ""},  // a row gone
        {"\t\t2=", "\t\t3="},          // a gap in a key's rows
        {"total=3", "total=4"},        // a row count that does not hold
        {"\"1 a 1\"", "\"1a a 1\""},   // a watched value that is no number
        {"\"1 a 1\"", "\"1 a 1"},      // a quote not closed
        {"run=1", "run=x"},            // a run number that is no number
        {"run=1\n", "run=1\nrum=2\n"}, // a key the format does not know
    };
    for (auto &[from, to] : damage) {
        EXPECT_EQ(r.load(edit(from, to)), std::make_pair(2, refused(r.path, "damaged"))) << from;
        EXPECT_EQ(r.rows(), 0u);
    }
    EXPECT_EQ(r.load(edit("_1", "_2")), std::make_pair(2, refused(r.path, "format")));

    // Each setting that shapes the rows is named when it differs.
    st_settings keep = r.set;
    auto with = [&](const char *why, auto change) {
        r.set = keep;
        change(r.set);
        EXPECT_EQ(r.load(good), std::make_pair(2, refused(r.path, why))) << why;
        r.set.state_reset = 1; // starts afresh
        EXPECT_EQ(r.load(good), std::make_pair(0, std::string())) << why;
        EXPECT_EQ(r.gen.run + r.rows(), 0u) << why;
    };
    with("key columns", [](st_settings &s) { s.key[s.key_cnt++] = 1; });
    with("watches", [](st_settings &s) { s.wtc[0].scl = 100; });
    with("exclusions", [](st_settings &s) { s.exc[0].txt = "x:z"; });
    with("separator", [](st_settings &s) { s.sep = ';'; });
    with("key columns, exclusions", [](st_settings &s) { s.key_cnt = s.exc_cnt = 0; });
    if (!sjis_locpath().empty()) {
        setenv("LOCPATH", sjis_locpath().c_str(), 1);
        const std::string old = setlocale(LC_CTYPE, nullptr);
        ASSERT_NE(setlocale(LC_CTYPE, "ja_JP.SJIS"), nullptr);
        with("locale", [](st_settings &) {});
        setlocale(LC_CTYPE, old.c_str());
        unsetenv("LOCPATH");
    }
}

// A saver killed at random moments leaves a file that loads and is, byte
// for byte, one of the states it saved whole.
TEST(State, SavesKilledAtRandomMomentsLeaveAWholeState)
{
    Rig r;
    auto output = [](uint32_t run) {
        std::string out = "d " + std::to_string(run) + "\nd 0\n";
        for (uint32_t j = 0; j < 5 + run * 7 % 300; j++)
            out += "k" + std::to_string(j) + " " + std::to_string(run) + " line\n";
        return out;
    };
    std::map<uint32_t, std::string> saved; // run -> the text of its state
    auto text_of = [&](uint32_t run) -> const std::string & {
        std::string &t = saved[run];
        if (t.empty()) {
            Rig o;
            o.gen.run = run - 1;
            o.run(output(run));
            EXPECT_EQ(state_save(&o.set, &o.gen), 0);
            t = slurp(o.path);
        }
        return t;
    };
    std::mt19937 rng(26);
    for (int i = 0; i < 200 && !HasFailure(); i++) {
        int fd[2];
        ASSERT_EQ(pipe(fd), 0);
        pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) { // saves from run 1 on; tells when the first is whole
            generations_end(&r.gen);
            generations_set(&r.gen);
            for (uint32_t run = 1;; run++) {
                r.run(output(run));
                state_save(&r.set, &r.gen);
                if (run == 1 && write(fd[1], "", 1) != 1)
                    _exit(1);
            }
        }
        char b;
        EXPECT_EQ(read(fd[0], &b, 1), 1);
        close(fd[0]);
        close(fd[1]);
        usleep(rng() % 20000);
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
        std::string file = slurp(r.path);
        auto [rc, told] = r.load(file);
        ASSERT_EQ(rc, 0) << told;
        ASSERT_EQ(file, text_of(r.gen.run)) << "run " << r.gen.run;
    }
    // Temporary files of killed saves stay, named after the state; they do
    // not hinder a save.
    r.run(output(1));
    EXPECT_EQ(state_save(&r.set, &r.gen), 0);
}

} // namespace
