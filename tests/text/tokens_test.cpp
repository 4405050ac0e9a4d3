// Splitter and analyzer. The splitter: tokens handed out for rule sets over
// texts, longest matches against a model, conditions and assignments, the
// end of the text, bytes of multi-byte texts, its streams. The analyzer: rules over the splitter's
// tokens, groups, moves, states, the actions, the three streams (the
// variant-map reader's tests run its escape, quote and blank rules through
// stacked analyzers).
#include "base/text/text.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <random>
#include <string>
#include <vector>

namespace
{

// A Shift-JIS character stream over txt.
struct chars {
    st_stream chr{};
    explicit chars(const char *txt) { cstream_str_set(&chr, txt); }
    ~chars() { stream_end(&chr); }
};

// A splitter rule: its kind, pattern, condition and assignment.
struct srule {
    uint32_t knd;
    const char *pat;
    const char *cnd = nullptr;
    int32_t cnd_val = 0;
    const char *asg = nullptr;
    int32_t asg_val = 0;
};

void push(st_txt_spr *spr, const std::vector<srule> &rules)
{
    for (const srule &r : rules) {
        chars pat(r.pat);
        EXPECT_EQ(txt_spr_psh_lst_regexp(spr, r.knd, &pat.chr, nullptr, r.cnd, r.cnd_val, r.asg,
                                         r.asg_val),
                  0)
            << r.pat;
    }
}

// A token as "kind<text> "; the group bits show as o (open) and c (close).
std::string tok(uint32_t knd, const char *txt)
{
    std::string s = knd & ANR_OPN ? "o" : knd & ANR_CLS ? "c" : "";
    return s + std::to_string(knd & ~(ANR_OPN | ANR_CLS)) + "<" + txt + "> ";
}

// Splits txt with the rules; the tokens, then "end" (and the status that
// ended them when it is not the end of the text).
std::string split(const std::vector<srule> &rules, const char *txt)
{
    chars src(txt);
    st_txt_spr spr;
    EXPECT_EQ(txt_spr_set(&spr, &src.chr), 0);
    push(&spr, rules);
    std::string out;
    st_txt_spr_tkn t;
    int32_t st;
    for (int i = 0; i < 200 && (st = txt_spr(&spr, &t)) == 0; i++)
        out += tok(t.knd, t.txt);
    out += st == RTN_ERR1 ? "end" : "end " + std::to_string(st);
    EXPECT_EQ(txt_spr(&spr, &t), RTN_ERR1) << "the end is reported again";
    txt_spr_end(&spr);
    return out;
}

// An analyzer item (type, kind or flag, text) and a rule: its items and
// its states (required, on apply, on release).
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
const std::vector<srule> vmap_tokens = {
    {1, "[a-zA-Z0-9_]+"}, {2, "\\\\."}, {19, "\""},         {18, "="},
    {OPN, "\\("},         {CLS, "\\)"}, {0x20000120, "\n"}, {BLK, "[ \t]+"}};

// An analyzer with the rules over the text's tokens: its tokens, then
// "end" and the status that ended them; with bytes, the bytes of the byte
// stream over them. after(anr) runs on the analyzer before it is ended.
template <typename F = void (*)(st_txt_anr *)>
std::string run(
    const char *txt, const std::vector<rule> &rules, bool bytes = false,
    F after = [](st_txt_anr *) {})
{
    chars src(txt);
    st_txt_spr spr;
    txt_spr_set(&spr, &src.chr);
    push(&spr, vmap_tokens);
    st_txt_anr anr;
    EXPECT_EQ(txt_anr_set(&anr, &spr), 0);
    for (const rule &r : rules) {
        EXPECT_EQ(txt_anr_chk_add_lst(&anr, r.stt.data()), 0);
        for (const item &i : r.itm)
            EXPECT_EQ(txt_anr_chk_add_fct(&anr, i.typ, i.val, i.txt, nullptr), 0) << i.typ;
    }
    st_stream out{}, bin{};
    txt_anr_stream(&out, &anr);
    std::string got;
    if (bytes) { // bin owns out from here
        EXPECT_EQ(txt_anr_cvt_bin_stream(&bin, &out, 0), 0);
        for (uint8_t b; got.size() < 100 && stream_pop(&bin, &b) == 0;)
            got += static_cast<char>(b);
    }
    st_txt_anr_tkn t;
    int32_t st = 0;
    for (int n = 0; !bytes && n < 100 && (st = stream_pop(&out, &t)) == 0; n++)
        got += tok(t.knd, t.txt);
    got += bytes ? "" : "end " + std::to_string(st);
    after(&anr);
    stream_end(bytes ? &bin : &out);
    return got;
}

const rule quote = {{{0, 19}, {16}, {27}, {4}, {3, 19}, {16}, {28}, {29, 1}}};
const rule blank = {{{0, (int32_t)BLK}, {16}}};

} // namespace

