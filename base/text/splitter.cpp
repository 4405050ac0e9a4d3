// Text splitter: rules of compiled patterns cut a character stream into
// tokens, one per call, with unclaimed text handed out as kind 0.
#include "base/text/text.h"

#include <cstring>

namespace
{

// Appends n bytes to a growable byte buffer.
int32_t spr_app(st_buf *buf, const void *src, uint32_t n)
{
    void *hdl = buf_hdl(buf);
    const uint32_t pos = buf_pos(hdl);
    void *e;
    if (n == 0)
        return rtn_ok();
    RTN_TRY(buf_ref(hdl, pos, n, &e));
    std::memcpy(e, src, n);
    buf_hdr_put(hdl, buf_flg(hdl), pos + n, buf_cnt(hdl), buf_siz(hdl));
    return rtn_ok();
}

// Appends a character's bytes (none for 0).
int32_t spr_app_chr(st_buf *buf, uint32_t chr)
{
    char b[4];
    return spr_app(buf, b, chr ? cstream_chr_bytes(static_cast<int32_t>(chr), b) : 0);
}

// Writes a zero byte after the text without counting it; the text pointer.
const char *spr_trm(st_buf *buf)
{
    void *hdl = buf_hdl(buf);
    void *e;
    if (buf_ref(hdl, buf_pos(hdl), 1, &e) != 0)
        return nullptr;
    *static_cast<char *>(e) = 0;
    return static_cast<const char *>(buf_dat(hdl));
}

// ---------------------------------------------------------------------------
// The character queue: the active rule's characters from its first on, so
// that a token can end at its longest match and the characters read beyond
// it be fed again; with no rule active, only the characters kept from the
// last token. chq_pos is the next one to feed.
// ---------------------------------------------------------------------------

int32_t chq_app(st_txt_spr *spr, uint32_t chr)
{
    if (spr->chq_len == spr->chq_cap) {
        const uint32_t cap = spr->chq_cap ? 2 * spr->chq_cap : 16;
        RTN_TRY(_realloc(&spr->chq, size_t{cap} * sizeof *spr->chq));
        spr->chq_cap = cap;
    }
    spr->chq[spr->chq_len++] = chr;
    return rtn_ok();
}

// Appends the bytes of the first n queued characters to buf, then drops
// them; the rest is fed again. The line state of the new first character
// follows the last one dropped.
int32_t chq_take(st_txt_spr *spr, st_buf *buf, uint32_t n)
{
    for (uint32_t i = 0; i < n; i++)
        RTN_TRY(spr_app_chr(buf, spr->chq[i]));
    if (n) {
        spr->flg = spr->chq[n - 1] == 10 ? spr->flg | SPR_LIN : spr->flg & ~SPR_LIN;
        spr->chq_len -= n;
        std::memmove(spr->chq, spr->chq + n, size_t{spr->chq_len} * sizeof *spr->chq);
    }
    spr->chq_pos = 0;
    return rtn_ok();
}

// Characters of the active rule's longest match: at least the first, so
// that every token moves the text on, and never more than were fed.
uint32_t chq_match(const st_txt_spr *spr)
{
    const st_txt_mtc &m = spr->act->mtc;
    const uint32_t n = m.mtc_end - m.mtc_top;
    return n < 1 ? 1 : n > spr->chq_pos ? spr->chq_pos : n;
}

// The variable nam; a missing one is created with 0.
int32_t spr_var_get(st_txt_spr *spr, const char *nam, int32_t *val)
{
    if (vmap_get_str_int(&spr->var, nullptr, nam, val) == 0)
        return rtn_ok();
    *val = 0;
    RTN_TRY(vmap_put_str_int(&spr->var, nullptr, nam, 0, 0));
    return rtn_ok();
}

int32_t spr_asg(st_txt_spr *spr, const st_txt_spr_rul *rul)
{
    if (!rul->asg_nam)
        return rtn_ok();
    RTN_TRY(vmap_put_str_int(&spr->var, nullptr, rul->asg_nam, rul->asg_val, 0));
    return rtn_ok();
}

// Hands out the completed token of the active rule, the unclaimed text
// before it first (then SPR_PND keeps the token for the next call).
int32_t spr_emit(st_txt_spr *spr, st_txt_spr_tkn *out)
{
    txt_mtc_chk_rst(&spr->act->mtc);
    const char *mtc = spr_trm(&spr->mtc_buf);
    const char *unm = spr_trm(&spr->unm_buf);
    if (!mtc || !unm)
        return rtn_fail();
    if (buf_pos(buf_hdl(&spr->unm_buf)) == 0) {
        *out = {spr->act->knd, mtc};
        spr->flg &= ~SPR_PND;
    } else {
        *out = {0, unm};
        spr->flg |= SPR_PND;
    }
    spr->flg |= SPR_RST;
    return rtn_ok();
}

// The source has ended: the attempt in progress becomes a token up to its
// longest match when its rule matches (after the end-of-text step; the
// characters beyond it are fed again before the end is seen once more),
// else unclaimed text.
int32_t spr_eoi(st_txt_spr *spr, st_txt_spr_tkn *out)
{
    st_txt_spr_rul *act = spr->act;
    if (act && !(act->mtc.stt & MTC_STT_MTC))
        RTN_TRY(txt_mtc_wrd(&act->mtc, 0));
    if (act && (act->mtc.stt & MTC_STT_MTC)) {
        RTN_TRY(chq_take(spr, &spr->mtc_buf, chq_match(spr)));
        if (spr->chq_len)
            spr->flg |= SPR_EOT;
        return spr_emit(spr, out);
    }
    if (act)
        txt_mtc_chk_rst(&act->mtc);
    spr->act = nullptr;
    spr->flg |= SPR_RST;
    RTN_TRY(chq_take(spr, &spr->unm_buf, spr->chq_len));
    const char *unm = spr_trm(&spr->unm_buf);
    if (!unm)
        return rtn_fail();
    if (buf_pos(buf_hdl(&spr->unm_buf)) == 0)
        return rtn_fail1();
    *out = {0, unm};
    spr->flg &= ~SPR_PND;
    return rtn_ok();
}

// Offers chr to the rules in order; the first one live or matched becomes
// active. 0 with *rul the new active rule or none.
int32_t spr_try(st_txt_spr *spr, uint32_t n, st_txt_spr_rul **rul)
{
    st_txt_spr_rul *r = spr->lst;
    for (; r; r = r->nxt) {
        int32_t v;
        if (r->cnd_nam) {
            RTN_TRY(spr_var_get(spr, r->cnd_nam, &v));
            if (v != r->cnd_val)
                continue;
        }
        r->mtc.pos = n;
        r->mtc.opt &= ~MTC_ONE;
        // No rule is active: the character is the first queued.
        r->mtc.stt = (r->mtc.stt & ~MTC_STT_LIN) | ((spr->flg & SPR_LIN) ? MTC_STT_LIN : 0);
        RTN_TRY(txt_mtc_wrd(&r->mtc, spr->chr));
        if (r->mtc.thr || (r->mtc.stt & MTC_STT_MTC))
            break;
    }
    *rul = r;
    return rtn_ok();
}

// Result of one character fed to the active rule.
enum spr_stp {
    SPR_GO,
    SPR_EMIT
};

// Feeds the current character to the active rule (step 4b of a call).
int32_t spr_feed_act(st_txt_spr *spr, spr_stp *stp)
{
    st_txt_spr_rul *r = spr->act;
    RTN_TRY(txt_mtc_wrd(&r->mtc, spr->chr));
    *stp = SPR_GO;
    if (r->mtc.thr) // still inside the token
        return rtn_ok();
    if ((r->mtc.stt & MTC_STT_MTC) && r->knd != 0) { // complete up to its longest match
        RTN_TRY(chq_take(spr, &spr->mtc_buf, chq_match(spr)));
        RTN_TRY(spr_asg(spr, r));
        *stp = SPR_EMIT;
        return rtn_ok();
    }
    // A kind-0 rule's match is unclaimed text; a failed attempt's characters
    // are, but for the one it failed at, which is offered to the rules again.
    const uint32_t n = (r->mtc.stt & MTC_STT_MTC) ? chq_match(spr) : spr->chq_pos - 1;
    RTN_TRY(chq_take(spr, &spr->unm_buf, n));
    txt_mtc_chk_rst(&r->mtc);
    spr->act = nullptr;
    return rtn_ok();
}

// Offers the current character to the rules (step 4c of a call).
int32_t spr_feed_new(st_txt_spr *spr, uint32_t n, spr_stp *stp)
{
    st_txt_spr_rul *r;
    *stp = SPR_GO;
    RTN_TRY(spr_try(spr, n, &r));
    if (!r)
        return chq_take(spr, &spr->unm_buf, 1);
    spr->act = r;
    r->mtc.opt |= MTC_ONE; // no new attempts inside a token
    if ((r->mtc.stt & MTC_STT_MTC) && !r->mtc.thr) {
        RTN_TRY(chq_take(spr, &spr->mtc_buf, 1));
        RTN_TRY(spr_asg(spr, r));
        *stp = SPR_EMIT;
    }
    return rtn_ok();
}

// The next character to feed: a queued one, else one read from the source.
// 0; 1 at the end of the text (a failing pop, a character 0, or the end
// seen before the queued characters); a failed allocation.
int32_t spr_next(st_txt_spr *spr)
{
    if (spr->chq_pos == spr->chq_len) {
        if (spr->flg & SPR_EOT) {
            spr->flg &= ~SPR_EOT;
            return 1;
        }
        uint32_t c = 0;
        if (stream_pop(spr->src, &c) != 0 || c == 0)
            return 1;
        RTN_TRY(chq_app(spr, c));
    }
    spr->chr = spr->chq[spr->chq_pos++];
    return 0;
}

void spr_rul_free(st_txt_spr_rul *r)
{
    txt_mtc_chk_end(&r->mtc);
    _free(&r->cnd_nam);
    _free(&r->asg_nam);
    _free(&r);
}

} // namespace

