// Variant map: set-up and release, callbacks, marking of key parameters,
// put (with equal chains and insertion order), lookup, deletion with
// nested keys, print and merge.
#include "base/container/container.h"

constexpr int16_t P = sizeof(void *);

int32_t vmap_set(st_vmap *map, uint32_t mod) noexcept
{
    if (!map || (mod & ~(VMAP_NST | VMAP_ODR | VMAP_EQU)))
        return rtn_fail();
    std::memset(map, 0, sizeof *map);
    map->mod = mod;
    // Keys carry an extension byte exactly when they have an order block
    // or an equal pointer; the tree links follow the header bytes.
    int16_t l0 = (mod & (VMAP_ODR | VMAP_EQU)) ? 2 : 1;
    return map_set(&map->map, &vtyp_map_fnclst, reinterpret_cast<uintptr_t>(map), l0,
                   static_cast<int16_t>(l0 + P), 0, 0, VTYP_RED);
}

int32_t vmap_end(st_vmap *map) noexcept
{
    if (!map)
        return rtn_fail();
    map_end(&map->map);
    std::memset(map, 0, sizeof *map);
    return rtn_ok();
}

// Installs a callback and its argument in the given fields.
static int32_t vmap_lkg(st_vmap *map, vmap_fnc st_vmap::*fld, uintptr_t st_vmap::*arg_fld,
                        vmap_fnc fnc, uintptr_t arg)
{
    if (!map)
        return rtn_fail();
    map->*fld = fnc;
    map->*arg_fld = arg;
    return rtn_ok();
}

int32_t vmap_lkg_fnc_bef_del(st_vmap *map, vmap_fnc fnc, uintptr_t arg) noexcept
{
    return vmap_lkg(map, &st_vmap::bef_del, &st_vmap::bef_del_arg, fnc, arg);
}

int32_t vmap_lkg_fnc_aft_get(st_vmap *map, vmap_fnc fnc, uintptr_t arg) noexcept
{
    return vmap_lkg(map, &st_vmap::aft_get, &st_vmap::aft_get_arg, fnc, arg);
}

int32_t vmap_lkg_fnc_aft_put(st_vmap *map, vmap_fnc fnc, uintptr_t arg) noexcept
{
    return vmap_lkg(map, &st_vmap::aft_put, &st_vmap::aft_put_arg, fnc, arg);
}

// ---------------------------------------------------------------------------
// Marking
// ---------------------------------------------------------------------------

// Marks a key parameter so that it reads like the map's stored keys: a map
// node with one link, a nest exactly in nested maps, the map's extension
// bits, no colour, no third byte. False for a key the map cannot hold:
// buffer storage or a third byte (the tree links would move), or a missing
// datum that the key order would read.
static bool vmap_mrk_key(const st_vmap *map, st_vtyp_prm *k)
{
    uint8_t ext = (k->flg & VTYP_EXT) ? k->ext : 0;
    uint8_t knd = k->flg & VTYP_KND;
    if (ext & (VTYP_X_STG | VTYP_X_TRD))
        return false;
    if (!k->dat && knd != VTYP_PTR && !(knd == VTYP_UDF && k->siz == 0))
        return false;
    k->flg = knd | VTYP_EXT | VTYP_LNK | VTYP_MAP | ((map->mod & VMAP_NST) ? VTYP_NST : 0);
    k->ext = VTYP_X_PRM | ((map->mod & VMAP_ODR) ? VTYP_X_ODR : 0) |
             ((map->mod & VMAP_EQU) ? VTYP_X_EQU : 0);
    k->trd = 0;
    return true;
}

// Marks a pair for a put. Order block and equal pointer belong to the map.
static bool vmap_mrk_pair(const st_vmap *map, st_vtyp_prm *pr)
{
    if (!vmap_mrk_key(map, &pr[0]))
        return false;
    std::memset(pr[0].odr, 0, sizeof pr[0].odr);
    pr[0].equ = nullptr;
    if (pr[1].flg) {
        if (!(pr[1].flg & VTYP_EXT))
            pr[1].ext = 0;
        pr[1].flg |= VTYP_EXT;
        pr[1].ext |= VTYP_X_PRM;
    }
    return true;
}

// ---------------------------------------------------------------------------
// Nested keys and insertion order
// ---------------------------------------------------------------------------