// The splitter's kind-0 rules, "^", characters of two bytes in a rule, and
// conditions and assignments. Tokens, unclaimed text, longest matches, rule
// order, no backtracking and texts that end inside an attempt are checked
// against the model below; the bytes of unclaimed characters of two bytes
// by the variant-map reader's tests (inside quotes).
TEST(Splitter, KindZeroAnchorsBytesConditionsAndAssignments)
{
    // A kind-0 rule swallows its text as unclaimed, out of the other rules' sight.
    EXPECT_EQ(split({{0, "<[a-z]+>"}, {1, "[a-z]+"}}, "a<bc>d"), "1<a> 0<<bc>> 1<d> end");
    // "^" holds at the start of the text and after its line ends only.
    EXPECT_EQ(split({{9, "^#[^\\n]*"}}, "#a\nb #c\n#d"), "9<#a> 0<\nb #c\n> 9<#d> end");
    // A rule's character is its bytes: "+" repeats both.
    EXPECT_EQ(split({{7, "\x82\xA0+"}}, "\x82\xA0\x82\xA0z"), "7<\x82\xA0\x82\xA0> 0<z> end");

    // A quote switches mode to 1, where everything up to the next quote is
    // one token; a variable never set holds 0.
    const std::vector<srule> q = {{3, "\"", "mode", 0, "mode", 1},
                                  {4, "[^\"]+", "mode", 1},
                                  {5, "\"", "mode", 1, "mode", 0},
                                  {1, "[a-z]+", "mode", 0},
                                  {2, "[ ]+", "mode", 0}};
    EXPECT_EQ(split(q, "ab \"cd ef\" gh"), "1<ab> 2< > 3<\"> 4<cd ef> 5<\"> 2< > 1<gh> end");
}

// A model of the splitter for rules that are literal alternatives or a run
// of one class: a rule consumes while a longer match is possible, its
// token ends at its longest match and the rest is read again; an attempt
// without a match leaves its text unclaimed but for the character it
// failed at.
struct mrule {
    std::vector<std::string> alt; // literal alternatives
    std::string cls;              // or, when not empty, a run of these characters
    bool match(const std::string &w) const
    {
        return cls.empty() ? std::find(alt.begin(), alt.end(), w) != alt.end()
                           : w.find_first_not_of(cls) == std::string::npos;
    }
    bool live(const std::string &w) const // a longer match is still possible
    {
        for (const std::string &a : alt)
            if (a.size() > w.size() && a.compare(0, w.size(), w) == 0)
                return true;
        return !cls.empty() && match(w);
    }
};

std::string model(const std::vector<mrule> &rules, const std::string &t)
{
    std::string out, unm;
    for (size_t i = 0; i < t.size();) {
        size_t k = 0; // the first rule that takes the character
        while (k < rules.size() && !rules[k].live(t.substr(i, 1)) &&
               !rules[k].match(t.substr(i, 1)))
            k++;
        if (k == rules.size()) {
            unm += t[i++];
            continue;
        }
        size_t j = i, e = 0; // characters read, the end of the longest match
        do {
            if (rules[k].match(t.substr(i, ++j - i)))
                e = j;
        } while (j < t.size() && rules[k].live(t.substr(i, j - i)));
        if (e) {
            out +=
                (unm.empty() ? "" : tok(0, unm.c_str())) + tok(k + 1, t.substr(i, e - i).c_str());
            unm.clear();
            i = e;
            continue;
        }
        // No match: the character that ended the attempt is read again,
        // unless the text ended first.
        j -= j < t.size() || !rules[k].live(t.substr(i, j - i));
        unm += t.substr(i, j - i);
        i = j;
    }
    return out + (unm.empty() ? "" : tok(0, unm.c_str())) + "end";
}

