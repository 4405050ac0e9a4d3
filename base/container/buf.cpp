// Buffer: fixed arrays, string views, growable arrays, linked stacks and
// linked queues behind one record addressed through its data field.
//
// Linked element blocks come from the runtime allocator. A stack block is
// [next][element]; a queue block is [tail][next][element], where only the
// head block's tail word is kept current (the 32-bit cursor cannot hold a
// 64-bit tail pointer). Links and dat point at the element part.
#include "base/container/container.h"

#include <cstdlib>

// Index of a list's tail in buf_ref.
constexpr uint32_t BUF_TAIL = UINT32_MAX;

static void buf_hdr_set(void *hdl, int i, uint32_t w)
{
    std::memcpy(static_cast<char *>(hdl) - BUF_HDR_SIZ + 4 * i, &w, sizeof w);
}

static void buf_dat_set(void *hdl, void *p)
{
    std::memcpy(hdl, &p, sizeof p);
}

static void buf_flg_add(void *hdl, uint32_t bits)
{
    buf_hdr_set(hdl, 0, buf_flg(hdl) | bits);
}

// End status: the buffer can no longer give or take; the end bit stays set.
static int32_t buf_eop_set(void *hdl)
{
    buf_flg_add(hdl, BUF_EOP);
    return rtn_fail1();
}

// ---------------------------------------------------------------------------
// Linked blocks
// ---------------------------------------------------------------------------

// Bytes in front of an element in its block: next link, plus tail for queues.
static size_t buf_lnk_hdr(uint32_t flg)
{
    return (flg & BUF_QUE) ? 2 * sizeof(void *) : sizeof(void *);
}

// The word w pointers in front of element e (1 = next link, 2 = queue tail).
static void *buf_lnk_get(const void *e, int w)
{
    void *p;
    std::memcpy(&p, static_cast<const char *>(e) - w * sizeof(void *), sizeof p);
    return p;
}

static void buf_lnk_set(void *e, int w, void *p)
{
    std::memcpy(static_cast<char *>(e) - w * sizeof(void *), &p, sizeof p);
}

static void buf_blk_free(void *e, uint32_t flg)
{
    std::free(static_cast<char *>(e) - buf_lnk_hdr(flg));
}

// Element idx of a list (BUF_TAIL: the last one), none past the end.
static void *buf_lnk_at(const void *hdl, uint32_t idx)
{
    void *e = buf_dat(hdl);
    if (idx == BUF_TAIL && e && (buf_flg(hdl) & BUF_QUE))
        return buf_lnk_get(e, 2);
    if (idx == BUF_TAIL)
        idx = buf_cnt(hdl) - 1;
    for (; e && idx; idx--)
        e = buf_lnk_get(e, 1);
    return e;
}

static int32_t buf_ref_lnk(void *hdl, uint32_t idx, void **out)
{
    if (buf_cnt(hdl) == 0)
        return rtn_fail();
    *out = idx < buf_cnt(hdl) || idx == BUF_TAIL ? buf_lnk_at(hdl, idx) : nullptr;
    if (!*out)
        buf_flg_add(hdl, BUF_EOP);
    return rtn_ok();
}

// Stack: the new block becomes the head. Queue: it goes behind the tail.
static int32_t buf_psh_lnk(void *hdl, const void *src)
{
    uint32_t flg = buf_flg(hdl);
    char *blk = static_cast<char *>(std::malloc(buf_lnk_hdr(flg) + buf_siz(hdl)));
    if (!blk)
        return rtn_fail();
    char *e = blk + buf_lnk_hdr(flg);
    std::memcpy(e, src, buf_siz(hdl));
    void *head = buf_dat(hdl);
    if (!(flg & BUF_QUE)) {
        buf_lnk_set(e, 1, head);
        buf_dat_set(hdl, e);
    } else if (!head) {
        buf_lnk_set(e, 1, nullptr);
        buf_lnk_set(e, 2, e);
        buf_dat_set(hdl, e);
    } else {
        buf_lnk_set(e, 1, nullptr);
        buf_lnk_set(buf_lnk_get(head, 2), 1, e);
        buf_lnk_set(head, 2, e);
    }
    buf_hdr_set(hdl, 2, buf_cnt(hdl) + 1);
    return rtn_ok();
}

