// Variant map iteration: a stack of levels, each a range iterator (key
// order) or a position in a sibling ring (insertion order), with descent
// into nested keys steered by the caller.
#include "base/container/container.h"

#include <algorithm>

// Set while a level for the keys nested under the key handed out last is
// open, so that dsc 0 drops that level and nothing else.
constexpr uint32_t VMAP_RNG_CLD = 0x80000000u;

// The list of a listed walk: every key node with its nest (INTPTR_MIN for
// none, the nest compared as the key order compares it), and where each
// nest's stretch begins, both in key order.
struct vmap_ent {
    intptr_t nst;
    void *nod;
};
struct vmap_grp {
    intptr_t nst;
    uint32_t beg;
};
struct vmap_lst {
    vmap_ent *ent;
    vmap_grp *grp;
    uint32_t n, grp_n;
};

// Pushes a new, empty level; none when it cannot be had.
static st_vmap_rng_lvl *vmap_lvl_psh(st_vmap_rng_itr *itr)
{
    st_vmap_rng_lvl *l;
    if (_malloc0(&l, sizeof *l) != 0)
        return nullptr;
    l->nxt = itr->lvl;
    itr->lvl = l;
    return l;
}

// Drops the innermost level; ending a zeroed range iterator does nothing.
static void vmap_lvl_pop(st_vmap_rng_itr *itr)
{
    st_vmap_rng_lvl *l = itr->lvl;
    itr->lvl = l->nxt;
    map_rng_pop_end(&l->rng);
    _free(&l);
}

// Grows the array at *slot (n entries of siz bytes) when it is full, that
// is at 0, 1, 2, 4, ... entries.
static bool vmap_grow(void *slot, uint32_t n, size_t siz)
{
    return (n & (n - 1)) != 0 || _realloc(slot, siz * (n ? 2 * (size_t)n : 1)) == 0;
}

// Appends nod to the list (the walk visits the keys in key order).
static int32_t vmap_lst_add(void *nod, void *arg)
{
    vmap_lst *l = static_cast<vmap_lst *>(arg);
    void *nst = nullptr;
    const intptr_t x = vtyp_get_nst(nod, &nst) == 0 ? reinterpret_cast<intptr_t>(nst) : INTPTR_MIN;
    if (!vmap_grow(&l->ent, l->n, sizeof *l->ent))
        return 1;
    if (!l->grp_n || l->grp[l->grp_n - 1].nst != x) {
        if (!vmap_grow(&l->grp, l->grp_n, sizeof *l->grp))
            return 1;
        l->grp[l->grp_n++] = {x, l->n};
    }
    l->ent[l->n++] = {x, nod};
    return 0;
}

static void vmap_lst_end(st_vmap_rng_itr *itr)
{
    if (vmap_lst *l = static_cast<vmap_lst *>(itr->lst)) {
        _free(&l->ent);
        _free(&l->grp);
        _free(&itr->lst);
    }
}

// Points level c at the stretch of keys nested under nst; false when there
// are none.
static bool vmap_lst_lvl(const st_vmap_rng_itr *itr, const void *nst, st_vmap_rng_lvl *c)
{
    const vmap_lst *l = static_cast<const vmap_lst *>(itr->lst);
    const intptr_t x = reinterpret_cast<intptr_t>(nst);
    const vmap_grp *end = l->grp + l->grp_n;
    const vmap_grp *g = std::lower_bound(static_cast<const vmap_grp *>(l->grp), end, x,
                                         [](const vmap_grp &a, intptr_t v) { return a.nst < v; });
    if (g == end || g->nst != x)
        return false;
    c->pos = l->ent + g->beg;
    c->fst = l->ent + (g + 1 != end ? g[1].beg : l->n);
    return true;
}

int32_t vmap_rng_pop_set(st_vmap *map, void *stt, uint32_t flg, st_vmap_rng_itr *itr) noexcept
{
    if (!itr)
        return rtn_fail();
    *itr = {map, nullptr, flg & (VMAP_RNG_DSC | VMAP_RNG_ODR), nullptr};
    if (!map || ((flg & VMAP_RNG_ODR) && !(map->mod & VMAP_ODR)))
        return rtn_fail();
    st_vmap_rng_lvl *l = vmap_lvl_psh(itr);
    if (!l)
        return rtn_fail();
    if (flg & VMAP_RNG_ODR) {
        RTN_TRY(vmap_get_odr(map, stt, &l->pos));
        l->fst = l->pos;
        return rtn_ok();
    }
    if (!(map->mod & VMAP_NST))
        return map_rng_pop_set(&map->map, nullptr, nullptr, 0, &l->rng);
    if ((flg & VMAP_RNG_FIX) && _malloc0(&itr->lst, sizeof(vmap_lst)) == 0) {
        if (map_rng(&map->map, nullptr, nullptr, vmap_lst_add, itr->lst) == 0) {
            vmap_lst_lvl(itr, stt, l);
            return rtn_ok();
        }
        vmap_lst_end(itr); // a list cut short: the walk searches instead
    }
    // The keys whose nest is stt (none: the top level, nest 0).
    return map_rng_pop_set(&map->map, stt, vtyp_map_cmp_rng_nst, 0, &l->rng);
}

