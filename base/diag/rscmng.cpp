// Resource manager: a registry of acquired resources with nesting levels,
// range checks and the unreleased-resource report.
//
// Bookkeeping never changes the caller's status word: the map operations
// and the allocation wrappers set it, so every operation keeps it in an
// st_rtn_save. Only rscmng_chk sets it, after logging an unknown range.
#include "base/container/container.h"
#include "base/diag/diag.h"

#include <cinttypes>
#include <cstdlib>

st_rscmng __rscmng_base = {10, nullptr, nullptr};

namespace
{

// Marks the diagnostics busy for the scope, so they do not record their own
// work.
struct dbg_busy {
    dbg_busy() { __dbg++; }
    ~dbg_busy() { __dbg--; }
};

} // namespace

// Registry order: beg, then knst, both unsigned.
static int32_t rcd_cmp(const void *key, const void *nod_key, uintptr_t)
{
    st_rscmng_key a, b;
    std::memcpy(&a, key, sizeof a);
    std::memcpy(&b, nod_key, sizeof b);
    if (a.beg != b.beg)
        return a.beg < b.beg ? -1 : 1;
    if (a.knst != b.knst)
        return a.knst < b.knst ? -1 : 1;
    return 0;
}

// Nodes are fixed-size copies of the registration record.
static int32_t rcd_mak(void **out, const void *src, uintptr_t)
{
    void *nod = std::malloc(sizeof(st_rscmng_rcd));
    if (nod)
        std::memcpy(nod, src, sizeof(st_rscmng_rcd));
    *out = nod;
    return nod ? 0 : -1;
}

static void rcd_del(void *nod, uintptr_t)
{
    std::free(nod);
}

// One report line without the line feed.
static void rcd_prt(FILE *fp, const void *nod, uintptr_t)
{
    const auto *r = static_cast<const st_rscmng_rcd *>(nod);
    __src_pos_fprint(fp, &r->pos);
    fprintf(fp, ",%08" PRIxPTR ",%08" PRIxPTR ",%u,", r->key.beg, r->key.end, r->nst);
    __prc_prt(&r->seq, fp);
}

// Registry function list; registrations are never overwritten.
static const st_map_fnc __rscmng_map_fnclst = {rcd_cmp, nullptr, rcd_mak, rcd_del, rcd_prt};

// End of the range [beg, beg + siz), saturated at the top of the address space.
static uintptr_t range_end(uintptr_t beg, uint32_t siz)
{
    return beg + siz < beg ? UINTPTR_MAX : beg + siz;
}

static st_rscmng *mng_or_base(st_rscmng *mng)
{
    return mng ? mng : &__rscmng_base;
}

// Sets the registry up on first use. 0, or -1 when it cannot be allocated.
static int32_t mng_map(st_rscmng *mng)
{
    if (mng->map)
        return 0;
    if (_malloc0(&mng->map, sizeof(st_map)) != 0)
        return -1;
    map_set(mng->map, &__rscmng_map_fnclst, 0, offsetof(st_rscmng_rcd, lnk[0]),
            offsetof(st_rscmng_rcd, lnk[1]), offsetof(st_rscmng_rcd, key),
            offsetof(st_rscmng_rcd, clr), 1);
    return 0;
}

// The record stored under key, or none.
static st_rscmng_rcd *rcd_get(st_rscmng *mng, const st_rscmng_key &key)
{
    void *nod;
    return map_get(mng->map, &key, &nod) == 0 ? static_cast<st_rscmng_rcd *>(nod) : nullptr;
}

// Pushes a fresh frame for the current level. 0, or -1 when out of memory.
static int32_t frame_push(st_rscmng *mng)
{
    st_rscmng_nst *frm;
    if (_malloc0(&frm, sizeof *frm) != 0)
        return -1;
    frm->lnk = mng->top;
    frm->lvl = mng->lvl;
    mng->top = frm;
    return 0;
}

// Links a stored record at the head of the current level's frame, making
// the frame when the level has none yet. Without memory the record stays
// registered but unlinked.
static void frame_link(st_rscmng *mng, st_rscmng_rcd *r)
{
    if ((!mng->top || mng->top->lvl != mng->lvl) && frame_push(mng) != 0)
        return;
    st_rscmng_nst *frm = mng->top;
    r->nxt = frm->top;
    if (r->nxt)
        r->nxt->prv = &r->nxt;
    r->prv = &frm->top;
    frm->top = r;
}

