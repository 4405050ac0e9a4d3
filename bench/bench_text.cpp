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
    {"literal", "segfault"},
    {"class", "[a-z]+@[a-z]+\\.com"},
    {"alternation", "foo|bar|bazq"},
    {"count", "x{2,5}y"},
    {"line", "^ERROR.*timeout$"},
};

// 4 MB of lines that none of the patterns matches, then one line that
// every pattern matches.
const std::string &text()
{
    static std::string s;
    if (!s.empty())
        return s;
    static const char *words[] = {"INFO",  "WARN",    "request", "served", "user=alice",
                                  "proxy", "timeout", "path=/api/v1/items", "status=200",
                                  "in",    "12ms",    "from",    "10.0.0.7", "cache", "miss"};
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
        if (!re.Match(t, 0, t.size(), RE2::UNANCHORED, &mt, 1) || size_t(mt.data() - t.data()) < last_line())
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
        benchmark::RegisterBenchmark((n + "_ours").c_str(), BM_ours, c.pat)->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark((n + "_std_regex").c_str(), BM_std_regex, c.pat)
            ->Unit(benchmark::kMillisecond);
#ifdef RUNDIF_HAVE_RE2
        benchmark::RegisterBenchmark((n + "_re2").c_str(), BM_re2, c.pat)->Unit(benchmark::kMillisecond);
#endif
    }
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
