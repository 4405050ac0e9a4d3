// Streams: bytes per second through the character decoders over a string
// byte stream, the cost of building a text through cstream_vstr_set (it
// must grow linearly), and the tool's per-line path: decode each character,
// push it into a fresh line text, end the line at each line feed. And 5 MB
// of a command's output through the console's decoder over the process
// stream, with single pops and with block pops.
#include "base/os/os.h"
#include "base/stream/stream.h"

#include <benchmark/benchmark.h>

#include <clocale>
#include <cstdio>
#include <string>
#include <unistd.h>

namespace
{

// n bytes of text: ASCII words, two-byte Shift-JIS or three-byte UTF-8
// characters, line feeds every 55 bytes.
std::string sample(size_t n, bool utf8)
{
    std::string s;
    while (s.size() < n) {
        s += (s.size() + 1) % 55 == 0 ? "\n" : "proc ";
        s += utf8 ? "\xE3\x81\x82" : "\x82\xA0";
    }
    s.resize(n);
    return s;
}

void BM_decode(benchmark::State &state, bool utf8)
{
    const std::string s = sample(1 << 20, utf8);
    for (auto _ : state) {
        st_stream c;
        bstream_str_set(nullptr, s.c_str());
        utf8 ? cstream_utf8_btoc_set(&c, nullptr) : cstream_default_btoc_set(&c, nullptr);
        int32_t ch;
        while (stream_pop(&c, &ch) == 0)
            benchmark::DoNotOptimize(ch);
        stream_end(&c);
    }
    state.SetBytesProcessed(state.iterations() * s.size());
}
BENCHMARK_CAPTURE(BM_decode, sjis, false);
BENCHMARK_CAPTURE(BM_decode, utf8, true);

// One text of range(0) bytes pushed one character at a time.
void BM_vstr_build(benchmark::State &state)
{
    const int64_t n = state.range(0);
    for (auto _ : state) {
        char *txt = nullptr;
        st_stream c;
        cstream_vstr_set(&c, &txt);
        for (int32_t i = 0, ch = 'x'; i < n; i++)
            stream_psh(&c, &ch);
        stream_end(&c);
        benchmark::DoNotOptimize(txt);
        _free(&txt);
    }
    state.SetBytesProcessed(state.iterations() * n);
}
BENCHMARK(BM_vstr_build)->Arg(100 << 10)->Arg(1 << 20)->Unit(benchmark::kMillisecond);

// 100 000 lines of 55 bytes: decoder pops, one growable line text per line.
void BM_lines(benchmark::State &state, bool utf8)
{
    const std::string s = sample(100000 * 55, utf8);
    for (auto _ : state) {
        st_stream c, line;
        char *txt = nullptr;
        bstream_str_set(nullptr, s.c_str());
        utf8 ? cstream_utf8_btoc_set(&c, nullptr) : cstream_default_btoc_set(&c, nullptr);
        cstream_vstr_set(&line, &txt);
        int32_t ch;
        while (stream_pop(&c, &ch) == 0) {
            if (ch != '\n') {
                stream_psh(&line, &ch);
                continue;
            }
            stream_end(&line);
            _free(&txt);
            cstream_vstr_set(&line, &txt);
        }
        stream_end(&line);
        _free(&txt);
        stream_end(&c);
    }
    state.SetBytesProcessed(state.iterations() * s.size());
}
BENCHMARK_CAPTURE(BM_lines, sjis, false)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_lines, utf8, true)->Unit(benchmark::kMillisecond);

// 5 MB of sample text in the console's encoding, read back through
// `head -c` and the console's decoder: one pop per character, or block pops
// of up to 4096 characters.
void BM_process(benchmark::State &state, bool blk)
{
    setlocale(LC_CTYPE, "");
    const bool utf8 = cstream_console_utf8();
    const std::string s = sample(5 << 20, utf8);
    char path[] = "/tmp/bench_streams_XXXXXX";
    const int fd = mkstemp(path);
    if (fd < 0 || write(fd, s.data(), s.size()) != static_cast<ssize_t>(s.size())) {
        state.SkipWithError("cannot write the sample file");
        return;
    }
    close(fd);
    const std::string cmd = "head -c " + std::to_string(s.size()) + " " + path;
    static int32_t u[4096];
    for (auto _ : state) {
        st_stream c;
        stream_prc_set(nullptr, cmd.c_str(), PRC_STDOUT);
        cstream_console_btoc_set(&c, nullptr);
        uint32_t got = 0;
        while ((blk ? stream_pop_blk(&c, u, 4096, &got) : stream_pop(&c, u)) == 0)
            benchmark::DoNotOptimize(u[0]);
        stream_end(&c);
    }
    unlink(path);
    state.SetLabel(utf8 ? "utf8" : "sjis");
    state.SetBytesProcessed(state.iterations() * s.size());
}
BENCHMARK_CAPTURE(BM_process, single, false)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_process, block, true)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
