// Text analyzer: rules of test and action items over a lazily read token
// list, one pass per head token. The item types, with what each does while
// tested and when applied, are listed at their enum in text.h; tst and act
// below follow that table.
#include "base/text/text.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace
{

bool tkn_blk(const st_txt_anr_tkn *t)
{
    return (t->knd & ANR_BLK) || (t->stt & ANR_TKN_DEL);
}

// Reads the next token from src into the empty slot lnk at the end of the
// list. 0; 1 when src has ended (it is not read again).
int32_t anr_read(st_txt_anr *anr, st_txt_anr_tkn **lnk)
{
    st_txt_anr_tkn rec;
    if (anr->flg & ANR_EOS)
        return rtn_none();
    const int32_t r = stream_pop(anr->src, &rec);
    if (r == 1 || r == RTN_ERR1) {
        anr->flg |= ANR_EOS; // a stream that reported its end is stopped
        return rtn_none();
    }
    if (r != 0)
        return rtn_keep();
    return __txt_anr_mak_fct(lnk, rec.knd, rec.txt);
}

// The token in slot lnk; an empty slot at the end of the list is filled
// from src first. 0; 1 when there is none.
int32_t anr_at(st_txt_anr *anr, st_txt_anr_tkn **lnk, st_txt_anr_tkn **out)
{
    if (!*lnk)
        RTN_TRY(anr_read(anr, lnk));
    *out = *lnk;
    return rtn_ok();
}

// The cursor moves to the token in slot lnk.
int32_t cur_at(st_txt_anr *anr, st_txt_anr_tkn **lnk)
{
    st_txt_anr_tkn *t;
    if (anr_at(anr, lnk, &t) != 0) {
        anr->cur = nullptr;
        return __rtn;
    }
    anr->cur = t;
    anr->cur_lnk = lnk;
    return rtn_ok();
}

// From an opener at the cursor: onto the closer that brings the depth from
// 1 to 0, counting openers and closers that are not blank.
int32_t cur_grp_cls(st_txt_anr *anr)
{
    for (uint32_t dpt = 1; dpt;) {
        RTN_TRY(cur_at(anr, &anr->cur->nxt));
        if (tkn_blk(anr->cur))
            continue;
        if (anr->cur->knd & ANR_OPN)
            dpt++;
        else if (anr->cur->knd & ANR_CLS)
            dpt--;
    }
    return rtn_ok();
}

// Test 0 on a token.
bool tst_tkn(st_txt_anr_itm *itm, const st_txt_anr_tkn *t)
{
    if (itm->val != -1 && t->knd != static_cast<uint32_t>(itm->val))
        return false;
    if (!itm->mtc.trm)
        return true;
    st_stream s{};
    txt_mtc_chk_rst(&itm->mtc);
    itm->mtc.pos = 0;
    if (cstream_str_set(&s, t->txt) != 0)
        return false;
    const int32_t r = txt_mtc(&itm->mtc, &s);
    stream_end(&s);
    txt_mtc_chk_rst(&itm->mtc);
    return r == 0;
}

// Types 2 and 3: the cursor token and those after it (moving as 4).
bool tst_look(st_txt_anr *anr, st_txt_anr_itm *itm)
{
    st_txt_anr_tkn *t0 = anr->cur, **l0 = anr->cur_lnk;
    for (;;) {
        if (tst_tkn(itm, anr->cur)) {
            if (itm->typ == ANR_LOOK) {
                anr->cur = t0;
                anr->cur_lnk = l0;
            }
            return true;
        }
        if (__txt_anr_mov_nxt(anr, &anr->cur, &anr->cur_lnk, 1) != 0)
            return false;
    }
}

// Types 23-26: the variable named by txt or the cursor token's text.
bool tst_var(st_txt_anr *anr, st_txt_anr_itm *itm)
{
    const char *nam = itm->txt && *itm->txt ? itm->txt : anr->cur->txt;
    void *nod = nullptr;
    if (vmap_get_str(&anr->var, nullptr, nam, &nod) != 0) {
        if (!itm->val || _vmap_put_str_str(&anr->var, nullptr, nam, "", &nod, 0) != 0)
            return false;
    }
    itm->var_nod = anr->var_sel = nod;
    itm->var_nst = anr->var_sel_nst = nullptr;
    return true;
}

// The moves ANR_MOV .. ANR_GRP_CLS from the cursor c; false when the
// tokens end first (or, for ANR_OPN_IN, c is no opener).
bool tst_mov(st_txt_anr *anr, uint32_t typ, st_txt_anr_tkn *c)
{
    switch (typ) {
    case ANR_MOV: // blanks, deleted tokens and a group at an opener are passed
        return __txt_anr_mov_nxt(anr, &anr->cur, &anr->cur_lnk, 1) == 0;
    case ANR_MOV_ALL:
        return cur_at(anr, &c->nxt) == 0;
    case ANR_OPN_IN: // into the group: its first token that is not blank
        if (!(c->knd & ANR_OPN) || cur_at(anr, &c->nxt) != 0)
            return false;
        while (tkn_blk(anr->cur))
            if (cur_at(anr, &anr->cur->nxt) != 0)
                return false;
        return true;
    case ANR_GRP_OUT:
        return cur_grp_cls(anr) == 0 && cur_at(anr, &anr->cur->nxt) == 0;
    default: // ANR_GRP_CLS
        return cur_grp_cls(anr) == 0;
    }
}

// Where the action of an item that only remembers a place goes: after the
// cursor token (after its group's closer for ANR_INS_GRP*), or the link in
// front of it (a mark). False when there is no closer.
bool tst_mrk(st_txt_anr *anr, st_txt_anr_itm *itm)
{
    st_txt_anr_tkn *c = anr->cur;
    if (itm->typ == ANR_INS_GRP || itm->typ == ANR_INS_GRP_VAR) {
        st_txt_anr_tkn *t = c, **l = anr->cur_lnk;
        if (__txt_anr_mov_nxt(anr, &t, &l, 0) != 0)
            return false;
        itm->mrk = &t->nxt;
    } else if (itm->typ == ANR_INS_AFT || itm->typ == ANR_INS_AFT_VAR) {
        itm->mrk = &c->nxt;
    } else {
        itm->mrk = anr->cur_lnk;
    }
    return true;
}

// One item's test at the cursor, which is present on entry.
bool tst(st_txt_anr *anr, st_txt_anr_itm *itm)
{
    switch (itm->typ) {
    case ANR_TST:
        return tst_tkn(itm, anr->cur);
    case ANR_TST_NOT:
        return !tst_tkn(itm, anr->cur);
    case ANR_LOOK:
    case ANR_FIND:
        return tst_look(anr, itm);
    case ANR_MOV:
    case ANR_MOV_ALL:
    case ANR_OPN_IN:
    case ANR_GRP_OUT:
    case ANR_GRP_CLS:
        return tst_mov(anr, itm->typ, anr->cur);
    case ANR_FIL_NEW:
    case ANR_FIL_ADD:
    case ANR_FIL_CLS:
    case ANR_FIL_PUT:
    case ANR_FIL_PUT_VAR: // they only act
        return true;
    case ANR_VAR_SEL:
        return tst_var(anr, itm);
    case ANR_VAR_STR:
    case ANR_VAR_INT:
    case ANR_VAR_ADD: // they act on the selected variable
        return anr->var_sel && tst_mrk(anr, itm);
    case ANR_ECHO: // prints now, and when applied with the mark
        std::printf("%s\n", itm->txt ? itm->txt : anr->cur->txt);
        return tst_mrk(anr, itm);
    default: // every other type marks; no type beyond them passes
        return itm->typ < ANR_TYP_NUM && tst_mrk(anr, itm);
    }
}

// ---------------------------------------------------------------------------
// Actions
// ---------------------------------------------------------------------------

// ANR_INS_*: a new generated token of kind val from the item's text (txt
// sub for the _VAR types) linked in at the place remembered; -1 without one.
int32_t act_ins(st_txt_anr *anr, st_txt_anr_itm *itm)
{
    st_txt_anr_tkn **lnk = itm->mrk, *t = nullptr;
    const char *txt = itm->txt ? itm->txt : "";
    if (!lnk)
        return rtn_fail();
    if (itm->typ < ANR_INS_GRP_VAR) {
        RTN_TRY(__txt_anr_mak_fct(&t, itm->val, txt));
    } else {
        st_stream src{}, stm{};
        RTN_TRY(cstream_str_set(&src, txt));
        if (vmap_fmt_stream(&stm, &anr->var, &src) != 0) {
            stream_end(&src);
            return rtn_keep();
        }
        RTN_TRY(__txt_anr_mak_fct_by_stm(&t, itm->val, &stm));
    }
    t->stt |= ANR_TKN_GEN;
    t->nxt = *lnk;
    *lnk = t;
    return rtn_ok();
}

// The text of txt with variables substituted, for the caller to free.
int32_t sub_txt(st_txt_anr *anr, const char *txt, char **out)
{
    st_stream src{}, stm{};
    RTN_TRY(cstream_str_set(&src, txt ? txt : ""));
    if (vmap_fmt_stream(&stm, &anr->var, &src) != 0) {
        stream_end(&src);
        return rtn_keep();
    }
    return cstream_to_vstr(&stm, out);
}

int32_t act_fil(st_txt_anr *anr, st_txt_anr_itm *itm)
{
    if (itm->typ == ANR_FIL_NEW || itm->typ == ANR_FIL_ADD) {
        if (anr->fil)
            std::fclose(anr->fil);
        anr->fil = itm->txt ? std::fopen(itm->txt, itm->typ == ANR_FIL_NEW ? "we" : "ae") : nullptr;
        return anr->fil ? rtn_ok() : rtn_fail();
    }
    if (!anr->fil)
        return rtn_fail();
    if (itm->typ == ANR_FIL_CLS) {
        std::fclose(anr->fil);
        anr->fil = nullptr;
        return rtn_ok();
    }
    if (itm->typ == ANR_FIL_PUT)
        return std::fputs(itm->txt ? itm->txt : "", anr->fil) < 0 ? rtn_fail() : rtn_ok();
    char *s = nullptr;
    RTN_TRY(sub_txt(anr, itm->txt, &s));
    const int r = std::fputs(s, anr->fil);
    _free(&s);
    return r < 0 ? rtn_fail() : rtn_ok();
}

// Types 24-26 on the selected variable.
int32_t act_var(st_txt_anr *anr, st_txt_anr_itm *itm)
{
    char *nam = nullptr, *key;
    if (!anr->var_sel || !itm->mrk || !*itm->mrk || vtyp_get_str(anr->var_sel, &key) != 0)
        return rtn_fail();
    const char *txt = itm->txt && *itm->txt ? itm->txt : (*itm->mrk)->txt;
    RTN_TRY(_malloc_str(&nam, key)); // the put may rebuild the key node
    int32_t r;
    if (itm->typ == ANR_VAR_STR) {
        r = vmap_put_str_str(&anr->var, nullptr, nam, txt, 0);
    } else {
        int32_t v = std::atoi(txt), old;
        void *val = nullptr;
        if (itm->typ == ANR_VAR_ADD && vtyp_get_lnk(anr->var_sel, &val, 0) == 0 &&
            vtyp_get_int(val, &old) == 0)
            v = static_cast<int32_t>(static_cast<uint32_t>(v) + static_cast<uint32_t>(old));
        r = vmap_put_str_int(&anr->var, nullptr, nam, v, 0);
    }
    _free(&nam);
    anr->var_sel = anr->var_sel_nst = nullptr;
    return r == 0 ? rtn_ok() : rtn_fail();
}

// Type 29: joins the texts from *cat_top through *cat_end into one token
// in front of *cat_end; the joined tokens are deleted.
int32_t act_cat(st_txt_anr *anr, st_txt_anr_itm *itm)
{
    if (!anr->cat_top || !anr->cat_end || !*anr->cat_top || !*anr->cat_end)
        return rtn_fail();
    size_t len = 0;
    const st_txt_anr_tkn *end = *anr->cat_end;
    for (st_txt_anr_tkn *t = *anr->cat_top; t; t = t == end ? nullptr : t->nxt)
        len += (t->stt & ANR_TKN_DEL) ? 0 : std::strlen(t->txt);
    char *txt = nullptr;
    RTN_TRY(_malloc(&txt, len + 1));
    len = 0;
    for (st_txt_anr_tkn *t = *anr->cat_top; t; t = t == end ? nullptr : t->nxt) {
        if (t->stt & ANR_TKN_DEL)
            continue;
        const size_t n = std::strlen(t->txt);
        std::memcpy(txt + len, t->txt, n);
        len += n;
    }
    txt[len] = 0;
    st_txt_anr_tkn *n = nullptr;
    if (__txt_anr_mak_fct_use_prm_txt(&n, itm->val, txt) != 0) {
        _free(&txt); // the joined tokens stay as they were
        return rtn_keep();
    }
    for (st_txt_anr_tkn *t = *anr->cat_top; t; t = t == end ? nullptr : t->nxt)
        t->stt |= ANR_TKN_DEL;
    n->stt |= ANR_TKN_GEN;
    n->nxt = *anr->cat_end;
    *anr->cat_end = n;
    return rtn_ok();
}

// ANR_KND and ANR_DEL on the marked token; -1 when it is gone.
int32_t act_tkn(st_txt_anr_itm *itm)
{
    if (!itm->mrk || !*itm->mrk)
        return rtn_fail();
    if (itm->typ == ANR_KND)
        (*itm->mrk)->knd = itm->val;
    else
        (*itm->mrk)->stt |= ANR_TKN_DEL;
    return rtn_ok();
}

// ANR_ECHO applied: txt, or the text of the token marked when tested.
int32_t act_echo(const st_txt_anr_itm *itm)
{
    const bool marked = itm->mrk && *itm->mrk;
    std::printf("%s\n", itm->txt ? itm->txt : marked ? (*itm->mrk)->txt : "");
    return rtn_ok();
}

// One item's action, once its rule has passed (see the table of types).
int32_t act(st_txt_anr *anr, st_txt_anr_itm *itm)
{
    switch (itm->typ) {
    case ANR_KND:
    case ANR_DEL:
        return act_tkn(itm);
    case ANR_INS_GRP:
    case ANR_INS_AFT:
    case ANR_INS_BEF:
    case ANR_INS_GRP_VAR:
    case ANR_INS_AFT_VAR:
    case ANR_INS_BEF_VAR:
        return act_ins(anr, itm);
    case ANR_ECHO:
        return act_echo(itm);
    case ANR_FIL_NEW:
    case ANR_FIL_ADD:
    case ANR_FIL_CLS:
    case ANR_FIL_PUT:
    case ANR_FIL_PUT_VAR:
        return act_fil(anr, itm);
    case ANR_VAR_SEL: // the variable its test found
        anr->var_sel = itm->var_nod;
        anr->var_sel_nst = itm->var_nst;
        return rtn_ok();
    case ANR_VAR_STR:
    case ANR_VAR_INT:
    case ANR_VAR_ADD:
        return act_var(anr, itm);
    case ANR_CAT_TOP:
    case ANR_CAT_END: // the marks of the join
        (itm->typ == ANR_CAT_TOP ? anr->cat_top : anr->cat_end) = itm->mrk;
        return rtn_ok();
    case ANR_CAT:
        return act_cat(anr, itm);
    default: // tests and moves
        return rtn_ok();
    }
}

// Tests every item of rul from the head; true when all pass.
bool rul_tst(st_txt_anr *anr, st_txt_anr_rul *rul)
{
    for (st_txt_anr_itm *i = rul->itm; i; i = i->nxt) {
        i->mrk = nullptr;
        if (!anr->cur || !tst(anr, i))
            return false;
    }
    return anr->cur != nullptr;
}

// A rule whose tests passed: it is in use up to the cursor token, the
// state becomes its stt_new and its items act in order. 0; the first
// failing action's status (the actions before it stay done).
int32_t rul_apply(st_txt_anr *anr, st_txt_anr_rul *rul)
{
    rul->use = anr->cur;
    rul->stk = anr->stk;
    anr->stk = rul;
    anr->stt = rul->stt_new;
    for (st_txt_anr_itm *i = rul->itm; i; i = i->nxt)
        RTN_TRY(act(anr, i));
    return rtn_ok();
}

// Releases the rules in use whose tests ended at the head token; each sets
// the state to its stt_end as it leaves the stack.
void stk_release(st_txt_anr *anr)
{
    for (st_txt_anr_rul **l = &anr->stk; *l;) {
        st_txt_anr_rul *r = *l;
        if (r->use != anr->tok) {
            l = &r->stk;
            continue;
        }
        anr->stt = r->stt_end;
        r->use = nullptr;
        *l = r->stk;
        r->stk = nullptr;
    }
}

void itm_free(st_txt_anr_itm *i)
{
    txt_mtc_chk_end(&i->mtc);
    _free(&i->txt);
    _free(&i);
}

} // namespace