// Insertion order: hands out the key at the level's position and moves on
// in its ring, which ends where it began. A level for the key's children
// comes first, so a failure changes nothing; without steering a childless
// key needs none, as an empty level would only be dropped again.
static int32_t vmap_pop_odr(st_vmap_rng_itr *itr, st_vmap_rng_lvl *l, void **nod)
{
    void *k = l->pos, *nxt = nullptr, *cld = nullptr;
    if (vtyp_get_odr(k, &nxt, nullptr, &cld) != 0)
        return rtn_fail();
    if (cld || (itr->flg & VMAP_RNG_DSC)) {
        st_vmap_rng_lvl *c = vmap_lvl_psh(itr);
        if (!c)
            return rtn_fail();
        c->pos = c->fst = cld;
        itr->flg |= VMAP_RNG_CLD;
    }
    l->pos = nxt != l->fst ? nxt : nullptr;
    *nod = k;
    return rtn_ok();
}

// Key order: hands out k; with steering, keys nested under k get a level of
// their own when there are any.
static int32_t vmap_pop_key(st_vmap_rng_itr *itr, void *k, void **nod)
{
    *nod = k;
    if (!(itr->flg & VMAP_RNG_DSC) || !(itr->map->mod & VMAP_NST))
        return rtn_ok();
    if (itr->lst) {
        st_vmap_rng_lvl c = {};
        if (!vmap_lst_lvl(itr, k, &c))
            return rtn_ok();
        st_vmap_rng_lvl *l = vmap_lvl_psh(itr);
        if (!l)
            return rtn_fail();
        l->pos = c.pos;
        l->fst = c.fst;
        itr->flg |= VMAP_RNG_CLD;
        return rtn_ok();
    }
    st_map_rng_itr ci;
    int32_t rc = _map_rng_pop_set(&itr->map->map, k, vtyp_map_cmp_rng_nst, 0, &ci, 1);
    st_vmap_rng_lvl *c = rc == 0 ? vmap_lvl_psh(itr) : nullptr;
    if (!c) {
        map_rng_pop_end(&ci);
        return rc == 1 ? rtn_ok() : rtn_fail();
    }
    c->rng = ci;
    itr->flg |= VMAP_RNG_CLD;
    return rtn_ok();
}

int32_t vmap_rng_pop(st_vmap_rng_itr *itr, void **nod, int32_t dsc) noexcept
{
    if (!itr || !nod)
        return rtn_fail();
    const uint32_t cld = VMAP_RNG_DSC | VMAP_RNG_CLD;
    if ((itr->flg & cld) == cld && !dsc) // steered: skip what lies below the last key
        vmap_lvl_pop(itr);
    itr->flg &= ~VMAP_RNG_CLD;
    for (;;) {
        st_vmap_rng_lvl *l = itr->lvl;
        if (!l)
            return rtn_none();
        if (itr->lst) {
            vmap_ent *e = static_cast<vmap_ent *>(l->pos);
            if (e != l->fst) {
                l->pos = e + 1;
                return vmap_pop_key(itr, e->nod, nod);
            }
        } else if (itr->flg & VMAP_RNG_ODR) {
            if (l->pos)
                return vmap_pop_odr(itr, l, nod);
        } else {
            void *k = nullptr;
            if (map_rng_pop(&l->rng, &k) == 0)
                return vmap_pop_key(itr, k, nod);
            if (k) { // the walk's stack could not grow: a failure, not the end
                *nod = k;
                return rtn_fail();
            }
        }
        vmap_lvl_pop(itr); // this level is used up (or was empty from the start)
    }
}

int32_t vmap_rng_pop_end(st_vmap_rng_itr *itr) noexcept
{
    if (!itr)
        return rtn_fail();
    while (itr->lvl)
        vmap_lvl_pop(itr);
    vmap_lst_end(itr);
    return rtn_ok();
}
