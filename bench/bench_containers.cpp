// Ordered map against std::map and std::set: insert, look up and delete n
// distinct 8-byte keys in random order, in the same run. Variant map against
// std::map<std::string, std::string>: put, get and delete n string keys of
// 20 bytes with values of 40 bytes, and the heap each holds per entry.
#include "base/container/container.h"

#include <benchmark/benchmark.h>

#include <chrono>

#include <malloc.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

namespace
{

// n distinct random keys in random order (fixed seed), and a second order
// for the lookups and deletions.
struct keys {
    std::vector<uint64_t> ins, del;
    explicit keys(size_t n)
    {
        std::mt19937_64 rnd(42);
        std::set<uint64_t> seen;
        while (seen.size() < n)
            seen.insert(rnd());
        ins.assign(seen.begin(), seen.end());
        std::shuffle(ins.begin(), ins.end(), rnd);
        del = ins;
        std::shuffle(del.begin(), del.end(), rnd);
    }
};

// The input set of n entries, made once per n.
template <class T>
const T &cached(size_t n)
{
    static std::map<size_t, T> cache;
    auto it = cache.find(n);
    if (it == cache.end())
        it = cache.emplace(n, T(n)).first;
    return it->second;
}

const keys &keys_for(size_t n)
{
    return cached<keys>(n);
}

void BM_st_map(benchmark::State &state)
{
    const keys &k = keys_for(state.range(0));
    for (auto _ : state) {
        st_map m{};
        st_map_set(&m, 8, 8);
        for (uint64_t v : k.ins)
            map_put(&m, &v, nullptr, 0);
        void *nod;
        for (uint64_t v : k.del)
            benchmark::DoNotOptimize(map_get(&m, &v, &nod));
        for (uint64_t v : k.del)
            map_del(&m, &v);
        benchmark::DoNotOptimize(m.root);
    }
    state.SetItemsProcessed(state.iterations() * 3 * k.ins.size());
}

// The same work on a standard container (std::map of key to 0, or std::set).
template <class C>
void BM_std(benchmark::State &state)
{
    const keys &k = keys_for(state.range(0));
    for (auto _ : state) {
        C m;
        for (uint64_t v : k.ins) {
            if constexpr (requires { typename C::mapped_type; })
                m.emplace(v, 0);
            else
                m.emplace(v);
        }
        for (uint64_t v : k.del)
            benchmark::DoNotOptimize(m.find(v));
        for (uint64_t v : k.del)
            m.erase(v);
        benchmark::DoNotOptimize(m.size());
    }
    state.SetItemsProcessed(state.iterations() * 3 * k.ins.size());
}

BENCHMARK(BM_st_map)->Arg(100000)->Arg(1000000)->Unit(benchmark::kMillisecond);

// Lookups of every key in a map worn by churn (half of the keys deleted
// and put back in another order, ten times), as it is (arg 1 = 0) or after
// map_bal (arg 1 = 1); the rebuild itself is timed apart as map_bal_ms.
void BM_st_map_churn(benchmark::State &state)
{
    const keys &k = keys_for(state.range(0));
    st_map m{};
    st_map_set(&m, 8, 8);
    for (uint64_t v : k.ins)
        map_put(&m, &v, nullptr, 0);
    std::mt19937_64 rnd(7);
    std::vector<uint64_t> half(k.del.begin(), k.del.begin() + k.del.size() / 2);
    for (int r = 0; r < 10; r++) {
        for (uint64_t v : half)
            map_del(&m, &v);
        std::shuffle(half.begin(), half.end(), rnd);
        for (uint64_t v : half)
            map_put(&m, &v, nullptr, 0);
    }
    double bal_ms = 0;
    if (state.range(1)) {
        auto t0 = std::chrono::steady_clock::now();
        map_bal(&m);
        bal_ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0)
                     .count();
    }
    m.rtt_lck = 1; // the lookups measure the shape as it is, without repairs
    for (auto _ : state) {
        void *nod;
        for (uint64_t v : k.del)
            benchmark::DoNotOptimize(map_get(&m, &v, &nod));
    }
    m.rtt_lck = 0;
    state.counters["map_bal_ms"] = bal_ms;
    state.SetItemsProcessed(state.iterations() * k.del.size());
    map_end(&m);
}
BENCHMARK(BM_st_map_churn)
    ->Args({100000, 0})
    ->Args({100000, 1})
    ->Args({1000000, 0})
    ->Args({1000000, 1})
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_std<std::map<uint64_t, uint64_t>>)
    ->Name("BM_std_map")
    ->Arg(100000)
    ->Arg(1000000)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_std<std::set<uint64_t>>)
    ->Name("BM_std_set")
    ->Arg(100000)
    ->Arg(1000000)
    ->Unit(benchmark::kMillisecond);

