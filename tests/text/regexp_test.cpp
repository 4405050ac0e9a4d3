// Regular expressions and the matching engine: the debug print, searches
// under each option, refused patterns, failures that must leave nothing
// behind, stepping by hand, and a cross-check against the backtracking
// reference on random patterns and texts (the string search included).
#include "base/diag/test_hook.h"
#include "tests/text/regexp_ref.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>

namespace
{

using Found = std::tuple<int32_t, uint32_t, uint32_t>; // status, start, end

Found find(const char *pat, const char *txt, uint32_t opt = MTC_OPT_DEF)
{
    uint32_t r[2] = {99, 99};
    const int32_t st = strregexp(txt, pat, r, &opt);
    return {st, r[0], r[1]};
}

// The debug print: a node's value as character, decimal and hexadecimal,
// then its flag bits.
TEST(Regexp, DebugPrint)
{
    st_txt_mtc m = {};
    st_stream p = {};
    cstream_str_set(&p, "a");
    ASSERT_EQ(regexp_trm(&m, &p), 0);
    stream_end(&p);
    char *buf = nullptr;
    size_t len = 0;
    FILE *fp = open_memstream(&buf, &len);
    EXPECT_EQ(txt_mtc_trm_prt(m.trm, fp), 0);
    EXPECT_EQ(txt_mtc_trm_prt(m.trm, nullptr), -1);
    std::fclose(fp);
    txt_mtc_trm_end(m.trm);
    const std::string out(buf, len);
    std::free(buf);
    EXPECT_NE(out.find("[v:a/        97/00000061]Flg[rng:00 not:0 chk:11 "), std::string::npos)
        << out;
}

// Searches the cross-check below cannot pin down: the match found without
// MTC_LNG, an anchored search failing (the reference also takes "no
// match"), a count after a group (the reference only knows the search
// fails somewhere), syntax the random patterns do not make. The rest of
// the search semantics is left to the cross-check.
TEST(Regexp, Searches)
{
    const uint32_t clr = MTC_DEF, anc = MTC_OPT_DEF | MTC_ANC;
    const struct {
        const char *pat, *txt;
        uint32_t opt;
        Found want;
    } cases[] = {
        {"ab*", "abbb", clr, {0, 0, 1}}, // the skipping attempt ends first
        {"b", "ab", anc, {RTN_ERR, 99, 99}},
        // Syntax the random patterns do not make: escapes, blanks in braces.
        {"[^a-c\\]]+", "b]xyz]", MTC_OPT_DEF, {0, 2, 5}},
        {"\\.\\d\\t", "a.d\t", MTC_OPT_DEF, {0, 1, 4}},
        {"a{2}b{ 2 ,}c{1, 3 }", "aabbbcccc", MTC_OPT_DEF, {0, 0, 8}},
        // Without MTC_LNG: a finished alternative counts at its last character,
        // and among attempts ending in one step the newest is visited first.
        {"xa|b", "xab", clr, {0, 0, 2}},
        {"b|ab", "ab", clr, {0, 1, 2}},
        // A thread that reaches the count after a group fails the search.
        {"(ab)+", "abx", MTC_OPT_DEF, {RTN_ERR, 99, 99}},
        {"(ab)+|y", "xy", MTC_OPT_DEF, {0, 1, 2}},
        // A run before a required character that holds a character above
        // 0x7F (half-width katakana, two bytes) is not skipped over.
        {"[a\xB1]+b",
         "a\xB1"
         "b",
         MTC_OPT_DEF,
         {0, 0, 3}},
        {"[a\x82\xA0]+b",
         "a\x82\xA0"
         "b",
         MTC_OPT_DEF,
         {0, 0, 3}},
    };
    for (const auto &c : cases)
        EXPECT_EQ(find(c.pat, c.txt, c.opt), c.want) << c.pat << " in " << c.txt;
}

// An empty pattern gives the pop's status; refused ones -1, the result
// pair left alone and, with regexp_chk, the record ended.
TEST(Regexp, RefusedPatterns)
{
    uint32_t r[2] = {7, 7};
    EXPECT_EQ(strregexp("x", "", r, nullptr), 1) << "an empty pattern: the pop's nothing-more";
    // Refusals that the cross-check's random patterns rarely or never make
    // (short, and no "0", blank or "x" among their raw characters).
    for (const char *p :
         {"a{0}", "a{ }", "a{4294967296}", "a{2,x}", "a{x}", "[^]", "a|*b", "[a-b-c]"})
        EXPECT_EQ(strregexp("a", p, r, nullptr), RTN_ERR) << p;
    EXPECT_EQ(find("a{4294967295}", "a"), Found(RTN_ERR1, 99, 99)) << "the largest count compiles";
    EXPECT_EQ(r[0], 7u) << "the result pair is left alone";

    st_txt_mtc m = {};
    st_stream p = {};
    cstream_str_set(&p, "[z");
    EXPECT_EQ(regexp_chk(&m, &p, nullptr), RTN_ERR);
    EXPECT_TRUE(m.trm == nullptr && m.opt == 0) << "a failed compile ends the record";
    stream_end(&p);
}

// A pattern stream that gives the characters of txt, then fails with
// 0x80000001 (not "nothing more").
int32_t broken_pop(void *hdl, void *unit)
{
    const char **cur = static_cast<const char **>(hdl);
    if (!**cur)
        return rtn_fail1();
    const int32_t c = static_cast<unsigned char>(*(*cur)++);
    std::memcpy(unit, &c, sizeof c);
    return rtn_ok();
}

// A failing pattern pop gives its status and stores nothing; with each
// allocation failing in turn a search fails cleanly or finds the match.
TEST(Matcher, FailuresLeaveNothingBehind)
{
    // A pop failing inside a class, a count, an escape or between atoms
    // gives its own status; nothing is stored (ASan finds any node left).
    static const st_stream_fnc broken = {broken_pop, nullptr, nullptr, nullptr, nullptr, nullptr};
    for (const char *txt : {"[ab", "a{1,", "a\\", "ab|(c", "("}) {
        st_txt_mtc m = {};
        st_stream p = {&txt, &broken, STM_OPN, 0, nullptr};
        EXPECT_EQ(regexp_trm(&m, &p), RTN_ERR1) << txt;
        EXPECT_EQ(m.trm, nullptr);
    }
    // Every allocation failing in turn: a clean failure or the right answer.
    const Found want = find("(a|b)c|[a-z]+b|x*y", "xaaabzz");
    Found got;
    int n = 0;
    do {
        __mem_fail_at(++n);
        got = find("(a|b)c|[a-z]+b|x*y", "xaaabzz");
        __mem_fail_at(0);
        EXPECT_TRUE(std::get<0>(got) == 0 || std::get<0>(got) == RTN_ERR) << "allocation " << n;
    } while (std::get<0>(got) != 0 && n < 200);
    EXPECT_EQ(got, want) << "once no allocation fails";
    EXPECT_GT(n, 5) << "the search did allocate";
}

// A warm search allocates nothing, a search stops once its match is
// decided, and a reset clears the match but keeps the position. Stepping
// by hand (txt_mtc_wrd, MTC_ONE) is run by the splitter's tests.
TEST(Matcher, WarmSearchesAndTheReset)
{
    st_txt_mtc m = {};
    st_stream p = {}, t = {};
    cstream_str_set(&p, "ab+");
    ASSERT_EQ(regexp_chk(&m, &p, nullptr), 0);
    stream_end(&p);
    // Once warm, with every allocation failing it still finds the same match.
    for (int round = 0; round < 2; round++) {
        txt_mtc_chk_rst(&m);
        m.pos = 0;
        cstream_str_set(&t, "zzabbbz abz");
        __mem_fail_at(round); // armed in round 1 only
        EXPECT_EQ(txt_mtc(&m, &t), 0);
        __mem_fail_at(0);
        EXPECT_TRUE(m.mtc_top == 2 && m.mtc_end == 6 && !m.thr) << round;
        // The search stops once the match is decided: the next one goes on from there.
        txt_mtc_chk_rst(&m);
        EXPECT_EQ(txt_mtc(&m, &t), 0);
        EXPECT_TRUE(m.mtc_top == 8 && m.mtc_end == 10) << round;
        stream_end(&t);
    }
    // Characters decoded from bytes that are no string are popped one by one.
    char raw[] = "zzabbbz";
    st_stream b = {};
    ASSERT_EQ(stream_stc_ary_set(&b, raw, 1, 7) | cstream_default_btoc_set(&t, &b), 0);
    txt_mtc_chk_rst(&m);
    m.pos = 0;
    EXPECT_EQ(txt_mtc(&m, &t), 0);
    EXPECT_TRUE(m.mtc_top == 2 && m.mtc_end == 6);
    stream_end(&t); // and the bytes
    const uint32_t pos = m.pos;
    m.opt |= MTC_ONE;
    EXPECT_EQ(txt_mtc_chk_rst(&m), 0);
    EXPECT_TRUE(!(m.stt & MTC_STT_MTC) && m.mtc_end == 0 && !(m.opt & MTC_ONE) && m.pos == pos);
    EXPECT_EQ(txt_mtc_chk_end(&m), 0);
    EXPECT_EQ(m.trm, nullptr);
}

// Random patterns: half from a small grammar (so most compile), half raw
// characters of the language (so the refusals get exercised).
std::string random_pattern(std::mt19937 &r, bool grp = false)
{
    // The last four: a range across 0x80, a negated class with a two-byte member,
    // two-byte characters with a line end and with "a" as their trail byte.
    static const char *atoms[] = {
        "a",       "b",        ".", "[ab]",         "[^a]",         "[a-b]",
        "\\n",     "[b-c\\n]", "c", "[c-\x82\xA0]", "[^b\x82\x61]", "\x83\n",
        "\xEF\x61"};
    static const char *quants[] = {"*", "+", "?", "{2}", "{1,3}", "{0,1}", "{2,}", "{,2}", "{3}"};
    std::string s;
    for (int i = 0, n = 1 + r() % 5; i < n; i++) {
        const unsigned k = r() % 20;
        if (k < 12)
            s.append(atoms[r() % 13]).append(r() % 2 ? quants[r() % 9] : "");
        else if (k < 14 && !grp)
            s.append("(").append(random_pattern(r, true)).append(")");
        else
            s += "|^$|"[k % 4];
    }
    return s;
}

// Each case runs three ways: the reference, the engine over the decoded
// characters, and strregexp, which reads the string itself and steps over
// characters that cannot start a match. Lead bytes take any byte as their
// trail ("\x83\n" is one character, no line end; 0xEF is the last lead
// byte; one has "a" as its trail byte), so the string search must read the
// characters single pops give, "^" included.
TEST(Regexp, CrossCheckWithReference)
{
    static const char *bits[] = {"a",        "ab",   "b",      "\n",   "c",   "\x82\xA0",
                                 "\x82\x61", "\x83", "\x83\n", "\xEF", "\xF0"};
    // Last, patterns that keep more than eight threads live (the seen
    // states then go to a table) over runs of a: counts that differ only in
    // their repetitions, and alternatives that differ only in their node.
    // a{1,3}b: an attempt that starts inside a run of a is needed beside
    // the earlier one.
    std::string many = "b+c"; // 80 threads: more than the first table holds
    for (int k = 0; k < 80; k++)
        many += "|ba";
    const std::string wide[] = {"a{2,12}b",
                                "a{1,3}b",
                                "a{10}|a{3}c",
                                "[ab]{1,9}c|b{4}",
                                "(aa|ab|ac|ba|bb|bc|ca|cb|cc|a)c",
                                "a?a?a?a?a?a?a?a?a?b",
                                many};
    std::mt19937 r(13);
    int compared = 0, faults = 0;
    for (int i = 0; i < 6300; i++) {
        const bool w = i >= 6000;
        std::string p = w ? wide[i % 7] : random_pattern(r), t;
        if (i % 2 && !w)
            for (p.clear(); p.size() < 1 + r() % 8;)
                p += "ab.[]^-$*+?{}|()\\,1"[r() % 19];
        for (unsigned n = r() % (w ? 24 : 14); t.size() < n;)
            t += w ? std::string(1, "aaabc"[r() % 5]) : bits[r() % 11];
        const regexp_ref::Text pc = regexp_ref::codes(p), tc = regexp_ref::codes(t);
        for (uint32_t opt : {MTC_OPT_DEF, uint32_t{MTC_DEF}, MTC_OPT_DEF | MTC_ANC}) {
            bool cmp;
            std::string d = regexp_ref::check(pc, tc, opt, &cmp);
            uint32_t rng[2] = {99, 99};
            const int32_t st = regexp_ref::engine(pc, tc, opt, rng);
            if (d.empty() && find(p.c_str(), t.c_str(), opt) != Found(st, rng[0], rng[1]))
                d = "the string search differs: " + p + " in " + t;
            if (!d.empty() && faults++ < 10)
                ADD_FAILURE() << d;
            compared += cmp && d.empty();
        }
    }
    EXPECT_EQ(faults, 0);
    EXPECT_GT(compared, 12000);
}

} // namespace