int32_t txt_spr_set(st_txt_spr *spr, st_stream *src) noexcept
{
    if (!spr || !src)
        return rtn_fail();
    std::memset(spr, 0, sizeof *spr);
    RTN_TRY(vmap_set(&spr->var, 0));
    buf_var(buf_hdl(&spr->mtc_buf), 1);
    buf_var(buf_hdl(&spr->unm_buf), 1);
    spr->flg = SPR_LIN;
    spr->src = src;
    spr->tal = &spr->lst;
    return rtn_ok();
}

int32_t txt_spr_psh_lst_regexp(st_txt_spr *spr, uint32_t knd, st_stream *pat, const uint32_t *opt,
                               const char *cnd_nam, int32_t cnd_val, const char *asg_nam,
                               int32_t asg_val) noexcept
{
    if (!spr || !spr->tal || !pat)
        return rtn_fail();
    st_txt_spr_rul *r = nullptr;
    RTN_TRY(_malloc0(&r, sizeof *r));
    if (regexp_trm(&r->mtc, pat) != 0) {
        _free(&r);
        return rtn_keep();
    }
    txt_mtc_chk_set(&r->mtc, r->mtc.trm, opt);
    r->mtc.opt |= MTC_OWN;
    if (_malloc_str(&r->cnd_nam, cnd_nam) != 0 || _malloc_str(&r->asg_nam, asg_nam) != 0) {
        spr_rul_free(r);
        return rtn_keep();
    }
    r->cnd_val = cnd_val;
    r->asg_val = asg_val;
    r->knd = knd;
    *spr->tal = r;
    spr->tal = &r->nxt;
    return rtn_ok();
}

