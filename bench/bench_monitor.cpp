// Times single runs of the monitor over prepared command outputs.
//
//   bench_monitor FILE1 FILE2 [KEY [WATCH]]
//
// Run 1 reads `cat FILE1` into an empty previous generation (every row is
// new); run 2 reads `cat FILE2` against it. The reports go to /dev/null
// through the output file channel. Prints the milliseconds of each run.
//   bench_monitor --memory FILE [RUNS]
//
// Runs the monitor RUNS times (200) over `cat FILE` and prints the live heap
// (mallinfo2) after the second and after the last run, and the number of
// resources still registered.
//
// Without arguments it runs as a Google Benchmark over generated data.
#include "main/rundif.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <malloc.h>
#include <string>

namespace
{

struct Monitor {
    st_settings set = {};
    st_generations gen = {};
    std::string cmd;

    Monitor(const char *key, const char *watch)
    {
        if (key)
            for (const char *p = key; p; p = strchr(p, ':'), p = p ? p + 1 : p)
                set.key[set.key_cnt++] = atoi(p);
        if (watch && strchr(watch, ':'))
            set.wtc[set.wtc_cnt++] = {atoi(watch), atoi(strchr(watch, ':') + 1)};
        set.sep = ' ';
        set.spn = 1;
        set.fil = fopen("/dev/null", "wb");
        generations_set(&gen);
    }
    ~Monitor()
    {
        generations_end(&gen);
        fclose(set.fil);
    }
    double run(const char *file)
    {
        cmd = std::string("cat ") + file;
        set.cmd = cmd.data();
        auto t0 = std::chrono::steady_clock::now();
        int32_t rc = monitor_run(&set, &gen, time(nullptr));
        auto t1 = std::chrono::steady_clock::now();
        if (rc != 0)
            fprintf(stderr, "run failed: %d\n", rc);
        return std::chrono::duration<double, std::milli>(t1 - t0).count();
    }
};

// Writes n process-table-like lines; variant 1 changes about 10% of rows.
std::string make_table(const char *path, int n, int variant)
{
    FILE *fp = fopen(path, "w");
    unsigned s = 12345;
    auto rnd = [&s] { return (s = s * 1103515245u + 12345u) >> 8; };
    for (int i = 0; i < n; i++) {
        unsigned r = rnd(), pid = (unsigned)i + 1, mem = rnd() % 900000;
        if (variant && r % 10 == 0)
            pid += 1000000, mem += 5000;
        fprintf(fp, "proc%-11u %7u %5u %8u Sxxxxxxxx\n", r % 5000, pid, r % 100, mem);
    }
    fclose(fp);
    return path;
}

void BM_MonitorSecondRun(benchmark::State &st)
{
    std::string a = make_table("/tmp/bench_monitor_1.txt", (int)st.range(0), 0);
    std::string b = make_table("/tmp/bench_monitor_2.txt", (int)st.range(0), 1);
    for (auto _ : st) {
        st.PauseTiming();
        Monitor m("0:1", "3:1000");
        m.run(a.c_str());
        st.ResumeTiming();
        m.run(b.c_str());
    }
    st.SetItemsProcessed(st.iterations() * st.range(0));
}
BENCHMARK(BM_MonitorSecondRun)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);

} // namespace

// Live heap growth over many runs of the same output.
int memory_check(const char *file, int runs)
{
    Monitor m("0:1", "3:1000");
    m.run(file);
    m.run(file);
    size_t before = mallinfo2().uordblks;
    for (int i = 2; i < runs; i++)
        m.run(file);
    size_t after = mallinfo2().uordblks;
    uint32_t cnt = 0;
    rscmng_cnt(nullptr, &cnt);
    printf("runs=%d live_after_run2=%zu live_after_last=%zu growth=%lld registered=%u\n", runs,
           before, after, (long long)after - (long long)before, cnt);
    return 0;
}

int main(int argc, char **argv)
{
    if (argc >= 3 && strcmp(argv[1], "--memory") == 0)
        return memory_check(argv[2], argc > 3 ? atoi(argv[3]) : 200);
    if (argc >= 3 && argv[1][0] != '-') {
        Monitor m(argc > 3 ? argv[3] : nullptr, argc > 4 ? argv[4] : nullptr);
        double t1 = m.run(argv[1]);
        double t2 = m.run(argv[2]);
        printf("run1_ms=%.1f run2_ms=%.1f\n", t1, t2);
        return 0;
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    return 0;
}
