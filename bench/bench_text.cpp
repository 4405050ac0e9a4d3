// Pattern search: 4 MB of log-like lines whose only match for each pattern
// is on the very last line. Each case is timed three ways in one run:
// <case>_ours (the pattern compiled once, txt_mtc over the Shift-JIS
// character stream that strregexp makes), <case>_std_regex
// (std::regex_search, ECMAScript) and, when built with RE2, <case>_re2. Compare the pairs with
// --benchmark_format=json. Counter allocs: engine allocations per warm
// search (threads and state table).
#include "base/text/text.h"

#include <benchmark/benchmark.h>

#include <regex>
#include <string>
#ifdef RUNDIF_HAVE_RE2
#include <re2/re2.h>
#endif

namespace
{

struct Case {
    const char *name; // benchmark case
    const char *pat;  // the pattern, in the syntax all three share
};

const Case cases[] = {
    {"literal", "segfault"}, {"class", "[a-z]+@[a-z]+\\.com"}, {"alternation", "foo|bar|bazq"},
    {"count", "x{2,5}y"},    {"line", "^ERROR.*timeout$"},
};

// 4 MB of lines that none of the patterns matches, then one line that
// every pattern matches.
const std::string &text()
{
    static std::string s;
    if (!s.empty())
        return s;
    static const char *words[] = {"INFO",       "WARN",  "request", "served",
                                  "user=alice", "proxy", "timeout", "path=/api/v1/items",
                                  "status=200", "in",    "12ms",    "from",
                                  "10.0.0.7",   "cache", "miss"};
    uint32_t x = 12345;
    while (s.size() < (4u << 20)) {
        x = x * 1103515245 + 12345;
        s += (x >> 16) % 7 == 0 ? "ERROR" : "2026-12-07T08:00:01";
        for (int n = 4 + (x >> 20) % 8; n > 0; n--) {
            x = x * 1103515245 + 12345;
            s += ' ';
            s += words[(x >> 16) % 15];
        }
        s += " done\n";
    }
    s += "ERROR segfault bob@example.com bazq xxxy read timeout";
    return s;
}

// Where the last line starts: every match must be there.
size_t last_line()
{
    return text().rfind('\n') + 1;
}

void BM_ours(benchmark::State &state, const char *pat)
{
    const std::string &t = text();
    st_txt_mtc m = {};
    st_stream p = {};
    cstream_str_set(&p, pat);
    if (regexp_chk(&m, &p, nullptr) != 0)
        state.SkipWithError("compile");
    stream_end(&p);
    // The text's stream is made as strregexp makes it, outside the timing.
    st_stream chars = {};
    auto fresh = [&] {
        stream_end(&chars);
        cstream_str_set(&chars, t.c_str());
        txt_mtc_chk_rst(&m);
        m.pos = 0;
    };
    fresh();
    txt_mtc(&m, &chars); // warm: threads and the state table exist from here on
    const uint64_t alc = m.alc_cnt;
    for (auto _ : state) {
        state.PauseTiming();
        fresh();
        state.ResumeTiming();
        if (txt_mtc(&m, &chars) != 0 || m.mtc_top < last_line())
            state.SkipWithError("wrong match");
    }
    state.counters["allocs"] = double(m.alc_cnt - alc) / double(state.iterations());
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(t.size()));
    stream_end(&chars);
    txt_mtc_chk_end(&m);
}

void BM_std_regex(benchmark::State &state, const char *pat)
{
    const std::string &t = text();
    const std::regex re(pat, std::regex::ECMAScript | std::regex::multiline);
    for (auto _ : state) {
        std::smatch mt;
        if (!std::regex_search(t, mt, re) || size_t(mt.position(0)) < last_line())
            state.SkipWithError("wrong match");
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(t.size()));
}

#ifdef RUNDIF_HAVE_RE2
void BM_re2(benchmark::State &state, const char *pat)
{
    const std::string &t = text();
    RE2::Options o;
    o.set_longest_match(true); // leftmost-longest, as ours
    o.set_posix_syntax(true);
    o.set_one_line(false); // "^" and "$" at every line
    const RE2 re(pat, o);
    for (auto _ : state) {
        re2::StringPiece mt;
        if (!re.Match(t, 0, t.size(), RE2::UNANCHORED, &mt, 1) ||
            size_t(mt.data() - t.data()) < last_line())
            state.SkipWithError("wrong match");
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(t.size()));
}
#endif

} // namespace

int main(int argc, char **argv)
{
    for (const Case &c : cases) {
        const std::string n = c.name;
        benchmark::RegisterBenchmark((n + "_ours").c_str(), BM_ours, c.pat)
            ->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark((n + "_std_regex").c_str(), BM_std_regex, c.pat)
            ->Unit(benchmark::kMillisecond);
#ifdef RUNDIF_HAVE_RE2
        benchmark::RegisterBenchmark((n + "_re2").c_str(), BM_re2, c.pat)
            ->Unit(benchmark::kMillisecond);
#endif
    }
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}

// ---------------------------------------------------------------------------
// Variant-map text: writing and reading back maps of two levels (a top key
// with nine nested keys, short string values) in path and block layout,
// beside plain loops over the same text (std::getline, split at the first
// "=", std::map insert) and the same lines written from a std::map.
// ---------------------------------------------------------------------------

