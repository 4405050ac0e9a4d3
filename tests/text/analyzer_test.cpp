// Text analyzer: rules over tokens from the splitter, the tokens handed
// out, stacked analyzers, states, every action, the three streams.
#include "base/text/text.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <utility>
#include <vector>

namespace
{

struct item {
    uint32_t typ;
    int32_t val = 0;
    const char *txt = nullptr;
};
struct rule {
    std::vector<item> itm;
    std::vector<int32_t> stt = {0, 0, 0};
};
using toks = std::vector<std::pair<uint32_t, std::string>>;

constexpr uint32_t OPN = ANR_OPN | 1, CLS = ANR_CLS | 2, BLK = 0x20000021;

// The token table of the variant-map text, plus groups in "(" and ")".
void spr_rules(st_txt_spr *spr)
{
    const std::pair<uint32_t, const char *> r[] = {
        {1, "[a-zA-Z0-9_]+"}, {2, "\\\\."}, {19, "\""}, {18, "="}, {OPN, "\\("}, {CLS, "\\)"},
        {0x20000120, "\n"},   {BLK, "[ \t]+"}};
    for (auto [k, p] : r) {
        st_stream s{};
        cstream_str_set(&s, p);
        EXPECT_EQ(txt_spr_psh_lst_regexp(spr, k, &s, nullptr, nullptr, 0, nullptr, 0), 0) << p;
        stream_end(&s);
    }
}

void add(st_txt_anr *anr, const std::vector<rule> &rules)
{
    for (const rule &r : rules) {
        ASSERT_EQ(txt_anr_chk_add_lst(anr, r.stt.data()), 0);
        for (const item &i : r.itm)
            ASSERT_EQ(txt_anr_chk_add_fct(anr, i.typ, i.val, i.txt, nullptr), 0) << i.typ;
    }
}

// Analyzers stacked over the text, one rule set each; the last one's
// tokens, then the status that ended them. after(anr) runs on the last
// analyzer before it is ended.
template <typename F = void (*)(st_txt_anr *)>
toks run(
    const char *txt, const std::vector<std::vector<rule>> &sets, F after = [](st_txt_anr *) {})
{
    st_stream chr{};
    cstream_str_set(&chr, txt);
    st_txt_spr spr;
    txt_spr_set(&spr, &chr);
    spr_rules(&spr);
    std::vector<st_txt_anr> anr(sets.size());
    EXPECT_EQ(txt_anr_set(&anr[0], &spr), 0);
    for (size_t i = 0; i < sets.size(); i++) {
        if (i > 0) {
            st_stream *up = nullptr;
            EXPECT_EQ(txt_anr_stream(nullptr, &anr[i - 1]), 0);
            up = stkptr(nullptr, nullptr);
            EXPECT_EQ(_txt_anr_set(&anr[i], up), 0);
        }
        add(&anr[i], sets[i]);
    }
    st_stream out{};
    txt_anr_stream(&out, &anr.back());
    toks got;
    st_txt_anr_tkn t;
    int32_t st;
    for (int n = 0; n < 100 && (st = stream_pop(&out, &t)) == 0; n++)
        got.emplace_back(t.knd, t.txt);
    got.emplace_back(~0u, std::to_string(st));
    after(&anr.back());
    stream_end(&out);
    stream_end(&chr);
    return got;
}

const rule escape_n = {{{0, 2, "\\\\n"}, {16}, {11, 1, "\n"}}};
const rule escape_q = {{{0, 2, "\\\\\""}, {16}, {11, 1, "\""}}};
const rule quote = {{{0, 19}, {16}, {27}, {4}, {3, 19}, {16}, {28}, {29, 1}}};
const rule blank = {{{0, (int32_t)BLK}, {16}}};
const toks::value_type END = {~0u, "1"};

} // namespace

TEST(Analyzer, EscapesQuotesAndStacking)
{
    EXPECT_EQ(run("a\\n", {{escape_n}}), (toks{{1, "a"}, {1, "\n"}, END}));
    EXPECT_EQ(run("\"x y\"", {{quote}}), (toks{{1, "x y"}, END}));
    // Empty quotes give an empty word; an unclosed quote stays as it is.
    EXPECT_EQ(run("\"\" \"x", {{quote, blank}}), (toks{{1, ""}, {19, "\""}, {1, "x"}, END}));
    // The rule that joined is in use until its closing quote is the head:
    // that quote does not open a new join over " = ".
    EXPECT_EQ(run("\"a\" = \"b\"", {{quote, blank}}),
              (toks{{1, "a"}, {18, "="}, {1, "b"}, END}));
    // Escapes first, quotes over their output.
    EXPECT_EQ(run("\"a\\\"b\"", {{escape_q}, {quote}}), (toks{{1, "a\"b"}, END}));
}

TEST(Analyzer, GroupsMovesAndRulesInUse)
{
    const rule ins_grp = {{{0, (int32_t)OPN}, {10, 5, "after"}}};
    EXPECT_EQ(run("(a(b))c", {{ins_grp}}),
              (toks{{OPN, "("}, {1, "a"}, {OPN, "("}, {1, "b"}, {CLS, ")"}, {5, "after"},
                    {CLS, ")"}, {5, "after"}, {1, "c"}, END}));
    // Onto the group's closer; into the group unless the first is b. The
    // first rule stays in use up to the outer closer, so the inner closer
    // keeps its kind.
    const rule cls = {{{0, (int32_t)OPN}, {8}, {9, 3}}};
    const rule in = {{{0, (int32_t)OPN}, {6}, {1, 1, "^b$"}, {9, 4}}};
    EXPECT_EQ(run("(a(b))", {{cls, in}}), (toks{{OPN, "("}, {4, "a"}, {OPN, "("}, {1, "b"},
                                                 {CLS, ")"}, {3, ")"}, END}));
    // Over a whole group and the blank; one step at a time; a look-ahead.
    const rule over = {{{0, (int32_t)OPN}, {4}, {9, 6}}};
    const rule steps = {{{0, 1, "^a$"}, {5}, {5}, {9, 7}}};
    const rule look = {{{0, 1, "^a$"}, {2, -1, "^c$"}, {9, 8}}};
    EXPECT_EQ(run("(a) c", {{over, steps, look}}),
              (toks{{OPN, "("}, {8, "a"}, {CLS, ")"}, {7, " "}, {6, "c"}, END}));
}