// A key nested under nod, or none.
static void *vmap_cld_any(st_vmap *map, const void *nod)
{
    if (!(map->mod & VMAP_NST))
        return nullptr;
    __st_map_pos pos = {nullptr, vtyp_map_cmp_rng_nst, 0, 0};
    __map_srch(&map->map, nod, &pos);
    return (pos.flg & __MAP_POS_FOUND) ? map_slot_get(pos.cur) : nullptr;
}

// The parent of a key, none at the top level.
static void *vmap_par(const st_vmap *map, const void *nod)
{
    void *par = nullptr;
    if (map->mod & VMAP_NST)
        vtyp_get_nst(nod, &par);
    return par;
}

// The first key of the sibling ring under par: its first child, or head.
static void *vmap_fst_get(const st_vmap *map, const void *par)
{
    void *f = nullptr;
    if (!par)
        return map->head;
    vtyp_get_odr(par, nullptr, nullptr, &f);
    return f;
}

static void vmap_fst_put(st_vmap *map, void *par, void *f)
{
    if (par)
        vtyp_put_odr_cld_top(par, f);
    else
        map->head = f;
}

// A key just made is alone in its ring and not the first of its siblings;
// every key already in the map is one or the other.
static bool vmap_odr_new(const st_vmap *map, void *nod)
{
    void *nxt = nullptr;
    vtyp_get_odr(nod, &nxt, nullptr, nullptr);
    return nxt == nod && vmap_fst_get(map, vmap_par(map, nod)) != nod;
}

// Appends a new key to its siblings (before the first, which closes the ring).
static void vmap_odr_add(st_vmap *map, void *nod)
{
    void *par = vmap_par(map, nod), *f = vmap_fst_get(map, par);
    if (f)
        vtyp_ins_odr_bck(f, nod);
    else
        vmap_fst_put(map, par, nod);
}

// Before a key goes: a first-of-ring pointer naming it moves on to the next
// sibling, or is cleared when the key was alone. Its release cuts the ring.
static void vmap_odr_off(st_vmap *map, void *nod)
{
    void *par = vmap_par(map, nod), *nxt = nullptr;
    if (vmap_fst_get(map, par) != nod)
        return;
    vtyp_get_odr(nod, &nxt, nullptr, nullptr);
    vmap_fst_put(map, par, nxt != nod ? nxt : nullptr);
}

// ---------------------------------------------------------------------------
// Put
// ---------------------------------------------------------------------------

// What a replace (MAP_PUT_RPL) must know of the node it replaces: the new
// node takes its place in the sibling ring.
struct vmap_rpl {
    void *old; // the present node, none when the key is missing
    void *prv; // its previous sibling, none when it was alone
    bool fst;  // it was the first of its siblings
};

// -1 when the present key has nested keys: they would lose their parent.
static int32_t vmap_rpl_pre(st_vmap *map, const st_vtyp_prm *pr, vmap_rpl *r)
{
    *r = {};
    if (map_get(&map->map, pr, &r->old) != 0) {
        r->old = nullptr;
        return rtn_ok();
    }
    if (vmap_cld_any(map, r->old))
        return rtn_fail();
    if (map->mod & VMAP_ODR) {
        vtyp_get_odr(r->old, nullptr, &r->prv, nullptr);
        if (r->prv == r->old)
            r->prv = nullptr;
        r->fst = vmap_fst_get(map, vmap_par(map, r->old)) == r->old;
    }
    return rtn_ok();
}

static void vmap_rpl_post(st_vmap *map, const vmap_rpl *r, void *nod)
{
    if (r->prv)
        vtyp_ins_odr_nxt(r->prv, nod);
    if (r->fst)
        vmap_fst_put(map, vmap_par(map, nod), nod);
}

// Appends a new member made from the pair to the equal chain of nod.
static int32_t vmap_equ_add(void *nod, const st_vtyp_prm *pr, void **mem)
{
    void *last = nod, *nxt;
    while (vtyp_get_equ(last, &nxt) == 0 && nxt)
        last = nxt;
    RTN_TRY(_vtyp_set_pr(mem, pr));
    vtyp_put_equ(last, *mem);
    return rtn_ok();
}

int32_t _vmap_put_equ(st_vmap *map, void *mem, const st_vtyp_prm *pair, void **out) noexcept
{
    void *nxt = nullptr, *nw = nullptr;
    if (!map || !mem || !pair || !(map->mod & VMAP_EQU) || vtyp_get_equ(mem, &nxt) != 0)
        return rtn_fail();
    st_vtyp_prm pr[2] = {pair[0], pair[1]};
    if (!vmap_mrk_pair(map, pr))
        return rtn_fail();
    RTN_TRY(_vtyp_set_pr(&nw, pr));
    vtyp_put_equ(nw, nxt);
    vtyp_put_equ(mem, nw);
    if (out)
        *out = nw;
    if (map->aft_put && map->aft_put(nw, map->aft_put_arg) != 0)
        return rtn_fail();
    return rtn_ok();
}

