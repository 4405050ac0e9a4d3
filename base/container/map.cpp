// Ordered map: set-up, the rebalancing search, get, put and delete.
//
// A slot is the address of a link inside a node, or of the map's root; it
// may be unaligned, so it is read and written with memcpy.
#include "base/container/container.h"

int32_t map_set(st_map *map, const st_map_fnc *fnclst, uintptr_t prm, int16_t lnk0_ofs,
                int16_t lnk1_ofs, int16_t key_ofs, int16_t clr_ofs, uint16_t clr_bit) noexcept
{
    map->root = nullptr;
    map->fnclst = fnclst;
    map->prm = prm;
    map->lnk_ofs[0] = lnk0_ofs;
    map->lnk_ofs[1] = lnk1_ofs;
    map->key_ofs = key_ofs;
    map->clr_ofs = clr_ofs;
    map->clr_bit = clr_bit;
    map->dpt_max = 0;
    map->dpt = 0;
    return rtn_ok();
}

int32_t map_rtt_lck(st_map *map, int32_t on) noexcept
{
    map->rtt_lck += on ? 1 : -1;
    return rtn_ok();
}

// Repairs a red child C under P (reached through side d of P at slot s).
// Returns true when the tree was rotated and the search must resume at s.
//
// Colour flip, when both children of P are red:
//        P(b)              P(r)      The flip may leave P red under a
//       /    \     ->     /    \     red parent; a later search lifts
//     C(r)   X(r)       C(b)   X(b)  that pair apart by rotation.
// Otherwise a red grandchild G under C is a red-red pair: C and G turn
// black, a single (G outer) or double (G inner) rotation lifts C or G into
// P's place, and that node turns red. Black heights stay as they were.
static bool map_fix(const st_map *map, char *s, void *p, int d, void *c)
{
    void *x = map_nod_lnk(map, p, !d);
    if (x && map_nod_red(map, x)) {
        map_clr_put(map, p, true);
        map_clr_put(map, c, false);
        map_clr_put(map, x, false);
        return false;
    }
    void *g = map_nod_lnk(map, c, 0);
    int gd = 0;
    if (!g || !map_nod_red(map, g)) {
        g = map_nod_lnk(map, c, 1);
        gd = 1;
        if (!g || !map_nod_red(map, g))
            return false;
    }
    map_clr_put(map, c, false);
    map_clr_put(map, g, false);
    void *top = c;
    if (gd == d) { // outer:  P(d: C(d: G, !d: Y)) -> C(d: G, !d: P(d: Y))
        map_lnk_put(map, p, d, map_nod_lnk(map, c, !d));
        map_lnk_put(map, c, !d, p);
    } else { // inner:  P(d: C(!d: G)) -> G(d: C, !d: P), G's children shared out
        map_lnk_put(map, c, !d, map_nod_lnk(map, g, d));
        map_lnk_put(map, p, d, map_nod_lnk(map, g, !d));
        map_lnk_put(map, g, d, c);
        map_lnk_put(map, g, !d, p);
        top = g;
    }
    map_slot_put(s, top);
    map_clr_put(map, top, true);
    return true;
}

void __map_srch(st_map *map, const void *key, __st_map_pos *pos) noexcept
{
    map->dpt = 0;
    void *root = map->root;
    if (root && map_nod_red(map, root))
        map_clr_put(map, root, false);
    char *s = (pos->flg & __MAP_POS_FROM) ? pos->cur : reinterpret_cast<char *>(&map->root);
    map_cmp_fn cmp = pos->cmp ? pos->cmp : map->fnclst->cmp;
    uintptr_t prm = pos->cmp ? pos->prm : map->prm;
    pos->flg &= ~__MAP_POS_FOUND;
    // With the end hint the walk goes right without comparing; the greatest
    // node it ends under (last) is compared once afterwards.
    const bool end = pos->flg & __MAP_POS_END;
    void *last = nullptr;
    // Invariant: s is the slot of the node compared next.
    for (void *p; (p = map_slot_get(s)) != nullptr;) {
        map->dpt++;
        // Both children are fetched while the compare runs: one of them is
        // the next node, and a large tree misses the cache at every level.
        __builtin_prefetch(map_nod_lnk(map, p, 0));
        __builtin_prefetch(map_nod_lnk(map, p, 1));
        int32_t r = end ? 1 : cmp(key, map_nod_key(map, p), prm);
        if (r == 0) {
            pos->flg |= __MAP_POS_FOUND;
            break;
        }
        int d = r > 0;
        char *cs = map_lnk_slot(map, p, d);
        void *c = map_slot_get(cs);
        if (c && map_nod_red(map, c) && map->rtt_lck == 0 && map_fix(map, s, p, d, c))
            continue; // s now holds the lifted node: compare it again
        s = cs;
        last = p;
    }
    if (end && last && cmp(key, map_nod_key(map, last), prm) <= 0) {
        pos->flg &= ~__MAP_POS_END; // a wrong hint: the rebalanced tree is searched again
        __map_srch(map, key, pos);
        return;
    }
    pos->cur = s;
    if (map->dpt > map->dpt_max)
        map->dpt_max = map->dpt;
}