// Takes the head out; a queue hands its tail word on to the new head.
static int32_t buf_pop_lnk(void *hdl, void *dst)
{
    void *head = buf_dat(hdl);
    uint32_t flg = buf_flg(hdl);
    if (buf_cnt(hdl) == 0 || !head)
        return buf_eop_set(hdl);
    std::memcpy(dst, head, buf_siz(hdl));
    void *nxt = buf_lnk_get(head, 1);
    if (nxt && (flg & BUF_QUE))
        buf_lnk_set(nxt, 2, buf_lnk_get(head, 2));
    buf_dat_set(hdl, nxt);
    buf_blk_free(head, flg);
    buf_hdr_set(hdl, 2, buf_cnt(hdl) - 1);
    return rtn_ok();
}

// ---------------------------------------------------------------------------
// Arrays
// ---------------------------------------------------------------------------

// Makes a growable array hold need elements: the capacity 2^e doubles (at
// least once when there is no array yet) until it suffices. On failure the
// buffer is unchanged.
static int32_t buf_grow(void *hdl, uint32_t need)
{
    if (buf_cnt(hdl) >= need)
        return rtn_ok();
    uint32_t flg = buf_flg(hdl);
    uint32_t e = (flg & BUF_EXP_MSK) >> BUF_EXP_SHF;
    void *dat = buf_dat(hdl);
    if (!dat || (uint64_t{1} << e) < need) {
        do
            e++;
        while ((uint64_t{1} << e) < need);
        size_t bytes;
        if (e > (BUF_EXP_MSK >> BUF_EXP_SHF) ||
            __builtin_mul_overflow(size_t{buf_siz(hdl)}, size_t{1} << e, &bytes))
            return rtn_fail();
        void *p = std::realloc(dat, bytes ? bytes : 1);
        if (!p)
            return rtn_fail();
        buf_dat_set(hdl, p);
        buf_hdr_set(hdl, 0, (flg & ~BUF_EXP_MSK) | e << BUF_EXP_SHF);
    }
    buf_hdr_set(hdl, 2, need);
    return rtn_ok();
}

int32_t buf_ref(void *hdl, uint32_t idx, uint32_t n, void **out) noexcept
{
    uint32_t flg = buf_flg(hdl);
    if (flg & BUF_LNK)
        return buf_ref_lnk(hdl, idx, out);
    uint64_t need = uint64_t{idx} + n;
    if (need > UINT32_MAX)
        return rtn_fail();
    if (flg & BUF_VAR)
        RTN_TRY(buf_grow(hdl, static_cast<uint32_t>(need)));
    else if (buf_cnt(hdl) < need)
        return rtn_fail();
    char *base = (flg & BUF_EXT) ? static_cast<char *>(buf_dat(hdl)) : static_cast<char *>(hdl);
    if (!base)
        return rtn_fail();
    *out = base + size_t{idx} * buf_siz(hdl);
    return rtn_ok();
}

// The address of an existing element idx, or -1 (also past a list's end).
static int32_t buf_at(void *hdl, uint32_t idx, void **out)
{
    RTN_TRY(buf_ref(hdl, idx, 1, out));
    return *out ? rtn_ok() : rtn_fail();
}

int32_t buf_get(void *hdl, uint32_t idx, void *dst) noexcept
{
    void *e;
    RTN_TRY(buf_at(hdl, idx, &e));
    std::memcpy(dst, e, buf_siz(hdl));
    return rtn_ok();
}

int32_t buf_put(void *hdl, uint32_t idx, const void *src) noexcept
{
    void *e;
    RTN_TRY(buf_at(hdl, idx, &e));
    std::memcpy(e, src, buf_siz(hdl));
    return rtn_ok();
}

