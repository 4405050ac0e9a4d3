// Variant value as a map key: the key order, the range compare over one
// parent's children, the overwrite/make/release/print callbacks, and the
// order and equal chains kept in a value's own parts.
#include "base/container/container.h"

#include <cinttypes>

constexpr int32_t P = sizeof(void *);

const st_map_fnc vtyp_map_fnclst = {vtyp_map_cmp, vtyp_map_cpy, vtyp_map_mak, vtyp_map_del,
                                    vtyp_map_prt};

// ---------------------------------------------------------------------------
// Key order
// ---------------------------------------------------------------------------

template <class T>
static int32_t vtyp_cmp_num(const void *a, const void *b)
{
    T x, y;
    std::memcpy(&x, a, sizeof x);
    std::memcpy(&y, b, sizeof y);
    return (y < x) - (x < y); // NaN: neither smaller nor greater, so equal
}

// Same storage and kind: the data decide.
static int32_t vtyp_cmp_dat(const void *a, const __vtyp_lay *la, const void *b,
                            const __vtyp_lay *lb)
{
    if (la->ext & VTYP_X_STG)
        return 0; // buffer-held values are all equal
    const void *da = __vtyp_dat(a, la), *db = __vtyp_dat(b, lb);
    switch (la->flg & VTYP_KND) {
    case VTYP_UDF: {
        uint32_t sa, sb;
        std::memcpy(&sa, static_cast<const char *>(a) + la->siz, sizeof sa);
        std::memcpy(&sb, static_cast<const char *>(b) + lb->siz, sizeof sb);
        if (sa != sb)
            return sa < sb ? -1 : 1;
        return sa ? std::memcmp(da, db, sa) : 0;
    }
    case VTYP_INT:
        return vtyp_cmp_num<int32_t>(da, db);
    case VTYP_FLT:
        return vtyp_cmp_num<double>(da, db);
    case VTYP_STR:
        return std::strcmp(static_cast<const char *>(da), static_cast<const char *>(db));
    }
    return 0; // pointers
}

int32_t vtyp_map_cmp(const void *key, const void *nod_key, uintptr_t) noexcept
{
    __vtyp_lay la, lb;
    __vtyp_lay_get(key, &la);
    __vtyp_lay_get(nod_key, &lb);
    if ((la.nst < 0) != (lb.nst < 0))
        return la.nst < 0 ? -1 : 1;
    if (la.nst >= 0) {
        intptr_t na = reinterpret_cast<intptr_t>(__vtyp_ptr(key, la.nst));
        intptr_t nb = reinterpret_cast<intptr_t>(__vtyp_ptr(nod_key, lb.nst));
        if (na != nb)
            return na < nb ? -1 : 1;
    }
    int32_t d = (la.ext & VTYP_X_STG) - (lb.ext & VTYP_X_STG);
    if (d == 0)
        d = (la.flg & VTYP_KND) - (lb.flg & VTYP_KND);
    return d ? d : vtyp_cmp_dat(key, &la, nod_key, &lb);
}

// The nest is compared as the key order compares it (signed), so that the
// range is exactly the stretch the tree holds the children in.
int32_t vtyp_map_cmp_rng_nst(const void *par, const void *nod_key, uintptr_t) noexcept
{
    __vtyp_lay l;
    __vtyp_lay_get(nod_key, &l);
    if (l.nst < 0)
        return 1;
    intptr_t n = reinterpret_cast<intptr_t>(__vtyp_ptr(nod_key, l.nst));
    intptr_t p = reinterpret_cast<intptr_t>(par);
    return n == p ? 0 : n > p ? -1 : 1;
}

// ---------------------------------------------------------------------------
// Map callbacks
// ---------------------------------------------------------------------------

// The new linked value for an overwrite: made from the pair's value half or
// copied from a packed key's link 0; *val none for "no value".
static int32_t vtyp_cpy_val(const void *src, void **val)
{
    *val = nullptr;
    __vtyp_lay l;
    __vtyp_lay_get(src, &l);
    if (l.prm) {
        const st_vtyp_prm *v = static_cast<const st_vtyp_prm *>(src) + 1;
        if (!v->flg)
            return rtn_ok();
        return vtyp_set(val, v) == 0 ? rtn_ok() : rtn_fail(); // a marked half: a parameter
    }
    if (!l.nlnk)
        return rtn_fail();
    void *lnk = __vtyp_ptr(src, l.lnk);
    return (!lnk || __vtyp_cpy(val, lnk) == 0) ? rtn_ok() : rtn_fail();
}

// The new value is made before the old one is released, so a failure
// leaves the entry as it was.
int32_t vtyp_map_cpy(void *nod, const void *src, uintptr_t) noexcept
{
    void *old, *val = nullptr;
    if (vtyp_get_lnk(nod, &old, 0) != 0)
        return rtn_fail();
    if (src)
        RTN_TRY(vtyp_cpy_val(src, &val));
    vtyp_end(old);
    vtyp_put_lnk(nod, val, 0);
    return rtn_ok();
}

int32_t vtyp_map_mak(void **out, const void *src, uintptr_t) noexcept
{
    return _vtyp_set_pr(out, src);
}

void vtyp_map_del(void *nod, uintptr_t) noexcept
{
    vtyp_end(nod);
}

// ---------------------------------------------------------------------------
// Debug print
// ---------------------------------------------------------------------------

