// Text splitter: tokens handed out for rule sets over texts, conditions and
// assignments, the end of the text, bytes of multi-byte texts, the streams.
#include "base/text/text.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

namespace
{

struct rule {
    uint32_t knd;
    const char *pat;
    const char *cnd = nullptr;
    int32_t cnd_val = 0;
    const char *asg = nullptr;
    int32_t asg_val = 0;
};

// A character stream over txt: Shift-JIS, or UTF-8 over bytes of its own.
struct chars {
    st_stream byt{}, chr{};
    chars(const char *txt, bool utf8)
    {
        if (utf8) {
            bstream_str_set(&byt, txt);
            cstream_utf8_btoc_set(&chr, &byt);
        } else {
            cstream_str_set(&chr, txt);
        }
    }
    ~chars() { stream_end(&chr); }
};

// Splits txt with the rules; the tokens as "kind<text> ", then "end" (and
// the status that ended them when it is not the end of the text).
std::string split(const std::vector<rule> &rules, const char *txt, bool utf8 = false)
{
    chars src(txt, utf8);
    st_txt_spr spr;
    EXPECT_EQ(txt_spr_set(&spr, &src.chr), 0);
    for (const rule &r : rules) {
        chars pat(r.pat, utf8);
        EXPECT_EQ(txt_spr_psh_lst_regexp(&spr, r.knd, &pat.chr, nullptr, r.cnd, r.cnd_val, r.asg,
                                         r.asg_val),
                  0)
            << r.pat;
    }
    std::string out;
    st_txt_spr_tkn t;
    int32_t st;
    for (int i = 0; i < 200 && (st = txt_spr(&spr, &t)) == 0; i++)
        out += std::to_string(t.knd) + "<" + t.txt + "> ";
    out += st == RTN_ERR1 ? "end" : "end " + std::to_string(st);
    EXPECT_EQ(txt_spr(&spr, &t), RTN_ERR1) << "the end is reported again";
    txt_spr_end(&spr);
    return out;
}

const std::vector<rule> words = {{1, "[a-z]+"}, {2, "[ ]+"}};

} // namespace

TEST(Splitter, TokensUnclaimedTextAndNoBacktracking)
{
    EXPECT_EQ(split(words, "ab  cd"), "1<ab> 2<  > 1<cd> end");
    EXPECT_EQ(split(words, "ab!cd"), "1<ab> 0<!> 1<cd> end");
    EXPECT_EQ(split(words, "!?ab"), "0<!?> 1<ab> end");
    EXPECT_EQ(split({}, ""), "end");
    // The rule b never sees the b that abc consumed before failing.
    EXPECT_EQ(split({{1, "abc"}, {2, "b"}}, "abd"), "0<abd> end");
    // Rule order is the priority at one starting character.
    EXPECT_EQ(split({{1, "ab"}, {2, "[a-z]+"}}, "abc"), "1<ab> 2<c> end");
    EXPECT_EQ(split({{2, "[a-z]+"}, {1, "ab"}}, "abc"), "2<abc> end");
    // A kind-0 rule swallows its text as unclaimed, out of the other rules' sight.
    EXPECT_EQ(split({{0, "<[a-z]+>"}, {1, "[a-z]+"}}, "a<bc>d"), "1<a> 0<<bc>> 1<d> end");
    // "^" holds at the start of the text and after its line ends only.
    EXPECT_EQ(split({{9, "^#[^\\n]*"}}, "#a\nb #c\n#d"), "9<#a> 0<\nb #c\n> 9<#d> end");
    // The text ending inside an attempt: what was read is unclaimed, but
    // a rule that matches only once the text is known to end still claims it.
    EXPECT_EQ(split({{1, "abc"}}, "xab"), "0<xab> end");
    EXPECT_EQ(split({{1, "abc"}}, "abcab"), "1<abc> 0<ab> end");
    EXPECT_EQ(split({{1, "ab*"}}, "!a"), "0<!> 1<a> end");
    EXPECT_EQ(split({{1, "ab*c?"}}, "ab"), "1<ab> end");
}

