// Variant value: layout from the header bytes, the constructor (packing a
// parameter, copying a packed value, expanding into a parameter), the pair
// constructor, release, links, nests and typed reads.
#include "base/container/container.h"

#include <algorithm>
#include <cassert>

constexpr int16_t P = sizeof(void *);

// ---------------------------------------------------------------------------
// Size field, validator and length (the layout itself is inline in the header)
// ---------------------------------------------------------------------------

static uint32_t vtyp_siz_of(const void *val, const __vtyp_lay *l)
{
    uint32_t s = 0;
    if (l->siz >= 0)
        std::memcpy(&s, static_cast<const char *>(val) + l->siz, sizeof s);
    return s;
}

bool __vtyp_chk(const void *val) noexcept
{
    __vtyp_lay l;
    __vtyp_lay_get(val, &l);
    uint8_t knd = l.flg & VTYP_KND;
    if (knd < VTYP_UDF || knd > VTYP_PTR || l.prm)
        return false;
    if ((l.flg & VTYP_RED) && !(l.flg & VTYP_MAP))
        return false;
    if ((l.flg & VTYP_EXT) && (l.ext == 0 || (l.ext & 0x40) || (l.ext & VTYP_X_STG) > 1))
        return false;
    return (l.trd & ~VTYP_T_LNK2) == 0;
}

uint32_t vtyp_len(const void *val) noexcept
{
    if (!val)
        return 0;
    __vtyp_lay l;
    __vtyp_lay_get(val, &l);
    if (l.ext & VTYP_X_STG)
        return l.dat + sizeof(st_buf);
    switch (l.flg & VTYP_KND) {
    case VTYP_INT:
        return l.dat + 4;
    case VTYP_FLT:
        return l.dat + 8;
    case VTYP_PTR:
        return l.dat + P;
    default:
        return l.dat + vtyp_siz_of(val, &l);
    }
}

// ---------------------------------------------------------------------------
// Constructor
// ---------------------------------------------------------------------------

// Header bytes of a new value: an extension byte that is 0 or only the
// parameter mark is dropped (and the third byte with it); a packed value
// never carries the mark, a colour or bits without a meaning.
static void vtyp_hdr_new(const __vtyp_lay *s, __vtyp_lay *d)
{
    uint8_t flg = s->flg & ~VTYP_RED;
    uint8_t ext = s->ext & (VTYP_X_STG | VTYP_X_TRD | VTYP_X_ODR | VTYP_X_EQU);
    if (ext == 0)
        flg &= ~VTYP_EXT;
    __vtyp_lay_hdr(d, flg, ext, s->trd & VTYP_T_LNK2);
    d->prm = false;
    __vtyp_lay_pck(d);
}

// Datum bytes of the new value; false for a storage it cannot make.
static bool vtyp_dat_len(const void *src, const __vtyp_lay *s, uint32_t *len)
{
    uint8_t stg = s->ext & VTYP_X_STG;
    if (stg == VTYP_X_BUF) { // only a parameter holds a constructor
        *len = sizeof(st_buf);
        return s->prm && static_cast<const st_vtyp_prm *>(src)->dat;
    }
    if (stg != 0)
        return false;
    switch (s->flg & VTYP_KND) {
    case VTYP_INT:
        *len = 4;
        return true;
    case VTYP_FLT:
        *len = 8;
        return true;
    case VTYP_PTR:
        *len = P;
        return true;
    case VTYP_UDF:
        *len = vtyp_siz_of(src, s);
        return true;
    }
    // A string: its length with terminator, or the capacity when larger;
    // never below 1, so that the datum is always terminated.
    const char *str = static_cast<const char *>(__vtyp_dat(src, s));
    size_t need = str ? std::strlen(str) + 1 : 1;
    if (need > UINT32_MAX - 64)
        return false;
    *len = std::max(static_cast<uint32_t>(need), vtyp_siz_of(src, s));
    return true;
}

