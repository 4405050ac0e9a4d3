// Ordered map: whole-tree walks that release, check and print. They recurse
// to the depth of the tree.
#include "base/container/container.h"

#include <cinttypes>

// Releases the subtree of nod: the node first, then link 0, then link 1.
static void map_end_at(const st_map *map, void *nod)
{
    while (nod) {
        void *l0 = map_nod_lnk(map, nod, 0);
        void *l1 = map_nod_lnk(map, nod, 1);
        map->fnclst->del(nod, map->prm);
        map_end_at(map, l0);
        nod = l1; // the link-1 subtree last: a loop instead of a call
    }
}

st_map *map_end(st_map *map) noexcept
{
    map_end_at(map, map->root);
    map->root = nullptr;
    return map;
}

// Counts the children of nod that do not sort on their side of it.
static uint32_t map_chk_at(const st_map *map, const void *nod, map_chk_fn rpt, void *arg)
{
    uint32_t bad = 0;
    for (int d = 0; d < 2 && nod; d++) {
        const void *c = map_nod_lnk(map, nod, d);
        if (!c)
            continue;
        // The node's key against the child's: positive for link 0, negative for link 1.
        int32_t r = map->fnclst->cmp(map_nod_key(map, nod), map_nod_key(map, c), map->prm);
        if (d == 0 ? r <= 0 : r >= 0) {
            bad++;
            if (rpt)
                rpt(nod, c, arg);
        }
        bad += map_chk_at(map, c, rpt, arg);
    }
    return bad;
}

int32_t map_chk(st_map *map, map_chk_fn rpt, void *arg) noexcept
{
    return map_chk_at(map, map->root, rpt, arg) ? rtn_none() : rtn_ok();
}

// "[address colour] " before a node when headers are asked for.
static void map_prt_hdr(const st_map *map, FILE *fp, const void *nod)
{
    fprintf(fp, "[%08" PRIxPTR " %c] ", reinterpret_cast<uintptr_t>(nod),
            map_nod_red(map, nod) ? '*' : '-');
}

// In-order layout: link-0 subtree, the node on its own line, link-1 subtree.
static void map_prt_ino(const st_map *map, FILE *fp, const void *nod, bool hdr)
{
    if (!nod)
        return;
    if (hdr)
        fputs("=lnk-0=\n", fp);
    map_prt_ino(map, fp, map_nod_lnk(map, nod, 0), hdr);
    if (hdr)
        map_prt_hdr(map, fp, nod);
    map->fnclst->prt(fp, nod, map->prm);
    fputc('\n', fp);
    if (hdr)
        fputs("=lnk-1=\n", fp);
    map_prt_ino(map, fp, map_nod_lnk(map, nod, 1), hdr);
}

// Tree layout: the node indented by 2*d blanks, then each subtree at d + 2
// after its marker line. The marker's blanks are written even without
// markers and for an empty subtree.
static void map_prt_tree(const st_map *map, FILE *fp, const void *nod, int d, bool hdr)
{
    if (!nod)
        return;
    fprintf(fp, "%*s", 2 * d, "");
    if (hdr)
        map_prt_hdr(map, fp, nod);
    map->fnclst->prt(fp, nod, map->prm);
    fputc('\n', fp);
    for (int side = 0; side < 2; side++) {
        fprintf(fp, "%*s%s", 2 * d + 2, "", hdr ? (side ? "=lnk-1=\n" : "=lnk-0=\n") : "");
        map_prt_tree(map, fp, map_nod_lnk(map, nod, side), d + 2, hdr);
    }
}

int32_t map_prt(st_map *map, FILE *fp, uint32_t flg) noexcept
{
    bool hdr = flg & MAP_PRT_HDR;
    if (flg & MAP_PRT_TREE)
        map_prt_tree(map, fp, map->root, 2, hdr);
    else
        map_prt_ino(map, fp, map->root, hdr);
    return rtn_ok();
}