TEST(Splitter, ConditionsAndAssignmentsSwitchRules)
{
    // A quote switches mode to 1, where everything up to the next quote is one token.
    const std::vector<rule> q = {{3, "\"", "mode", 0, "mode", 1},
                                 {4, "[^\"]+", "mode", 1},
                                 {5, "\"", "mode", 1, "mode", 0},
                                 {1, "[a-z]+", "mode", 0},
                                 {2, "[ ]+", "mode", 0}};
    EXPECT_EQ(split(q, "ab \"cd ef\" gh"), "1<ab> 2< > 3<\"> 4<cd ef> 5<\"> 2< > 1<gh> end");
    // Never switched on: the text is split by the other rules.
    EXPECT_EQ(split({{7, "[a-z]+", "mode", 1}, {1, "[a-c]+"}}, "abz"), "1<ab> 0<z> end");
}

TEST(Splitter, MultiByteTextsKeepTheirBytes)
{
    // The same UTF-8 bytes through both decoders, and a Shift-JIS text.
    const char *u = "ab \xE3\x81\x82\xE3\x81\x84 cd";
    const std::string want = "1<ab> 2< > 0<\xE3\x81\x82\xE3\x81\x84> 2< > 1<cd> end";
    EXPECT_EQ(split(words, u, true), want);
    EXPECT_EQ(split(words, u, false), want);
    EXPECT_EQ(split(words, "x\x82\xA0\x82\xA2y"), "1<x> 0<\x82\xA0\x82\xA2> 1<y> end");
    // A rule over a multi-byte character, in UTF-8.
    EXPECT_EQ(split({{7, "\xE3\x81\x82+"}}, "\xE3\x81\x82\xE3\x81\x82z", true),
              "7<\xE3\x81\x82\xE3\x81\x82> 0<z> end");
}

TEST(Splitter, StreamsAndRefusals)
{
    chars src("ab cd", false), pat("[a-z]+", false), bad("[]", false);
    st_txt_spr spr{};
    st_txt_spr_tkn t;
    EXPECT_EQ(txt_spr(&spr, &t), -1) << "not set up";
    EXPECT_EQ(txt_spr_psh_lst_regexp(&spr, 1, &pat.chr, nullptr, nullptr, 0, nullptr, 0), -1);
    ASSERT_EQ(txt_spr_set(&spr, &src.chr), 0);
    EXPECT_EQ(txt_spr_psh_lst_regexp(&spr, 1, &bad.chr, nullptr, nullptr, 0, nullptr, 0), -1);
    EXPECT_EQ(spr.lst, nullptr) << "a malformed pattern adds no rule";
    ASSERT_EQ(txt_spr_psh_lst_regexp(&spr, 1, &pat.chr, nullptr, nullptr, 0, nullptr, 0), 0);
    EXPECT_EQ(txt_spr(&spr, nullptr), -1);

    st_stream stm{};
    ASSERT_EQ(txt_spr_for_anr_stream(&stm, &spr), 0);
    st_txt_anr_tkn a;
    ASSERT_EQ(stream_pop(&stm, &a), 0);
    EXPECT_TRUE(a.knd == 1 && std::string(a.txt) == "ab" && !a.nxt && !a.stt);
    ASSERT_EQ(stream_pop(&stm, &a), 0);
    EXPECT_TRUE(a.knd == 0 && std::string(a.txt) == " ");
    stm.fnc_lst = &__txt_spr_stream_fnclst; // the pair kind over the same splitter
    ASSERT_EQ(stream_pop(&stm, &t), 0);
    EXPECT_TRUE(t.knd == 1 && std::string(t.txt) == "cd");
    EXPECT_EQ(stream_pop(&stm, &t), RTN_ERR1);
    stream_end(&stm);
    EXPECT_EQ(spr.tal, nullptr) << "ending the stream ends the splitter";
}