// Parts between the header and the datum. A packed source is copied as a
// standalone value: its links, equal member and order neighbours are not
// shared; a parameter hands its links and pointers over.
static void vtyp_parts_put(char *v, const __vtyp_lay *d, const void *src, const __vtyp_lay *s,
                           uint32_t len)
{
    if (d->tre >= 0)
        std::memset(v + d->tre, 0, 2 * P);
    for (int i = 0; i < d->nlnk; i++)
        __vtyp_ptr_put(v, d->lnk + i * P, s->prm ? __vtyp_ptr(src, s->lnk + i * P) : nullptr);
    if (d->nst >= 0)
        __vtyp_ptr_put(v, d->nst, __vtyp_ptr(src, s->nst));
    if (d->odr >= 0) {
        void *o[3] = {};
        if (s->prm)
            std::memcpy(o, static_cast<const char *>(src) + s->odr, sizeof o);
        if (!o[0] && !o[1]) // a chain of one
            o[0] = o[1] = v;
        std::memcpy(v + d->odr, o, sizeof o);
    }
    if (d->equ >= 0)
        __vtyp_ptr_put(v, d->equ, s->prm ? __vtyp_ptr(src, s->equ) : nullptr);
    if (d->siz >= 0) {
        uint32_t siz = (d->ext & VTYP_X_STG) ? vtyp_siz_of(src, s) : len;
        std::memcpy(v + d->siz, &siz, sizeof siz);
    }
}

// The datum: copied, zero-filled for a null data pointer, or a buffer made
// by the parameter's constructor. False when the constructor fails.
static bool vtyp_dat_put(char *dat, const void *src, const __vtyp_lay *s, uint32_t len)
{
    std::memset(dat, 0, len);
    if (s->ext & VTYP_X_STG) {
        vtyp_buf_fn fn;
        std::memcpy(&fn, &static_cast<const st_vtyp_prm *>(src)->dat, sizeof fn);
        return fn(dat + VTYP_BUF_HDL, vtyp_siz_of(src, s)) == 0;
    }
    const void *from = __vtyp_dat(src, s);
    if (!from)
        return true;
    if ((s->flg & VTYP_KND) == VTYP_STR)
        std::memcpy(dat, from, std::strlen(static_cast<const char *>(from)) + 1);
    else
        std::memcpy(dat, from, len);
    return true;
}

// Packs src (either form, read by the layout s) into a new block.
// 0; 1 for an invalid kind; -1 for an impossible storage or a failure.
static int32_t vtyp_pck(void **out, const void *src, const __vtyp_lay *s)
{
    uint8_t knd = s->flg & VTYP_KND;
    if (knd < VTYP_UDF || knd > VTYP_PTR)
        return rtn_none();
    __vtyp_lay d;
    vtyp_hdr_new(s, &d);
    uint32_t len;
    if (!vtyp_dat_len(src, s, &len))
        return rtn_fail();
    char *v;
    RTN_TRY(_malloc(&v, static_cast<size_t>(d.dat) + len));
    v[0] = static_cast<char>(d.flg);
    if (d.flg & VTYP_EXT)
        v[1] = static_cast<char>(d.ext);
    if (d.ext & VTYP_X_TRD)
        v[2] = static_cast<char>(d.trd);
    vtyp_parts_put(v, &d, src, s, len);
    if (!vtyp_dat_put(v + d.dat, src, s, len)) {
        _free(&v);
        return rtn_fail();
    }
    assert(__vtyp_chk(v));
    *out = v;
    return rtn_ok();
}

int32_t __vtyp_cpy(void **out, const void *val) noexcept
{
    __vtyp_lay s;
    __vtyp_lay_get(val, &s);
    return vtyp_pck(out, val, &s);
}

