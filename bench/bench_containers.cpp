// Ordered map against std::map and std::set: insert, look up and delete n
// distinct 8-byte keys in random order, in the same run.
#include "base/container/container.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <map>
#include <random>
#include <set>
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

const keys &keys_for(size_t n)
{
    static std::map<size_t, keys> cache;
    auto it = cache.find(n);
    if (it == cache.end())
        it = cache.emplace(n, keys(n)).first;
    return it->second;
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

} // namespace

BENCHMARK_MAIN();