int32_t txt_spr(st_txt_spr *spr, st_txt_spr_tkn *out) noexcept
{
    if (!spr || !out || !spr->tal)
        return rtn_fail();
    if (spr->flg & SPR_PND) {
        if (!spr->act)
            return rtn_fail();
        *out = {spr->act->knd, static_cast<const char *>(buf_dat(buf_hdl(&spr->mtc_buf)))};
        spr->flg &= ~SPR_PND;
        return rtn_ok();
    }
    if (spr->flg & SPR_RST) {
        spr->flg &= ~SPR_RST;
        buf_rst(buf_hdl(&spr->mtc_buf));
        buf_rst(buf_hdl(&spr->unm_buf));
        spr->act = nullptr;
    }
    if (spr->chq_pos == spr->chq_len && !(spr->flg & SPR_EOT) && stream_chk(spr->src) != 0)
        return rtn_fail1();
    for (;;) {
        const int32_t nx = spr_next(spr);
        if (nx == 1)
            return spr_eoi(spr, out);
        if (nx != 0)
            return rtn_keep();
        const uint32_t n = spr->cnt++;
        spr_stp stp;
        if (spr->act)
            RTN_TRY(spr_feed_act(spr, &stp));
        else
            RTN_TRY(spr_feed_new(spr, n, &stp));
        if (stp == SPR_EMIT)
            return spr_emit(spr, out);
    }
}

