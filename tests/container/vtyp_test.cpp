// Variant value: packed layout of every combination of parts, strings and
// their capacity, links, release of owned parts (run under ASan), failure
// paths and key order.
#include "base/container/container.h"
#include "tests/diag/fixture.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>

namespace
{

using namespace diag_test;

constexpr size_t P = sizeof(void *);

// A value released at the end of the scope.
struct Val {
    void *v = nullptr;
    ~Val() { vtyp_end(v); }
};

TEST(Vtyp, PackedLayoutOfEveryCombinationOfParts)
{
    const uint8_t raw[3] = {1, 2, 3};
    const uint32_t len = 3;
    void *const zero[2] = {};
    for (int m = 0; m < 64; m++) {
        bool lnk = m & 1, two = (m & 3) == 3, nst = m & 4, map = m & 8, odr = m & 16, equ = m & 32,
             ext = two || odr || equ;
        st_vtyp_prm p = prm_of(VTYP_UDF, raw, len);
        p.flg |= VTYP_EXT | (lnk ? VTYP_LNK : 0) | (nst ? VTYP_NST : 0) | (map ? VTYP_MAP : 0);
        p.ext =
            VTYP_X_PRM | (two ? VTYP_X_TRD : 0) | (odr ? VTYP_X_ODR : 0) | (equ ? VTYP_X_EQU : 0);
        p.trd = two ? VTYP_T_LNK2 : 0;
        p.lnk[0] = fake(0x1001), p.lnk[1] = fake(0x1002), p.nst = fake(0x2000);
        p.odr[0] = fake(0x3001), p.odr[1] = fake(0x3002), p.odr[2] = fake(0x3003);
        p.equ = fake(0x4000);
        // An extension byte holding only the mark is dropped with its flag bit.
        uint8_t flg = p.flg & (ext ? 0xff : ~VTYP_EXT), xb = p.ext & ~VTYP_X_PRM;
        void *v;
        ASSERT_EQ(vtyp_set(&v, &p), 0);
        SCOPED_TRACE("parts " + std::to_string(m));
        // The parts in their fixed order and widths, from the layout rules alone.
        struct {
            bool on;
            size_t w;
            const void *want;
        } parts[] = {{true, 1, &flg},
                     {ext, 1, &xb},
                     {two, 1, &p.trd},
                     {map, 2 * P, zero},
                     {lnk, (two ? 2 : 1) * P, p.lnk},
                     {nst, P, &p.nst},
                     {odr, 3 * P, p.odr},
                     {equ, P, &p.equ},
                     {true, 4, &len},
                     {true, len, raw}};
        const char *b = static_cast<const char *>(v);
        size_t o = 0;
        for (auto &pt : parts) {
            if (pt.on) {
                EXPECT_EQ(std::memcmp(b + o, pt.want, pt.w), 0) << "part at byte " << o;
                o += pt.w;
            }
        }
        EXPECT_TRUE(vtyp_len(v) == o && __vtyp_chk(v));
        free(v); // not vtyp_end: the parts hold fake pointers
    }
}

TEST(Vtyp, StringCapacityAndInvalidKinds)
{
    struct {
        const char *str;
        uint32_t cap, siz;
    } cases[] = {{"ab", 16, 16}, {"hello", 0, 6}, {nullptr, 8, 8}, {nullptr, 0, 1}};
    for (auto &c : cases) {
        st_vtyp_prm p = prm_of(VTYP_STR, c.str, c.cap);
        Val v;
        ASSERT_EQ(vtyp_set(&v.v, &p), 0);
        uint32_t siz = 0;
        char *s = nullptr;
        EXPECT_TRUE(vtyp_get_siz(v.v, &siz) == 0 && siz == c.siz)
            << "capacity " << c.cap << " (an empty string keeps its terminator)";
        ASSERT_EQ(vtyp_get_str(v.v, &s), 0);
        EXPECT_STREQ(s, c.str ? c.str : "");
    }
    for (uint8_t bad : {0, 6, 7}) {
        st_vtyp_prm p = prm_of(bad, nullptr);
        void *v = &v;
        EXPECT_TRUE(vtyp_set(&v, &p) == 1 && v == &v) << "kind " << int(bad) << ": nothing stored";
        EXPECT_EQ(vtyp_get_prm(&bad, &p), 1) << "nor read from a packed header";
    }
}

// Links, the nest part and typed reads of a value (the order ring and the
// packed-key compare: the variant map's insertion-order and lookup tests).
TEST(Vtyp, LinksAndTypedReads)
{
    Val two, lv;
    int32_t n = 7, got = 99;
    st_vtyp_prm p = prm_of(VTYP_INT, &n);
    vtyp_set(&lv.v, &p);
    EXPECT_TRUE(vtyp_is_int(lv.v) == 0 && vtyp_is_str(lv.v) == -1) << "kind tests";
    void *out = &out;
    EXPECT_EQ(vtyp_get_lnk(lv.v, &out, 0), 1) << "no links at all";
    EXPECT_EQ(vtyp_get_nst(lv.v, &out), -1) << "no nest part";
    EXPECT_EQ(vtyp_get_str(lv.v, reinterpret_cast<char **>(&out)), -1) << "another kind";
    EXPECT_EQ(out, &out) << "the target stays as it was";
    p.flg |= VTYP_LNK | VTYP_EXT, p.ext = VTYP_X_PRM | VTYP_X_TRD, p.trd = VTYP_T_LNK2;
    vtyp_set(&two.v, &p);
    EXPECT_EQ(vtyp_put_lnk(two.v, lv.v, 1), 0) << "two links take index 1";
    lv.v = nullptr; // owned by two now
    EXPECT_EQ(vtyp_ref_lnk_val(two.v, 0, &out), -1) << "an empty link has no datum";
    ASSERT_EQ(vtyp_ref_lnk_val(two.v, 1, &out), 0);
    std::memcpy(&got, out, sizeof got); // data are unaligned
    EXPECT_EQ(got, 7);
    EXPECT_TRUE(vtyp_del_lnk(two.v, 1) == 0 && vtyp_get_lnk(two.v, &out, 1) == 0 && !out)
        << "the linked value was released and the link cleared";
}

TEST(Vtyp, ReleaseOwnsLinksEqualChainAndBufferAndFailuresLeaveNothing)
{
    // A key with a value and a chain of members: ASan reports a leak or a
    // double free when release misses or repeats any of them.
    st_vtyp_prm pr[2] = {prm_of(VTYP_STR, "k", 0, VTYP_X_PRM | VTYP_X_EQU), prm_of(VTYP_STR, "v")};
    void *key, *last;
    ASSERT_EQ(vtyp_set_pr(&key, pr), 0);
    last = key;
    for (int i = 0; i < 3; i++) {
        void *mem;
        ASSERT_EQ(vtyp_set_pr(&mem, pr), 0);
        EXPECT_EQ(vtyp_put_equ(last, mem), 0);
        last = mem;
    }
    // Halves with extension bytes that are not marked as parameters yet are
    // still taken as a pair: the value comes along.
    st_vtyp_prm xpr[2] = {prm_of(VTYP_STR, "k", 0, VTYP_X_EQU),
                          prm_of(VTYP_STR, "v", 0, VTYP_X_EQU)};
    Val xkey;
    void *xval = nullptr;
    ASSERT_EQ(vtyp_set_pr(&xkey.v, xpr), 0);
    EXPECT_TRUE(vtyp_get_lnk(xkey.v, &xval, 0) == 0 && xval) << "the value came along";
    Val cpy;
    ASSERT_EQ(_vtyp_set_pr(&cpy.v, key), 0) << "a packed key copies with its value";
    void *nxt = &nxt;
    EXPECT_TRUE(vtyp_get_equ(cpy.v, &nxt) == 0 && !nxt) << "the copy shares no chain";
    vtyp_end(key);

    st_vtyp_prm b = prm_of(VTYP_UDF, nullptr, 4, VTYP_X_PRM | VTYP_X_BUF);
    vtyp_prm_buf(&b, buf_var);
    Val bv;
    ASSERT_EQ(vtyp_set(&bv.v, &b), 0);
    void *dat;
    vtyp_ref_val(bv.v, &dat);
    void *hdl = static_cast<char *>(dat) + VTYP_BUF_HDL;
    ASSERT_EQ(buf_psh(hdl, &b.siz), 0); // any 4 bytes: the value owns an array now
    void *dup = &dup;
    EXPECT_EQ(vtyp_set(&dup, bv.v), -1) << "a buffer cannot be copied without its constructor";
    vtyp_prm_buf(&b, [](void *, uint32_t) { return -1; });
    EXPECT_EQ(vtyp_set(&dup, &b), -1) << "a failing constructor releases the block";
    __mem_fail_at(1);
    EXPECT_TRUE(vtyp_set(&dup, &pr[1]) == -1 && dup == &dup) << "no block: nothing stored";
    __mem_fail_at(1); // the key's value cannot be made (the variant map's puts fail the key)
    EXPECT_EQ(vtyp_set_pr(&dup, pr), -1);
    __mem_fail_at(0);
    EXPECT_TRUE(_vtyp_set_pr(&dup, nullptr) == -1 && _vtyp_set_pr(nullptr, pr) == -1);
}

// A key parameter, with a nest when has_nst.
st_vtyp_prm key(uint8_t knd, const void *dat, uint32_t siz = 0, bool has_nst = false,
                void *nst = nullptr)
{
    st_vtyp_prm p = prm_of(knd, dat, siz, VTYP_X_PRM);
    p.flg |= has_nst ? VTYP_NST : 0;
    p.nst = nst;
    return p;
}

TEST(Vtyp, KeyOrder)
{
    int32_t five = 5, minus = -5;
    double nan = std::nan(""), one = 1;
    st_vtyp_prm i5 = key(VTYP_INT, &five), n0 = key(VTYP_INT, &five, 0, true),
                lo = key(VTYP_STR, "z", 0, true, fake(UINTPTR_MAX)); // nest -1 as signed
    struct {
        st_vtyp_prm a, b;
        int sign;
        const char *why;
    } cases[] = {
        {i5, key(VTYP_STR, "5"), -1, "integers before strings"},
        {key(VTYP_INT, &minus), i5, -1, "signed integers"},
        {i5, n0, -1, "no nest before any nest"},
        {lo, n0, -1, "nests compare signed"},
        {key(VTYP_PTR, fake(1), 0, true, fake(8)), key(VTYP_PTR, fake(2), 0, true, fake(8)), 0,
         "pointers under one nest are one key"},
        {key(VTYP_UDF, "ab", 2), key(VTYP_UDF, "aa", 3), -1, "shorter raw bytes first"},
        {key(VTYP_FLT, &nan), key(VTYP_FLT, &one), 0, "NaN is neither smaller nor greater"},
    };
    for (auto &c : cases) {
        int32_t r = vtyp_map_cmp(&c.a, &c.b, 0);
        EXPECT_EQ((r > 0) - (r < 0), c.sign) << c.why;
    }
    EXPECT_EQ(vtyp_map_cmp_rng_nst(fake(UINTPTR_MAX), &lo, 0), 0);
    EXPECT_EQ(vtyp_map_cmp_rng_nst(nullptr, &lo, 0), 1) << "the range agrees with the order";
    EXPECT_EQ(vtyp_map_cmp_rng_nst(nullptr, &i5, 0), 1) << "no nest lies below every range";
}

} // namespace