int32_t vtyp_set(void **out, const void *src) noexcept
{
    if (!out || !src)
        return rtn_fail();
    st_vtyp_prm cpy;
    if (!(static_cast<const uint8_t *>(src)[0] & VTYP_EXT)) { // a parameter all the same
        std::memcpy(&cpy, src, sizeof cpy);
        cpy.flg |= VTYP_EXT;
        cpy.ext = VTYP_X_PRM;
        src = &cpy;
    }
    __vtyp_lay s;
    __vtyp_lay_get(src, &s);
    return vtyp_pck(out, src, &s);
}

int32_t vtyp_get_prm(const void *val, st_vtyp_prm *out) noexcept
{
    if (!val || !out)
        return rtn_fail();
    __vtyp_lay s;
    __vtyp_lay_get(val, &s);
    uint8_t knd = s.flg & VTYP_KND;
    if (knd < VTYP_UDF || knd > VTYP_PTR)
        return rtn_none();
    std::memset(out, 0, sizeof *out);
    out->flg = (s.flg & ~VTYP_RED) | VTYP_EXT;
    out->ext = s.ext | VTYP_X_PRM;
    out->trd = s.trd;
    for (int i = 0; i < s.nlnk; i++)
        out->lnk[i] = __vtyp_ptr(val, s.lnk + i * P);
    out->nst = s.nst >= 0 ? __vtyp_ptr(val, s.nst) : nullptr;
    if (s.odr >= 0)
        std::memcpy(out->odr, static_cast<const char *>(val) + s.odr, sizeof out->odr);
    out->equ = s.equ >= 0 ? __vtyp_ptr(val, s.equ) : nullptr;
    out->siz = vtyp_siz_of(val, &s);
    // The data pointer means what it means in a parameter, so the record
    // packs back into an equal value; a buffer's constructor is not kept.
    const void *dat = __vtyp_dat(val, &s);
    if (s.ext & VTYP_X_STG)
        dat = nullptr;
    else if (knd == VTYP_PTR)
        dat = __vtyp_ptr(dat, 0);
    out->dat = dat;
    return rtn_ok();
}

// ---------------------------------------------------------------------------
// Pair constructor
// ---------------------------------------------------------------------------

// Key from a marked pair: the value half first (flag 0: none), then the
// key with VTYP_LNK and link 0 at the value.
static int32_t vtyp_set_pair(void **out, const st_vtyp_prm *pr)
{
    void *val = nullptr;
    __vtyp_lay s;
    if (pr[1].flg) {
        __vtyp_lay_prm(&pr[1], &s);
        if (vtyp_pck(&val, &pr[1], &s) != 0)
            return rtn_fail();
    }
    st_vtyp_prm key = pr[0];
    key.flg |= VTYP_LNK;
    __vtyp_lay_prm(&key, &s);
    void *k;
    if (vtyp_pck(&k, &key, &s) != 0) {
        vtyp_end(val);
        return rtn_fail();
    }
    vtyp_put_lnk(k, val, 0);
    *out = k;
    return rtn_ok();
}

// Copy of a packed key with a copy of its linked value.
static int32_t vtyp_set_key_cpy(void **out, const void *src)
{
    __vtyp_lay s;
    __vtyp_lay_get(src, &s);
    if (!s.nlnk)
        return rtn_fail();
    void *val = __vtyp_ptr(src, s.lnk), *dup = nullptr, *k;
    if (val && __vtyp_cpy(&dup, val) != 0)
        return rtn_fail();
    if (vtyp_pck(&k, src, &s) != 0) {
        vtyp_end(dup);
        return rtn_fail();
    }
    vtyp_put_lnk(k, dup, 0);
    *out = k;
    return rtn_ok();
}

int32_t _vtyp_set_pr(void **out, const void *src) noexcept
{
    if (!out || !src)
        return rtn_fail();
    const uint8_t *b = static_cast<const uint8_t *>(src);
    if ((b[0] & VTYP_EXT) && (b[1] & VTYP_X_PRM))
        return vtyp_set_pair(out, static_cast<const st_vtyp_prm *>(src));
    return vtyp_set_key_cpy(out, src);
}