int32_t __txt_anr_mak_fct_use_prm_txt(st_txt_anr_tkn **out, uint32_t knd, char *txt) noexcept
{
    if (!out)
        return rtn_fail();
    st_txt_anr_tkn *t = nullptr;
    RTN_TRY(_malloc0(&t, sizeof *t));
    t->knd = knd;
    t->txt = txt;
    *out = t;
    return rtn_ok();
}

int32_t __txt_anr_mak_fct(st_txt_anr_tkn **out, uint32_t knd, const char *txt) noexcept
{
    char *s = nullptr;
    RTN_TRY(_malloc_str(&s, txt ? txt : ""));
    if (__txt_anr_mak_fct_use_prm_txt(out, knd, s) != 0) {
        _free(&s);
        return rtn_keep();
    }
    return rtn_ok();
}

int32_t __txt_anr_mak_fct_by_stm(st_txt_anr_tkn **out, uint32_t knd, st_stream *stm) noexcept
{
    char *s = nullptr;
    RTN_TRY(cstream_to_vstr(stm, &s));
    if (__txt_anr_mak_fct_use_prm_txt(out, knd, s) != 0) {
        _free(&s);
        return rtn_keep();
    }
    return rtn_ok();
}

int32_t txt_anr_set(st_txt_anr *anr, st_txt_spr *spr) noexcept
{
    if (!anr || !spr)
        return rtn_fail();
    st_stream *stm = nullptr;
    RTN_TRY(_malloc0(&stm, sizeof *stm));
    txt_spr_for_anr_stream(stm, spr);
    stm->flg |= STM_SLF;
    return _txt_anr_set(anr, stm);
}