int32_t txt_spr_end(st_txt_spr *spr) noexcept
{
    if (!spr)
        return rtn_fail();
    for (st_txt_spr_rul *r = spr->lst, *nxt; r; r = nxt) {
        nxt = r->nxt;
        spr_rul_free(r);
    }
    if (spr->tal) {
        buf_end(buf_hdl(&spr->mtc_buf));
        buf_end(buf_hdl(&spr->unm_buf));
        vmap_end(&spr->var);
    }
    _free(&spr->chq);
    std::memset(spr, 0, sizeof *spr);
    return rtn_ok();
}

// ---------------------------------------------------------------------------
// The two stream kinds over a splitter
// ---------------------------------------------------------------------------

static int32_t _txt_spr_stream_pop(void *hdl, void *unit)
{
    st_txt_spr_tkn tkn;
    const int32_t r = txt_spr(static_cast<st_txt_spr *>(hdl), &tkn);
    if (r == 0)
        std::memcpy(unit, &tkn, sizeof tkn);
    return r;
}

static int32_t _txt_spr_for_anr_stream_pop(void *hdl, void *unit)
{
    st_txt_spr_tkn tkn;
    const int32_t r = txt_spr(static_cast<st_txt_spr *>(hdl), &tkn);
    if (r != 0)
        return r;
    st_txt_anr_tkn t{};
    t.knd = tkn.knd;
    t.txt = const_cast<char *>(tkn.txt);
    std::memcpy(unit, &t, sizeof t);
    return r;
}

static int32_t _txt_spr_stream_end(void *hdl)
{
    return txt_spr_end(static_cast<st_txt_spr *>(hdl));
}

static int32_t _txt_spr_for_anr_stream_end(void *hdl)
{
    return txt_spr_end(static_cast<st_txt_spr *>(hdl));
}

const st_stream_fnc __txt_spr_stream_fnclst = {
    _txt_spr_stream_pop, nullptr, _txt_spr_stream_end, nullptr, nullptr, nullptr};
const st_stream_fnc __txt_spr_for_anr_stream_fnclst = {
    _txt_spr_for_anr_stream_pop, nullptr, _txt_spr_for_anr_stream_end, nullptr, nullptr, nullptr};

int32_t txt_spr_stream(st_stream *stm, st_txt_spr *spr) noexcept
{
    if (!stm || !spr)
        return rtn_fail();
    return stream_set(stm, spr, &__txt_spr_stream_fnclst, nullptr);
}

int32_t txt_spr_for_anr_stream(st_stream *stm, st_txt_spr *spr) noexcept
{
    if (!stm || !spr)
        return rtn_fail();
    return stream_set(stm, spr, &__txt_spr_for_anr_stream_fnclst, nullptr);
}
