// A reference for the pattern engine, plain and slow on purpose: a parser
// of the same language into a small tree, and a backtracking matcher that
// decides for every start s and end e whether the pattern matches exactly
// the text [s, e). check() runs the engine and the reference and describes
// the first difference; the fuzz target and the cross-check test use it.
#pragma once

#include "base/text/text.h"

#include <algorithm>
#include <cctype>
#include <map>
#include <string>
#include <tuple>
#include <vector>

namespace regexp_ref
{

using Text = std::vector<uint32_t>;
constexpr uint64_t INF = 0xFFFFFFFFu;

struct Item {
    char kind = 'a';                                // 'a' atom, '^' '$' anchors, '(' group
    bool neg = false;                               // negated class or "."
    std::vector<std::pair<uint32_t, uint32_t>> set; // members as inclusive ranges
    uint64_t lo = 1, hi = 1;                        // repetitions of the atom
    std::vector<std::vector<Item>> alts;            // a group's alternatives
};
using Seq = std::vector<Item>;

struct Parser {
    const Text &p;
    size_t i = 0;
    bool grp_cnt = false; // a quantifier after ")": the engine fails when it gets there

    bool more() const { return i < p.size(); }
    bool at(uint32_t c) const { return more() && p[i] == c; }
    void spaces()
    {
        while (more() && p[i] < 128 && std::isspace(static_cast<int>(p[i])))
            i++;
    }
    bool escaped(uint32_t *c) // one character with its escape; false at the end
    {
        if (!more() || (p[i] == '\\' && i + 1 == p.size()))
            return false;
        if ((*c = p[i++]) == '\\')
            *c = p[i] == 'r' ? 13 : p[i] == 't' ? 9 : p[i] == 'n' ? 10 : p[i], i++;
        return true;
    }
    bool number(uint64_t *n)
    {
        for (*n = 0; more() && p[i] >= '0' && p[i] <= '9'; i++)
            if ((*n = *n * 10 + (p[i] - '0')) > INF)
                return false;
        return true;
    }
    bool braces(uint64_t *lo, uint64_t *hi) // after "{"; braces never allow 0 occurrences
    {
        uint64_t n, m = INF;
        spaces();
        if (!number(&n))
            return false;
        spaces();
        if (at('}'))
            return i++, *lo = *hi = n, n != 0;
        if (!at(','))
            return false;
        i++, spaces();
        if (more() && !at('}') && (!number(&m) || (spaces(), false)))
            return false;
        return at('}') && (i++, *lo = n ? n : 1, *hi = m, true);
    }
    bool members(Item *it) // after "["
    {
        it->neg = at('^') && ++i;
        for (bool rng_end = false;;) {
            uint32_t c;
            if (at(']'))
                return i++, !it->set.empty();
            if (at('-')) {
                if (it->set.empty() || rng_end || !++i || at(']') || !escaped(&c))
                    return false;
                it->set.back().second = c, rng_end = true;
            } else if (escaped(&c)) {
                it->set.push_back({c, c}), rng_end = false;
            } else {
                return false;
            }
        }
    }
    // 0 with the top-level alternatives, else the compiler's status (1, -1).
    int32_t run(std::vector<Seq> *top)
    {
        if (p.empty())
            return 1;
        top->assign(1, {});
        Seq *seq = &top->back();
        Item *grp = nullptr;
        for (char last = 0, prev; more();) {
            const uint32_t c = p[i++];
            prev = last, last = 0;
            if (c == '$' || c == '^') {
                seq->emplace_back().kind = char(c);
            } else if (c == '(') {
                if (grp)
                    return -1;
                grp = &seq->emplace_back(), grp->kind = '(';
                seq = &grp->alts.emplace_back();
            } else if (c == ')') {
                if (!grp)
                    return -1;
                grp = nullptr, seq = &top->back(), last = ')';
            } else if (c == '|') {
                seq = &(grp ? grp->alts : *top).emplace_back();
            } else if (c == '*' || c == '+' || c == '?' || c == '{') {
                uint64_t lo = c == '+', hi = c == '?' ? 1 : INF;
                if (!prev || (c == '{' && !braces(&lo, &hi)))
                    return -1;
                if (prev == ')')
                    grp_cnt = true;
                else
                    seq->back().lo = lo, seq->back().hi = hi;
            } else {
                Item it;
                uint32_t ch;
                if (c == '.')
                    it.neg = true, it.set = {{'\n', '\n'}};
                else if (c == '[' ? !members(&it) : (i--, !escaped(&ch)))
                    return -1;
                else if (c != '[')
                    it.set = {{ch, ch}};
                seq->push_back(it), last = 'a';
            }
        }
        return grp ? -1 : 0;
    }
};

// Whether the alternatives match exactly [s, e) of t.
struct Exact {
    const std::vector<Seq> &top;
    const Text &t;
    size_t e;
    std::map<std::tuple<const Seq *, size_t, size_t, const Seq *, size_t>, bool> memo;

