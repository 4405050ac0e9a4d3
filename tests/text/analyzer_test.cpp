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

constexpr uint32_t OPN = ANR_OPN | 1, CLS = ANR_CLS | 2, BLK = 0x20000021;

// The token table of the variant-map text, plus groups in "(" and ")".
void spr_rules(st_txt_spr *spr)
{
    const std::pair<uint32_t, const char *> r[] = {
        {1, "[a-zA-Z0-9_]+"}, {2, "\\\\."}, {19, "\""},         {18, "="},
        {OPN, "\\("},         {CLS, "\\)"}, {0x20000120, "\n"}, {BLK, "[ \t]+"}};
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
// tokens as "kind<text> " (kinds o1 and c2: the group bits with 1 and 2),
// then "end" and the status that ended them; with bytes, the bytes of the
// byte stream over them. after(anr) runs on the last analyzer before it is
// ended.
template <typename F = void (*)(st_txt_anr *)>
std::string run(
    const char *txt, const std::vector<std::vector<rule>> &sets, bool bytes = false,
    F after = [](st_txt_anr *) {})
{
    st_stream chr{};
    cstream_str_set(&chr, txt);
    st_txt_spr spr;
    txt_spr_set(&spr, &chr);
    spr_rules(&spr);
    std::vector<st_txt_anr> anr(sets.size());
    EXPECT_EQ(txt_anr_set(&anr[0], &spr), 0);
    for (size_t i = 0; i < sets.size(); i++) {
        if (i > 0) { // the analyzer below as a parked stream
            EXPECT_EQ(txt_anr_stream(nullptr, &anr[i - 1]), 0);
            EXPECT_EQ(_txt_anr_set(&anr[i], stkptr(nullptr, nullptr)), 0);
        }
        add(&anr[i], sets[i]);
    }
    st_stream out{}, bin{};
    txt_anr_stream(&out, &anr.back());
    std::string got;
    if (bytes) { // bin owns out from here
        EXPECT_EQ(txt_anr_cvt_bin_stream(&bin, &out, 0), 0);
        for (uint8_t b; got.size() < 100 && stream_pop(&bin, &b) == 0;)
            got += static_cast<char>(b);
    }
    st_txt_anr_tkn t;
    int32_t st = 0;
    for (int n = 0; !bytes && n < 100 && (st = stream_pop(&out, &t)) == 0; n++)
        got += (t.knd & ANR_OPN   ? "o"
                : t.knd & ANR_CLS ? "c"
                                  : "") +
               std::to_string(t.knd & ~(ANR_OPN | ANR_CLS)) + "<" + t.txt + "> ";
    got += bytes ? "" : "end " + std::to_string(st);
    after(&anr.back());
    stream_end(bytes ? &bin : &out);
    stream_end(&chr);
    return got;
}

const rule escape_n = {{{0, 2, "\\\\n"}, {16}, {11, 1, "\n"}}};
const rule escape_q = {{{0, 2, "\\\\\""}, {16}, {11, 1, "\""}}};
const rule quote = {{{0, 19}, {16}, {27}, {4}, {3, 19}, {16}, {28}, {29, 1}}};
const rule blank = {{{0, (int32_t)BLK}, {16}}};

} // namespace

TEST(Analyzer, EscapesQuotesAndStacking)
{
    EXPECT_EQ(run("a\\n", {{escape_n}}), "1<a> 1<\n> end 1");
    EXPECT_EQ(run("\"x y\"", {{quote}}), "1<x y> end 1");
    // Empty quotes give an empty word; an unclosed quote stays as it is.
    EXPECT_EQ(run("\"\" \"x", {{quote, blank}}), "1<> 19<\"> 1<x> end 1");
    // The rule that joined is in use until its closing quote is the head:
    // that quote does not open a new join over " = ".
    EXPECT_EQ(run("\"a\" = \"b\"", {{quote, blank}}), "1<a> 18<=> 1<b> end 1");
    // Escapes first, quotes over their output.
    EXPECT_EQ(run("\"a\\\"b\"", {{escape_q}, {quote}}), "1<a\"b> end 1");
}

