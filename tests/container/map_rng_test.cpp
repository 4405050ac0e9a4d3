// Ordered map traversal: map_rng, map_cnt and the range iterator, against a
// std::set model and against each other.
#include "map_util.h"

#include <algorithm>
#include <random>

namespace
{

struct range {
    uint64_t lo, hi; // inclusive bounds
};

// 0 inside [lo, hi]; positive for a node below the range, negative above.
int32_t in_range(const void *key, const void *nod_key, uintptr_t)
{
    const range *r = static_cast<const range *>(key);
    uint64_t v = key_get(nod_key);
    return v < r->lo ? 1 : v > r->hi ? -1 : 0;
}

int32_t collect(void *nod, void *arg)
{
    static_cast<std::vector<uint64_t> *>(arg)->push_back(key_get(nod));
    return 0;
}

int32_t stop_at_once(void *, void *arg)
{
    ++*static_cast<int *>(arg);
    return 7;
}

std::vector<uint64_t> model_range(const std::set<uint64_t> &model, const range &r)
{
    if (r.lo > r.hi)
        return {};
    return {model.lower_bound(r.lo), model.upper_bound(r.hi)};
}

// Drains an iterator, looking up a few keys between pops; the last result
// goes to *end.
std::vector<uint64_t> drain(U64Map &m, const range *r, std::mt19937_64 &rnd, int32_t *end)
{
    st_map_rng_itr itr;
    std::vector<uint64_t> got;
    EXPECT_EQ(map_rng_pop_set(&m.m, r, r ? in_range : nullptr, 0, &itr), 0);
    EXPECT_EQ(m.m.rtt_lck, 1);
    void *nod;
    while ((*end = map_rng_pop(&itr, &nod)) == 0) {
        got.push_back(key_get(nod));
        m.get(rnd() % 1000, &nod);
    }
    map_rng_pop_end(&itr);
    EXPECT_EQ(m.m.rtt_lck, 0);
    return got;
}

// Builds a map from keys in the given order and runs every walk over the
// whole map and over random ranges.
void walks_agree(const std::vector<uint64_t> &keys, uint64_t seed)
{
    U64Map m;
    std::set<uint64_t> model(keys.begin(), keys.end());
    for (uint64_t k : keys)
        m.put(k);
    std::vector<uint64_t> all(model.begin(), model.end()), got;
    std::mt19937_64 rnd(seed);
    int32_t end;
    EXPECT_TRUE(map_rng(&m.m, nullptr, nullptr, collect, &got) == 0 && got == all);
    EXPECT_TRUE(drain(m, nullptr, rnd, &end) == all && end == 1);
    uint32_t cnt = 99;
    EXPECT_TRUE(map_cnt(&m.m, &cnt) == 0 && cnt == all.size());
    for (int i = 0; i < 300; i++) {
        range r = {rnd() % 1010, 0};
        r.hi = r.lo + rnd() % (i % 3 ? 40 : 400) - 5; // some empty, some wide
        std::vector<uint64_t> want = model_range(model, r);
        got.clear();
        ASSERT_EQ(map_rng(&m.m, &r, in_range, collect, &got), want.empty() ? 1 : 0);
        ASSERT_EQ(got, want) << "map_rng over [" << r.lo << ", " << r.hi << "]";
        ASSERT_TRUE(tree_ok(&m.m, model, true)) << "the walk's searches keep the shape";
        ASSERT_EQ(drain(m, &r, rnd, &end), want)
            << "iterator over [" << r.lo << ", " << r.hi << "]";
        ASSERT_EQ(end, 1);
    }
}

TEST(MapRng, WalksAndIteratorAgreeWithTheModel)
{
    std::vector<uint64_t> keys;
    for (uint64_t k = 0; k < 1000; k += 3)
        keys.push_back(k);
    walks_agree(keys, 1); // ascending: long left paths of out-of-range nodes
    std::reverse(keys.begin(), keys.end());
    walks_agree(keys, 2);
    std::shuffle(keys.begin(), keys.end(), std::mt19937_64(3));
    walks_agree(keys, 3);
    walks_agree({500}, 4);
    walks_agree({500, 499}, 5);
}

TEST(MapRng, EmptyAndStoppedWalks)
{
    U64Map m;
    int calls = 0;
    range none = {10, 20};
    EXPECT_EQ(map_rng(&m.m, nullptr, nullptr, stop_at_once, &calls), 0) << "empty map, no range";
    EXPECT_EQ(map_rng(&m.m, &none, in_range, stop_at_once, &calls), 1);
    uint32_t cnt = 5;
    EXPECT_TRUE(map_cnt(&m.m, &cnt) == 0 && cnt == 0 && calls == 0);

    st_map_rng_itr itr;
    void *nod;
    EXPECT_EQ(map_rng_pop_set(&m.m, nullptr, nullptr, 0, &itr), 0);
    EXPECT_EQ(map_rng_pop(&itr, &nod), -1) << "an empty map without range pops -1 first";
    EXPECT_EQ(map_rng_pop_end(&itr), 0);

    for (uint64_t k = 0; k < 1000; k++)
        m.put(k * 2);
    none = {31, 31};
    EXPECT_TRUE(map_rng(&m.m, &none, in_range, stop_at_once, &calls) == 1 && calls == 0)
        << "a range matching nothing calls nothing";
    EXPECT_TRUE(map_rng(&m.m, nullptr, nullptr, stop_at_once, &calls) == 1 && calls == 1)
        << "a stopping visitor is called once";
    range some = {100, 200};
    EXPECT_TRUE(map_rng(&m.m, &some, in_range, stop_at_once, &calls) == 1 && calls == 2);

    EXPECT_EQ(map_rng_pop_set(&m.m, &none, in_range, 0, &itr), 0);
    EXPECT_EQ(map_rng_pop(&itr, &nod), 1) << "nothing in range: the first pop ends";
    map_rng_pop_end(&itr);
    EXPECT_EQ(_map_rng_pop_set(&m.m, &none, in_range, 0, &itr, 1), 1) << "reported at set-up";
    map_rng_pop_end(&itr);
    EXPECT_EQ(m.m.rtt_lck, 0);
}

TEST(MapRng, IteratorsNestAndSurviveAllocationFailures)
{
    U64Map m;
    for (uint64_t k = 0; k < 100; k++)
        m.put(k);
    st_map_rng_itr a, b;
    map_rng_pop_set(&m.m, nullptr, nullptr, 0, &a);
    range r = {10, 60};
    map_rng_pop_set(&m.m, &r, in_range, 0, &b);
    EXPECT_EQ(m.m.rtt_lck, 2);
    map_rng_pop_end(&b);
    map_rng_pop_end(&a);
    map_rng_pop_end(&a); // a second end changes nothing
    EXPECT_EQ(m.m.rtt_lck, 0);

    __mem_fail_at(1);
    EXPECT_TRUE(map_rng_pop_set(&m.m, nullptr, nullptr, 0, &a) == -1 && m.m.rtt_lck == 1)
        << "the lock stays until the end call";
    map_rng_pop_end(&a);
    EXPECT_EQ(m.m.rtt_lck, 0);

    ASSERT_EQ(map_rng_pop_set(&m.m, nullptr, nullptr, 0, &a), 0);
    void *nod = nullptr;
    int32_t res = 0;
    uint64_t expect = 0;
    while (res == 0) { // fail the first pop that must stack a node
        __mem_fail_at(1);
        nod = nullptr;
        res = map_rng_pop(&a, &nod);
        ASSERT_NE(nod, nullptr);
        EXPECT_EQ(key_get(nod), expect++) << "nodes come in order up to the failure";
    }
    __mem_fail_at(0);
    EXPECT_EQ(res, -1);
    EXPECT_EQ(map_rng_pop_end(&a), 0) << "the record stays valid for its end";
    EXPECT_EQ(m.m.rtt_lck, 0);
}

} // namespace