int32_t _txt_anr_set(st_txt_anr *anr, st_stream *src) noexcept
{
    if (!anr || !src) {
        stream_end(src);
        return rtn_fail();
    }
    std::memset(anr, 0, sizeof *anr);
    if (vmap_set(&anr->var, 0) != 0) {
        stream_end(src);
        return rtn_fail();
    }
    anr->src = src;
    anr->rul_tal = &anr->rul;
    return rtn_ok();
}

int32_t txt_anr_chk_add_lst(st_txt_anr *anr, const int32_t *stt) noexcept
{
    if (!anr || !anr->rul_tal)
        return rtn_fail();
    st_txt_anr_rul *r = nullptr;
    RTN_TRY(_malloc0(&r, sizeof *r));
    if (stt) {
        r->stt_req = stt[0];
        r->stt_new = stt[1];
        r->stt_end = stt[2];
    }
    *anr->rul_tal = r;
    anr->rul_tal = &r->nxt;
    anr->itm_tal = &r->itm;
    return rtn_ok();
}

int32_t txt_anr_chk_add_fct(st_txt_anr *anr, uint32_t typ, int32_t val, const char *txt,
                            const uint32_t *opt) noexcept
{
    if (!anr || !anr->itm_tal)
        return rtn_fail();
    st_txt_anr_itm *i = nullptr;
    RTN_TRY(_malloc0(&i, sizeof *i));
    i->typ = typ;
    i->val = val;
    if (_malloc_str(&i->txt, txt) != 0) {
        itm_free(i);
        return rtn_keep();
    }
    if (typ <= ANR_FIND && txt) {
        st_stream pat{};
        if (cstream_str_set(&pat, txt) != 0 || regexp_chk(&i->mtc, &pat, opt) != 0) {
            stream_end(&pat);
            itm_free(i);
            return rtn_fail();
        }
        stream_end(&pat);
    }
    *anr->itm_tal = i;
    anr->itm_tal = &i->nxt;
    return rtn_ok();
}

