// Helpers of the map tests: 8-byte keys stored big-endian (so byte order is
// numeric order), an owning map, an independent in-order walk and a checker.
#pragma once

#include "base/container/container.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <set>
#include <vector>

inline uint64_t key_get(const void *p)
{
    uint64_t v;
    std::memcpy(&v, p, sizeof v);
    return __builtin_bswap64(v);
}

inline uint64_t key_be(uint64_t v)
{
    return __builtin_bswap64(v);
}

// An st_map of R-byte records keyed by their first 8 bytes; ended on scope exit.
struct U64Map {
    st_map m{};
    explicit U64Map(uint32_t rec = 8) { st_map_set(&m, rec, 8); }
    ~U64Map() { map_end(&m); }
    int32_t put(uint64_t v, uint32_t mode = 0, void **out = nullptr)
    {
        uint64_t rec[4] = {key_be(v), 0, 0, 0};
        return map_put(&m, rec, out, mode);
    }
    int32_t get(uint64_t v, void **out)
    {
        uint64_t k = key_be(v);
        return map_get(&m, &k, out);
    }
    int32_t del(uint64_t v)
    {
        uint64_t k = key_be(v);
        return map_del(&m, &k);
    }
};

// In-order keys by following the links directly (no library traversal).
inline void keys_of(const st_map *m, const void *n, std::vector<uint64_t> &out)
{
    if (!n)
        return;
    keys_of(m, map_nod_lnk(m, n, 0), out);
    out.push_back(key_get(map_nod_key(m, n)));
    keys_of(m, map_nod_lnk(m, n, 1), out);
}

// Height, black count and red run of the subtree at n; uneven when two paths
// hold different black counts, red3 when three red nodes lie in a row.
struct shape {
    int h = 0, blacks = 0, reds = 0; // reds: the red run that starts at n
    bool uneven = false, red3 = false;
};

inline shape shape_of(const st_map *m, const void *n)
{
    if (!n)
        return {};
    shape a = shape_of(m, map_nod_lnk(m, n, 0)), b = shape_of(m, map_nod_lnk(m, n, 1));
    bool red = map_nod_red(m, n);
    shape s;
    s.h = 1 + std::max(a.h, b.h);
    s.blacks = a.blacks + !red;
    s.reds = red ? 1 + std::max(a.reds, b.reds) : 0;
    s.uneven = a.uneven || b.uneven || a.blacks != b.blacks;
    s.red3 = a.red3 || b.red3 || s.reds > 2;
    return s;
}

inline int height(const st_map *m)
{
    return shape_of(m, m->root).h;
}

// Order (map_chk and the walk against the model). With rb (no delete since
// the map was empty, puts unlocked) also the red-black shape the map keeps:
// equal black counts, no three reds in a row, height within 2*log2(n+1).
inline ::testing::AssertionResult tree_ok(st_map *m, const std::set<uint64_t> &model, bool rb)
{
    if (map_chk(m, nullptr, nullptr) != 0)
        return ::testing::AssertionFailure() << "map_chk found an unordered pair";
    std::vector<uint64_t> keys;
    keys_of(m, m->root, keys);
    if (!std::equal(keys.begin(), keys.end(), model.begin(), model.end()))
        return ::testing::AssertionFailure() << "in-order keys differ from the model";
    shape s = shape_of(m, m->root);
    if (rb && (s.uneven || s.red3))
        return ::testing::AssertionFailure() << "black counts differ or three reds in a row";
    if (rb && s.h > 2 * std::log2(static_cast<double>(model.size()) + 1))
        return ::testing::AssertionFailure() << "height " << s.h << " for " << model.size();
    return ::testing::AssertionSuccess();
}