// Random rules and texts split as the model says.
TEST(Splitter, LongestMatchAgainstAModel)
{
    std::mt19937 r(5);
    auto word = [&](const std::string &abc, size_t len) {
        std::string w;
        while (w.size() < len)
            w += abc[r() % abc.size()];
        return w;
    };
    for (int i = 0; i < 300; i++) {
        std::vector<mrule> m(1 + r() % 3);
        std::vector<std::string> pats(m.size()); // not resized: the rules point into it
        std::vector<srule> rules;
        for (size_t k = 0; k < m.size(); k++) {
            mrule &x = m[k];
            if (r() % 4 == 0)
                x.cls = word("abc", 1 + r() % 2);
            for (int n = 1 + r() % 3; x.cls.empty() && n > 0; n--)
                x.alt.push_back(word("abc", 1 + r() % 4));
            std::string &p = pats[k] = x.cls.empty() ? "" : "[" + x.cls + "]+";
            for (const std::string &a : x.alt)
                p += (p.empty() ? "" : "|") + a;
            rules.push_back({uint32_t(k + 1), p.c_str()});
        }
        const std::string t = word("abcd", r() % 12);
        ASSERT_EQ(split(rules, t.c_str()), model(m, t))
            << testing::PrintToString(pats) << " over " << t;
    }
}

// A character 0 ends the text; refusals; the splitter's two stream kinds.
TEST(Splitter, StreamsAndRefusals)
{
    // A character 0 ends the text; a later call reads on past it.
    uint32_t zero[] = {'a', 'b', 0, 'c'};
    st_stream ary{};
    st_txt_spr z;
    stream_stc_ary_set(&ary, zero, 4, 4);
    txt_spr_set(&z, &ary);
    push(&z, {{1, "a[^x]*"}});
    st_txt_spr_tkn zt;
    std::string got;
    for (int i = 0; i < 3; i++)
        got += txt_spr(&z, &zt) == 0 ? tok(zt.knd, zt.txt) : "end";
    EXPECT_EQ(got, "1<ab> 0<c> end");
    txt_spr_end(&z);
    stream_end(&ary);

    chars src("ab "), pat("[a-z]+"), bad("[]");
    st_txt_spr spr{};
    st_txt_spr_tkn t;
    EXPECT_EQ(txt_spr(&spr, &t), -1) << "not set up";
    ASSERT_EQ(txt_spr_set(&spr, &src.chr), 0);
    EXPECT_EQ(txt_spr_psh_lst_regexp(&spr, 1, &bad.chr, nullptr, nullptr, 0, nullptr, 0), -1);
    EXPECT_EQ(spr.lst, nullptr) << "a malformed pattern adds no rule";
    ASSERT_EQ(txt_spr_psh_lst_regexp(&spr, 1, &pat.chr, nullptr, nullptr, 0, nullptr, 0), 0);

    st_stream stm{};
    ASSERT_EQ(txt_spr_for_anr_stream(&stm, &spr), 0);
    st_txt_anr_tkn a;
    ASSERT_EQ(stream_pop(&stm, &a), 0);
    EXPECT_TRUE(a.knd == 1 && std::string(a.txt) == "ab" && !a.nxt && !a.stt);
    stm.fnc_lst = &__txt_spr_stream_fnclst; // the pair kind over the same splitter
    ASSERT_EQ(stream_pop(&stm, &t), 0);
    EXPECT_TRUE(t.knd == 0 && std::string(t.txt) == " ");
    EXPECT_EQ(stream_pop(&stm, &t), RTN_ERR1);
    stream_end(&stm);
    EXPECT_EQ(spr.tal, nullptr) << "ending the stream ends the splitter";
}