int32_t map_get(st_map *map, const void *key, void **out) noexcept
{
    __st_map_pos pos = {};
    __map_srch(map, key, &pos);
    if (!(pos.flg & __MAP_POS_FOUND))
        return rtn_none();
    *out = map_slot_get(pos.cur);
    return rtn_ok();
}

// Makes a node from src with slot 2; none on failure.
static void *map_mak(st_map *map, const void *src)
{
    void *nod = nullptr;
    if (map->fnclst->mak(&nod, src, map->prm) != 0)
        return nullptr;
    return nod;
}

// Hangs nod, red and childless, at the empty slot s.
static void map_hang(st_map *map, char *s, void *nod)
{
    map_lnk_put(map, nod, 0, nullptr);
    map_lnk_put(map, nod, 1, nullptr);
    map_clr_put(map, nod, true);
    map_slot_put(s, nod);
}

// Missing key: hang a new node made from src at the empty slot s.
static int32_t map_put_new(st_map *map, char *s, const void *src, void **out)
{
    void *nod = map_mak(map, src);
    if (!nod)
        return rtn_fail();
    map_hang(map, s, nod);
    if (out)
        *out = nod;
    return rtn_ok();
}

// Present key: a new node takes the old one's links and colour, then the
// old one is released.
static int32_t map_put_rpl(st_map *map, char *s, const void *src, void **out)
{
    void *old = map_slot_get(s);
    void *nod = map_mak(map, src);
    if (!nod)
        return rtn_fail();
    map_lnk_put(map, nod, 0, map_nod_lnk(map, old, 0));
    map_lnk_put(map, nod, 1, map_nod_lnk(map, old, 1));
    map_clr_put(map, nod, map_nod_red(map, old));
    map_slot_put(s, nod);
    map->fnclst->del(old, map->prm);
    if (out)
        *out = nod;
    return rtn_ok();
}

int32_t map_put(st_map *map, const void *src, void **out, uint32_t mode) noexcept
{
    __st_map_pos pos = {};
    const void *key = static_cast<const char *>(src) + map->key_ofs;
    if (mode & MAP_PUT_END)
        pos.flg = __MAP_POS_END;
    __map_srch(map, key, &pos);
    if (!(pos.flg & __MAP_POS_FOUND)) {
        if (mode & MAP_PUT_OLD_ONLY)
            return rtn_none();
        return map_put_new(map, pos.cur, src, out);
    }
    void *nod = map_slot_get(pos.cur);
    if (mode & MAP_PUT_KEEP) {
        if (out)
            *out = nod;
        return rtn_none();
    }
    if (mode & MAP_PUT_RPL)
        return map_put_rpl(map, pos.cur, src, out);
    if (!map->fnclst->cpy || map->fnclst->cpy(nod, src, map->prm) != 0)
        return rtn_fail();
    if (out)
        *out = nod;
    return rtn_ok();
}

int32_t map_put_nod(st_map *map, void *nod, uint32_t mode) noexcept
{
    if (!map || !nod)
        return rtn_fail();
    __st_map_pos pos = {};
    if (mode & MAP_PUT_END)
        pos.flg = __MAP_POS_END;
    __map_srch(map, map_nod_key(map, nod), &pos);
    if (pos.flg & __MAP_POS_FOUND)
        return rtn_none();
    map_hang(map, pos.cur, nod);
    return rtn_ok();
}

// Deletion state: the key and whether a black node left a path and the
// first red node above it must still be recoloured.
struct map_del_ctx {
    const void *key;
    bool pend;
};

// Pending repair on the way up: the first red node turns black and its
// children red; then the walk is done.
static void map_del_fix(const st_map *map, void *nod, map_del_ctx *ctx)
{
    if (!ctx->pend || !map_nod_red(map, nod))
        return;
    map_clr_put(map, nod, false);
    for (int d = 0; d < 2; d++) {
        void *c = map_nod_lnk(map, nod, d);
        if (c)
            map_clr_put(map, c, true);
    }
    ctx->pend = false;
}

