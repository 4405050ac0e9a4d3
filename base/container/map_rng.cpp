// Ordered map traversal: the recursive in-order walk (whole map or range),
// the node count, and the range iterator with an explicit stack.
#include "base/container/container.h"

// Whole-map walk below slot s. Non-zero when the visitor stopped it. The
// slot is read again after the visit, so the visitor may replace the node.
static int32_t map_rng_all(st_map *map, char *s, map_rng_fn fnc, void *arg)
{
    void *nod = map_slot_get(s);
    if (!nod)
        return 0;
    if (map_rng_all(map, map_lnk_slot(map, nod, 0), fnc, arg) != 0 || fnc(nod, arg) != 0)
        return 1;
    nod = map_slot_get(s);
    return map_rng_all(map, map_lnk_slot(map, nod, 1), fnc, arg);
}

// Searches the subtree at s (s itself when from is set) with the range
// compare; the slot of its topmost in-range node, or none.
static char *map_rng_find(st_map *map, char *s, bool from, const void *key, map_cmp_fn rng)
{
    __st_map_pos pos = {s, rng, map->prm, from ? __MAP_POS_FROM : 0u};
    __map_srch(map, key, &pos);
    return (pos.flg & __MAP_POS_FOUND) ? pos.cur : nullptr;
}

// Range walk of side d of nod: from the topmost in-range node there, if
// any. A range is contiguous, so the side's in-range nodes all lie below it.
static int32_t map_rng_in(st_map *map, char *s, const void *key, map_cmp_fn rng, map_rng_fn fnc,
                          void *arg);

static int32_t map_rng_side(st_map *map, void *nod, int d, const void *key, map_cmp_fn rng,
                            map_rng_fn fnc, void *arg)
{
    char *t = map_rng_find(map, map_lnk_slot(map, nod, d), true, key, rng);
    return t ? map_rng_in(map, t, key, rng, fnc, arg) : 0;
}

// Range walk from the in-range node at slot s: its link-0 side, the node,
// its link-1 side. Non-zero when the visitor stopped it.
static int32_t map_rng_in(st_map *map, char *s, const void *key, map_cmp_fn rng, map_rng_fn fnc,
                          void *arg)
{
    if (map_rng_side(map, map_slot_get(s), 0, key, rng, fnc, arg) != 0)
        return 1;
    if (fnc(map_slot_get(s), arg) != 0)
        return 1;
    return map_rng_side(map, map_slot_get(s), 1, key, rng, fnc, arg);
}

int32_t map_rng(st_map *map, const void *key, map_cmp_fn rng, map_rng_fn fnc, void *arg) noexcept
{
    char *root = reinterpret_cast<char *>(&map->root);
    if (!rng)
        return map_rng_all(map, root, fnc, arg) ? rtn_none() : rtn_ok();
    char *s = map_rng_find(map, root, false, key, rng);
    if (!s || map_rng_in(map, s, key, rng, fnc, arg) != 0)
        return rtn_none();
    return rtn_ok();
}

static int32_t map_cnt_one(void *, void *arg)
{
    ++*static_cast<uint32_t *>(arg);
    return 0;
}

int32_t map_cnt(st_map *map, uint32_t *cnt) noexcept
{
    *cnt = 0;
    map_rng(map, nullptr, nullptr, map_cnt_one, cnt);
    return rtn_ok();
}

// Pushes nod on the iterator's stack. 0, or -1 when no entry can be had.
static int32_t map_itr_psh(st_map_rng_itr *itr, void *nod)
{
    st_map_rng_ent ent = {itr->stk, nod};
    st_map_rng_ent *top;
    RTN_TRY(_malloc_cpy(&top, &ent, sizeof ent));
    itr->stk = top;
    return 0;
}

// Descent from a node: in-range nodes are stacked on the way down link 0;
// a node below the range sends the descent right, one above it left.
static int32_t map_itr_dsc(st_map_rng_itr *itr, void *nod)
{
    const st_map *map = itr->map;
    while (nod) {
        int32_t r = 0;
        if (itr->rng)
            r = itr->rng(itr->key, map_nod_key(map, nod), itr->rng_prm);
        if (r == 0)
            RTN_TRY(map_itr_psh(itr, nod));
        nod = map_nod_lnk(map, nod, r > 0);
    }
    return 0;
}

int32_t _map_rng_pop_set(st_map *map, const void *key, map_cmp_fn rng, uintptr_t rng_prm,
                         st_map_rng_itr *itr, int32_t rpt) noexcept
{
    *itr = {map, key, rng, rng_prm, nullptr};
    map_rtt_lck(map, 1);
    void *nod = map->root;
    if (!rng) { // the first entry holds the root, or nothing for an empty map
        RTN_TRY(_malloc0(&itr->stk, sizeof *itr->stk));
        itr->stk->nod = nod;
    } else { // the lock is on: this search leaves the shape alone
        __st_map_pos pos = {nullptr, rng, rng_prm, 0};
        __map_srch(map, key, &pos);
        if (!(pos.flg & __MAP_POS_FOUND))
            return rpt ? rtn_none() : rtn_ok();
        nod = map_slot_get(pos.cur);
        RTN_TRY(map_itr_psh(itr, nod));
    }
    if (nod)
        RTN_TRY(map_itr_dsc(itr, map_nod_lnk(map, nod, 0)));
    return rtn_ok();
}

int32_t map_rng_pop_set(st_map *map, const void *key, map_cmp_fn rng, uintptr_t rng_prm,
                        st_map_rng_itr *itr) noexcept
{
    return _map_rng_pop_set(map, key, rng, rng_prm, itr, 0);
}

int32_t map_rng_pop(st_map_rng_itr *itr, void **out) noexcept
{
    st_map_rng_ent *top = itr->stk;
    if (!top)
        return rtn_none();
    void *nod = top->nod;
    itr->stk = top->nxt;
    _free(&top);
    if (!nod) // the entry left by an empty map
        return rtn_fail();
    *out = nod;
    RTN_TRY(map_itr_dsc(itr, map_nod_lnk(itr->map, nod, 1)));
    return rtn_ok();
}

int32_t map_rng_pop_end(st_map_rng_itr *itr) noexcept
{
    while (st_map_rng_ent *top = itr->stk) {
        itr->stk = top->nxt;
        _free(&top);
    }
    if (itr->map)
        map_rtt_lck(itr->map, 0);
    itr->map = nullptr;
    return rtn_ok();
}