int32_t buf_pop(void *hdl, void *dst) noexcept
{
    uint32_t flg = buf_flg(hdl);
    if (flg & BUF_EOP)
        return rtn_fail1();
    if (flg & BUF_LNK)
        return buf_pop_lnk(hdl, dst);
    uint32_t pos = buf_pos(hdl);
    if (pos >= buf_cnt(hdl))
        return buf_eop_set(hdl);
    void *e;
    RTN_TRY(buf_ref(hdl, pos, 1, &e));
    std::memcpy(dst, e, buf_siz(hdl));
    buf_hdr_set(hdl, 1, ++pos);
    if (pos == buf_cnt(hdl))
        buf_flg_add(hdl, BUF_EOP);
    return rtn_ok();
}

int32_t buf_psh(void *hdl, const void *src) noexcept
{
    uint32_t flg = buf_flg(hdl);
    if (flg & BUF_EOP)
        return rtn_fail1();
    if (flg & BUF_LNK)
        return buf_psh_lnk(hdl, src);
    uint32_t pos = buf_pos(hdl);
    void *e;
    RTN_TRY(buf_ref(hdl, pos, 1, &e));
    std::memcpy(e, src, buf_siz(hdl));
    buf_hdr_set(hdl, 1, ++pos);
    if (!(flg & BUF_VAR) && pos == buf_cnt(hdl))
        buf_flg_add(hdl, BUF_EOP);
    return rtn_ok();
}

// ---------------------------------------------------------------------------
// Constructors, rewinding and release
// ---------------------------------------------------------------------------

static int32_t buf_mak(void *hdl, uint32_t flg, uint32_t cnt, uint32_t siz, void *dat)
{
    buf_hdr_put(hdl, flg, 0, cnt, siz);
    buf_dat_set(hdl, dat);
    return rtn_ok();
}

int32_t buf_ptr(void *hdl, void *mem, uint32_t siz, uint32_t cnt) noexcept
{
    return buf_mak(hdl, BUF_EXT, cnt, siz, mem);
}

int32_t buf_str(void *hdl, const char *txt) noexcept
{
    uint32_t len = txt ? static_cast<uint32_t>(std::strlen(txt)) : 0;
    return buf_mak(hdl, BUF_EXT, len, 1, const_cast<char *>(txt));
}

int32_t buf_var(void *hdl, uint32_t siz) noexcept
{
    return buf_mak(hdl, BUF_EXT | BUF_VAR, 0, siz, nullptr);
}

int32_t buf_lnks(void *hdl, uint32_t siz) noexcept
{
    return buf_mak(hdl, BUF_EXT | BUF_LNK, 0, siz, nullptr);
}

int32_t buf_lnkq(void *hdl, uint32_t siz) noexcept
{
    return buf_mak(hdl, BUF_EXT | BUF_LNK | BUF_QUE, 0, siz, nullptr);
}

int32_t buf_rst(void *hdl) noexcept
{
    uint32_t flg = buf_flg(hdl);
    buf_hdr_set(hdl, 0, flg & ~BUF_EOP);
    if (!(flg & BUF_LNK))
        buf_hdr_set(hdl, 1, 0);
    return rtn_ok();
}

int32_t buf_clr(void *hdl) noexcept
{
    buf_rst(hdl);
    if (!(buf_flg(hdl) & BUF_EXT))
        std::memset(hdl, 0, size_t{buf_cnt(hdl)} * buf_siz(hdl));
    return rtn_ok();
}

int32_t buf_eop(const void *hdl) noexcept
{
    return (buf_flg(hdl) & BUF_EOP) ? 1 : 0;
}

void *buf_end(void *hdl) noexcept
{
    uint32_t flg = buf_flg(hdl);
    if (flg & BUF_LNK) {
        for (void *e = buf_dat(hdl), *nxt; e; e = nxt) {
            nxt = buf_lnk_get(e, 1);
            buf_blk_free(e, flg);
        }
    } else if (flg & BUF_VAR) {
        std::free(buf_dat(hdl));
    } else {
        return nullptr;
    }
    buf_dat_set(hdl, nullptr);
    return hdl;
}

int32_t _buf_vptr(void *hdl, void **out) noexcept
{
    void *dat = buf_dat(hdl);
    if (!dat || (buf_flg(hdl) & BUF_LNK)) // a list head is no block of its own
        return rtn_fail();
    *out = dat;
    buf_dat_set(hdl, nullptr);
    return rtn_ok();
}
