// The argument parser against the tool's table, the settings read from it,
// and help_args on tables other than the tool's own.
#include "main/rundif.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

namespace
{

using V = std::vector<std::string>;

// A parsed options map that ends itself.
struct Parsed {
    st_vmap opt = {};
    int32_t rc;
    V store;
    std::vector<char *> argv;

    explicit Parsed(V args) : store(std::move(args))
    {
        for (auto &a : store)
            argv.push_back(a.data());
        vmap_set(&opt, VMAP_EQU);
        rc = vmap_args(&opt, nullptr, (int32_t)argv.size(), argv.data(), args_def, ARGS_DEF_CNT);
    }
    ~Parsed() { vmap_end(&opt); }

    // Every value stored under key, in order; "<none>" for a key without value.
    V values(const char *key)
    {
        V v;
        void *node = nullptr;
        if (vmap_ref_str(&opt, nullptr, key, &node) != 0)
            return v;
        for (; node; vtyp_get_equ(node, &node)) {
            char *txt = nullptr;
            v.push_back(vtyp_ref_lnk_val(node, 0, &txt) == 0 ? txt : "<none>");
        }
        return v;
    }
    int32_t read(st_settings &set) { return settings_read(&opt, &set); }
    // The settings read over s, field by field ("fail" first when the read
    // fails); the fields of the GNU options after "con=" when more.
    std::string settings(st_settings s = {}, bool more = false)
    {
        std::string r = read(s) == 0 ? "spn=" : "fail spn=";
        r += std::to_string(s.spn) + " key=";
        for (int32_t i = 0; i < s.key_cnt; i++)
            r += std::to_string(s.key[i]) + ",";
        r += " wtc=";
        for (int32_t i = 0; i < s.wtc_cnt; i++)
            r += std::to_string(s.wtc[i].col) + ":" + std::to_string(s.wtc[i].scl) + ",";
        r += " exc=";
        for (int32_t i = 0; i < s.exc_cnt; i++)
            r += std::to_string(s.exc[i].col) + ":" + s.exc[i].txt + ",";
        r += " sep=" + std::to_string(s.sep) + " tim=" + std::to_string(s.tim);
        r += s.con == stdout ? " con=out" : s.con ? " con=?" : " con=none";
        if (!more)
            return r;
        for (const char *t : {s.fil_path, s.state, s.cmp[0], s.cmp[1]})
            r += std::string(" ") + (t ? t : "-");
        for (uint32_t n : {s.cnt, s.tmo, uint32_t{s.eoc}, uint32_t{s.jsn}, uint32_t{s.clr},
                           uint32_t{s.nostats}, uint32_t{s.state_reset}})
            r += " " + std::to_string(n);
        return r;
    }
};

TEST(VmapArgs, ValuesDefaultsSwitchesFailuresAndThePositionalRecord)
{
    Parsed p({"/key=0:1", "/key=2", "/watch=3:100", "/watch=5", "/time", "/V", "tasklist", "/V"});
    ASSERT_EQ(p.rc, 0);
    EXPECT_EQ(p.values("key"), V{"2"}); // last value wins
    EXPECT_EQ(p.values("wtc"), (V{"3:100", "5"}));
    EXPECT_EQ(p.values("time"), V{"<none>"});
    EXPECT_EQ(p.values("spn"), V{"10"});                       // defaults for options not given
    EXPECT_EQ(Parsed({"/span=", "cmd"}).values("spn"), V{""}); // an empty inline value is stored

    // A command of 200 000 words is stored in order in linear time (each
    // value once walked the whole chain: minutes for this many).
    V words = {"echo"};
    for (int i = 1; i < 200000; i++)
        words.push_back(std::to_string(i));
    Parsed big(words);
    ASSERT_EQ(big.rc, 0);
    words.erase(words.begin()); // a record that takes values stores those after its own
    EXPECT_EQ(big.values("cmd"), words);

    // A missing value or command fails (tests/cli runs those); an unknown
    // switch is the command; a later parse starts from cleared marks.
    EXPECT_EQ(Parsed({"/unknown"}).rc, 0);
    EXPECT_EQ(Parsed({"/time"}).rc, -1);
}

TEST(Settings, NumbersListsAndChannels)
{
    const char *dfl = " key= wtc= exc= sep=32 tim=0 con=out";
    const std::pair<V, std::string> cases[] = {
        // A span below 1 or unreadable is 1; digits are read up to the first other character.
        {{"/span=0", "ls"}, "spn=1" + std::string(dfl)},
        {{"/span= 7x", "ls"}, "spn=7" + std::string(dfl)},
        {{"/key=a", "ls"}, "spn=10 key=0, wtc= exc= sep=32 tim=0 con=out"},
        // An empty separator is none; a scale of 0 becomes 1; an exclusion
        // needs a text; a hidden console is none.
        {{"/separate-word=", "ls"}, "spn=10 key= wtc= exc= sep=0 tim=0 con=out"},
        {{"/key=0::4", "/watch=2:10", "/watch=5", "/watch=1:0", "/exclude=0:a:b", "/exclude=3",
          "/separate-word=,x", "/hide", "/time=1", "ls"},
         "spn=10 key=0,0,4, wtc=2:10,1:1, exc=0:a:b, sep=44 tim=1 con=none"},
    };
    for (const auto &[args, want] : cases)
        EXPECT_EQ(Parsed(args).settings(), want) << args[0];

    // Lists refuse more than 64 entries (a list stops at 64).
    std::string keys = "/key=0";
    for (int i = 1; i < 64; i++)
        keys.append(":").append(std::to_string(i));
    st_settings s = {};
    EXPECT_EQ(Parsed({keys, "ls"}).read(s), 0);
    EXPECT_EQ(s.key_cnt, 64);
    EXPECT_EQ(Parsed({keys + ":64", "ls"}).read(s = {}), -1);
    V watches;
    for (int i = 0; i < 65; i++)
        watches.push_back("/watch=" + std::to_string(i) + ":2");
    watches.push_back("ls");
    EXPECT_EQ(Parsed(watches).read(s = {}), -1);
    EXPECT_EQ(s.wtc_cnt, 64);
}

// The settings a whole command line gives (both parsers) and its command's
// words; "rc=N" when long_opts_read ends it.
std::string read_all(V args)
{
    args.insert(args.begin(), "rundif");
    std::vector<char *> argv;
    for (auto &a : args)
        argv.push_back(a.data());
    st_cmd_line cl;
    st_settings set = {};
    int32_t rc = long_opts_read((int)argv.size(), argv.data(), &cl, &set);
    if (rc != LONG_RUN)
        return "rc=" + std::to_string(rc);
    std::string r = Parsed(V(cl.opt, cl.opt + cl.opt_cnt)).settings(set, true) + " cmd=";
    for (int32_t i = 0; i < cl.cmd_cnt; i++)
        r += std::string(cl.cmd[i]) + ",";
    long_opts_end(&cl);
    return r;
}

TEST(LongOpts, GnuFormsFillTheSettingsTheirSlashFormsFill)
{
    const std::pair<V, V> same[] = {
        {{"-k", "0:1", "ls"}, {"/key=0:1", "ls"}},
        {{"-k0:1", "ls"}, {"/key=0:1", "ls"}},
        {{"--key", "0:1", "ls"}, {"/key=0:1", "ls"}},
        {{"-n", "0", "-d,", "-o", "/tmp/f", "ls"},
         {"/span=0", "/separate-word=,", "/file-out=/tmp/f", "ls"}},
        {{"--interval=7", "--delimiter=", "--output=f=g", "ls"},
         {"/span=7", "/separate-word=", "/file-out=f=g", "ls"}},
        // Repeated values in order, whichever form gave them; the last
        // single value wins, also after the command.
        {{"-w", "1:10", "/watch=2:5", "--watch=3:0", "-x0:a", "/exclude=1:b", "--exclude", "2:c",
          "ls"},
         {"/watch=1:10", "/watch=2:5", "/watch=3:0", "/exclude=0:a", "/exclude=1:b", "/exclude=2:c",
          "ls"}},
        {{"/key=1", "-k", "2", "ls", "/key=3"}, {"/key=3", "ls", "/key=3"}},
        {{"--time", "--quiet", "ls"}, {"/hide", "/time", "ls"}},
        // "--" ends the options; an absolute path starts the command.
        {{"-t", "--", "-k", "/key=1"}, {"/time", "--", "-k", "/key=1"}},
        {{"-k", "1", "/bin/ps", "-k"}, {"/key=1", "/bin/ps", "-k"}},
    };
    for (const auto &[gnu, slash] : same)
        EXPECT_EQ(read_all(gnu), read_all(slash)) << gnu[0] << " " << gnu[1];
    EXPECT_EQ(read_all({"-qtk0:1", "-w", "1:10", "/watch=2:5", "--", "ls", "-x"}),
              "spn=10 key=0,1, wtc=1:10,2:5, exc= sep=32 tim=1 con=none - - - - 0 0 0 0 0 0 0 "
              "cmd=ls,-x,");
    EXPECT_EQ(read_all({"--count=4294967295", "--timeout", "5", "--exit-on-change", "--json",
                        "--color=always", "--stats=never", "--state=s", "--state-reset",
                        "--compare", "a", "b"}),
              "spn=10 key= wtc= exc= sep=32 tim=0 con=out - s a b 4294967295 5 1 1 1 1 1 cmd=");
}

std::string help_of(const st_args *def, int32_t n, const char *exm)
{
    char *buf = nullptr;
    size_t len = 0;
    FILE *fp = open_memstream(&buf, &len);
    EXPECT_EQ(help_args(fp, "prog", "desc", exm, def, n), 0);
    fclose(fp);
    std::string s(buf, len);
    free(buf);
    return s;
}

TEST(HelpArgs, LayoutPaddingDefaultsAndTrailingLineFeed)
{
    // The tool's own table is printed in full by tests/cli; these records
    // show what it lacks.
    st_args def[] = {
        // Required, one value: no brackets, no Optional line; the help
        // text's last line feed gives a padded empty line.
        {'-', "in", 0, "input", nullptr, "files\n", ARGS_TAKES | ARGS_REQUIRED, 0},
        // No help text: its later lines continue on the padded line. Its
        // key is the longest entry and sets the width.
        {'-', "n", '=', "a-long-key", "5", nullptr, ARGS_MULTIPLE, 0},
    };
    // Width: max(2+2, 5, 1+2, 10) + 4 = 14.
    const std::string W(14, ' ');
    std::string want = "[prog]\ndesc\n\nprog -in value [-n=val]\n\n  -in         files\n" + W +
                       "\n" + "  -n          " + W + "default:5\n" + W + "Optional\n" + W +
                       "MultipleDefinable\n";
    EXPECT_EQ(help_of(def, 2, nullptr), want);
    // The count limits the records shown; the example follows with a line feed.
    EXPECT_EQ(help_of(def, 0, "ex"), "[prog]\ndesc\n\nprog\n\nex\n");
}

} // namespace