    static bool hit(const Item &it, uint32_t c)
    {
        auto in = [c](std::pair<uint32_t, uint32_t> r) { return r.first <= c && c <= r.second; };
        return std::any_of(it.set.begin(), it.set.end(), in) != it.neg;
    }
    // Items i.. of s from position p, then items ui.. of up (around a group).
    bool seq(const Seq *s, size_t i, size_t p, const Seq *up, size_t ui)
    {
        if (i == s->size())
            return up ? seq(up, ui, p, nullptr, 0) : p == e;
        const auto key = std::make_tuple(s, i, p, up, ui);
        if (auto f = memo.find(key); f != memo.end())
            return f->second;
        const Item &it = (*s)[i];
        bool r = false;
        if (it.kind == '^' || it.kind == '$')
            r = (it.kind == '^' ? p == 0 || t[p - 1] == '\n' : p == t.size() || t[p] == '\n') &&
                seq(s, i + 1, p, up, ui);
        else if (it.kind == '(')
            for (const Seq &a : it.alts)
                r = r || seq(&a, 0, p, s, i + 1);
        else
            for (uint64_t k = 0, q = p; !r; k++, q++) {
                r = k >= it.lo && k <= it.hi && seq(s, i + 1, q, up, ui);
                if (k >= it.hi || q >= e || !hit(it, t[q]))
                    break;
            }
        return memo[key] = r;
    }
};

// The engine over two code arrays: status, and rng on a match.
inline int32_t engine(const Text &pat, const Text &txt, uint32_t opt, uint32_t *rng)
{
    static uint32_t none;
    st_stream p = {}, t = {};
    auto arr = [](const Text &x) { return x.empty() ? &none : const_cast<uint32_t *>(x.data()); };
    stream_stc_ary_set(&p, arr(pat), 4, static_cast<uint32_t>(pat.size()));
    stream_stc_ary_set(&t, arr(txt), 4, static_cast<uint32_t>(txt.size()));
    const int32_t st = regexp(&t, &p, rng, &opt);
    stream_end(&p);
    stream_end(&t);
    return st;
}

// Runs both with options opt (MTC_LNG and MTC_ANC count): "" when they
// agree, else the difference. *cmp: the pattern compiled and its matches
// were compared (not a quantifier after a group).
inline std::string check(const Text &pat, const Text &txt, uint32_t opt, bool *cmp = nullptr)
{
    uint32_t rng[2] = {0xDEAD, 0xDEAD};
    const int32_t st = engine(pat, txt, opt, rng);
    auto show = [](const Text &t) {
        std::string s;
        for (uint32_t c : t)
            if (c < 128 && c != '\n')
                s += char(c);
            else
                s.append("<").append(std::to_string(c)).append(">");
        return s;
    };
    const std::string what = "pattern " + show(pat) + " text " + show(txt) + " opt " +
                             std::to_string(opt) + ": engine " + std::to_string(st) + " [" +
                             std::to_string(rng[0]) + "," + std::to_string(rng[1]) + ") ";
    std::vector<Seq> top;
    Parser prs{pat};
    const int32_t rs = prs.run(&top);
    if (cmp)
        *cmp = rs == 0 && !prs.grp_cnt;
    if (rs != 0 || prs.grp_cnt)
        return st == rs || (rs == 0 && (st == RTN_ERR1 || st == RTN_ERR))
                   ? ""
                   : what + "status should be " + std::to_string(rs);
    // Attempts start at characters only (s < n); anchored ones at 0.
    const size_t n = txt.size(), ns = opt & MTC_ANC ? std::min<size_t>(n, 1) : n;
    std::vector<std::vector<bool>> m(ns, std::vector<bool>(n + 1));
    long top_s = -1, top_e = -1, emin = -1;
    // By growing end: the first match has the least end; the last one
    // from the least start has the longest end from there.
    for (size_t e = 0; e <= n; e++) {
        Exact x{top, txt, e, {}};
        for (size_t s = 0; s < ns && s <= e; s++) {
            for (const Seq &a : top)
                m[s][e] = m[s][e] || x.seq(&a, 0, s, nullptr, 0);
            if (m[s][e] && (top_s < 0 || long(s) <= top_s)) {
                emin = emin < 0 ? long(e) : emin;
                top_s = long(s);
                top_e = long(e);
            }
        }
    }
    if (top_s < 0)
        return st == RTN_ERR1 || ((opt & MTC_ANC) && st == RTN_ERR) ? "" : what + "expected none";
    if (st != 0 || (opt & MTC_LNG))
        return st == 0 && long(rng[0]) == top_s && long(rng[1]) == top_e
                   ? ""
                   : what + "expected [" + std::to_string(top_s) + "," + std::to_string(top_e) +
                         ")";
    // Without MTC_LNG: a real match ending at the first possible end, or
    // one later (a match that needs the next character to end, as before
    // "$", is seen in the step where others take that character).
    const bool real = rng[0] < ns && rng[1] <= n && m[rng[0]][rng[1]];
    return real && long(rng[1]) - emin <= 1 && long(rng[1]) >= emin
               ? ""
               : what + "expected a match ending at " + std::to_string(emin);
}

// The characters the default decoder gives for s.
inline Text codes(const std::string &s)
{
    Text v;
    st_stream c = {};
    cstream_str_set(&c, s.c_str());
    for (int32_t ch; stream_pop(&c, &ch) == 0;)
        v.push_back(static_cast<uint32_t>(ch));
    stream_end(&c);
    return v;
}

} // namespace regexp_ref