int32_t txt_anr_top(st_txt_anr *anr, st_txt_anr_tkn **tok, st_txt_anr_tkn ***lnk) noexcept
{
    if (!anr || !anr->src || cur_at(anr, &anr->tok) != 0)
        return rtn_fail();
    if (tok)
        *tok = anr->cur;
    if (lnk)
        *lnk = &anr->tok;
    return rtn_ok();
}

int32_t txt_anr_nxt(st_txt_anr *anr, st_txt_anr_tkn **tok, st_txt_anr_tkn **prv) noexcept
{
    if (!anr || !anr->cur)
        return rtn_fail();
    st_txt_anr_tkn *p = anr->cur;
    if (cur_at(anr, &p->nxt) != 0)
        return rtn_fail();
    if (tok)
        *tok = anr->cur;
    if (prv)
        *prv = p;
    return rtn_ok();
}

int32_t txt_anr_pop(st_txt_anr *anr) noexcept
{
    if (!anr || !anr->tok)
        return rtn_fail();
    st_txt_anr_tkn *h = anr->tok;
    anr->tok = h->nxt;
    // Join marks on the link inside the removed token move to the list head.
    if (anr->cat_top == &h->nxt)
        anr->cat_top = &anr->tok;
    if (anr->cat_end == &h->nxt)
        anr->cat_end = &anr->tok;
    _free(&h->txt);
    _free(&h);
    anr->cur = anr->tok;
    anr->cur_lnk = &anr->tok;
    return rtn_ok();
}

