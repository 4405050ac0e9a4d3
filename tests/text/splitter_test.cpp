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

using toks = std::vector<std::pair<uint32_t, std::string>>;

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

// Splits txt with the rules; the tokens, then the status that ended them.
toks split(const std::vector<rule> &rules, const char *txt, bool utf8 = false)
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
    toks out;
    st_txt_spr_tkn t;
    int32_t st;
    for (int i = 0; i < 200 && (st = txt_spr(&spr, &t)) == 0; i++)
        out.emplace_back(t.knd, t.txt);
    out.emplace_back(~0u, std::to_string(st));
    EXPECT_EQ(txt_spr(&spr, &t), RTN_ERR1) << "the end is reported again";
    txt_spr_end(&spr);
    return out;
}

const std::string END = std::to_string(RTN_ERR1);
const std::vector<rule> words = {{1, "[a-z]+"}, {2, "[ ]+"}};

} // namespace

TEST(Splitter, TokensUnclaimedTextAndNoBacktracking)
{
    EXPECT_EQ(split(words, "ab  cd"), (toks{{1, "ab"}, {2, "  "}, {1, "cd"}, {~0u, END}}));
    EXPECT_EQ(split(words, "ab!cd"), (toks{{1, "ab"}, {0, "!"}, {1, "cd"}, {~0u, END}}));
    EXPECT_EQ(split(words, "!?ab"), (toks{{0, "!?"}, {1, "ab"}, {~0u, END}}));
    EXPECT_EQ(split({}, ""), (toks{{~0u, END}}));
    // The rule b never sees the b that abc consumed before failing.
    EXPECT_EQ(split({{1, "abc"}, {2, "b"}}, "abd"), (toks{{0, "abd"}, {~0u, END}}));
    // Rule order is the priority at one starting character.
    EXPECT_EQ(split({{1, "ab"}, {2, "[a-z]+"}}, "abc"), (toks{{1, "ab"}, {2, "c"}, {~0u, END}}));
    EXPECT_EQ(split({{2, "[a-z]+"}, {1, "ab"}}, "abc"), (toks{{2, "abc"}, {~0u, END}}));
    // A kind-0 rule swallows its text as unclaimed, out of the other rules' sight.
    EXPECT_EQ(split({{0, "<[a-z]+>"}, {1, "[a-z]+"}}, "a<bc>d"),
              (toks{{1, "a"}, {0, "<bc>"}, {1, "d"}, {~0u, END}}));
    // "^" holds at the start of the text and after its line ends only.
    EXPECT_EQ(split({{9, "^#[^\\n]*"}}, "#a\nb #c\n#d"),
              (toks{{9, "#a"}, {0, "\nb #c\n"}, {9, "#d"}, {~0u, END}}));
}

TEST(Splitter, TextEndingInsideAnAttempt)
{
    EXPECT_EQ(split({{1, "abc"}}, "xab"), (toks{{0, "xab"}, {~0u, END}}));
    EXPECT_EQ(split({{1, "abc"}}, "abcab"), (toks{{1, "abc"}, {0, "ab"}, {~0u, END}}));
    // A rule that matches only once the text is known to end still claims it.
    EXPECT_EQ(split({{1, "ab*"}}, "!a"), (toks{{0, "!"}, {1, "a"}, {~0u, END}}));
    EXPECT_EQ(split({{1, "ab*c?"}}, "ab"), (toks{{1, "ab"}, {~0u, END}}));
}

TEST(Splitter, ConditionsAndAssignmentsSwitchRules)
{
    // A quote switches mode to 1, where everything up to the next quote is one token.
    const std::vector<rule> q = {{3, "\"", "mode", 0, "mode", 1},
                                 {4, "[^\"]+", "mode", 1},
                                 {5, "\"", "mode", 1, "mode", 0},
                                 {1, "[a-z]+", "mode", 0},
                                 {2, "[ ]+", "mode", 0}};
    EXPECT_EQ(split(q, "ab \"cd ef\" gh"), (toks{{1, "ab"}, {2, " "}, {3, "\""}, {4, "cd ef"},
                                                 {5, "\""}, {2, " "}, {1, "gh"}, {~0u, END}}));
    // Never switched on: the text is split by the other rules.
    EXPECT_EQ(split({{7, "[a-z]+", "mode", 1}, {1, "[a-c]+"}}, "abz"),
              (toks{{1, "ab"}, {0, "z"}, {~0u, END}}));
}

TEST(Splitter, MultiByteTextsKeepTheirBytes)
{
    // The same UTF-8 bytes through both decoders, and a Shift-JIS text.
    const char *u = "ab \xE3\x81\x82\xE3\x81\x84 cd";
    const toks want = {{1, "ab"}, {2, " "}, {0, "\xE3\x81\x82\xE3\x81\x84"}, {2, " "}, {1, "cd"},
                       {~0u, END}};
    EXPECT_EQ(split(words, u, true), want);
    EXPECT_EQ(split(words, u, false), want);
    EXPECT_EQ(split(words, "x\x82\xA0\x82\xA2y"),
              (toks{{1, "x"}, {0, "\x82\xA0\x82\xA2"}, {1, "y"}, {~0u, END}}));
    // A rule over a multi-byte character, in UTF-8.
    EXPECT_EQ(split({{7, "\xE3\x81\x82+"}}, "\xE3\x81\x82\xE3\x81\x82z", true),
              (toks{{7, "\xE3\x81\x82\xE3\x81\x82"}, {0, "z"}, {~0u, END}}));
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