static void frame_unlink(st_rscmng_rcd *r)
{
    if (!r->prv)
        return;
    *r->prv = r->nxt;
    if (r->nxt)
        r->nxt->prv = r->prv;
    r->nxt = nullptr;
    r->prv = nullptr;
}

// Unlinks the top frame, frees it and ends the registrations on its list
// (a list is empty unless the registry exists).
static void frame_pop(st_rscmng *mng)
{
    st_rscmng_nst *frm = mng->top;
    mng->top = frm->lnk;
    for (st_rscmng_rcd *r = frm->top, *nxt; r; r = nxt) {
        nxt = r->nxt;
        st_rscmng_key key = r->key; // the node and its key go with map_del
        map_del(mng->map, &key);
    }
    _free(&frm);
}

void *rscmng_psh(st_rscmng *mng, void *rsc, uint32_t siz, uint32_t nst, const char *fil,
                 int32_t lin, const char *fnc, const char *abt) noexcept
{
    if (__dbg || !rsc)
        return rsc;
    dbg_busy busy;
    st_rtn_save kept;
    mng = mng_or_base(mng);
    if (mng_map(mng) != 0)
        return rsc;
    st_rscmng_rcd rec{};
    rec.pos = {abt, fil, lin, fnc};
    rec.rsc = rsc;
    rec.siz = siz;
    rec.nst = nst;
    rec.seq = __prc_cnt(nullptr);
    uintptr_t beg = reinterpret_cast<uintptr_t>(rsc);
    rec.key = {beg, range_end(beg, siz), nst};
    rec.cnt = 1;
    void *nod;
    int32_t rc = map_put(mng->map, &rec, &nod, MAP_PUT_KEEP);
    auto *r = static_cast<st_rscmng_rcd *>(nod);
    if (rc == 1)
        r->cnt++; // the key is registered already
    else if (rc == 0 && nst)
        frame_link(mng, r);
    return rsc;
}

namespace
{

// A range check in progress: the query and the record that covers it.
struct chk_query {
    st_rscmng_key key;        // beg and end of the query
    const st_rscmng_rcd *hit; // the covering record, once found
};

} // namespace

// The records that may cover the query are those starting at or before it:
// a prefix of the registry order.
static int32_t chk_rng(const void *key, const void *nod_key, uintptr_t)
{
    st_rscmng_key q, n;
    std::memcpy(&q, key, sizeof q);
    std::memcpy(&n, nod_key, sizeof n);
    return n.beg <= q.beg ? 0 : -1;
}

// Accepts the first record whose range reaches the query's end. A record of
// size 0 (a handle such as a file) covers its own address.
static int32_t chk_visit(void *nod, void *arg)
{
    const auto *r = static_cast<const st_rscmng_rcd *>(nod);
    auto *q = static_cast<chk_query *>(arg);
    uintptr_t end = r->key.end > r->key.beg ? r->key.end : r->key.beg + 1;
    if (end < q->key.end)
        return 0;
    q->hit = r;
    return 1;
}

// The check proper: 0 covered, 1 not, -1 no registry.
static int32_t chk_find(st_rscmng *mng, const void *ptr, uint32_t siz)
{
    dbg_busy busy;
    st_rtn_save kept;
    if (mng_map(mng) != 0)
        return -1;
    uintptr_t beg = reinterpret_cast<uintptr_t>(ptr);
    chk_query q = {{beg, range_end(beg, siz), 0}, nullptr};
    map_rng(mng->map, &q.key, chk_rng, chk_visit, &q);
    return q.hit ? 0 : 1;
}

// Logs a call on an unknown resource: a memory-log record, the log printed
// and standard error flushed.
static void unknown_log(const void *ptr, uint32_t siz, const char *fil, int32_t lin,
                        const char *fnc, const char *abt)
{
    st_rscmng_log dat = {ptr, siz, fnc, abt};
    mem_log_psh(nullptr, __rtn, fil, lin, &dat, sizeof dat, rscmng_log);
    mem_log_prt();
    fflush(stderr);
}

