// Ordered map: put modes, order and red-black shape against a std::set model
// after every change, the walks and the range iterator over random ranges,
// the rotation lock, unaligned node layouts, the check and the print.
#include "base/container/container.h"
#include "tests/diag/fixture.h"

#include <algorithm>
#include <cmath>
#include <random>
#include <set>
#include <vector>

namespace
{

// Keys are 8 bytes stored big-endian, so byte order is numeric order.
uint64_t key_get(const void *p)
{
    uint64_t v;
    std::memcpy(&v, p, sizeof v);
    return __builtin_bswap64(v);
}

// An st_map of R-byte records keyed by their first 8 bytes; ended on scope exit.
struct U64Map {
    st_map m{};
    uint64_t rec[2] = {}; // the record of the latest call: the key, the payload
    explicit U64Map(uint32_t siz = 8) { st_map_set(&m, siz, 8); }
    ~U64Map() { map_end(&m); }
    const void *key(uint64_t v, uint64_t pay = 0)
    {
        rec[0] = __builtin_bswap64(v);
        rec[1] = __builtin_bswap64(pay);
        return rec;
    }
    int32_t put(uint64_t v, uint32_t md = 0, void **o = nullptr, uint64_t pay = 0)
    {
        return map_put(&m, key(v, pay), o, md);
    }
    int32_t get(uint64_t v, void **out) { return map_get(&m, key(v), out); }
    int32_t del(uint64_t v) { return map_del(&m, key(v)); }
};

// Height, black count and red run of the subtree at n, found by following
// the links directly (no library traversal); uneven when two paths hold
// different black counts, red3 when three red nodes lie in a row. Adds the
// keys in order to keys when given.
struct shape {
    int h = 0, blacks = 0, reds = 0; // reds: the red run that starts at n
    bool uneven = false, red3 = false;
};

shape shape_of(const st_map *m, const void *n, std::vector<uint64_t> *keys = nullptr)
{
    if (!n)
        return {};
    shape a = shape_of(m, map_nod_lnk(m, n, 0), keys);
    if (keys)
        keys->push_back(key_get(map_nod_key(m, n)));
    shape b = shape_of(m, map_nod_lnk(m, n, 1), keys);
    bool red = map_nod_red(m, n);
    shape s;
    s.h = 1 + std::max(a.h, b.h);
    s.blacks = a.blacks + !red;
    s.reds = red ? 1 + std::max(a.reds, b.reds) : 0;
    s.uneven = a.uneven || b.uneven || a.blacks != b.blacks;
    s.red3 = a.red3 || b.red3 || s.reds > 2;
    return s;
}

// Order (the in-order walk against the model). With rb (no delete since
// the map was empty or rebuilt, puts unlocked) also the red-black shape the
// map keeps: equal black counts, no three reds in a row, height within
// 2*log2(n+1).
::testing::AssertionResult tree_ok(st_map *m, const std::set<uint64_t> &model, bool rb)
{
    std::vector<uint64_t> keys;
    shape s = shape_of(m, m->root, &keys);
    if (!std::equal(keys.begin(), keys.end(), model.begin(), model.end()))
        return ::testing::AssertionFailure() << "in-order keys differ from the model";
    if (rb && (s.uneven || s.red3 || s.h > 2 * std::log2(model.size() + 1.0)))
        return ::testing::AssertionFailure() << "uneven black counts, three reds in a row or "
                                             << "height " << s.h << " for " << model.size();
    return ::testing::AssertionSuccess();
}

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

// map_cnt, map_rng and the iterator over the whole map and over a number of
// random ranges (some empty, some wide) against the model. The iterator is
// drained to its end (1) with lookups between pops: its lock keeps them from
// reshaping the tree.
void walks_agree(U64Map &m, const std::set<uint64_t> &model, std::mt19937_64 &rnd, bool rb,
                 int ranges)
{
    auto drain = [&](const range *r) {
        st_map_rng_itr itr;
        std::vector<uint64_t> got;
        void *nod;
        int32_t end;
        EXPECT_EQ(map_rng_pop_set(&m.m, r, r ? in_range : nullptr, 0, &itr), 0);
        while ((end = map_rng_pop(&itr, &nod)) == 0) {
            got.push_back(key_get(nod));
            m.get(rnd() % 3000, &nod);
        }
        map_rng_pop_end(&itr);
        EXPECT_TRUE(end == 1 && m.m.rtt_lck == 0) << "ends with 1 and gives the lock back";
        return got;
    };
    if (model.empty())
        return; // the empty map's walks have their own test
    std::vector<uint64_t> all(model.begin(), model.end()), got;
    uint32_t cnt = 0;
    ASSERT_TRUE(map_cnt(&m.m, &cnt) == 0 && cnt == all.size());
    ASSERT_TRUE(map_rng(&m.m, nullptr, nullptr, collect, &got) == 0 && got == all);
    ASSERT_EQ(drain(nullptr), all);
    for (int i = 0; i < ranges; i++) {
        range r = {rnd() % (all.back() + 10), 0};
        r.hi = r.lo + rnd() % (i % 3 ? 40 : 400) - 5;
        std::vector<uint64_t> want;
        if (r.lo <= r.hi)
            want.assign(model.lower_bound(r.lo), model.upper_bound(r.hi));
        got.clear();
        ASSERT_EQ(map_rng(&m.m, &r, in_range, collect, &got), want.empty() ? 1 : 0);
        ASSERT_EQ(got, want) << "map_rng over [" << r.lo << ", " << r.hi << "]";
        ASSERT_TRUE(tree_ok(&m.m, model, rb)) << "the walk's searches keep the shape";
        ASSERT_EQ(drain(&r), want) << "iterator over [" << r.lo << ", " << r.hi << "]";
    }
}

// Puts n keys 3 apart (ranges can fall between them) ascending, descending
// or shuffled, with lookups between them; deletes and puts at random, with
// no delete making the tree taller; rebuilds; puts again; deletes them all.
// The model and walks follow the changes (every step-th one in big runs).
// Records of 9 bytes put the links at odd offsets (they are read unaligned).
void balance_run(size_t n, int order, size_t step)
{
    std::vector<uint64_t> keys(n);
    for (size_t i = 0; i < n; i++)
        keys[i] = 3 * (order == 1 ? n - 1 - i : i);
    std::mt19937_64 rnd(order);
    if (order == 2)
        std::shuffle(keys.begin(), keys.end(), rnd);
    U64Map m(9);
    std::set<uint64_t> model;
    void *nod;
    // Deletes k; with chk, checks that the tree did not grow taller.
    auto del = [&](uint64_t k, bool chk) {
        int h = chk ? shape_of(&m.m, m.m.root).h : 0;
        int32_t rc = m.del(k);
        EXPECT_LE(chk ? shape_of(&m.m, m.m.root).h : 0, h) << "a delete never makes it taller";
        return rc;
    };
    // Every other key is made apart and linked as a node of its own.
    auto add = [&](uint64_t k, uint32_t md = 0) {
        void *made = nullptr;
        if (k % 2 && st_map_mak(&made, m.key(k), m.m.prm) == 0)
            ASSERT_EQ(map_put_nod(&m.m, made, md), 0);
        else
            ASSERT_EQ(m.put(k, md), 0);
        model.insert(k);
    };
    // The end hint is right for ascending keys and mostly wrong when shuffled.
    for (size_t i = 0; i < n; i++) {
        add(keys[i], order == 1 ? 0u : uint32_t{MAP_PUT_END});
        if (i % 3 == 0) {
            ASSERT_EQ(m.get(keys[rnd() % (i + 1)], &nod), 0);
        }
        if (i % step == 0) {
            ASSERT_TRUE(tree_ok(&m.m, model, true)) << "after " << i + 1 << " puts";
        }
    }
    walks_agree(m, model, rnd, true, step == 1 ? 200 : 5);
    for (size_t i = 0; i < 2 * n; i++) {
        uint64_t k = rnd() % (6 * n);
        bool chk = i % step == 0;
        if (rnd() % 3) {
            ASSERT_EQ(del(k, chk), model.erase(k) ? 0 : 1);
        } else {
            ASSERT_EQ(m.put(k, MAP_PUT_KEEP), model.insert(k).second ? 0 : 1);
        }
        if (chk) {
            ASSERT_TRUE(tree_ok(&m.m, model, false));
        }
    }
    walks_agree(m, model, rnd, false, step == 1 ? 200 : 5);
    // The churn wore the balance down; a rebuild restores it, and puts and
    // searches keep it from there.
    ASSERT_EQ(map_bal(&m.m), 0);
    ASSERT_TRUE(tree_ok(&m.m, model, true)) << "rebuilt";
    for (uint64_t k = 6 * n; k < 6 * n + n / 4; k++) {
        add(k);
        m.get(keys[rnd() % n], &nod); // searches interleaved
    }
    ASSERT_TRUE(tree_ok(&m.m, model, true)) << "puts after the rebuild";
    // Locked puts keep black counts equal but may hang red nodes under red
    // ones; unlocked searches over the new keys lift such runs. The lock is
    // a counter, and a rebuild is refused while it is held.
    map_rtt_lck(&m.m, 1);
    map_rtt_lck(&m.m, 1);
    map_rtt_lck(&m.m, 0);
    for (uint64_t k = 7 * n; k < 7 * n + n / 4; k++)
        add(k);
    EXPECT_FALSE(shape_of(&m.m, m.m.root).uneven) << "locked puts keep black counts equal";
    ASSERT_EQ(map_bal(&m.m), -1);
    map_rtt_lck(&m.m, 0);
    for (int pass = 0; pass < 3; pass++)
        for (uint64_t k = 7 * n; k < 7 * n + n / 4; k++)
            m.get(k, &nod);
    ASSERT_TRUE(tree_ok(&m.m, model, true)) << "unlocked searches lifted the red runs";
    std::vector<uint64_t> left(model.begin(), model.end());
    for (size_t i = 0; i < left.size(); i++)
        ASSERT_EQ(del(left[i], i % step == 0), 0);
    EXPECT_EQ(m.m.root, nullptr) << "deleting the last node empties the map";
}

TEST(Map, StaysOrderedAndBalancedUnderEveryWalk)
{
    for (int order : {0, 1, 2}) { // ascending, descending, shuffled
        for (size_t n : {1, 2, 1000})
            balance_run(n, order, 1);
        balance_run(20000, order, 499);
    }
}

// Second word of a 16-byte record: its payload.
uint64_t payload(const void *nod)
{
    return key_get(static_cast<const char *>(nod) + 8);
}

TEST(Map, PutModesAndResults)
{
    U64Map m(16);
    void *n = nullptr, *out = &out;
    EXPECT_EQ(m.get(5, &n), 1) << "a search in an empty map finds nothing";
    EXPECT_TRUE(m.put(5, MAP_PUT_OLD_ONLY, &out) == 1 && out == &out)
        << "bit 0 adds no missing key and leaves the node slot alone";

    ASSERT_EQ(m.put(5, 0, &n, 50), 0);

    EXPECT_TRUE(m.put(5, MAP_PUT_KEEP, &out, 51) == 1 && out == n && payload(n) == 50)
        << "bit 1 keeps a present key";
    EXPECT_TRUE(m.put(5, MAP_PUT_OLD_ONLY, &out, 51) == 0 && out == n && payload(n) == 51)
        << "bit 0 overwrites a present key";

    for (uint64_t k : {2, 8, 1, 9})
        m.put(k);
    void *old = nullptr;
    m.get(8, &old);
    void *l0 = map_nod_lnk(&m.m, old, 0), *l1 = map_nod_lnk(&m.m, old, 1);
    bool red = map_nod_red(&m.m, old);
    ASSERT_EQ(m.put(8, MAP_PUT_RPL, &out, 80), 0) << "bit 2 replaces the node";
    EXPECT_TRUE(out != old && payload(out) == 80);
    EXPECT_TRUE(map_nod_lnk(&m.m, out, 0) == l0 && map_nod_lnk(&m.m, out, 1) == l1 &&
                map_nod_red(&m.m, out) == red)
        << "the new node takes the old links and colour";

    // A make yielding no node counts as failure; a list without overwrite
    // refuses one (a failing overwrite: the variant map's put modes).
    st_map_fnc bad = {st_map_cmp, nullptr,
                      [](void **o, const void *, uintptr_t) {
                          *o = nullptr;
                          return 0;
                      },
                      st_map_del, nullptr};
    m.m.fnclst = &bad;
    EXPECT_EQ(m.put(50), -1) << "a make yielding no node";
    EXPECT_EQ(m.put(2, MAP_PUT_RPL), -1);
    EXPECT_EQ(m.put(2), -1) << "a list without overwrite refuses";
    m.m.fnclst = &st_map_fnclst;
    EXPECT_TRUE(tree_ok(&m.m, {1, 2, 5, 8, 9}, true)) << "failures leave the tree as it was";

    // A wrong end hint is only slower: the greatest key and an inner one
    // are overwritten in place, a smaller new key goes where it belongs.
    for (uint64_t k : {9, 5, 3})
        ASSERT_EQ(m.put(k, MAP_PUT_END, &out, 100 + k), 0);
    EXPECT_TRUE(m.get(9, &n) == 0 && payload(n) == 109 && m.get(5, &n) == 0 && payload(n) == 105);
    EXPECT_TRUE(tree_ok(&m.m, {1, 2, 3, 5, 8, 9}, true));
}

TEST(Map, EmptyStoppedAndFailingWalks)
{
    U64Map m;
    int calls = 0;
    range none = {10, 20};
    EXPECT_EQ(map_rng(&m.m, nullptr, nullptr, stop_at_once, &calls), 0) << "empty map, no range";
    EXPECT_EQ(map_rng(&m.m, &none, in_range, stop_at_once, &calls), 1);
    uint32_t cnt = 5;
    EXPECT_TRUE(map_cnt(&m.m, &cnt) == 0 && cnt == 0 && calls == 0);
    st_map_rng_itr a;
    void *nod = nullptr;
    EXPECT_EQ(map_rng_pop_set(&m.m, nullptr, nullptr, 0, &a), 0);
    EXPECT_EQ(map_rng_pop(&a, &nod), -1) << "an empty map without range pops -1 first";
    EXPECT_EQ(map_rng_pop_end(&a), 0);

    for (uint64_t k = 0; k < 100; k++)
        m.put(k * 2);
    EXPECT_TRUE(map_rng(&m.m, nullptr, nullptr, stop_at_once, &calls) == 1 && calls == 1)
        << "a stopping visitor is called once";
    none = {31, 31};
    EXPECT_EQ(_map_rng_pop_set(&m.m, &none, in_range, 0, &a, 1), 1) << "reported at set-up";
    map_rng_pop_end(&a);
    map_rng_pop_end(&a); // a second end changes nothing
    EXPECT_EQ(m.m.rtt_lck, 0);

    __mem_fail_at(1);
    EXPECT_TRUE(map_rng_pop_set(&m.m, nullptr, nullptr, 0, &a) == -1 && m.m.rtt_lck == 1)
        << "the lock stays until the end call";
    map_rng_pop_end(&a);
    EXPECT_EQ(m.m.rtt_lck, 0); // failing pops: the variant map iterator test
}

TEST(Map, PrintFormatAndCheck)
{
    st_map m{}; // as st_map_set(&m, 1, 1): links at 1 and 9, colour at 17
    map_set(&m, &st_map_fnclst, uintptr_t{1} << 16 | 1, 1, 9, 0, 17, 1);
    for (uint8_t k : {2, 1, 10})
        map_put(&m, &k, nullptr, 0);
    auto printed = [&](uint32_t flg) {
        return diag_test::written([&](FILE *fp) { map_prt(&m, fp, flg); });
    };
    EXPECT_EQ(printed(0), "01\n02\n0A\n");
    std::string tree = printed(MAP_PRT_TREE); // the root, then link 0's side, then link 1's
    size_t root = tree.find("02\n"), lo = tree.find("01\n"), hi = tree.find("0A\n");
    EXPECT_TRUE(root < lo && lo < hi && hi != std::string::npos) << tree;
    EXPECT_EQ(map_chk(&m, nullptr, nullptr), 0);
    *static_cast<uint8_t *>(map_nod_lnk(&m, m.root, 0)) = 4; // link-0 child now after its parent
    EXPECT_EQ(map_chk(&m, nullptr, nullptr), 1) << "found without a report callback";
    *static_cast<uint8_t *>(map_nod_lnk(&m, m.root, 0)) = 2;
    EXPECT_EQ(map_chk(&m, nullptr, nullptr), 1) << "equal keys are unordered too";
    EXPECT_EQ(map_end(&m), &m);
    EXPECT_EQ(printed(MAP_PRT_TREE), "");
    EXPECT_EQ(st_map_set(&m, 4, 5), -1) << "a key longer than its record";
    EXPECT_EQ(st_map_set(&m, UINT32_MAX - 7, 8), -1) << "offsets beyond 16 bits";
    EXPECT_EQ(st_map_set(&m, 32751, 8), 0) << "the largest record whose offsets fit";
}

} // namespace