// The analyzer's group inserts, moves and looks, states, rules in use, and
// the byte stream of its tokens.
TEST(Analyzer, GroupsMovesStatesRulesInUseAndTheByteStream)
{
    const rule ins_grp = {{{0, (int32_t)OPN}, {10, 5, "after"}}};
    EXPECT_EQ(run("(a(b))c", {ins_grp}),
              "o1<(> 1<a> o1<(> 1<b> c2<)> 5<after> c2<)> 5<after> 1<c> end 1");
    // Onto the group's closer; into the group unless the first is b. The
    // first rule stays in use up to the outer closer, so the inner closer
    // keeps its kind.
    const rule cls = {{{0, (int32_t)OPN}, {8}, {9, 3}}};
    const rule in = {{{0, (int32_t)OPN}, {6}, {1, 1, "^b$"}, {9, 4}}};
    EXPECT_EQ(run("(a(b))", {cls, in}), "o1<(> 4<a> o1<(> 1<b> c2<)> 3<)> end 1");
    // Over a whole group and the blank; one step at a time; a look-ahead.
    const rule over = {{{0, (int32_t)OPN}, {4}, {9, 6}}};
    const rule steps = {{{0, 1, "^a$"}, {5}, {5}, {9, 7}}};
    const rule look = {{{0, 1, "^a$"}, {2, -1, "^c$"}, {9, 8}}};
    EXPECT_EQ(run("(a) c", {over, steps, look}), "o1<(> 8<a> c2<)> 7< > 6<c> end 1");
    // States gate rules: "=" moves to state 1, where words get kind 7; a
    // rule released at once (its tests ended on the head) goes back to 0.
    const rule in1 = {{{0, 1}, {9, 7}}, {1, 1, 1}};
    EXPECT_EQ(run("a=b", {in1, {{{0, 18}}, {0, 1, 1}}}), "1<a> 18<=> 7<b> end 1");
    EXPECT_EQ(run("a=b", {in1, {{{0, 18}}, {0, 1, 0}}}), "1<a> 18<=> 1<b> end 1");
    // The bytes of the tokens of a joining analyzer.
    EXPECT_EQ(run("a \"b c\" d", {quote}, true), "a b c d");
}

// Variables and their substitution, output files, echo, inserts before,
// and failing actions.
TEST(Analyzer, VariablesFilesEchoInsertBeforeAndAFailingAction)
{
    char path[] = "/tmp/anr_testXXXXXX";
    ASSERT_EQ(close(mkstemp(path)), 0);
    int cloexec = -1;
    // In substituted texts "@n@" is the variable n and "@@" one "@".
    const std::vector<rule> r = {{{{0, 1, "^f$"}, {18, 0, path}}},
                                 {{{0, 1, "^[0-9]+$"}, {23, 1, "n"}, {26}}},
                                 {{{0, 1, "^s$"}, {23, 1, "n"}, {25, 0, "40"}}},
                                 {{{0, 1, "^k$"}, {23, 1}, {24}}}, // variable k = "k"
                                 {{{0, 1, "^x$"}, {22, 0, "n=@n@;@@"}, {20}, {14, 8, "<@k@>"}}},
                                 {{{0, 1, "^y$"}, {19, 0, path}, {21, 0, "!"}, {12, 6, "pre"}}},
                                 {{{0, 1, "^e$"}, {17}}},
                                 blank};
    testing::internal::CaptureStdout();
    const std::string got = run("f 2 3 s 1 k x y e", r, false, [&](st_txt_anr *a) {
        cloexec = a->fil ? fcntl(fileno(a->fil), F_GETFD) & FD_CLOEXEC : -1;
    });
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "e\ne\n") << "echo on test and on apply";
    EXPECT_EQ(got, "1<f> 1<2> 1<3> 1<s> 1<1> 1<k> 1<x> 8<<k>> 6<pre> 1<y> 1<e> end 1");
    EXPECT_EQ(cloexec, FD_CLOEXEC);
    std::ifstream written(path);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(written), {}), "n=41;@!");
    unlink(path);

    // A failing action keeps the actions before it; a substitution that
    // fails fails its action.
    uint32_t knd = 0;
    EXPECT_EQ(run("z", {{{{0, 1}, {9, 9}, {20}, {9, 10}}}}, false,
                  [&](st_txt_anr *a) { knd = a->tok ? a->tok->knd : 0; }),
              "end -1")
        << "no file open: the pass fails";
    EXPECT_EQ(knd, 9u);
    EXPECT_EQ(run("z", {{{{0, 1}, {14, 8, "@missing@"}}}}), "end -1") << "a name not set";
    EXPECT_EQ(run("z", {{{{0, 1}, {14, 8, "a @n"}}}}), "end -1") << "an unterminated name";
    st_txt_anr anr{};
    EXPECT_EQ(txt_anr_chk_add_fct(&anr, 0, 1, "a", nullptr), -1) << "no rule yet";
}