int32_t rscmng_chk(st_rscmng *mng, const void *ptr, uint32_t siz, int32_t log, const char *fil,
                   int32_t lin, const char *fnc, const char *abt) noexcept
{
    if (__dbg)
        return 0;
    if (!ptr)
        return 1;
    int32_t rc = chk_find(mng_or_base(mng), ptr, siz ? siz : 1);
    if (rc == 1 && log) {
        unknown_log(ptr, siz, fil, lin, fnc, abt);
        __rtn = RTN_ERR;
    }
    return rc;
}

int32_t rscmng_del(st_rscmng *mng, const void *rsc, uint32_t nst, const char *fil, int32_t lin,
                   const char *fnc, const char *abt) noexcept
{
    if (__dbg)
        return 0;
    dbg_busy busy;
    st_rtn_save kept;
    mng = mng_or_base(mng);
    uintptr_t beg = reinterpret_cast<uintptr_t>(rsc);
    st_rscmng_key key = {beg, beg, nst};
    st_rscmng_rcd *r = mng_map(mng) == 0 ? rcd_get(mng, key) : nullptr;
    if (!r)
        return 1;
    frame_unlink(r);
    if (map_del(mng->map, &key) != 0) {
        unknown_log(rsc, 0, fil, lin, fnc, abt);
        return 1;
    }
    return 0;
}

int32_t rscmng_del_all(st_rscmng *mng, int32_t lvl) noexcept
{
    if (__dbg)
        return __dbg;
    dbg_busy busy;
    st_rtn_save kept;
    mng = mng_or_base(mng);
    if (lvl != 0) {
        while (mng->top && mng->top->lvl >= lvl)
            frame_pop(mng);
        return 0;
    }
    while (mng->top) { // map_end below frees the records of every list
        st_rscmng_nst *frm = mng->top;
        mng->top = frm->lnk;
        _free(&frm);
    }
    if (mng->map)
        map_end(mng->map);
    return 0;
}

int32_t rscmng_cnt(st_rscmng *mng, uint32_t *cnt) noexcept
{
    st_rtn_save kept;
    mng = mng_or_base(mng);
    uint32_t n = 0;
    int32_t rc = mng_map(mng) == 0 ? map_cnt(mng->map, &n) : -1;
    if (cnt)
        *cnt = n;
    return rc;
}

namespace
{

struct prt_arg {
    FILE *fp;     // the report
    uint32_t lvl; // highest nest flag listed
};

} // namespace

// Report visitor: the registrations whose nest flag is not above the level.
static int32_t prt_visit(void *nod, void *arg)
{
    const auto *out = static_cast<const prt_arg *>(arg);
    const auto *r = static_cast<const st_rscmng_rcd *>(nod);
    if (r->nst <= out->lvl) {
        rcd_prt(out->fp, r, 0);
        fputc('\n', out->fp);
    }
    return 0;
}

int32_t rscmng_prt(st_rscmng *mng, FILE *fp, uint32_t lvl) noexcept
{
    uint32_t cnt;
    int32_t rc = rscmng_cnt(mng, &cnt);
    if (rc != 0 || cnt == 0)
        return rc;
    if (!fp)
        return -1;
    st_rtn_save kept;
    fputs("[RSCMNG UnReleasePointer],func,about,pointer,size,*,prc_cnt\n", fp);
    prt_arg out = {fp, lvl};
    return map_rng(mng_or_base(mng)->map, nullptr, nullptr, prt_visit, &out);
}

void rscmng_log(FILE *fp, const void *dat) noexcept
{
    if (!fp || !dat)
        return;
    st_rscmng_log p;
    std::memcpy(&p, dat, sizeof p);
    fprintf(fp, "fnc=%s ptr=0x%08" PRIxPTR " size=%u about=%s", p.fnc ? p.fnc : "",
            reinterpret_cast<uintptr_t>(p.ptr), p.siz, p.abt ? p.abt : "");
}

void rscmng_nst_in(st_rscmng *mng) noexcept
{
    st_rtn_save kept;
    mng = mng_or_base(mng);
    // The level's frame is made by its first nested registration, so the
    // many levels that register nothing cost no allocation.
    mng->lvl++;
}

void rscmng_nst_out(st_rscmng *mng) noexcept
{
    st_rtn_save kept;
    mng = mng_or_base(mng);
    // Only the frame made for this level ends here: a level whose frame
    // could not be made must not end the enclosing level's registrations.
    if (mng->top && mng->top->lvl == mng->lvl)
        frame_pop(mng);
    mng->lvl--;
}
