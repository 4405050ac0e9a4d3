// Variant map iteration: a stack of levels, each a range iterator (key
// order) or a position in a sibling ring (insertion order), with descent
// into nested keys steered by the caller.
#include "base/container/container.h"

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

int32_t vmap_rng_pop_set(st_vmap *map, void *stt, uint32_t flg, st_vmap_rng_itr *itr) noexcept
{
    if (!itr)
        return rtn_fail();
    *itr = {map, nullptr, flg & (VMAP_RNG_DSC | VMAP_RNG_ODR)};
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
    st_map_rng_itr ci;
    int32_t rc = _map_rng_pop_set(&itr->map->map, k, vtyp_map_cmp_rng_nst, 0, &ci, 1);
    st_vmap_rng_lvl *c = rc == 0 ? vmap_lvl_psh(itr) : nullptr;
    if (!c) {
        map_rng_pop_end(&ci);
        return rc == 1 ? rtn_ok() : rtn_fail();
    }
    c->rng = ci;
    return rtn_ok();
}

int32_t vmap_rng_pop(st_vmap_rng_itr *itr, void **nod, int32_t dsc) noexcept
{
    if (!itr || !nod)
        return rtn_fail();
    for (;;) {
        st_vmap_rng_lvl *l = itr->lvl;
        if (!l)
            return rtn_none();
        if ((itr->flg & VMAP_RNG_DSC) && !dsc) { // skip what lies below the last key
            vmap_lvl_pop(itr);
            dsc = 1;
            continue;
        }
        if (itr->flg & VMAP_RNG_ODR) {
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
    return rtn_ok();
}
