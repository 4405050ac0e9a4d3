// Variant map iteration: empty maps, key order with and without steered
// descent, insertion order, the rotation lock, and allocation failures.
#include "vmap_util.h"

#include <vector>

namespace
{

// A key node as text: its string, or its integer.
std::string name(const void *nod)
{
    return vtyp_is_str(nod) == 0 ? key_str(nod) : std::to_string(key_int(nod));
}

// Walks with the given flags; dsc(n) steers after the key n (when steering).
template <class F>
std::string walk(VMap &v, uint32_t flg, F dsc, void *stt = nullptr)
{
    st_vmap_rng_itr itr;
    std::string s;
    int32_t d = 1, rc;
    void *n;
    EXPECT_EQ(vmap_rng_pop_set(&v.m, stt, flg, &itr), 0);
    while ((rc = vmap_rng_pop(&itr, &n, d)) == 0) {
        s += name(n) + " ";
        d = dsc(n);
    }
    EXPECT_EQ(rc, 1) << "the end is 1, never a failure";
    vmap_rng_pop_end(&itr);
    EXPECT_EQ(v.m.map.rtt_lck, 0) << "every level gave its lock back";
    return s;
}

int32_t always(const void *)
{
    return 1;
}

int32_t below_rows(const void *n)
{
    return vtyp_is_int(n) == 0; // descend only from nested (integer) keys
}

// Top-level keys c, a, b put in that order, each with nested 2 then 1.
struct Three : VMap {
    explicit Three(uint32_t mod) : VMap(mod)
    {
        for (const char *k : {"c", "a", "b"}) {
            void *n;
            _vmap_put_str_str(&m, nullptr, k, k, &n, 0);
            vmap_put_int_nul(&m, n, 2, 0);
            vmap_put_int_nul(&m, n, 1, 0);
        }
    }
};

TEST(VmapItr, EmptyMapsEndWithOne)
{
    for (uint32_t mod : {0u, 1u, 2u, 3u, 4u}) {
        VMap v(mod);
        std::string odr = mod & VMAP_ODR ? walk(v, VMAP_RNG_ODR, always) : "";
        EXPECT_EQ(walk(v, 0, always) + walk(v, VMAP_RNG_DSC, always) + odr, "") << "mode " << mod;
    }
    VMap v(0);
    st_vmap_rng_itr itr;
    EXPECT_EQ(vmap_rng_pop_set(&v.m, nullptr, VMAP_RNG_ODR, &itr), -1) << "not ordered";
    vmap_rng_pop_end(&itr);
}

TEST(VmapItr, KeyOrderWithAndWithoutSteeredDescent)
{
    Three v(VMAP_NST);
    EXPECT_EQ(walk(v, 0, always), "a b c ") << "top level only, in key order";
    EXPECT_EQ(walk(v, VMAP_RNG_DSC, always), "a 1 2 b 1 2 c 1 2 ");
    EXPECT_EQ(walk(v, VMAP_RNG_DSC, below_rows), "a b c ") << "d = 0 skips the nested keys";
    void *b;
    vmap_ref_str(&v.m, nullptr, "b", &b);
    EXPECT_EQ(walk(v, 0, always, b), "1 2 ") << "from a start key: its nested keys";
}

TEST(VmapItr, InsertionOrderInPreOrder)
{
    Three v(VMAP_NST | VMAP_ODR);
    EXPECT_EQ(walk(v, VMAP_RNG_ODR, always), "c 2 1 a 2 1 b 2 1 ");
    EXPECT_EQ(walk(v, VMAP_RNG_ODR | VMAP_RNG_DSC, below_rows), "c a b ");
    Three w(VMAP_ODR); // not nested: the same six keys at the top level
    EXPECT_EQ(walk(w, VMAP_RNG_ODR, always), "c 2 1 a b ") << "equal integer keys overwrite";
}

TEST(VmapItr, AllocationFailureIsNotTheEnd)
{
    for (uint32_t flg : {0u, unsigned{VMAP_RNG_DSC}, unsigned{VMAP_RNG_ODR}}) {
        VMap v(VMAP_NST | VMAP_ODR);
        for (int k = 0; k < 15; k++) {
            void *n;
            _vmap_put_str_str(&v.m, nullptr, std::to_string(k + 10).c_str(), "x", &n, 0);
            vmap_put_int_nul(&v.m, n, 1, 0);
        }
        st_vmap_rng_itr itr;
        ASSERT_EQ(vmap_rng_pop_set(&v.m, nullptr, flg, &itr), 0);
        void *n;
        int32_t rc, got = 0;
        __mem_fail_at(1);
        while ((rc = vmap_rng_pop(&itr, &n, 1)) == 0) {
            got++;
            __mem_fail_at(1);
        }
        __mem_fail_at(0);
        EXPECT_EQ(rc, -1) << "flags " << flg << ": failed after " << got << " keys";
        vmap_rng_pop_end(&itr);
        EXPECT_EQ(v.m.map.rtt_lck, 0);
    }
}

} // namespace