int32_t __txt_anr_new(st_txt_anr *anr) noexcept
{
    if (!anr)
        return rtn_fail();
    if (anr->cur && anr->cur->nxt)
        return __rtn = RTN_ERR0;
    st_txt_anr_tkn **lnk = anr->cur ? &anr->cur->nxt : &anr->tok;
    st_txt_anr_tkn *t;
    RTN_TRY(anr_at(anr, lnk, &t));
    if (!anr->cur) {
        anr->cur = t;
        anr->cur_lnk = lnk;
    }
    return rtn_ok();
}

int32_t __txt_anr_mov_nxt(st_txt_anr *anr, st_txt_anr_tkn **tok, st_txt_anr_tkn ***lnk,
                          int32_t skp) noexcept
{
    if (!anr || !tok || !*tok || !lnk)
        return rtn_fail();
    st_txt_anr_tkn *c0 = anr->cur, **l0 = anr->cur_lnk;
    anr->cur = *tok;
    anr->cur_lnk = *lnk;
    int32_t r = 0;
    if ((anr->cur->knd & ANR_OPN) && !tkn_blk(anr->cur))
        r = cur_grp_cls(anr);
    if (r == 0 && skp) {
        r = cur_at(anr, &anr->cur->nxt);
        while (r == 0 && tkn_blk(anr->cur))
            r = cur_at(anr, &anr->cur->nxt);
    }
    st_txt_anr_tkn *t = anr->cur, **l = anr->cur_lnk;
    anr->cur = c0; // tok and lnk may be the cursor's own fields
    anr->cur_lnk = l0;
    if (r != 0)
        return rtn_fail1();
    *tok = t;
    *lnk = l;
    return rtn_ok();
}