// Kind tag and datum (values held in the value only).
static void vtyp_prt_dat(FILE *fp, const void *val, const __vtyp_lay *l)
{
    static const char *const tag[] = {"", "UDF:", "INT:", "FLT:", "STR:", "", "", ""};
    uint8_t knd = l->flg & VTYP_KND;
    fputs(tag[knd], fp);
    if (l->ext & VTYP_X_STG)
        return;
    const void *d = __vtyp_dat(val, l);
    if (knd == VTYP_INT) {
        int32_t i;
        std::memcpy(&i, d, sizeof i);
        fprintf(fp, "%d", i);
    } else if (knd == VTYP_FLT) {
        double f;
        std::memcpy(&f, d, sizeof f);
        fprintf(fp, "%e", f);
    } else if (knd == VTYP_STR) {
        fputs(static_cast<const char *>(d), fp);
    }
}

// "[[" before each link, "]]" between them, "]] " at the end.
static void vtyp_prt_lnk(FILE *fp, const void *val, const __vtyp_lay *l)
{
    fputs("LINK=", fp);
    for (int i = 0; i < l->nlnk; i++) {
        fputs(i ? "]][[" : "[[", fp);
        const void *v = __vtyp_ptr(val, l->lnk + i * P);
        if (v)
            vtyp_map_prt(fp, v, 0);
        else
            fputs("00 00 ", fp);
    }
    fputs("]] ", fp);
}

void vtyp_map_prt(FILE *fp, const void *val, uintptr_t) noexcept
{
    __vtyp_lay l;
    __vtyp_lay_get(val, &l);
    fprintf(fp, "%02X %02X [", l.flg, l.ext);
    fputs((l.flg & VTYP_MAP) ? "MAP=ON  " : "MAP=OFF  ", fp);
    if (l.nst >= 0)
        fprintf(fp, "NEST=0x%08" PRIXPTR " ", reinterpret_cast<uintptr_t>(__vtyp_ptr(val, l.nst)));
    if (l.siz >= 0 && !l.prm) {
        uint32_t s;
        std::memcpy(&s, static_cast<const char *>(val) + l.siz, sizeof s);
        fprintf(fp, "SiZE=0x%08X ", s);
    }
    fputs((l.ext & VTYP_X_STG) ? "VAL=BUF/" : "VAL=PRM/", fp);
    vtyp_prt_dat(fp, val, &l);
    if (l.nlnk)
        vtyp_prt_lnk(fp, val, &l);
}

// ---------------------------------------------------------------------------
// Order chain
// ---------------------------------------------------------------------------

// Offset of a part (a member of __vtyp_lay), or -1 (also for none).
static int32_t vtyp_part_at(const void *val, int16_t __vtyp_lay::*part)
{
    if (!val)
        return -1;
    __vtyp_lay l;
    __vtyp_lay_get(val, &l);
    return l.*part;
}

// Offset of the order block, or -1.
static int32_t vtyp_odr_at(const void *val)
{
    return vtyp_part_at(val, &__vtyp_lay::odr);
}

// Word w (0 next, 1 previous, 2 first child) of a value's order block.
static void *odr_get(const void *val, int w)
{
    return __vtyp_ptr(val, vtyp_odr_at(val) + w * P);
}

static void odr_put(void *val, int w, void *p)
{
    __vtyp_ptr_put(val, vtyp_odr_at(val) + w * P, p);
}

int32_t vtyp_get_odr(const void *val, void **nxt, void **prv, void **cld) noexcept
{
    int32_t o = vtyp_odr_at(val);
    if (o < 0)
        return rtn_fail();
    void *w[3];
    std::memcpy(w, static_cast<const char *>(val) + o, sizeof w);
    if (nxt)
        *nxt = w[0];
    if (prv)
        *prv = w[1];
    if (cld)
        *cld = w[2];
    return rtn_ok();
}

int32_t vtyp_put_odr_cld_top(void *par, void *val) noexcept
{
    if (vtyp_odr_at(par) < 0)
        return rtn_fail();
    odr_put(par, 2, val);
    return rtn_ok();
}

// Links n in on side w of v (0: after, 1: before): n's w-word becomes v's
// old neighbour o on that side, n's other word v; v and o point at n.
static int32_t vtyp_ins_odr(void *v, void *n, int w)
{
    if (vtyp_odr_at(v) < 0 || vtyp_odr_at(n) < 0)
        return rtn_fail();
    void *o = odr_get(v, w);
    odr_put(n, w, o);
    odr_put(n, !w, v);
    odr_put(v, w, n);
    if (o)
        odr_put(o, !w, n);
    return rtn_ok();
}

int32_t vtyp_ins_odr_nxt(void *val, void *nval) noexcept
{
    return vtyp_ins_odr(val, nval, 0);
}

int32_t vtyp_ins_odr_bck(void *val, void *nval) noexcept
{
    return vtyp_ins_odr(val, nval, 1);
}

int32_t vtyp_cut_odr(void *val) noexcept
{
    if (vtyp_odr_at(val) < 0)
        return rtn_fail();
    void *nxt = odr_get(val, 0), *prv = odr_get(val, 1);
    if (nxt)
        odr_put(nxt, 1, prv);
    if (prv)
        odr_put(prv, 0, nxt);
    odr_put(val, 0, val);
    odr_put(val, 1, val);
    return rtn_ok();
}

// ---------------------------------------------------------------------------
// Equal chain
// ---------------------------------------------------------------------------

static int32_t vtyp_equ_at(const void *val)
{
    return vtyp_part_at(val, &__vtyp_lay::equ);
}

int32_t vtyp_get_equ(const void *val, void **out) noexcept
{
    int32_t at = vtyp_equ_at(val);
    if (at < 0)
        return rtn_fail();
    *out = __vtyp_ptr(val, at);
    return rtn_ok();
}

int32_t vtyp_put_equ(void *val, void *mem) noexcept
{
    int32_t at = vtyp_equ_at(val);
    if (at < 0)
        return rtn_fail();
    __vtyp_ptr_put(val, at, mem);
    return rtn_ok();
}