// Unlinks the greatest node of the subtree at s (following link 1) and
// returns it; its link-0 child takes its place.
static void *map_cut_max(const st_map *map, char *s, map_del_ctx *ctx)
{
    void *x = map_slot_get(s);
    char *r = map_lnk_slot(map, x, 1);
    if (!map_slot_get(r)) {
        map_slot_put(s, map_nod_lnk(map, x, 0));
        ctx->pend = !map_nod_red(map, x);
        return x;
    }
    void *m = map_cut_max(map, r, ctx);
    map_del_fix(map, x, ctx);
    return m;
}

// Deletes the key below slot s; 0 deleted, 1 absent.
static int32_t map_del_at(st_map *map, char *s, map_del_ctx *ctx)
{
    void *n = map_slot_get(s);
    if (!n)
        return 1;
    int32_t r = map->fnclst->cmp(ctx->key, map_nod_key(map, n), map->prm);
    if (r != 0) {
        if (map_del_at(map, map_lnk_slot(map, n, r > 0), ctx) != 0)
            return 1;
        map_del_fix(map, n, ctx);
        return 0;
    }
    if (!map_nod_lnk(map, n, 0)) {
        map_slot_put(s, map_nod_lnk(map, n, 1));
    } else { // the in-order predecessor M takes N's place, keeping its colour
        void *m = map_cut_max(map, map_lnk_slot(map, n, 0), ctx);
        map_lnk_put(map, m, 0, map_nod_lnk(map, n, 0));
        map_lnk_put(map, m, 1, map_nod_lnk(map, n, 1));
        map_slot_put(s, m);
    }
    map->fnclst->del(n, map->prm);
    return 0;
}

int32_t map_del(st_map *map, const void *key) noexcept
{
    map_del_ctx ctx = {key, false};
    if (map_del_at(map, reinterpret_cast<char *>(&map->root), &ctx) != 0)
        return rtn_none();
    return rtn_ok();
}

// Links the sorted nodes v[lo, hi) into a subtree of the least height and
// returns its root. Depth d of the root; nodes on the deepest level (red
// depth) are red, all others black, so every path from the top to an empty
// link holds the same number of black nodes.
static void *map_bld(const st_map *map, void **v, size_t lo, size_t hi, uint32_t d, uint32_t red)
{
    if (lo >= hi)
        return nullptr;
    size_t mid = lo + (hi - lo) / 2;
    void *n = v[mid];
    map_lnk_put(map, n, 0, map_bld(map, v, lo, mid, d + 1, red));
    map_lnk_put(map, n, 1, map_bld(map, v, mid + 1, hi, d + 1, red));
    map_clr_put(map, n, d == red && d > 0);
    return n;
}

// Lists the nodes in key order into v without a stack, however deep the
// tree: a node's in-order predecessor borrows its empty link 1 as a thread
// back to the node while its left side is walked (Morris), then gives it
// back. Returns the count.
static size_t map_col(const st_map *map, void **v)
{
    size_t cnt = 0;
    for (void *cur = map->root; cur;) {
        void *pre = map_nod_lnk(map, cur, 0);
        if (!pre) {
            v[cnt++] = cur;
            cur = map_nod_lnk(map, cur, 1);
            continue;
        }
        while (map_nod_lnk(map, pre, 1) && map_nod_lnk(map, pre, 1) != cur)
            pre = map_nod_lnk(map, pre, 1);
        if (!map_nod_lnk(map, pre, 1)) {
            map_lnk_put(map, pre, 1, cur);
            cur = map_nod_lnk(map, cur, 0);
        } else {
            map_lnk_put(map, pre, 1, nullptr);
            v[cnt++] = cur;
            cur = map_nod_lnk(map, cur, 1);
        }
    }
    return cnt;
}

int32_t map_bal(st_map *map) noexcept
{
    if (!map || map->rtt_lck != 0)
        return rtn_fail();
    uint32_t n = 0;
    RTN_TRY(map_cnt(map, &n));
    if (n < 2)
        return rtn_ok();
    void **v = nullptr;
    RTN_TRY(_malloc(&v, n * sizeof *v));
    size_t cnt = map_col(map, v);
    uint32_t red = 0; // the deepest level of a tree of least height: floor(log2 n)
    while ((2ull << red) <= n)
        red++;
    map->root = map_bld(map, v, 0, cnt, 0, red);
    _free(&v);
    return rtn_ok();
}