int32_t __txt_anr(st_txt_anr *anr) noexcept
{
    if (!anr)
        return rtn_fail();
    for (st_txt_anr_rul *r = anr->rul; r; r = r->nxt) {
        if (r->stt_req != anr->stt || r->use)
            continue;
        if (txt_anr_top(anr, nullptr, nullptr) == 0 && rul_tst(anr, r))
            RTN_TRY(rul_apply(anr, r));
    }
    stk_release(anr);
    return rtn_ok();
}

int32_t _txt_anr(st_txt_anr *anr, st_txt_anr_tkn **tok) noexcept
{
    if (!anr || !anr->src)
        return rtn_fail();
    if (anr->flg & ANR_HND) {
        anr->flg &= ~ANR_HND;
        txt_anr_pop(anr);
    }
    st_txt_anr_tkn *h;
    if (anr_at(anr, &anr->tok, &h) != 0)
        return __rtn;
    if (!(h->stt & ANR_TKN_ANR)) {
        h->stt |= ANR_TKN_ANR;
        RTN_TRY(__txt_anr(anr));
    }
    anr->flg |= ANR_HND;
    if (tok)
        *tok = anr->tok;
    return rtn_ok();
}

int32_t txt_anr(st_txt_anr *anr) noexcept
{
    while (_txt_anr(anr, nullptr) == 0) {
    }
    return rtn_ok();
}

int32_t txt_anr_end(st_txt_anr *anr) noexcept
{
    if (!anr)
        return rtn_fail();
    st_rtn_save keep;
    if (anr->src)
        stream_end(anr->src);
    while (anr->tok)
        txt_anr_pop(anr);
    for (st_txt_anr_rul *r = anr->rul, *rn; r; r = rn) {
        rn = r->nxt;
        for (st_txt_anr_itm *i = r->itm, *in; i; i = in) {
            in = i->nxt;
            itm_free(i);
        }
        _free(&r);
    }
    if (anr->fil)
        std::fclose(anr->fil);
    if (anr->rul_tal)
        vmap_end(&anr->var);
    std::memset(anr, 0, sizeof *anr);
    return 0;
}