// Marks one half of a pair copy as a parameter.
static void vtyp_prm_mrk(st_vtyp_prm *p, uint8_t flg)
{
    if (!(p->flg & VTYP_EXT))
        p->ext = 0;
    p->flg |= VTYP_EXT | flg;
    p->ext |= VTYP_X_PRM;
}

static bool vtyp_is_prm(const st_vtyp_prm *p)
{
    return (p->flg & VTYP_EXT) && (p->ext & VTYP_X_PRM);
}

int32_t vtyp_set_pr(void **out, const st_vtyp_prm *pair) noexcept
{
    if (!out || !pair)
        return rtn_fail();
    if (vtyp_is_prm(&pair[0]) && vtyp_is_prm(&pair[1]))
        return _vtyp_set_pr(out, pair);
    st_vtyp_prm cpy[2] = {pair[0], pair[1]};
    vtyp_prm_mrk(&cpy[0], VTYP_LNK);
    vtyp_prm_mrk(&cpy[1], 0);
    return _vtyp_set_pr(out, cpy);
}

// ---------------------------------------------------------------------------
// Release
// ---------------------------------------------------------------------------

// The equal chain is walked in a loop (it may be long); linked values
// recurse, as deep as values are linked.
void vtyp_end(void *val) noexcept
{
    while (val) {
        __vtyp_lay l;
        __vtyp_lay_get(val, &l);
        if (l.prm)
            return; // parameters belong to their caller
        char *v = static_cast<char *>(val);
        if (l.ext & VTYP_X_STG)
            buf_end(v + l.dat + VTYP_BUF_HDL);
        for (int i = 0; i < l.nlnk; i++)
            vtyp_end(__vtyp_ptr(v, l.lnk + i * P));
        void *nxt = l.equ >= 0 ? __vtyp_ptr(v, l.equ) : nullptr;
        if (l.odr >= 0)
            vtyp_cut_odr(v);
        _free(&v);
        val = nxt;
    }
}

// ---------------------------------------------------------------------------
// Links and nests
// ---------------------------------------------------------------------------

// Offset of link idx, or -1 when the value has none such.
static int32_t vtyp_lnk_at(const void *val, int32_t idx)
{
    __vtyp_lay l;
    __vtyp_lay_get(val, &l);
    return (idx >= 0 && idx < l.nlnk) ? l.lnk + idx * P : -1;
}

int32_t vtyp_put_lnk(void *val, void *lnk, int32_t idx) noexcept
{
    if (!val)
        return rtn_fail();
    int32_t at = vtyp_lnk_at(val, idx);
    if (at < 0)
        return rtn_none();
    __vtyp_ptr_put(val, at, lnk);
    return rtn_ok();
}

int32_t vtyp_del_lnk(void *val, int32_t idx) noexcept
{
    if (!val)
        return rtn_fail();
    int32_t at = vtyp_lnk_at(val, idx);
    if (at < 0)
        return rtn_none();
    vtyp_end(__vtyp_ptr(val, at));
    __vtyp_ptr_put(val, at, nullptr);
    return rtn_ok();
}

int32_t vtyp_get_lnk(const void *val, void **out, int32_t idx) noexcept
{
    if (!val)
        return rtn_fail();
    int32_t at = vtyp_lnk_at(val, idx);
    if (at < 0)
        return rtn_none();
    *out = __vtyp_ptr(val, at);
    return rtn_ok();
}

int32_t vtyp_ref_lnk_val(const void *val, int32_t idx, void *slot) noexcept
{
    int32_t at = val ? vtyp_lnk_at(val, idx) : -1;
    void *lnk = at >= 0 ? __vtyp_ptr(val, at) : nullptr;
    if (!lnk)
        return rtn_fail();
    return vtyp_ref_val(lnk, slot);
}

