// Variant value: packed layout of every combination of parts, strings and
// their capacity, links, release of owned parts (run under ASan), failure
// paths, key order, order chains and the debug print.
#include "base/container/container.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>

namespace
{

constexpr size_t P = sizeof(void *);

void *fake(uintptr_t v)
{
    return reinterpret_cast<void *>(v);
}

void *ptr_at(const void *v, size_t ofs)
{
    void *p;
    std::memcpy(&p, static_cast<const char *>(v) + ofs, P);
    return p;
}

void ptr_put(void *v, size_t ofs, void *p)
{
    std::memcpy(static_cast<char *>(v) + ofs, &p, P);
}

// A value released at the end of the scope.
struct Val {
    void *v = nullptr;
    ~Val() { vtyp_end(v); }
};

std::string printed(const void *v)
{
    char *buf = nullptr;
    size_t len = 0;
    FILE *fp = open_memstream(&buf, &len);
    vtyp_map_prt(fp, v, 0);
    fclose(fp);
    std::string s(buf, len);
    free(buf);
    return s;
}

st_vtyp_prm prm_of(uint8_t knd, const void *dat, uint32_t siz = 0)
{
    st_vtyp_prm p = {};
    p.flg = knd;
    p.dat = dat;
    p.siz = siz;
    return p;
}

TEST(Vtyp, PackedLayoutOfEveryCombinationOfParts)
{
    const char str[] = "hey";
    const uint8_t raw[3] = {1, 2, 3};
    const int32_t i = 0x01020304;
    const double f = 2.5;
    struct {
        uint8_t knd;
        const void *dat;
        uint32_t siz, dlen; // size field given, datum bytes expected
    } kinds[] = {{VTYP_UDF, raw, 3, 3},
                 {VTYP_INT, &i, 0, 4},
                 {VTYP_FLT, &f, 0, 8},
                 {VTYP_STR, str, 0, 4},
                 {VTYP_PTR, fake(0x5000), 0, P}};
    for (auto &k : kinds) {
        for (int m = 0; m < 64; m++) {
            bool lnk = m & 1, two = (m & 3) == 3, nst = m & 4, map = m & 8, odr = m & 16,
                 equ = m & 32;
            st_vtyp_prm p = prm_of(k.knd, k.dat, k.siz);
            p.flg |= VTYP_EXT | (lnk ? VTYP_LNK : 0) | (nst ? VTYP_NST : 0) | (map ? VTYP_MAP : 0);
            p.ext = VTYP_X_PRM | (two ? VTYP_X_TRD : 0) | (odr ? VTYP_X_ODR : 0) |
                    (equ ? VTYP_X_EQU : 0);
            p.trd = two ? VTYP_T_LNK2 : 0;
            p.lnk[0] = fake(0x1001), p.lnk[1] = fake(0x1002), p.nst = fake(0x2000);
            p.odr[0] = fake(0x3001), p.odr[1] = fake(0x3002), p.odr[2] = fake(0x3003);
            p.equ = fake(0x4000);
            void *v;
            ASSERT_EQ(vtyp_set(&v, &p), 0);
            SCOPED_TRACE("kind " + std::to_string(k.knd) + " parts " + std::to_string(m));
            // The parts in their fixed order, from the layout rules alone.
            bool ext = two || odr || equ;
            size_t o = 1 + ext + two, nl = two ? 2 : lnk ? 1 : 0;
            EXPECT_EQ(static_cast<uint8_t *>(v)[0], p.flg & (ext ? 0xff : ~VTYP_EXT));
            if (ext) {
                EXPECT_EQ(static_cast<uint8_t *>(v)[1], p.ext & ~VTYP_X_PRM);
            }
            if (map) {
                EXPECT_EQ(ptr_at(v, o), nullptr);
                EXPECT_EQ(ptr_at(v, o + P), nullptr);
                o += 2 * P;
            }
            for (size_t l = 0; l < nl; l++, o += P) {
                EXPECT_EQ(ptr_at(v, o), p.lnk[l]);
                ptr_put(v, o, nullptr); // the fakes must not be released
            }
            if (nst) {
                EXPECT_EQ(ptr_at(v, o), p.nst);
                o += P;
            }
            if (odr) {
                for (size_t w = 0; w < 3; w++)
                    EXPECT_EQ(ptr_at(v, o + w * P), p.odr[w]);
                ptr_put(v, o, v); // alone before release
                ptr_put(v, o + P, v);
                o += 3 * P;
            }
            if (equ) {
                EXPECT_EQ(ptr_at(v, o), p.equ);
                ptr_put(v, o, nullptr);
                o += P;
            }
            if (k.knd == VTYP_UDF || k.knd == VTYP_STR) {
                uint32_t s;
                std::memcpy(&s, static_cast<char *>(v) + o, 4);
                EXPECT_EQ(s, k.dlen);
                o += 4;
            }
            void *dat;
            vtyp_ref_val(v, &dat);
            EXPECT_EQ(static_cast<char *>(dat) - static_cast<char *>(v), static_cast<ptrdiff_t>(o));
            EXPECT_EQ(std::memcmp(dat, k.knd == VTYP_PTR ? &k.dat : k.dat, k.dlen), 0);
            EXPECT_EQ(vtyp_len(v), o + k.dlen);
            EXPECT_TRUE(__vtyp_chk(v));
            vtyp_end(v);
        }
    }
}

TEST(Vtyp, StringCapacityAndHeaderBytesDropped)
{
    Val a, b, c, d;
    st_vtyp_prm p = prm_of(VTYP_STR, "ab", 16);
    ASSERT_EQ(vtyp_set(&a.v, &p), 0);
    uint32_t siz;
    EXPECT_EQ(vtyp_get_siz(a.v, &siz), 0);
    EXPECT_EQ(siz, 16u) << "capacity 16 beats a length of 3";
    EXPECT_EQ(vtyp_len(a.v), 1 + 4 + 16u) << "no extension byte: flag, size, datum";
    char *s;
    ASSERT_EQ(vtyp_get_str(a.v, &s), 0);
    EXPECT_STREQ(s, "ab");
    std::memcpy(s, "fifteen-letters", 16); // overwritten in place within its size
    vtyp_get_str(a.v, &s);
    EXPECT_STREQ(s, "fifteen-letters");

    p = prm_of(VTYP_STR, "hello", 0);
    vtyp_set(&b.v, &p);
    vtyp_get_siz(b.v, &siz);
    EXPECT_EQ(siz, 6u);
    p = prm_of(VTYP_STR, nullptr, 8);
    vtyp_set(&c.v, &p);
    vtyp_get_siz(c.v, &siz);
    vtyp_get_str(c.v, &s);
    EXPECT_EQ(siz, 8u);
    EXPECT_STREQ(s, "");
    p = prm_of(VTYP_STR, nullptr, 0);
    vtyp_set(&d.v, &p);
    vtyp_get_siz(d.v, &siz);
    EXPECT_EQ(siz, 1u) << "an empty string still holds its terminator";

    p = prm_of(VTYP_INT, nullptr);
    p.flg |= VTYP_EXT;
    p.ext = VTYP_X_PRM; // an extension byte of just the mark is dropped
    Val e;
    ASSERT_EQ(vtyp_set(&e.v, &p), 0);
    EXPECT_EQ(static_cast<uint8_t *>(e.v)[0], VTYP_INT);
    EXPECT_EQ(vtyp_len(e.v), 5u);
    for (uint8_t bad : {0, 6, 7}) {
        p = prm_of(bad, nullptr);
        void *v = &v;
        EXPECT_EQ(vtyp_set(&v, &p), 1) << "kind " << int(bad);
        EXPECT_EQ(v, &v) << "nothing stored";
    }
}

TEST(Vtyp, LinksReadsAndKindChecks)
{
    Val two, one, none, lv;
    int32_t n = 7;
    st_vtyp_prm p = prm_of(VTYP_INT, &n);
    vtyp_set(&lv.v, &p);
    vtyp_set(&none.v, &p);
    p.flg |= VTYP_LNK;
    vtyp_set(&one.v, &p);
    p.flg |= VTYP_EXT, p.ext = VTYP_X_PRM | VTYP_X_TRD, p.trd = VTYP_T_LNK2;
    vtyp_set(&two.v, &p);
    void *out = &out;
    EXPECT_EQ(vtyp_put_lnk(two.v, lv.v, 1), 0) << "two links take index 1";
    lv.v = nullptr; // owned by two now
    EXPECT_EQ(vtyp_put_lnk(one.v, &n, 1), 1) << "one link refuses index 1";
    EXPECT_EQ(vtyp_get_lnk(none.v, &out, 0), 1) << "no links at all";
    EXPECT_EQ(vtyp_get_lnk(nullptr, &out, 0), -1);
    EXPECT_EQ(vtyp_ref_lnk_val(two.v, 0, &out), -1) << "an empty link has no datum";
    void *ip = nullptr;
    ASSERT_EQ(vtyp_ref_lnk_val(two.v, 1, &ip), 0);
    int32_t seven;
    std::memcpy(&seven, ip, sizeof seven); // data are unaligned
    EXPECT_EQ(seven, 7);
    EXPECT_EQ(vtyp_del_lnk(two.v, 1), 0);
    EXPECT_EQ(vtyp_get_lnk(two.v, &out, 1), 0);
    EXPECT_EQ(out, nullptr) << "the linked value was released and the link cleared";

    int32_t got = 99;
    double f = 0;
    uint32_t siz = 0;
    Val s;
    p = prm_of(VTYP_STR, "x");
    vtyp_set(&s.v, &p);
    EXPECT_EQ(vtyp_get_int(s.v, &got), -1);
    EXPECT_EQ(got, 99) << "the target stays as it was";
    EXPECT_EQ(vtyp_get_flt(none.v, &f), -1);
    EXPECT_EQ(vtyp_is_str(s.v), 0);
    EXPECT_EQ(vtyp_is_int(s.v), -1);
    EXPECT_EQ(vtyp_is_ptr(nullptr), -1);
    EXPECT_EQ(vtyp_get_nst(s.v, &out), -1) << "no nest part";
    p = prm_of(VTYP_FLT, &f);
    Val fv;
    vtyp_set(&fv.v, &p);
    EXPECT_EQ(vtyp_get_siz(fv.v, &siz), 0);
    EXPECT_EQ(siz, 8u);
}

TEST(Vtyp, ReleaseOwnsLinksEqualChainAndBuffer)
{
    // A key with a value and a chain of members: ASan reports a leak or a
    // double free when release misses or repeats any of them.
    st_vtyp_prm pr[2] = {prm_of(VTYP_STR, "k"), prm_of(VTYP_STR, "v")};
    pr[0].flg |= VTYP_EXT, pr[0].ext = VTYP_X_PRM | VTYP_X_EQU;
    void *key, *last;
    ASSERT_EQ(vtyp_set_pr(&key, pr), 0);
    last = key;
    for (int i = 0; i < 3; i++) {
        void *mem;
        ASSERT_EQ(vtyp_set_pr(&mem, pr), 0);
        EXPECT_EQ(vtyp_put_equ(last, mem), 0);
        last = mem;
    }
    Val cpy;
    ASSERT_EQ(_vtyp_set_pr(&cpy.v, key), 0) << "a packed key copies with its value";
    void *nxt = &nxt;
    EXPECT_EQ(vtyp_get_equ(cpy.v, &nxt), 0);
    EXPECT_EQ(nxt, nullptr) << "the copy shares no chain";
    vtyp_end(key);

    st_vtyp_prm b = prm_of(VTYP_UDF, nullptr, 4);
    b.flg |= VTYP_EXT, b.ext = VTYP_X_PRM | VTYP_X_BUF;
    vtyp_prm_buf(&b, buf_var);
    Val bv;
    ASSERT_EQ(vtyp_set(&bv.v, &b), 0);
    void *dat;
    vtyp_ref_val(bv.v, &dat);
    void *hdl = static_cast<char *>(dat) + VTYP_BUF_HDL;
    for (uint32_t i = 0; i < 100; i++)
        ASSERT_EQ(buf_psh(hdl, &i), 0);
    EXPECT_EQ(buf_cnt(hdl), 100u);
    void *dup = &dup;
    EXPECT_EQ(vtyp_set(&dup, bv.v), -1) << "a buffer cannot be copied without its constructor";
    vtyp_prm_buf(&b, [](void *, uint32_t) { return -1; });
    EXPECT_EQ(vtyp_set(&dup, &b), -1) << "a failing constructor releases the block";
}

TEST(Vtyp, AllocationFailuresLeaveNothing)
{
    st_vtyp_prm pr[2] = {prm_of(VTYP_STR, "k"), prm_of(VTYP_STR, "v")};
    void *v = &v;
    __mem_fail_at(1);
    EXPECT_EQ(vtyp_set(&v, &pr[0]), -1);
    EXPECT_EQ(v, &v);
    __mem_fail_at(2); // the value is made, the key fails: the value goes again
    EXPECT_EQ(vtyp_set_pr(&v, pr), -1);
    __mem_fail_at(1);
    EXPECT_EQ(vtyp_set_pr(&v, pr), -1);
    __mem_fail_at(0);
}

TEST(Vtyp, KeyOrder)
{
    auto key = [](uint8_t knd, const void *dat, uint32_t siz, void *nst, bool has_nst) {
        st_vtyp_prm p = prm_of(knd, dat, siz);
        p.flg |= VTYP_EXT | (has_nst ? VTYP_NST : 0);
        p.ext = VTYP_X_PRM;
        p.nst = nst;
        return p;
    };
    int32_t five = 5, minus = -5;
    double nan = std::nan(""), one = 1;
    st_vtyp_prm i5 = key(VTYP_INT, &five, 0, nullptr, false),
                s5 = key(VTYP_STR, "5", 0, nullptr, false);
    EXPECT_LT(vtyp_map_cmp(&i5, &s5, 0), 0) << "integers before strings";
    st_vtyp_prm im = key(VTYP_INT, &minus, 0, nullptr, false);
    EXPECT_LT(vtyp_map_cmp(&im, &i5, 0), 0) << "signed integers";
    st_vtyp_prm n0 = key(VTYP_INT, &five, 0, nullptr, true);
    EXPECT_LT(vtyp_map_cmp(&i5, &n0, 0), 0) << "no nest before any nest";
    st_vtyp_prm lo = key(VTYP_STR, "z", 0, fake(UINTPTR_MAX), true); // nest -1 as signed
    EXPECT_LT(vtyp_map_cmp(&lo, &n0, 0), 0) << "nests compare signed";
    EXPECT_EQ(vtyp_map_cmp_rng_nst(fake(UINTPTR_MAX), &lo, 0), 0);
    EXPECT_EQ(vtyp_map_cmp_rng_nst(nullptr, &lo, 0), 1) << "the range agrees with the order";
    EXPECT_EQ(vtyp_map_cmp_rng_nst(nullptr, &i5, 0), 1) << "no nest lies below every range";
    st_vtyp_prm p1 = key(VTYP_PTR, fake(1), 0, fake(8), true),
                p2 = key(VTYP_PTR, fake(2), 0, fake(8), true);
    EXPECT_EQ(vtyp_map_cmp(&p1, &p2, 0), 0) << "pointers under one nest are one key";
    st_vtyp_prm r2 = key(VTYP_UDF, "ab", 2, nullptr, false),
                r3 = key(VTYP_UDF, "aa", 3, nullptr, false);
    EXPECT_LT(vtyp_map_cmp(&r2, &r3, 0), 0) << "shorter raw bytes first";
    st_vtyp_prm fn = key(VTYP_FLT, &nan, 0, nullptr, false),
                f1 = key(VTYP_FLT, &one, 0, nullptr, false);
    EXPECT_EQ(vtyp_map_cmp(&fn, &f1, 0), 0) << "NaN is neither smaller nor greater";
    Val pk; // a packed key against its parameter
    vtyp_set(&pk.v, &s5);
    EXPECT_EQ(vtyp_map_cmp(&s5, pk.v, 0), 0);
}

TEST(Vtyp, OrderChainInsertAndCut)
{
    st_vtyp_prm p = prm_of(VTYP_INT, nullptr);
    p.flg |= VTYP_EXT, p.ext = VTYP_X_PRM | VTYP_X_ODR;
    Val a, b, c;
    vtyp_set(&a.v, &p), vtyp_set(&b.v, &p), vtyp_set(&c.v, &p);
    void *n, *r;
    vtyp_get_odr(a.v, &n, &r, nullptr);
    EXPECT_TRUE(n == a.v && r == a.v) << "a new value is a chain of one";
    ASSERT_EQ(vtyp_ins_odr_bck(a.v, b.v), 0);
    ASSERT_EQ(vtyp_ins_odr_nxt(a.v, c.v), 0); // ring a, c, b
    for (void *v : {a.v, c.v, b.v}) {
        vtyp_get_odr(v, &n, nullptr, nullptr);
        vtyp_get_odr(n, nullptr, &r, nullptr);
        EXPECT_EQ(r, v) << "next and previous agree";
    }
    vtyp_get_odr(a.v, &n, nullptr, nullptr);
    EXPECT_EQ(n, c.v);
    vtyp_get_odr(c.v, &n, nullptr, nullptr);
    EXPECT_EQ(n, b.v);
    EXPECT_EQ(vtyp_cut_odr(a.v), 0);
    vtyp_get_odr(b.v, &n, &r, nullptr);
    EXPECT_TRUE(n == c.v && r == c.v) << "b and c remain a ring of two";
    EXPECT_EQ(vtyp_ins_odr_nxt(a.v, nullptr), -1);
}

TEST(Vtyp, DebugPrint)
{
    int32_t n = 7;
    st_vtyp_prm pr[2] = {prm_of(VTYP_STR, "ab"), prm_of(VTYP_INT, &n)};
    Val v, k;
    vtyp_set(&v.v, &pr[1]);
    EXPECT_EQ(printed(v.v), "02 00 [MAP=OFF  VAL=PRM/INT:7");
    ASSERT_EQ(vtyp_set_pr(&k.v, pr), 0);
    EXPECT_EQ(
        printed(k.v),
        "14 00 [MAP=OFF  SiZE=0x00000003 VAL=PRM/STR:abLINK=[[02 00 [MAP=OFF  VAL=PRM/INT:7]] ");
    vtyp_del_lnk(k.v, 0);
    EXPECT_EQ(printed(k.v), "14 00 [MAP=OFF  SiZE=0x00000003 VAL=PRM/STR:abLINK=[[00 00 ]] ");
}

} // namespace