// The put on a pair copy that may be marked in place.
static int32_t vmap_put(st_vmap *map, st_vtyp_prm *pr, void **out, uint32_t mode)
{
    if (!vmap_mrk_pair(map, pr))
        return rtn_fail();
    vmap_rpl rpl = {};
    if ((mode & MAP_PUT_RPL) && !(mode & MAP_PUT_KEEP) && (map->mod & (VMAP_NST | VMAP_ODR)))
        RTN_TRY(vmap_rpl_pre(map, pr, &rpl));
    void *nod = nullptr;
    int32_t rc = map_put(&map->map, pr, &nod, mode);
    if (rc == 1 && nod && (mode & MAP_PUT_KEEP) && (map->mod & VMAP_EQU)) {
        if (vmap_equ_add(nod, pr, &nod) != 0)
            return rtn_fail();
    } else if (rc != 0) {
        return rtn_fail();
    } else if (rpl.old) {
        vmap_rpl_post(map, &rpl, nod);
    } else if ((map->mod & VMAP_ODR) && vmap_odr_new(map, nod)) {
        vmap_odr_add(map, nod);
    }
    if (out)
        *out = nod;
    if (map->aft_put && map->aft_put(nod, map->aft_put_arg) != 0)
        return rtn_fail();
    return rtn_ok();
}

int32_t _vmap_put(st_vmap *map, const st_vtyp_prm *pair, void **nod, uint32_t mode) noexcept
{
    if (!map || !pair)
        return rtn_fail();
    st_vtyp_prm pr[2] = {pair[0], pair[1]};
    return vmap_put(map, pr, nod, mode);
}

int32_t _vmap_mak(st_vmap *map, const st_vtyp_prm *pair, void **nod) noexcept
{
    if (!map || !pair || !nod || map->mod)
        return rtn_fail();
    st_vtyp_prm pr[2] = {pair[0], pair[1]};
    if (!vmap_mrk_pair(map, pr))
        return rtn_fail();
    return map->map.fnclst->mak(nod, pr, map->map.prm);
}

int32_t vmap_put_nod(st_vmap *map, void *nod, uint32_t mode) noexcept
{
    if (!map || map->mod)
        return rtn_fail();
    RTN_TRY(map_put_nod(&map->map, nod, mode));
    if (map->aft_put && map->aft_put(nod, map->aft_put_arg) != 0)
        return rtn_fail();
    return rtn_ok();
}

int32_t _vmap_put_no_val(st_vmap *map, const st_vtyp_prm *key, void **nod, uint32_t mode) noexcept
{
    if (!map || !key || key->ext)
        return rtn_fail();
    st_vtyp_prm pr[2] = {*key, {}};
    return vmap_put(map, pr, nod, mode);
}

// ---------------------------------------------------------------------------
// Lookup and deletion
// ---------------------------------------------------------------------------

// The node of a marked copy of key, or none (nothing called back).
static void *vmap_nod(st_vmap *map, const st_vtyp_prm *key)
{
    st_vtyp_prm k = *key;
    void *nod;
    if (key->ext || !vmap_mrk_key(map, &k) || map_get(&map->map, &k, &nod) != 0)
        return nullptr;
    return nod;
}

int32_t _vmap_get(st_vmap *map, const st_vtyp_prm *key, void **nod) noexcept
{
    void *n = (map && key) ? vmap_nod(map, key) : nullptr;
    if (!n || (map->aft_get && map->aft_get(n, map->aft_get_arg) != 0))
        return rtn_fail();
    *nod = n;
    return rtn_ok();
}

int32_t _vmap_get_val(st_vmap *map, const st_vtyp_prm *key, void *slot) noexcept
{
    void *nod;
    RTN_TRY(_vmap_get(map, key, &nod));
    return vtyp_ref_lnk_val(nod, 0, slot);
}

constexpr int VMAP_DEL_BAT = 16; // nested keys collected per walk

// Nested keys collected by one walk, in key order.
struct vmap_cld_bat {
    void *nod[VMAP_DEL_BAT];
    int cnt; // keys collected
    int max; // the walk stops at this many
};