int32_t vtyp_put_nst(void *val, void *par) noexcept
{
    __vtyp_lay l;
    if (!val || (__vtyp_lay_get(val, &l), l.nst < 0))
        return rtn_fail();
    __vtyp_ptr_put(val, l.nst, par);
    return rtn_ok();
}

int32_t vtyp_get_nst(const void *val, void **out) noexcept
{
    __vtyp_lay l;
    if (!val || (__vtyp_lay_get(val, &l), l.nst < 0))
        return rtn_fail();
    *out = __vtyp_ptr(val, l.nst);
    return rtn_ok();
}

// ---------------------------------------------------------------------------
// Kinds and typed reads
// ---------------------------------------------------------------------------

static int32_t vtyp_is(const void *val, uint8_t knd)
{
    if (!val || (static_cast<const uint8_t *>(val)[0] & VTYP_KND) != knd)
        return rtn_fail();
    return rtn_ok();
}

int32_t vtyp_is_int(const void *val) noexcept
{
    return vtyp_is(val, VTYP_INT);
}

int32_t vtyp_is_flt(const void *val) noexcept
{
    return vtyp_is(val, VTYP_FLT);
}

int32_t vtyp_is_str(const void *val) noexcept
{
    return vtyp_is(val, VTYP_STR);
}

int32_t vtyp_is_ptr(const void *val) noexcept
{
    return vtyp_is(val, VTYP_PTR);
}

int32_t vtyp_ref_val(const void *val, void *slot) noexcept
{
    if (!val)
        return rtn_fail();
    __vtyp_lay l;
    __vtyp_lay_get(val, &l);
    const void *dat = __vtyp_dat(val, &l);
    std::memcpy(slot, &dat, sizeof dat);
    return rtn_ok();
}

// The datum of a value of kind knd held in the value itself, or none.
static const void *vtyp_dat_of(const void *val, uint8_t knd)
{
    if (!val || (static_cast<const uint8_t *>(val)[0] & VTYP_KND) != knd)
        return nullptr;
    __vtyp_lay l;
    __vtyp_lay_get(val, &l);
    return (l.ext & VTYP_X_STG) ? nullptr : __vtyp_dat(val, &l);
}

// A number datum of kind knd copied out (unaligned in the value).
template <class T>
static int32_t vtyp_get_num(const void *val, uint8_t knd, T *out)
{
    const void *d = vtyp_dat_of(val, knd);
    if (!d)
        return rtn_fail();
    std::memcpy(out, d, sizeof *out);
    return rtn_ok();
}

int32_t vtyp_get_int(const void *val, int32_t *out) noexcept
{
    return vtyp_get_num(val, VTYP_INT, out);
}

int32_t vtyp_get_flt(const void *val, double *out) noexcept
{
    return vtyp_get_num(val, VTYP_FLT, out);
}

int32_t vtyp_get_str(const void *val, char **out) noexcept
{
    const void *d = vtyp_dat_of(val, VTYP_STR);
    if (!d)
        return rtn_fail();
    *out = static_cast<char *>(const_cast<void *>(d));
    return rtn_ok();
}

int32_t vtyp_get_ptr(const void *val, void **out) noexcept
{
    const void *d = vtyp_dat_of(val, VTYP_PTR);
    if (!d)
        return rtn_fail();
    *out = const_cast<void *>(d);
    return rtn_ok();
}

int32_t vtyp_get_siz(const void *val, uint32_t *out) noexcept
{
    if (!val)
        return rtn_fail();
    __vtyp_lay l;
    __vtyp_lay_get(val, &l);
    switch (l.flg & VTYP_KND) {
    case VTYP_INT:
        *out = 4;
        return rtn_ok();
    case VTYP_FLT:
        *out = 8;
        return rtn_ok();
    case VTYP_UDF:
    case VTYP_STR:
        *out = vtyp_siz_of(val, &l);
        return rtn_ok();
    }
    return rtn_fail();
}
