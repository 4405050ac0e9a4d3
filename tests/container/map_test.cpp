// Ordered map: put modes, balance under insertion and deletion, the
// rotation lock, unaligned node layouts, check and print formats.
#include "map_util.h"
#include "tests/diag/fixture.h"

#include <algorithm>
#include <cinttypes>
#include <numeric>
#include <random>
#include <string>

namespace
{

// Second word of a 16-byte record: its payload.
uint64_t payload(const void *nod)
{
    uint64_t v;
    std::memcpy(&v, static_cast<const char *>(nod) + 8, sizeof v);
    return v;
}

std::string printed(st_map *m, uint32_t flg)
{
    return diag_test::written([&](FILE *fp) { map_prt(m, fp, flg); });
}

int32_t mak_fails(void **out, const void *, uintptr_t)
{
    *out = nullptr; // a null node counts as failure
    return 0;
}

int32_t cpy_fails(void *, const void *, uintptr_t)
{
    return -1;
}

TEST(Map, PutModesAndResults)
{
    U64Map m(16);
    void *n = nullptr, *out = &out;
    EXPECT_EQ(m.get(5, &n), 1) << "a search in an empty map finds nothing";
    EXPECT_TRUE(m.put(5, MAP_PUT_OLD_ONLY, &out) == 1 && out == &out)
        << "bit 0 adds no missing key and leaves the node slot alone";

    uint64_t rec[2] = {key_be(5), 50};
    ASSERT_EQ(map_put(&m.m, rec, &n, 0), 0);
    EXPECT_TRUE(map_nod_red(&m.m, n)) << "a new node hangs red";
    ASSERT_TRUE(m.get(5, &out) == 0 && out == n);
    EXPECT_FALSE(map_nod_red(&m.m, n)) << "the next search blackens the root";

    rec[1] = 51;
    EXPECT_TRUE(map_put(&m.m, rec, &out, MAP_PUT_KEEP) == 1 && out == n && payload(n) == 50)
        << "bit 1 keeps a present key";
    EXPECT_TRUE(map_put(&m.m, rec, &out, MAP_PUT_OLD_ONLY) == 0 && out == n && payload(n) == 51)
        << "bit 0 overwrites a present key";

    for (uint64_t k : {2, 8, 1, 9})
        m.put(k);
    void *old = nullptr;
    m.get(8, &old);
    void *l0 = map_nod_lnk(&m.m, old, 0), *l1 = map_nod_lnk(&m.m, old, 1);
    bool red = map_nod_red(&m.m, old);
    rec[0] = key_be(8);
    rec[1] = 80;
    ASSERT_EQ(map_put(&m.m, rec, &out, MAP_PUT_RPL), 0) << "bit 2 replaces the node";
    EXPECT_TRUE(out != old && payload(out) == 80);
    EXPECT_TRUE(map_nod_lnk(&m.m, out, 0) == l0 && map_nod_lnk(&m.m, out, 1) == l1 &&
                map_nod_red(&m.m, out) == red)
        << "the new node takes the old links and colour";
    EXPECT_TRUE(tree_ok(&m.m, {1, 2, 5, 8, 9}, true));

    st_map_fnc bad = {st_map_cmp, cpy_fails, mak_fails, st_map_del, nullptr};
    m.m.fnclst = &bad;
    EXPECT_EQ(m.put(50), -1) << "a make yielding no node";
    EXPECT_EQ(m.put(2, MAP_PUT_RPL), -1);
    EXPECT_EQ(m.put(2), -1) << "a failing overwrite";
    bad.cpy = nullptr;
    EXPECT_EQ(m.put(2), -1) << "a list without overwrite refuses";
    m.m.fnclst = &st_map_fnclst;
    EXPECT_EQ(m.del(7), 1) << "deleting a missing key changes nothing";
    EXPECT_TRUE(tree_ok(&m.m, {1, 2, 5, 8, 9}, true)) << "failures leave the tree as it was";
    for (uint64_t k : {5, 1, 9, 2, 8})
        EXPECT_EQ(m.del(k), 0);
    EXPECT_EQ(m.m.root, nullptr) << "deleting the only node empties the map";
}

// Puts the keys in the given order with repairing lookups between them and
// checks the red-black shape; then deletes and puts at random, checking
// order and that no delete makes the tree taller. Checks follow every
// change (every step-th one in big runs).
void balance_run(const std::vector<uint64_t> &keys, uint64_t seed, size_t step)
{
    U64Map m;
    std::set<uint64_t> model;
    std::mt19937_64 rnd(seed);
    void *n;
    for (size_t i = 0; i < keys.size(); i++) {
        ASSERT_EQ(m.put(keys[i]), 0);
        model.insert(keys[i]);
        if (i % 3 == 0) {
            ASSERT_EQ(m.get(keys[rnd() % (i + 1)], &n), 0);
        }
        if (i % step == 0) {
            ASSERT_TRUE(tree_ok(&m.m, model, true)) << "after " << i + 1 << " puts";
        }
    }
    ASSERT_TRUE(tree_ok(&m.m, model, true));
    uint64_t span = 2 * keys.size();
    for (size_t i = 0; i < 2 * keys.size(); i++) {
        uint64_t k = rnd() % span;
        bool chk = i % step == 0;
        int h = chk ? height(&m.m) : 0;
        if (rnd() % 3) {
            ASSERT_EQ(m.del(k), model.erase(k) ? 0 : 1);
            if (chk) {
                ASSERT_LE(height(&m.m), h) << "a delete never makes the tree taller";
            }
        } else {
            ASSERT_EQ(m.put(k, MAP_PUT_KEEP), model.insert(k).second ? 0 : 1);
        }
        if (chk) {
            ASSERT_TRUE(tree_ok(&m.m, model, false));
        }
    }
    // The churn wore the balance down; a rebuild restores it, and puts and
    // searches keep it from there. Refused while the lock is held.
    map_rtt_lck(&m.m, 1);
    ASSERT_EQ(map_bal(&m.m), -1);
    map_rtt_lck(&m.m, 0);
    ASSERT_EQ(map_bal(&m.m), 0);
    ASSERT_TRUE(tree_ok(&m.m, model, true)) << "rebuilt";
    for (uint64_t k = span; k < span + keys.size() / 4; k++) {
        ASSERT_EQ(m.put(k), 0);
        model.insert(k);
        m.get(keys[rnd() % keys.size()], &n); // searches interleaved
    }
    ASSERT_TRUE(tree_ok(&m.m, model, true)) << "puts after the rebuild";
    std::vector<uint64_t> left(model.begin(), model.end());
    for (size_t i = 0; i < left.size(); i++) {
        int h = i % step == 0 ? height(&m.m) : 0;
        ASSERT_EQ(m.del(left[i]), 0);
        if (h) {
            ASSERT_LE(height(&m.m), h);
        }
    }
    EXPECT_EQ(m.m.root, nullptr);
}

TEST(Map, StaysOrderedAndBalanced)
{
    U64Map asc;
    for (uint64_t k = 0; k < 1000; k++)
        asc.put(k);
    EXPECT_LT(asc.m.dpt_max, 20u) << "1000 ascending keys stay logarithmic";

    std::vector<uint64_t> keys(20000);
    std::iota(keys.begin(), keys.end(), 0);
    std::vector<uint64_t> small(keys.begin(), keys.begin() + 1000);
    balance_run(small, 1, 1);
    balance_run(keys, 1, 499);
    std::reverse(small.begin(), small.end());
    std::reverse(keys.begin(), keys.end());
    balance_run(small, 2, 1);
    balance_run(keys, 2, 499);
    std::shuffle(small.begin(), small.end(), std::mt19937_64(3));
    std::shuffle(keys.begin(), keys.end(), std::mt19937_64(3));
    balance_run(small, 3, 1);
    balance_run(keys, 3, 499);
}

TEST(Map, LockKeepsLookupsFromReshaping)
{
    U64Map m;
    for (uint64_t k = 0; k < 200; k++)
        m.put(k);
    void *n;
    m.get(0, &n); // the root is black from here on
    map_rtt_lck(&m.m, 1);
    map_rtt_lck(&m.m, 1);
    map_rtt_lck(&m.m, 0);
    EXPECT_EQ(m.m.rtt_lck, 1) << "the lock is a counter";
    std::string before = printed(&m.m, MAP_PRT_TREE | MAP_PRT_HDR);
    for (uint64_t k = 0; k < 200; k++)
        ASSERT_EQ(m.get(k, &n), 0);
    EXPECT_EQ(printed(&m.m, MAP_PRT_TREE | MAP_PRT_HDR), before);
    map_rtt_lck(&m.m, 0);
    for (uint64_t k = 0; k < 200; k++)
        ASSERT_EQ(m.get(k, &n), 0);
    EXPECT_NE(printed(&m.m, MAP_PRT_TREE | MAP_PRT_HDR), before)
        << "unlocked, the same lookups repair the pending red pairs";

    map_rtt_lck(&m.m, 1);
    for (uint64_t k = 200; k < 300; k++)
        m.put(k);
    shape s = shape_of(&m.m, m.m.root);
    EXPECT_FALSE(s.uneven) << "locked puts keep black counts equal";
    EXPECT_TRUE(s.red3) << "but hang red nodes under red ones";
    map_rtt_lck(&m.m, 0);
    std::vector<uint64_t> all(300);
    std::iota(all.begin(), all.end(), 0);
    for (int pass = 0; pass < 3; pass++)
        for (uint64_t k = 200; k < 300; k++)
            m.get(k, &n);
    EXPECT_TRUE(tree_ok(&m.m, {all.begin(), all.end()}, true)) << "unlocked lookups lift red runs";
}

// A packed node as the variant map uses: a 1-byte key, links at odd
// offsets, and a colour bit sharing its byte with the owner's bits.
struct packed_nod {
    uint8_t key;
    char lnk[2][sizeof(void *)];
    uint8_t flg; // bit 7 colour, bits 0..6 the owner's
};

int32_t pk_cmp(const void *a, const void *b, uintptr_t)
{
    return *static_cast<const uint8_t *>(a) - *static_cast<const uint8_t *>(b);
}

int32_t pk_mak(void **out, const void *src, uintptr_t)
{
    packed_nod *n = new packed_nod(*static_cast<const packed_nod *>(src));
    *out = n;
    return 0;
}

void pk_del(void *nod, uintptr_t prm)
{
    ++*reinterpret_cast<int *>(prm);
    delete static_cast<packed_nod *>(nod);
}

TEST(Map, UnalignedLinksAndSharedColourByte)
{
    static_assert(offsetof(packed_nod, lnk) == 1);
    int released = 0;
    const st_map_fnc fl = {pk_cmp, nullptr, pk_mak, pk_del, nullptr};
    st_map m{};
    map_set(&m, &fl, reinterpret_cast<uintptr_t>(&released), 1, 1 + sizeof(void *), 0,
            offsetof(packed_nod, flg), 0x80);
    std::vector<uint8_t> keys(256);
    std::iota(keys.begin(), keys.end(), 0);
    std::shuffle(keys.begin(), keys.end(), std::mt19937_64(9));
    for (uint8_t k : keys) {
        packed_nod src = {k, {}, static_cast<uint8_t>(k & 0x7f)};
        ASSERT_EQ(map_put(&m, &src, nullptr, 0), 0);
    }
    shape sh = shape_of(&m, m.root);
    EXPECT_FALSE(sh.uneven || sh.red3) << "the colour bit kept in a shared byte";
    for (uint8_t k : keys) { // odd keys stay; the owner's bits must too
        if (k % 2 == 0) {
            ASSERT_EQ(map_del(&m, &k), 0);
        }
    }
    EXPECT_EQ(map_chk(&m, nullptr, nullptr), 0);
    for (int i = 0; i < 256; i++) {
        uint8_t k = static_cast<uint8_t>(i);
        void *n;
        ASSERT_EQ(map_get(&m, &k, &n), i % 2 ? 0 : 1);
        if (i % 2) {
            EXPECT_EQ(static_cast<packed_nod *>(n)->flg & 0x7f, i & 0x7f);
        }
    }
    EXPECT_EQ(map_end(&m), &m);
    EXPECT_EQ(released, 256);
    EXPECT_EQ(m.root, nullptr);
}

using pairs = std::vector<std::pair<uint64_t, uint64_t>>;

void on_bad_pair(const void *nod, const void *cld, void *arg)
{
    static_cast<pairs *>(arg)->push_back({key_get(nod), key_get(cld)});
}

TEST(Map, CheckReportsUnorderedPairs)
{
    U64Map m;
    for (uint64_t k : {20, 10, 30})
        m.put(k);
    pairs bad;
    EXPECT_EQ(map_chk(&m.m, on_bad_pair, &bad), 0);
    uint64_t k = key_be(40); // the link-0 child now sorts after its parent
    std::memcpy(map_nod_lnk(&m.m, m.m.root, 0), &k, sizeof k);
    EXPECT_EQ(map_chk(&m.m, on_bad_pair, &bad), 1);
    EXPECT_EQ(bad, (pairs{{20, 40}}));
    EXPECT_EQ(map_chk(&m.m, nullptr, nullptr), 1) << "no report callback needed";
    k = key_be(20); // equal keys are unordered too
    std::memcpy(map_nod_lnk(&m.m, m.m.root, 0), &k, sizeof k);
    EXPECT_EQ(map_chk(&m.m, nullptr, nullptr), 1);
}

TEST(Map, PrintFormats)
{
    uint8_t rec[3] = {1, 2, 10};
    EXPECT_EQ(diag_test::written([&](FILE *fp) { st_map_prt(fp, rec, uintptr_t{3} << 16 | 3); }),
              "01 02 0A");
    st_map m{};
    st_map_set(&m, 1, 1);
    for (uint8_t k : {2, 1, 3})
        map_put(&m, &k, nullptr, 0);
    EXPECT_EQ(printed(&m, 0), "01\n02\n03\n");
    auto sp = [](int n) { return std::string(n, ' '); }; // markers' blanks even without markers
    EXPECT_EQ(printed(&m, MAP_PRT_TREE),
              sp(4) + "02\n" + sp(14) + "01\n" + sp(26) + sp(8) + "03\n" + sp(20));
    char hdr[3][64];
    const void *nod[3] = {map_nod_lnk(&m, m.root, 0), m.root, map_nod_lnk(&m, m.root, 1)};
    for (int i = 0; i < 3; i++)
        snprintf(hdr[i], 64, "[%08" PRIxPTR " %c] %02d\n", reinterpret_cast<uintptr_t>(nod[i]),
                 i == 1 ? '-' : '*', i + 1);
    EXPECT_EQ(printed(&m, MAP_PRT_HDR), std::string("=lnk-0=\n=lnk-0=\n") + hdr[0] + "=lnk-1=\n" +
                                            hdr[1] + "=lnk-1=\n=lnk-0=\n" + hdr[2] + "=lnk-1=\n");
    map_end(&m);
    EXPECT_EQ(printed(&m, MAP_PRT_TREE), "");
    uint8_t k1 = 1;
    EXPECT_EQ(map_put(&m, &k1, nullptr, 0), 0) << "an ended map is usable again";
    map_end(&m);
    EXPECT_EQ(st_map_set(&m, 4, 5), -1) << "a key longer than its record";
    EXPECT_EQ(st_map_set(&m, UINT32_MAX - 7, 8), -1) << "offsets beyond 16 bits";
    EXPECT_EQ(st_map_set(&m, 32751, 8), 0) << "the largest record whose offsets fit";
}

} // namespace