static int32_t vmap_cld_one(void *nod, void *arg)
{
    vmap_cld_bat *b = static_cast<vmap_cld_bat *>(arg);
    b->nod[b->cnt++] = nod;
    return b->cnt == b->max;
}

// Collects up to b->max keys nested under nod; the number collected.
static int vmap_cld_get(st_vmap *map, const void *nod, vmap_cld_bat *b)
{
    b->cnt = 0;
    if (map->mod & VMAP_NST)
        map_rng(&map->map, nod, vtyp_map_cmp_rng_nst, vmap_cld_one, b);
    return b->cnt;
}

// Deletes a key node: bef_del, then its nested keys, then the node with its
// value and equal chain. A deletion invalidates any walk, so the nested keys
// are collected first, a batch per walk. Without bef_del nothing else
// changes the map meanwhile: a batch that is not full was the last. A
// callback may delete or add keys, so with one the walk takes a single key
// and is repeated until it finds none.
static int32_t vmap_del_nod(st_vmap *map, void *nod, int32_t rcs)
{
    if (map->bef_del && map->bef_del(nod, map->bef_del_arg) != 0)
        return rtn_fail();
    vmap_cld_bat b;
    b.max = map->bef_del ? 1 : VMAP_DEL_BAT;
    while (vmap_cld_get(map, nod, &b) > 0) {
        if (!rcs)
            return rtn_fail();
        for (int i = 0; i < b.cnt; i++)
            RTN_TRY(vmap_del_nod(map, b.nod[i], rcs));
        if (b.cnt < b.max)
            break;
    }
    if (map->mod & VMAP_ODR)
        vmap_odr_off(map, nod);
    // The node itself is the key: the descent compares it and releases it last.
    return map_del(&map->map, nod) == 0 ? rtn_ok() : rtn_fail();
}

int32_t _vmap_del(st_vmap *map, const st_vtyp_prm *key, int32_t rcs) noexcept
{
    void *nod = (map && key) ? vmap_nod(map, key) : nullptr;
    if (!nod)
        return rtn_fail();
    return vmap_del_nod(map, nod, rcs);
}

int32_t _vmap_del_nod(st_vmap *map, void *nod, int32_t rcs) noexcept
{
    if (!map || !nod)
        return rtn_fail();
    return vmap_del_nod(map, nod, rcs);
}

int32_t vmap_get_odr(st_vmap *map, const void *nod, void **out) noexcept
{
    if (!map || !(map->mod & VMAP_ODR))
        return rtn_fail();
    *out = vmap_fst_get(map, nod);
    return rtn_ok();
}

int32_t vmap_prt(st_vmap *map, FILE *fp, uint32_t flg) noexcept
{
    return map_prt(&map->map, fp, flg);
}

// ---------------------------------------------------------------------------
// Merge
// ---------------------------------------------------------------------------

struct vmap_mrg_ctx {
    st_vmap *dst; // target map
    void *nst;    // nest of the copied top-level keys
};

// Puts the source key nod into the target, its parent first, and hands out
// the target's node. The pair views the source's data; marking drops the
// source's order block and equal pointer, and links are not copied.
static int32_t vmap_mrg_key(vmap_mrg_ctx *c, const void *nod, void **out)
{
    void *par = c->nst, *snst = nullptr, *val = nullptr;
    if (vtyp_get_nst(nod, &snst) == 0 && snst)
        RTN_TRY(vmap_mrg_key(c, snst, &par));
    st_vtyp_prm pr[2] = {};
    if (vtyp_get_prm(nod, &pr[0]) != 0)
        return rtn_fail();
    std::memset(pr[0].lnk, 0, sizeof pr[0].lnk);
    pr[0].nst = par;
    vtyp_get_lnk(nod, &val, 0);
    if (val && vtyp_get_prm(val, &pr[1]) != 0)
        return rtn_fail();
    return vmap_put(c->dst, pr, out, 0);
}

static int32_t vmap_mrg_one(void *nod, void *arg)
{
    void *out;
    return vmap_mrg_key(static_cast<vmap_mrg_ctx *>(arg), nod, &out);
}

int32_t vmap_mrg(st_vmap *dst, void *nst, st_vmap *src) noexcept
{
    if (!dst || !src || dst == src)
        return rtn_fail();
    vmap_mrg_ctx c = {dst, nst};
    if (map_rng(&src->map, nullptr, nullptr, vmap_mrg_one, &c) != 0)
        return rtn_fail();
    return rtn_ok();
}

int32_t vmap_bal(st_vmap *map) noexcept
{
    return map ? map_bal(&map->map) : rtn_fail();
}