// n distinct 20-byte keys and 40-byte values in random order (fixed seed),
// and a second order for the lookups and deletions.
struct texts {
    std::vector<std::string> key, val, del;
    explicit texts(size_t n)
    {
        const keys &k = keys_for(n);
        char buf[64];
        for (uint64_t v : k.ins) {
            std::snprintf(buf, sizeof buf, "k-%017llu",
                          static_cast<unsigned long long>(v % 100000000000000000ull));
            key.emplace_back(buf);
            std::snprintf(buf, sizeof buf, "value of the row %016llx-%06zu",
                          static_cast<unsigned long long>(v), key.size() % 1000000);
            val.emplace_back(buf);
        }
        std::set<std::string> seen(key.begin(), key.end());
        key.assign(seen.begin(), seen.end()); // distinct after the cut to 17 digits
        val.resize(key.size());
        std::mt19937_64 rnd(7);
        std::shuffle(key.begin(), key.end(), rnd);
        del = key;
        std::shuffle(del.begin(), del.end(), rnd);
    }
};

// Heap bytes in use by the process.
size_t heap_used()
{
    return mallinfo2().uordblks;
}

// The three phases of one container: put every key, get every key, delete
// every key. Only the phase named by state.range(1) is timed (0 put, 1 get,
// 2 delete); the put phase also reports the heap held per entry.
template <class C>
void bench_phases(benchmark::State &state)
{
    const texts &t = cached<texts>(state.range(0));
    int phase = static_cast<int>(state.range(1));
    double per_entry = 0;
    for (auto _ : state) {
        state.PauseTiming();
        C c;
        size_t before = heap_used();
        if (phase == 0)
            state.ResumeTiming();
        for (size_t i = 0; i < t.key.size(); i++)
            c.put(t.key[i], t.val[i]);
        if (phase == 0)
            state.PauseTiming();
        per_entry = double(heap_used() - before) / double(t.key.size());
        if (phase == 1)
            state.ResumeTiming();
        for (const std::string &k : t.del)
            benchmark::DoNotOptimize(c.get(k));
        if (phase == 1)
            state.PauseTiming();
        if (phase == 2)
            state.ResumeTiming();
        for (const std::string &k : t.del)
            c.del(k);
        if (phase == 2)
            state.PauseTiming();
        state.ResumeTiming();
    }
    state.counters["heap_B_per_entry"] = per_entry;
    state.SetItemsProcessed(state.iterations() * t.key.size());
}

// Nested variant map, as the tool's row generations.
struct vmap_c {
    st_vmap m{};
    vmap_c() { vmap_set(&m, VMAP_NST); }
    ~vmap_c() { vmap_end(&m); }
    void put(const std::string &k, const std::string &v)
    {
        vmap_put_str_str(&m, nullptr, k.c_str(), v.c_str(), 0);
    }
    const char *get(const std::string &k)
    {
        char *s = nullptr;
        vmap_get_str_str(&m, nullptr, k.c_str(), &s);
        return s;
    }
    void del(const std::string &k) { vmap_del_str(&m, nullptr, k.c_str(), 1); }
};

struct std_c {
    std::map<std::string, std::string> m;
    void put(const std::string &k, const std::string &v) { m.insert_or_assign(k, v); }
    const char *get(const std::string &k)
    {
        auto it = m.find(k);
        return it == m.end() ? nullptr : it->second.c_str();
    }
    void del(const std::string &k) { m.erase(k); }
};

void phase_args(benchmark::internal::Benchmark *b)
{
    b->ArgNames({"n", "phase"});
    for (int p = 0; p < 3; p++)
        b->Args({1000000, p});
    b->Unit(benchmark::kMillisecond)->Iterations(3);
}

BENCHMARK(bench_phases<vmap_c>)->Name("BM_vmap_str")->Apply(phase_args);
BENCHMARK(bench_phases<std_c>)->Name("BM_std_map_str")->Apply(phase_args);

} // namespace

BENCHMARK_MAIN();
