// The argument parser against the tool's table, and the settings read from it.
#include "main/rundif.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace
{

// A parsed options map that ends itself.
struct Parsed {
    st_vmap opt = {};
    int32_t rc;
    std::vector<std::string> store;
    std::vector<char *> argv;

    explicit Parsed(std::vector<std::string> args) : store(std::move(args))
    {
        for (auto &a : store)
            argv.push_back(a.data());
        vmap_set(&opt, VMAP_EQU);
        rc = vmap_args(&opt, nullptr, (int32_t)argv.size(), argv.data(), args_def, ARGS_DEF_CNT);
    }
    ~Parsed() { vmap_end(&opt); }

    // Every value stored under key, in order; "<none>" for a key without value.
    std::vector<std::string> values(const char *key)
    {
        std::vector<std::string> v;
        void *node = nullptr;
        if (vmap_ref_str(&opt, nullptr, key, &node) != 0)
            return v;
        for (; node; vtyp_get_equ(node, &node)) {
            char *txt = nullptr;
            v.push_back(vtyp_ref_lnk_val(node, 0, &txt) == 0 ? txt : "<none>");
        }
        return v;
    }
    st_settings settings()
    {
        st_settings set = {};
        EXPECT_EQ(settings_read(&opt, &set), 0);
        return set;
    }
};

using V = std::vector<std::string>;

TEST(VmapArgs, ValuesDefaultsSwitchesAndThePositionalRecord)
{
    Parsed p({"/key=0:1", "/key=2", "/watch=3:100", "/watch=5", "/time", "/V", "tasklist", "/V"});
    ASSERT_EQ(p.rc, 0);
    EXPECT_EQ(p.values("key"), V{"2"}); // last value wins
    EXPECT_EQ(p.values("wtc"), (V{"3:100", "5"}));
    EXPECT_EQ(p.values("time"), V{"<none>"});
    EXPECT_EQ(p.values("spn"), V{"10"}); // defaults for options not given
    EXPECT_EQ(p.values("sep"), V{" "});
    EXPECT_EQ(p.values("hide"), V{});
    EXPECT_EQ(args_def[8].flg & ARGS_DEFINED, ARGS_DEFINED);

    Parsed q({"/span=", "cmd"}); // an empty inline value is stored
    ASSERT_EQ(q.rc, 0);
    EXPECT_EQ(q.values("spn"), V{""});

    // A command of 200 000 words is stored in order in linear time (each
    // value once walked the whole chain: minutes for this many).
    V words = {"echo"};
    for (int i = 1; i < 200000; i++)
        words.push_back(std::to_string(i));
    Parsed big(words);
    ASSERT_EQ(big.rc, 0);
    words.erase(words.begin()); // a record that takes values stores those after its own
    EXPECT_EQ(big.values("cmd"), words);
}

TEST(VmapArgs, FailuresForMissingValuesAndMissingCommand)
{
    EXPECT_EQ(Parsed({"/key", "ls"}).rc, -1); // needs an inline value
    EXPECT_EQ(Parsed({"/span=3"}).rc, -1);    // every argument taken by an option
    EXPECT_EQ(Parsed({}).rc, -1);
    EXPECT_EQ(Parsed({"/unknown"}).rc, 0); // taken by the positional record
    // A second parse starts from cleared marks.
    EXPECT_EQ(Parsed({"/time"}).rc, -1);
}

TEST(Settings, NumbersListsAndChannels)
{
    for (auto [arg, spn] : std::vector<std::pair<std::string, int>>{
             {"/span=0", 1}, {"/span=-3", 1}, {"/span=abc", 1}, {"/span= 7x", 7}, {"/time", 10}}) {
        Parsed p({arg, "ls"});
        EXPECT_EQ(p.settings().spn, spn) << arg;
    }
    Parsed p({"/key=0::4", "/watch=2:10", "/watch=5", "/watch=1:0", "/exclude=0:a:b", "/exclude=3",
              "/separate-word=,x", "/hide", "/time=1", "ls"});
    st_settings s = p.settings();
    ASSERT_EQ(s.key_cnt, 3);
    EXPECT_EQ(s.key[0], 0);
    EXPECT_EQ(s.key[1], 0);
    EXPECT_EQ(s.key[2], 4);
    ASSERT_EQ(s.wtc_cnt, 2);
    EXPECT_EQ(s.wtc[0].col, 2);
    EXPECT_EQ(s.wtc[0].scl, 10);
    EXPECT_EQ(s.wtc[1].col, 1);
    EXPECT_EQ(s.wtc[1].scl, 1); // a scale of 0 becomes 1
    ASSERT_EQ(s.exc_cnt, 1);
    EXPECT_STREQ(s.exc[0].txt, "a:b");
    EXPECT_EQ(s.sep, ',');
    EXPECT_EQ(s.con, nullptr);
    EXPECT_TRUE(s.tim);

    Parsed e({"/separate-word=", "ls"});
    EXPECT_EQ(e.settings().sep, 0);
    EXPECT_EQ(e.settings().con, stdout);
    EXPECT_EQ(Parsed({"/key=a", "ls"}).settings().key[0], 0);
}

TEST(Settings, ListsRefuseMoreThan64Entries)
{
    std::string keys = "/key=0";
    for (int i = 1; i < 64; i++)
        keys += ":" + std::to_string(i);
    Parsed ok({keys, "ls"});
    EXPECT_EQ(ok.settings().key_cnt, 64);

    Parsed over({keys + ":64", "ls"});
    st_settings s = {};
    EXPECT_EQ(settings_read(&over.opt, &s), -1);

    std::vector<std::string> args;
    for (int i = 0; i < 65; i++)
        args.push_back("/watch=" + std::to_string(i) + ":2");
    args.push_back("ls");
    Parsed w(args);
    s = {};
    EXPECT_EQ(settings_read(&w.opt, &s), -1);
    EXPECT_EQ(s.wtc_cnt, 64);
}

} // namespace