TEST(Analyzer, GroupsMovesStatesAndRulesInUse)
{
    const rule ins_grp = {{{0, (int32_t)OPN}, {10, 5, "after"}}};
    EXPECT_EQ(run("(a(b))c", {{ins_grp}}),
              "o1<(> 1<a> o1<(> 1<b> c2<)> 5<after> c2<)> 5<after> 1<c> end 1");
    // Onto the group's closer; into the group unless the first is b. The
    // first rule stays in use up to the outer closer, so the inner closer
    // keeps its kind.
    const rule cls = {{{0, (int32_t)OPN}, {8}, {9, 3}}};
    const rule in = {{{0, (int32_t)OPN}, {6}, {1, 1, "^b$"}, {9, 4}}};
    EXPECT_EQ(run("(a(b))", {{cls, in}}), "o1<(> 4<a> o1<(> 1<b> c2<)> 3<)> end 1");
    // Over a whole group and the blank; one step at a time; a look-ahead.
    const rule over = {{{0, (int32_t)OPN}, {4}, {9, 6}}};
    const rule steps = {{{0, 1, "^a$"}, {5}, {5}, {9, 7}}};
    const rule look = {{{0, 1, "^a$"}, {2, -1, "^c$"}, {9, 8}}};
    EXPECT_EQ(run("(a) c", {{over, steps, look}}), "o1<(> 8<a> c2<)> 7< > 6<c> end 1");
    // States gate rules: "=" moves to state 1, where words get kind 7; a
    // rule released at once (its tests ended on the head) goes back to 0.
    const rule in1 = {{{0, 1}, {9, 7}}, {1, 1, 1}};
    EXPECT_EQ(run("a=b", {{in1, {{{0, 18}}, {0, 1, 1}}}}), "1<a> 18<=> 7<b> end 1");
    EXPECT_EQ(run("a=b", {{in1, {{{0, 18}}, {0, 1, 0}}}}), "1<a> 18<=> 1<b> end 1");
}

TEST(Analyzer, VariablesFilesEchoAndInsertBefore)
{
    char path[] = "/tmp/anr_testXXXXXX";
    const int fd = mkstemp(path);
    ASSERT_GE(fd, 0);
    close(fd);
    int cloexec = -1;
    const std::vector<rule> r = {{{{0, 1, "^f$"}, {18, 0, path}}},
                                 {{{0, 1, "^[0-9]+$"}, {23, 1, "n"}, {26}}},
                                 {{{0, 1, "^s$"}, {23, 1, "n"}, {25, 0, "40"}}},
                                 {{{0, 1, "^k$"}, {23, 1}, {24}}}, // variable k = "k"
                                 {{{0, 1, "^x$"}, {22, 0, "n=@n@;"}, {20}, {14, 8, "<@k@>"}}},
                                 {{{0, 1, "^y$"}, {19, 0, path}, {21, 0, "!"}, {12, 6, "pre"}}},
                                 {{{0, 1, "^e$"}, {17}}},
                                 blank};
    testing::internal::CaptureStdout();
    const std::string got = run("f 2 3 s 1 k x y e", {r}, false, [&](st_txt_anr *a) {
        cloexec = a->fil ? fcntl(fileno(a->fil), F_GETFD) & FD_CLOEXEC : -1;
    });
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "e\ne\n") << "echo on test and on apply";
    EXPECT_EQ(got, "1<f> 1<2> 1<3> 1<s> 1<1> 1<k> 1<x> 8<<k>> 6<pre> 1<y> 1<e> end 1");
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
    const std::string got = run("z", {{{{{0, 1}, {9, 9}, {20}, {9, 10}}}}}, false,
                                [&](st_txt_anr *a) { knd = a->tok ? a->tok->knd : 0; });
    EXPECT_EQ(got, "end -1") << "no file open: the pass fails";
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
    EXPECT_EQ(run("a \"b c\" d", {{quote}}, true), "a b c d");
}
