// Variant map: put modes in every map mode, equal chains, merge, rebuild,
// nested deletion, insertion order, callbacks, failures, the typed family,
// iteration in key and insertion order, and a random model check of a
// nested map and its walk against std::map.
#include "base/container/container.h"
#include "tests/diag/fixture.h"

#include <algorithm>
#include <map>
#include <random>
#include <string>
#include <vector>

namespace
{

using diag_test::prm_of;

// A variant map of the given mode, ended on scope exit.
struct VMap {
    st_vmap m{};
    explicit VMap(uint32_t mod) { EXPECT_EQ(vmap_set(&m, mod), 0); }
    ~VMap() { vmap_end(&m); }
};

// The string value of a key node (or member), "<none>" when it has none.
std::string val_of(const void *nod)
{
    char *s = nullptr;
    return vtyp_ref_lnk_val(nod, 0, &s) == 0 ? s : "<none>";
}

// A key node's or value's datum as text: its string, or its integer.
std::string name(const void *nod)
{
    char *s = nullptr;
    int32_t i = -999;
    if (vtyp_get_str(nod, &s) == 0)
        return s;
    vtyp_get_int(nod, &i);
    return std::to_string(i);
}

// The node count and whether the tree is still ordered, as "N ok".
std::string sum(VMap &v)
{
    uint32_t n = 0;
    map_cnt(&v.m.map, &n);
    return std::to_string(n) + (map_chk(&v.m.map, nullptr, nullptr) ? " unordered" : " ok");
}

// The equal chain's values behind a key node, the node's own first.
std::string chain(const void *nod)
{
    std::string s = val_of(nod);
    void *m = const_cast<void *>(nod);
    while (vtyp_get_equ(m, &m) == 0 && m)
        s.append(",").append(val_of(m));
    return s;
}

// An iterator walk with the given flags from stt as "key[=value] ...";
// with steered descent, dsc is the choice after every key.
std::string walk(VMap &v, uint32_t flg, int32_t dsc = 1, void *stt = nullptr)
{
    st_vmap_rng_itr itr;
    std::string s;
    int32_t d = 1, rc;
    void *n, *val;
    EXPECT_EQ(vmap_rng_pop_set(&v.m, stt, flg, &itr), 0);
    while ((rc = vmap_rng_pop(&itr, &n, d)) == 0) {
        s += name(n);
        if (vtyp_get_lnk(n, &val, 0) == 0 && val)
            s.append("=").append(name(val));
        s += " ";
        d = dsc;
    }
    EXPECT_EQ(rc, 1) << "the end is 1, never a failure";
    vmap_rng_pop_end(&itr);
    EXPECT_EQ(v.m.map.rtt_lck, 0) << "every level gave its lock back";
    return s;
}

TEST(Vmap, PutModesInEveryMapMode)
{
    for (uint32_t mod = 0; mod < 8; mod++) {
        SCOPED_TRACE("map mode " + std::to_string(mod));
        VMap v(mod);
        st_vmap_rng_itr itr;
        EXPECT_EQ(vmap_rng_pop_set(&v.m, nullptr, VMAP_RNG_ODR, &itr), mod & VMAP_ODR ? 0 : -1)
            << "insertion order only in ordered maps";
        vmap_rng_pop_end(&itr);
        std::string odr = mod & VMAP_ODR ? walk(v, VMAP_RNG_ODR) : "";
        EXPECT_EQ(walk(v, 0) + walk(v, VMAP_RNG_DSC) + odr, "") << "empty maps end with 1";
        void *n1 = nullptr, *n = nullptr;
        ASSERT_EQ(_vmap_put_str_str(&v.m, nullptr, "a", "1", &n1, 0), 0);
        ASSERT_EQ(_vmap_put_str_str(&v.m, nullptr, "a", "2", &n, 0), 0);
        EXPECT_TRUE(n == n1 && val_of(n1) == "2") << "mode 0 overwrites in place";
        int32_t keep = _vmap_put_str_str(&v.m, nullptr, "a", "3", &n, MAP_PUT_KEEP);
        EXPECT_EQ(keep, mod & VMAP_EQU ? 0 : -1) << "bit 1 keeps a present key or adds a member";
        st_vtyp_prm pr[2] = {prm_of(VTYP_STR, "a"), prm_of(VTYP_STR, "2b")};
        void *m = nullptr;
        EXPECT_EQ(_vmap_put_equ(&v.m, n1, pr, &m), mod & VMAP_EQU ? 0 : -1);
        if (mod & VMAP_EQU) {
            vmap_put_str_str(&v.m, nullptr, "a", "3b", MAP_PUT_KEEP);
            EXPECT_EQ(chain(n1), "2,2b,3,3b") << "KEEP appends, _vmap_put_equ links after mem";
            EXPECT_EQ(chain(m), "2b,3,3b") << "the new members are handed out";
            EXPECT_EQ(chain(n), "3,3b");
        }
        ASSERT_EQ(_vmap_put_str_str(&v.m, nullptr, "a", "4", &n, MAP_PUT_RPL), 0);
        EXPECT_TRUE(n != n1 && chain(n) == "4") << "bit 2 replaces the node and its chain";
        EXPECT_EQ(vmap_put_str_str(&v.m, nullptr, "a", "5", MAP_PUT_OLD_ONLY), 0);
        EXPECT_EQ(vmap_put_str_str(&v.m, nullptr, "b", "6", MAP_PUT_KEEP), 0);
        __mem_fail_at(1); // the new value cannot be made: the old one stays
        EXPECT_EQ(vmap_put_str_str(&v.m, nullptr, "a", "new", 0), -1);
        __mem_fail_at(2);
        EXPECT_EQ(vmap_put_str_str(&v.m, nullptr, "k", "v", 0), -1);
        __mem_fail_at(0);
        EXPECT_EQ(walk(v, mod & VMAP_ODR ? VMAP_RNG_ODR : 0u) + sum(v), "a=5 b=6 2 ok")
            << "failures changed nothing; in insertion order the replaced key kept its place";
        // A node made apart (maps of mode 0 only) is linked later; one whose
        // key is present stays the caller's.
        st_vtyp_prm mk[2] = {prm_of(VTYP_STR, "b"), prm_of(VTYP_STR, "7")};
        ASSERT_EQ(_vmap_mak(&v.m, mk, &m), mod ? -1 : 0);
        if (!mod) {
            EXPECT_EQ(vmap_put_nod(&v.m, m, MAP_PUT_END), 1);
            vtyp_end(m);
            mk[0] = prm_of(VTYP_STR, "ab");
            ASSERT_EQ(_vmap_mak(&v.m, mk, &m), 0);
            EXPECT_EQ(vmap_put_nod(&v.m, m, MAP_PUT_END), 0) << "a wrong end hint";
            EXPECT_EQ(walk(v, 0) + sum(v), "a=5 ab=7 b=6 3 ok");
        }
    }
}

// Rows r1 (nested integers 0..39, more than one collecting walk takes) and
// r2 (nested 1 and 2); r1's 33 holds a nested 7. Ordered too, so that
// deletions also unlink keys from their rings.
struct Rows : VMap {
    void *r1 = nullptr, *r2 = nullptr, *c = nullptr;
    Rows() : VMap(VMAP_NST | VMAP_ODR)
    {
        _vmap_put_str_str(&m, nullptr, "r1", "line 1", &r1, 0);
        _vmap_put_str_str(&m, nullptr, "r2", "line 2", &r2, 0);
        for (int32_t k = 0; k < 40; k++)
            vmap_put_int_int(&m, r1, k, 10 + k, 0);
        for (int32_t k : {1, 2})
            vmap_put_int_int(&m, r2, k, 20 + k, 0);
        vmap_ref_int(&m, r1, 33, &c);
        vmap_put_int_int(&m, c, 7, 77, 0);
    }
};

// Refuses the key "no" and the third call of all.
int32_t refuse(void *nod, uintptr_t arg)
{
    return ++*reinterpret_cast<int *>(arg) == 3 || name(nod) == "no";
}

TEST(Vmap, MergeRecursiveDeletionInANestedMapAndCallbacks)
{
    Rows v;
    VMap w(VMAP_NST);
    int32_t x = 42;
    void *p, *top;
    vmap_put_str_ptr(&v.m, nullptr, "p", &x, 0);
    _vmap_put_str_str(&w.m, nullptr, "top", "t", &top, 0);
    ASSERT_EQ(vmap_mrg(&w.m, top, &v.m), 0);
    ASSERT_EQ(vmap_bal(&w.m), 0);
    EXPECT_EQ(sum(w), "47 ok") << "merged and rebuilt: every key, in order";
    EXPECT_EQ(walk(w, VMAP_RNG_DSC, 1, top), walk(v, VMAP_RNG_DSC))
        << "merged: top-level keys under the given nest, nested keys under their copies";
    EXPECT_TRUE(vmap_get_str_ptr(&w.m, top, "p", &p) == 0 && p == &x) << "pointers copy as such";
    EXPECT_EQ(vmap_mrg(&w.m, nullptr, &w.m), -1);
    vmap_del_str(&v.m, nullptr, "p", 0);
    EXPECT_EQ(vmap_del_str(&v.m, nullptr, "r1", 0), -1) << "nested keys refuse it";
    EXPECT_EQ(vmap_del_int(&v.m, v.r1, 33, 0), -1) << "also one level down";
    EXPECT_EQ(_vmap_del_nod(&v.m, v.r2, 0), -1) << "also a held node";
    EXPECT_EQ(_vmap_del_nod(&v.m, nullptr, 1), -1);
    EXPECT_EQ(vmap_put_str_str(&v.m, nullptr, "r1", "new", MAP_PUT_RPL), -1)
        << "a replace would orphan the nested keys";
    EXPECT_EQ(sum(v) + val_of(v.r1), "45 okline 1");
    void *n;
    int calls = 0;
    uintptr_t arg = reinterpret_cast<uintptr_t>(&calls);
    vmap_lkg_fnc_bef_del(&v.m, refuse, arg);
    // Calls: r2, its first nested key (deleted), its second (refused).
    EXPECT_EQ(vmap_del_str(&v.m, nullptr, "r2", 1), -1);
    EXPECT_EQ(sum(v), "44 ok") << "nested keys deleted before the refusal stay deleted";
    vmap_lkg_fnc_bef_del(&v.m, nullptr, 0);
    EXPECT_EQ(_vmap_del_nod(&v.m, v.r1, 1), 0);
    EXPECT_EQ(walk(v, VMAP_RNG_DSC) + sum(v), "r2=line 2 2=22 2 ok")
        << "r1, its 40 keys and grandchild went; the other row stays";

    vmap_lkg_fnc_aft_put(&v.m, refuse, arg);
    vmap_lkg_fnc_aft_get(&v.m, refuse, arg);
    EXPECT_EQ(vmap_put_str_str(&v.m, nullptr, "no", "x", 0), -1);
    EXPECT_EQ(vmap_ref_str(&v.m, nullptr, "no", &n), -1) << "stored, but aft_get refuses";
    EXPECT_EQ(sum(v), "3 ok");
}

TEST(Vmap, InsertionOrderSurvivesDeleteAndReplace)
{
    VMap v(VMAP_NST | VMAP_ODR);
    void *b;
    for (const char *k : {"c", "a", "d"})
        vmap_put_str_str(&v.m, nullptr, k, k, 0);
    _vmap_put_str_str(&v.m, nullptr, "b", "b", &b, 0);
    for (const char *k : {"y", "x", "z"})
        vmap_put_str_str(&v.m, b, k, k, 0);
    const std::string pre = "c=c a=a d=d b=b y=y x=x z=z ";
    EXPECT_EQ(walk(v, VMAP_RNG_ODR) + walk(v, VMAP_RNG_ODR, 0), pre + pre)
        << "pre-order; d counts only with steering";
    EXPECT_EQ(walk(v, 0), "a=a b=b c=c d=d ") << "key order, no descent: the top level";
    EXPECT_EQ(walk(v, 0, 1, b), "x=x y=y z=z ") << "from a start key: its nested keys";
    vmap_del_str(&v.m, nullptr, "c", 0);
    vmap_del_str(&v.m, b, "y", 0);
    EXPECT_EQ(vmap_put_str_str(&v.m, nullptr, "d", "D", MAP_PUT_RPL), 0);
    vmap_put_str_str(&v.m, b, "x", "X", MAP_PUT_RPL);
    vmap_put_str_str(&v.m, b, "z", "Z", 0);
    EXPECT_EQ(walk(v, VMAP_RNG_ODR), "a=a d=D b=b x=X z=Z ")
        << "head and first child moved on; replaced and overwritten keys kept their places";
    EXPECT_EQ(vmap_del_str(&v.m, nullptr, "b", 1), 0);
    vmap_del_str(&v.m, nullptr, "a", 0);
    vmap_del_str(&v.m, nullptr, "d", 0);
    void *h = &h;
    EXPECT_TRUE(vmap_get_odr(&v.m, nullptr, &h) == 0 && !h) << "the last key clears head";
    VMap plain(0);
    EXPECT_EQ(vmap_get_odr(&plain.m, nullptr, &h), -1);
}

// The typed family, one row per key kind: put with a string, an integer or
// no value, ref and get, the string and integer getters, delete.
struct kind_ops {
    const char *kind;
    int32_t (*put_str)(st_vmap *, const char *val, uint32_t mode);
    int32_t (*put_int)(st_vmap *, int32_t val), (*get_int)(st_vmap *, int32_t *);
    int32_t (*put_nul)(st_vmap *);
    int32_t (*ref)(st_vmap *, void **), (*get)(st_vmap *, void **);
    int32_t (*get_str)(st_vmap *, char **);
    int32_t (*del)(st_vmap *);
};

// clang-format off
// A row for key kind K whose key arguments are the rest.
#define KIND(K, ...)                                                                               \
    {                                                                                              \
        #K,                                                                                        \
        [](st_vmap *m, const char *v, uint32_t md) {                                               \
            return vmap_put_##K##_str(m, 0, __VA_ARGS__, v, md);                                   \
        },                                                                                         \
        [](st_vmap *m, int32_t v) { return vmap_put_##K##_int(m, 0, __VA_ARGS__, v, 0); },          \
        [](st_vmap *m, int32_t *v) { return vmap_get_##K##_int(m, 0, __VA_ARGS__, v); },            \
        [](st_vmap *m) { return vmap_put_##K##_nul(m, 0, __VA_ARGS__, 0); },                       \
        [](st_vmap *m, void **n) { return vmap_ref_##K(m, 0, __VA_ARGS__, n); },                   \
        [](st_vmap *m, void **n) { return vmap_get_##K(m, 0, __VA_ARGS__, n); },                   \
        [](st_vmap *m, char **s) { return vmap_get_##K##_str(m, 0, __VA_ARGS__, s); },             \
        [](st_vmap *m) { return vmap_del_##K(m, 0, __VA_ARGS__, 0); }                              \
    }
// clang-format on
const kind_ops kinds[] = {KIND(int, 5), KIND(flt, .5), KIND(str, "k"), KIND(buf, "\0\1", 2)};
#undef KIND

TEST(Vmap, TypedFamilyForEveryKeyKind)
{
    VMap v(0); // the four kinds side by side are four keys
    char *s = nullptr;
    void *n = nullptr, *g = nullptr;
    int32_t i = 0;
    for (const kind_ops &k : kinds) {
        SCOPED_TRACE(k.kind);
        EXPECT_TRUE(k.ref(&v.m, &n) == -1 && k.get_int(&v.m, &i) == -1) << "missing";
        ASSERT_EQ(k.put_nul(&v.m) | k.get(&v.m, &n), 0);
        EXPECT_TRUE(k.get_str(&v.m, &s) == -1 && !s) << "no value: -1, the target stays";
        EXPECT_TRUE(vtyp_get_lnk(n, &g, 0) == 0 && !g) << "no value linked";
        ASSERT_EQ(k.put_int(&v.m, 12), 0);
        EXPECT_TRUE(k.get_int(&v.m, &i) == 0 && i == 12 && k.get_str(&v.m, &s) == -1 && !s)
            << "an integer value, no string";
        ASSERT_EQ(k.put_str(&v.m, k.kind, 0), 0);
        EXPECT_TRUE(k.get_int(&v.m, &i) == -1 && i == 12) << "a string value, no integer";
        ASSERT_EQ(k.ref(&v.m, &n) | k.get(&v.m, &g), 0);
        EXPECT_EQ(n, g) << "ref and get hand out the same key node";
        EXPECT_EQ(k.put_str(&v.m, "two", MAP_PUT_KEEP), -1);
    }
    EXPECT_EQ(sum(v), "4 ok");
    for (const kind_ops &k : kinds) {
        ASSERT_EQ(k.get_str(&v.m, &s), 0);
        EXPECT_EQ(std::string(s), k.kind);
        EXPECT_EQ(k.del(&v.m), 0);
        EXPECT_TRUE(k.del(&v.m) == -1 && k.ref(&v.m, &n) == -1) << k.kind << " deleted";
    }
}

TEST(Vmap, OtherValueKindsAndUnderscoreForms)
{
    VMap v(VMAP_NST);
    int32_t x = 42;
    double f = 0, one = 1.25;
    void *p = nullptr, *n, *r, *q, *pv = nullptr, *nst = &nst;
    ASSERT_EQ(_vmap_put_str_int(&v.m, nullptr, "i", 7, &n, 0), 0);
    ASSERT_EQ(_vmap_put_str_ptr(&v.m, nullptr, "p", &x, &q, 0), 0);
    ASSERT_EQ(_vmap_put_str_nul(&v.m, n, "nested", &r, 0), 0);
    ASSERT_EQ(vtyp_get_lnk(q, &pv, 0), 0);
    EXPECT_TRUE(vtyp_is_ptr(pv) == 0 && vtyp_is_flt(pv) == -1) << "the pointer value";
    EXPECT_TRUE(vtyp_get_nst(r, &nst) == 0 && nst == n) << "put under the nest";
    // The nest part of a key node is rewritten in place.
    EXPECT_EQ(vtyp_put_nst(r, nullptr) | vtyp_get_nst(r, &nst), 0);
    EXPECT_EQ(nst, nullptr);
    EXPECT_EQ(vtyp_put_nst(r, n) | vmap_ref_str(&v.m, n, "nested", &p), 0) << "back in place";
    EXPECT_TRUE(vtyp_put_nst(nullptr, n) == -1 && vtyp_put_nst(pv, n) == -1)
        << "no value, or a value without nest part";

    // The parameter forms: a key without value, the value's datum address.
    st_vtyp_prm k = prm_of(VTYP_FLT, &one);
    st_vtyp_prm pr[2] = {k, prm_of(VTYP_STR, "v")};
    ASSERT_EQ(_vmap_put_no_val(&v.m, &k, &n, 0), 0);
    EXPECT_TRUE(vtyp_is_flt(n) == 0 && vtyp_get_flt(n, &f) == 0 && f == 1.25);
    EXPECT_EQ(_vmap_get_val(&v.m, &k, &p), -1) << "no value";
    ASSERT_EQ(_vmap_put(&v.m, pr, &n, 0), 0);
    ASSERT_EQ(_vmap_get_val(&v.m, &k, &p), 0);
    EXPECT_STREQ(static_cast<char *>(p), "v");
    k.ext = VTYP_X_ODR;
    EXPECT_TRUE(_vmap_put_no_val(&v.m, &k, &n, 0) == -1 && _vmap_get(&v.m, &k, &n) == -1)
        << "puts and lookups take extension byte 0 only";
    k.flg |= VTYP_EXT, k.ext = VTYP_X_PRM | VTYP_X_BUF;
    pr[0] = k;
    EXPECT_EQ(_vmap_put(&v.m, pr, &n, 0), -1) << "a buffer-held key would move the tree links";
    EXPECT_EQ(vmap_put_str_str(&v.m, nullptr, nullptr, "v", 0), -1) << "no key text";
    pr[0] = prm_of(VTYP_UDF, nullptr);
    EXPECT_EQ(_vmap_put(&v.m, pr, &n, 0), 0) << "empty raw bytes need no datum";
    pr[0].siz = 4;
    EXPECT_EQ(_vmap_put(&v.m, pr, &n, 0), -1) << "other raw bytes do";
    pr[0] = prm_of(VTYP_INT, &x), pr[1].ext = VTYP_X_BUF; // ignored without VTYP_EXT
    ASSERT_EQ(_vmap_put(&v.m, pr, &n, 0), 0);
    EXPECT_TRUE(vtyp_ref_lnk_val(n, 0, &p) == 0 && std::string(static_cast<char *>(p)) == "v");

    std::string out = diag_test::written([&](FILE *fp) { EXPECT_EQ(vmap_prt(&v.m, fp, 0), 0); });
    EXPECT_EQ(std::to_string(std::count(out.begin(), out.end(), '\n')) + " ok", sum(v))
        << "one line per key";
}

// Random puts and deletes on rows with nested integers; after every step
// the walk (keys and values in key order) and the count match the model.
TEST(Vmap, RandomNestedMapAgainstModel)
{
    VMap v(VMAP_NST);
    std::map<std::string, std::pair<std::string, std::map<int32_t, int32_t>>> model;
    std::mt19937 rnd(7);
    for (int step = 0; step < 2000; step++) {
        std::string key = "row" + std::to_string(rnd() % 16);
        void *row = nullptr;
        int32_t col = static_cast<int32_t>(rnd() % 6) - 2, val = static_cast<int32_t>(rnd());
        bool has = vmap_ref_str(&v.m, nullptr, key.c_str(), &row) == 0;
        ASSERT_EQ(has, model.count(key) == 1) << key;
        switch (rnd() % 5) {
        case 0:
        case 1: {
            std::string text = "text " + std::to_string(val);
            ASSERT_EQ(vmap_put_str_str(&v.m, nullptr, key.c_str(), text.c_str(), 0), 0);
            model[key].first = text;
            break;
        }
        case 2:
            if (has) {
                ASSERT_EQ(vmap_put_int_int(&v.m, row, col, val, 0), 0);
                model[key].second[col] = val;
            }
            break;
        case 3:
            ASSERT_EQ(vmap_del_str(&v.m, nullptr, key.c_str(), 1), has ? 0 : -1);
            model.erase(key);
            break;
        default:
            if (has) {
                ASSERT_EQ(vmap_del_int(&v.m, row, col, 0), model[key].second.erase(col) ? 0 : -1);
            }
        }
        size_t cnt = 0;
        std::string want, top;
        for (auto &[k, r] : model) {
            want += k + "=" + r.first + " ";
            top += k + "=" + r.first + " ";
            for (auto [c, x] : r.second)
                want += std::to_string(c) + "=" + std::to_string(x) + " ";
            cnt += 1 + r.second.size();
        }
        ASSERT_EQ(walk(v, VMAP_RNG_DSC), want) << "key order, rows then their nested keys";
        ASSERT_EQ(walk(v, VMAP_RNG_DSC | VMAP_RNG_FIX), want) << "the same from a list";
        ASSERT_EQ(walk(v, VMAP_RNG_DSC, 0) + walk(v, VMAP_RNG_DSC | VMAP_RNG_FIX, 0), top + top)
            << "d = 0 skips the nested keys, also after a row without any";
        ASSERT_EQ(sum(v), std::to_string(cnt) + " ok") << "no key hidden from the walk";
    }
}

TEST(VmapItr, AllocationFailureIsNotTheEnd)
{
    for (uint32_t flg : {0u, unsigned{VMAP_RNG_DSC}, unsigned{VMAP_RNG_ODR}}) {
        Rows v;
        st_vmap_rng_itr itr;
        ASSERT_EQ(vmap_rng_pop_set(&v.m, v.r1, flg, &itr), 0);
        void *n = nullptr;
        int32_t rc, got = 0;
        __mem_fail_at(1);
        while ((rc = vmap_rng_pop(&itr, &n, 1)) == 0) {
            got++;
            n = nullptr;
            __mem_fail_at(1);
        }
        __mem_fail_at(0);
        EXPECT_EQ(rc, -1) << "flags " << flg << ": failed after " << got << " keys";
        EXPECT_EQ(n != nullptr, !(flg & VMAP_RNG_ODR))
            << "key order hands out the key it took; insertion order takes none before its level";
        vmap_rng_pop_end(&itr);
        EXPECT_EQ(v.m.map.rtt_lck, 0);
    }
}

} // namespace