#include <map>
#include <sstream>

namespace
{

struct vmap_data {
    st_vmap map;                              // the map written
    std::string txt[2];                       // its text in path and block layout
    std::map<std::string, std::string> plain; // the same pairs, by path
};

std::string vmap_text(st_vmap *m, uint8_t lay)
{
    st_cstream_vmap_opt o{0, 0, 0, lay};
    st_stream w{};
    cstream_vmap(&w, m, nullptr, &o);
    std::string s;
    uint32_t ch[4096], got;
    while (stream_pop_blk(&w, ch, 4096, &got) == 0)
        for (uint32_t i = 0; i < got; i++)
            for (uint32_t c = ch[i]; c; c >>= 8)
                s += char(c & 0xFF);
    stream_end(&w);
    return s;
}

// The data for n keys, made once per size.
vmap_data &vmap_data_of(int64_t n)
{
    static std::map<int64_t, vmap_data *> made;
    vmap_data *&d = made[n];
    if (d)
        return *d;
    d = new vmap_data;
    vmap_set(&d->map, VMAP_NST);
    char k[32], v[32];
    for (int64_t i = 0; i < n / 10; i++) {
        void *top = nullptr;
        snprintf(k, sizeof k, "t%lld", (long long)i);
        _vmap_put_str_str(&d->map, nullptr, k, "top", &top, 0);
        d->plain[k] = "top";
        for (int j = 0; j < 9; j++) {
            char c[8];
            snprintf(c, sizeof c, "c%d", j);
            snprintf(v, sizeof v, "v%lld", (long long)(i * 10 + j));
            vmap_put_str_str(&d->map, top, c, v, 0);
            d->plain[std::string(k) + "/" + c] = v;
        }
    }
    d->txt[0] = vmap_text(&d->map, 0);
    d->txt[1] = vmap_text(&d->map, VMAP_FMT_BLK);
    return *d;
}

void BM_vmap_write_ours(benchmark::State &state, int lay)
{
    vmap_data &d = vmap_data_of(state.range(0));
    for (auto _ : state) {
        std::string s = vmap_text(&d.map, lay ? VMAP_FMT_BLK : 0);
        if (s.size() != d.txt[lay].size())
            state.SkipWithError("wrong text");
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(d.txt[lay].size()));
}

// The same lines from the std::map (block layout: a "[" ... "]" block of
// tab-indented children after each top key).
void BM_vmap_write_plain(benchmark::State &state, int lay)
{
    vmap_data &d = vmap_data_of(state.range(0));
    for (auto _ : state) {
        std::string s;
        bool open = false;
        for (const auto &[k, v] : d.plain) {
            const size_t sl = k.find('/');
            if (lay && sl == std::string::npos && open)
                s += "]\n";
            if (lay && sl != std::string::npos && !open)
                s += "[\n";
            open = lay && sl != std::string::npos;
            if (open) {
                s += '\t';
                s.append(k, sl + 1, std::string::npos);
            } else {
                s += k;
            }
            s += '=';
            s += v;
            s += '\n';
        }
        if (open)
            s += "]\n";
        benchmark::DoNotOptimize(s.data());
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(d.txt[lay].size()));
}

void BM_vmap_read_ours(benchmark::State &state, int lay)
{
    vmap_data &d = vmap_data_of(state.range(0));
    for (auto _ : state) {
        st_vmap m;
        st_stream src{};
        vmap_set(&m, VMAP_NST);
        cstream_str_set(&src, d.txt[lay].c_str());
        uint32_t cnt = 0;
        if (vmap_cstream(&m, nullptr, &src) != 0 || map_cnt(&m.map, &cnt) != 0 ||
            cnt != uint32_t(state.range(0)))
            state.SkipWithError("wrong read");
        stream_end(&src);
        vmap_end(&m);
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(d.txt[lay].size()));
}

void BM_vmap_read_plain(benchmark::State &state, int lay)
{
    vmap_data &d = vmap_data_of(state.range(0));
    for (auto _ : state) {
        std::map<std::string, std::string> m;
        std::istringstream in(d.txt[lay]);
        for (std::string line; std::getline(in, line);) {
            const size_t eq = line.find('=');
            if (eq != std::string::npos)
                m[line.substr(0, eq)] = line.substr(eq + 1);
        }
        benchmark::DoNotOptimize(m.size());
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(d.txt[lay].size()));
}

const bool vmap_registered = [] {
    const char *lay[2] = {"path", "block"};
    for (int l = 0; l < 2; l++) {
        const std::string n = lay[l];
        using fn_t = void (*)(benchmark::State &, int);
        const std::pair<std::string, fn_t> ops[] = {{"write_" + n + "_ours", BM_vmap_write_ours},
                                                    {"write_" + n + "_plain", BM_vmap_write_plain},
                                                    {"read_" + n + "_ours", BM_vmap_read_ours},
                                                    {"read_" + n + "_plain", BM_vmap_read_plain}};
        for (const auto &[op, fn] : ops)
            benchmark::RegisterBenchmark(op.c_str(), fn, l)
                ->Arg(10000)
                ->Arg(100000)
                ->Arg(1000000)
                ->Unit(benchmark::kMillisecond);
    }
    return true;
}();

} // namespace