TEST(Analyzer, StatesGateRules)
{
    const rule on = {{{0, 18}}, {0, 1, 1}};
    const rule in1 = {{{0, 1}, {9, 7}}, {1, 1, 1}};
    EXPECT_EQ(run("a=b", {{in1, on}}), (toks{{1, "a"}, {18, "="}, {7, "b"}, END}));
    // Released at once (its tests ended on the head): back to state 0.
    const rule brief = {{{0, 18}}, {0, 1, 0}};
    EXPECT_EQ(run("a=b", {{in1, brief}}), (toks{{1, "a"}, {18, "="}, {1, "b"}, END}));
}

TEST(Analyzer, VariablesFilesEchoAndInsertBefore)
{
    char path[] = "/tmp/anr_testXXXXXX";
    const int fd = mkstemp(path);
    ASSERT_GE(fd, 0);
    close(fd);
    int cloexec = -1;
    const std::vector<rule> r = {
        {{{0, 1, "^f$"}, {18, 0, path}}},
        {{{0, 1, "^[0-9]+$"}, {23, 1, "n"}, {26}}},
        {{{0, 1, "^s$"}, {23, 1, "n"}, {25, 0, "40"}}},
        {{{0, 1, "^k$"}, {23, 1}, {24}}}, // variable k = "k"
        {{{0, 1, "^x$"}, {22, 0, "n=@n@;"}, {20}, {14, 8, "<@k@>"}}},
        {{{0, 1, "^y$"}, {19, 0, path}, {21, 0, "!"}, {12, 6, "pre"}}},
        {{{0, 1, "^e$"}, {17}}},
        blank};
    testing::internal::CaptureStdout();
    const toks got = run("f 2 3 s 1 k x y e", {r}, [&](st_txt_anr *a) {
        cloexec = a->fil ? fcntl(fileno(a->fil), F_GETFD) & FD_CLOEXEC : -1;
    });
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "e\ne\n") << "echo on test and on apply";
    EXPECT_EQ(got, (toks{{1, "f"}, {1, "2"}, {1, "3"}, {1, "s"}, {1, "1"}, {1, "k"}, {1, "x"},
                         {8, "<k>"}, {6, "pre"}, {1, "y"}, {1, "e"}, END}));
    EXPECT_EQ(cloexec, FD_CLOEXEC);
    FILE *fp = fopen(path, "r");
    char buf[64] = "";
    ASSERT_TRUE(fp && fgets(buf, sizeof buf, fp));
    fclose(fp);
    EXPECT_STREQ(buf, "n=41;!");
    unlink(path);
}

TEST(Analyzer, FailingActionKeepsEarlierActions)
{
    uint32_t knd = 0;
    const toks got = run("z", {{{{{0, 1}, {9, 9}, {20}, {9, 10}}}}},
                         [&](st_txt_anr *a) { knd = a->tok ? a->tok->knd : 0; });
    EXPECT_EQ(got, (toks{{~0u, "-1"}})) << "no file open: the pass fails";
    EXPECT_EQ(knd, 9u);
    st_txt_anr anr{};
    EXPECT_EQ(txt_anr_chk_add_fct(&anr, 0, 1, "a", nullptr), -1) << "no rule yet";
}

TEST(Analyzer, SubstitutionAndByteStreams)
{
    st_vmap m;
    vmap_set(&m, 0);
    vmap_put_str_int(&m, nullptr, "n", 5, 0);
    vmap_put_str_str(&m, nullptr, "s", "x y", 0);
    auto sub = [&](const char *txt) {
        st_stream src{}, stm{};
        cstream_str_set(&src, txt);
        vmap_fmt_stream(&stm, &m, &src);
        char *out = nullptr;
        const int32_t st = cstream_to_vstr(&stm, &out);
        std::string s = st == 0 ? out : "fail";
        _free(&out);
        return s;
    };
    EXPECT_EQ(sub("cost @n@ @@"), "cost 5 @");
    EXPECT_EQ(sub("@s@@n@"), "x y5");
    EXPECT_EQ(sub("@missing@"), "fail");
    EXPECT_EQ(sub("a @n"), "fail") << "unterminated name";
    vmap_end(&m);

    // The bytes of the tokens of a joining analyzer.
    st_stream chr{}, bin{}, tok{};
    cstream_str_set(&chr, "a \"b c\" d");
    st_txt_spr spr;
    st_txt_anr anr;
    txt_spr_set(&spr, &chr);
    spr_rules(&spr);
    txt_anr_set(&anr, &spr);
    add(&anr, {quote});
    txt_anr_stream(&tok, &anr);
    ASSERT_EQ(txt_anr_cvt_bin_stream(&bin, &tok, 0), 0);
    std::string s;
    uint8_t b;
    for (int n = 0; n < 100 && stream_pop(&bin, &b) == 0; n++)
        s += static_cast<char>(b);
    EXPECT_EQ(s, "a b c d");
    stream_end(&bin);
    stream_end(&chr);
}
