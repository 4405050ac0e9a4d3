// Layered streams and conversions: replace, chain, no-clear view, copies
// and drains; command lines: splitting, exact joined lines, and joining
// then splitting gives the arguments back.
#include "base/os/os.h"
#include "tests/stream/util.h"

#include <random>

namespace
{

using namespace stream_test;
using Args = std::vector<std::string>;

// src with pat replaced by rpl, each given as a Shift-JIS string stream.
std::string replace(const char *src, const char *pat, const char *rpl)
{
    Stm s, p, r;
    cstream_str_set(&s, src);
    cstream_str_set(&p, pat);
    cstream_str_set(&r, rpl);
    if (cstream_replace(nullptr, &s, &p, &r) != 0)
        return "<fail>";
    return text(stkptr(nullptr, nullptr));
}

TEST(Replace, LeftToRightWithoutOverlapSourceFailuresAndOwnership)
{
    EXPECT_EQ(replace("aaa", "aa", "X"), "Xa");
    EXPECT_EQ(replace("xaab", "ab", "-"), "xa-") << "slides by one after a mismatch";
    EXPECT_EQ(replace("abca", "ab", "_"), "_ca") << "a trailing partial match stays";
    EXPECT_EQ(replace("\x82\x41", "A", "?"), "\x82\x41") << "no match inside a character";
    EXPECT_EQ(replace("abc", "", "X"), "abc") << "an empty pattern replaces nothing and ends";

    // The scripted source fills one byte of each unit: the window zeroes
    // the rest.
    Script sc{2, -1};
    st_stream src = {}, p = {}, r = {};
    ASSERT_EQ(stream_set(&src, &sc, &script_fnclst, nullptr), 0);
    cstream_str_set(&p, "zz");
    cstream_str_set(&r, "");
    Stm s;
    ASSERT_EQ(cstream_replace(&s, &src, &p, &r), 0);
    EXPECT_TRUE(p.hdl == nullptr && r.hdl == nullptr) << "drained and ended at once";
    int32_t rtn = 0;
    EXPECT_EQ(units<int32_t>(&s, &rtn), (std::vector<int32_t>{'x', 'x'}));
    EXPECT_EQ(rtn, -1) << "the source's failure, not the end of data";
    stream_end(&s);
    EXPECT_EQ(sc.ends, 1) << "the source ends with the replace stream";
}

TEST(Chain, MembersOneAfterTheOtherAndNoClearViews)
{
    Stm ch, b;
    int32_t c;
    ASSERT_EQ(stream_chain(&ch), 0);
    EXPECT_EQ(stream_pop(&ch, &c), 1) << "an empty chain";
    stream_rst(&ch);
    ASSERT_EQ(cstream_str_set(nullptr, "ab"), 0);
    ASSERT_EQ(stream_psh(&ch, stkptr(nullptr, nullptr)), 0); // freed by the chain
    ASSERT_EQ(cstream_str_set(&b, "cd"), 0);
    ASSERT_EQ(stream_psh(&ch, &b), 0);
    EXPECT_TRUE(b.hdl == nullptr && b.flg == 0) << "moved: the pushed object is cleared";
    std::string got;
    for (int i = 0; i < 3 && stream_pop(&ch, &c) == 0; i++)
        got += static_cast<char>(c);
    EXPECT_EQ(got, "abc");
    stream_end(&ch); // the member not drained is ended too (ASan)

    Stm v, s;
    char *t = nullptr;
    ASSERT_EQ(cstream_vstr_set(&s, &t), 0);
    ASSERT_EQ(stream_noclear(&v, &s), 0);
    EXPECT_EQ(cstream_cpy_str(&v, "ab"), 0);
    stream_end(&v);
    c = 'c';
    EXPECT_EQ(stream_psh(&s, &c), 0) << "the viewed stream stays open";
    stream_end(&s);
    EXPECT_STREQ(t, "abc");
    _free(&t);
    EXPECT_EQ(stream_noclear(&v, nullptr), -1);
}

TEST(Convert, DrainsAndCopiesEndTheirSource)
{
    Stm s;
    ASSERT_EQ(cstream_str_set(&s, ""), 0);
    EXPECT_TRUE(text(&s).empty() && s.hdl == nullptr) << "an empty text, not none";
    ASSERT_EQ(cstream_str_set(&s, "A\x82\xA0"), 0);
    int32_t *v = nullptr;
    ASSERT_EQ(cstream_to_vcstr(&s, &v), 0);
    EXPECT_EQ(std::vector<int32_t>(v, v + 3), (std::vector<int32_t>{0x41, 0xA082, 0}));
    _free(&v);

    Script sc{2, -1};
    st_stream bad = {};
    stream_set(&bad, &sc, &script_fnclst, nullptr);
    char *t = reinterpret_cast<char *>(1);
    EXPECT_EQ(cstream_to_vstr(&bad, &t), -1) << "a failing source passes its failure";
    EXPECT_TRUE(t == nullptr && sc.ends == 1);

    FILE *fp = tmpfile();
    ASSERT_EQ(cstream_str_set(&s, "f\x82\xA0"), 0);
    ASSERT_EQ(cstream_to_fil(&s, fp), 0);
    EXPECT_EQ(ftell(fp), 3) << "no terminator, file left open";
    fclose(fp);

    char out[2] = {}; // a copy ends the source only
    Stm dst;
    ASSERT_EQ(stream_stc_ary_set(&dst, out, 1, 2), 0);
    ASSERT_EQ(bstream_str_set(&s, "abc"), 0);
    EXPECT_EQ(stream_cpy(&dst, &s, 1), RTN_ERR1) << "the third push fails";
    EXPECT_TRUE(s.hdl == nullptr && dst.hdl != nullptr && std::string(out, 2) == "ab");
    ASSERT_EQ(bstream_str_set(&s, "x"), 0);
    EXPECT_EQ(stream_cpy(&dst, &s, 0), -1);
    EXPECT_EQ(s.hdl, nullptr) << "ended even when refused";
    char two[2][40] = {"first unit", "second unit"}, copy[2][40] = {}; // units of any size
    Stm to;
    ASSERT_EQ(stream_stc_ary_set(&s, two, 40, 2) | stream_stc_ary_set(&to, copy, 40, 2), 0);
    EXPECT_EQ(stream_cpy(&to, &s, 40), 0);
    EXPECT_EQ(std::string(copy[1]), "second unit");
}

// The joined command line, or "<fail>".
std::string join(const Args &args)
{
    std::vector<const char *> v;
    for (const std::string &a : args)
        v.push_back(a.c_str());
    char *out = nullptr;
    if (arg_to_vstr(static_cast<int32_t>(v.size()), v.data(), &out) != 0)
        return "<fail>";
    std::string r = out;
    _free(&out);
    return r;
}

Args split(const std::string &cmd)
{
    char **argv = nullptr;
    int32_t argc = -1;
    EXPECT_EQ(cmdline_split(cmd.c_str(), &argv, &argc), 0);
    Args r(argv, argv + argc);
    EXPECT_EQ(argv[argc], nullptr);
    _free(&argv);
    return r;
}

// Blanks and tabs separate, an empty or blank line has no arguments, quotes
// group anywhere, \" outside quotes is a literal quote, an open quote runs
// to the end. The join-then-split round trip below meets the other
// backslash rules, which join produces.
TEST(CmdLine, BlanksQuotesAndBackslashes)
{
    EXPECT_EQ(split(""), Args{});
    EXPECT_EQ(split("  ps\t-e  -o comm= "), (Args{"ps", "-e", "-o", "comm="}));
    EXPECT_EQ(split("x\"a b\"y"), Args{"xa by"});
    EXPECT_EQ(split("\\\"q\\\""), Args{"\"q\""});
    EXPECT_EQ(split("\"unterminated arg"), Args{"unterminated arg"});
}

TEST(Args, ExactCommandLinesTheArgumentStreamAndJoinThenSplit)
{
    EXPECT_EQ(join({"tasklist", "/V"}), "tasklist /V");
    EXPECT_EQ(join({"a b"}), "\"a b\"");
    EXPECT_EQ(join({"say", "\"hi\""}), "say \"\\\"hi\\\"\"");

    EXPECT_EQ(join({}), "<fail>") << "a count of 0";
    char *out = reinterpret_cast<char *>(1);
    EXPECT_TRUE(arg_to_vstr(1, nullptr, &out) == -1 && out == nullptr);

    // The argument stream, ended part way, releases everything.
    const char *args[] = {"first arg", "second"};
    Stm s;
    EXPECT_EQ(cstream_args_set(&s, -1, args), -1);
    ASSERT_EQ(cstream_args_set(&s, 2, args), 0);
    int32_t c = 0;
    for (int i = 0; i < 4; i++)
        ASSERT_EQ(stream_pop(&s, &c), 0);
    EXPECT_EQ(c, 'r');
    stream_end(&s); // ASan: the record, its streams and their cells are freed

    __mem_fail_at(1);
    EXPECT_EQ(cstream_args_set(&s, 2, args), -1);
    __mem_fail_at(3); // the first argument's streams
    ASSERT_EQ(cstream_args_set(&s, 2, args), 0);
    EXPECT_EQ(stream_pop(&s, &c), -1);
    __mem_fail_at(0);

    // Joining then splitting gives the arguments back, byte for byte (empty
    // ones, line feeds and carriage returns included).
    const std::string alphabet[] = {"a",  "Z",  " ",        "\t",           "\"",       "\\",
                                    "\n", "\r", "\x82\xA0", "\xE3\x81\x82", "\x95\x5C", "\xC3"};
    std::mt19937 rng(6);
    for (int round = 0; round < 3000; round++) {
        Args args(1 + rng() % 4);
        for (std::string &a : args)
            for (int n = rng() % 7; n > 0; n--)
                a += alphabet[rng() % std::size(alphabet)];
        const std::string cmd = join(args);
        ASSERT_EQ(split(cmd), args) << testing::PrintToString(cmd);
    }
}

} // namespace
