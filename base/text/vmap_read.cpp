// Variant-map text reader: a splitter and three stacked analyzers make
// word tokens of the text; a dispatcher and a statement parser store them.
#include "base/text/text.h"

#include <cstring>
#include <initializer_list>

namespace
{

constexpr uint32_t K_WRD = 1, K_ESC = 2, K_IGN = 16, K_SEP = 17, K_ASG = 18, K_QUO = 19;
constexpr uint32_t K_OPN = 788, K_CLS = 789, K_END = 278, K_LIN = 0x20000120, K_BLK = 0x20000021;
constexpr uint32_t K_STM_END = 0x100, K_BRK = 0x200; // kind bits: ends a statement, a bracket

struct spr_rul {
    const char *pat;
    uint32_t knd;
};
constexpr spr_rul SPR_RULES[] = {{"[a-zA-Z0-9_]+", K_WRD},
                                 {"\\\\.", K_ESC},
                                 {"#", K_IGN},
                                 {"/", K_SEP},
                                 {"=", K_ASG},
                                 {"\"", K_QUO},
                                 {"\\[", K_OPN},
                                 {"\\]", K_CLS},
                                 {";", K_END},
                                 {"\n", K_LIN},
                                 {"[ \t]+", K_BLK}};

struct esc_rul {
    const char *pat;
    const char *txt;
};
constexpr esc_rul ESC_RULES[] = {
    {"\\\\n", "\n"}, {"\\\\t", "\t"}, {"\\\\\"", "\""}, {"\\\\\\\\", "\\"}, {"\\\\/", "/"}};

int32_t add_itm(st_txt_anr *anr, uint32_t typ, int32_t val, const char *txt = nullptr)
{
    return txt_anr_chk_add_fct(anr, typ, val, txt, nullptr);
}

int32_t escapes(st_txt_anr *anr)
{
    for (const esc_rul &e : ESC_RULES) {
        RTN_TRY(txt_anr_chk_add_lst(anr, nullptr));
        RTN_TRY(add_itm(anr, ANR_TST, K_ESC, e.pat));
        RTN_TRY(add_itm(anr, ANR_DEL, 0));
        RTN_TRY(add_itm(anr, ANR_INS_AFT, K_WRD, e.txt));
    }
    return rtn_ok();
}

// A quote, the tokens up to the next quote joined into one word.
int32_t quotes(st_txt_anr *anr)
{
    const uint32_t typ[] = {ANR_TST,  ANR_DEL, ANR_CAT_TOP, ANR_MOV,
                            ANR_FIND, ANR_DEL, ANR_CAT_END, ANR_CAT};
    const int32_t val[] = {K_QUO, 0, 0, 0, K_QUO, 0, 0, K_WRD};
    RTN_TRY(txt_anr_chk_add_lst(anr, nullptr));
    for (size_t i = 0; i < sizeof typ / sizeof *typ; i++)
        RTN_TRY(add_itm(anr, typ[i], val[i]));
    return rtn_ok();
}

int32_t cleanup(st_txt_anr *anr)
{
    for (uint32_t k : {K_BLK, 0u}) {
        RTN_TRY(txt_anr_chk_add_lst(anr, nullptr));
        RTN_TRY(add_itm(anr, ANR_TST, static_cast<int32_t>(k)));
        RTN_TRY(add_itm(anr, ANR_DEL, 0));
    }
    return rtn_ok();
}

// The reader's pipeline over src: splitter, three analyzers, token stream.
struct rdr {
    st_txt_spr spr;    // the splitter (ended through the first analyzer)
    st_txt_anr anr[3]; // escapes, quotes, clean-up
    st_stream tok;     // the last analyzer's tokens (ends all the rest)
};

int32_t rdr_stack(rdr *r, int i)
{
    st_stream *up = nullptr;
    RTN_TRY(txt_anr_stream(nullptr, &r->anr[i - 1]));
    up = stkptr(nullptr, nullptr);
    return _txt_anr_set(&r->anr[i], up);
}

// Sets the pipeline up; on failure what was made is ended.
int32_t rdr_set(rdr *r, st_stream *src)
{
    std::memset(r, 0, sizeof *r);
    RTN_TRY(txt_spr_set(&r->spr, src));
    for (const spr_rul &s : SPR_RULES) {
        st_stream pat{};
        int32_t st = cstream_str_set(&pat, s.pat);
        st =
            st ? st : txt_spr_psh_lst_regexp(&r->spr, s.knd, &pat, nullptr, nullptr, 0, nullptr, 0);
        stream_end(&pat);
        if (st != 0) {
            txt_spr_end(&r->spr);
            return rtn_fail();
        }
    }
    if (txt_anr_set(&r->anr[0], &r->spr) != 0) {
        txt_spr_end(&r->spr);
        return rtn_fail();
    }
    int32_t st = escapes(&r->anr[0]);
    for (int i = 1; st == 0 && i < 3; i++)
        st = rdr_stack(r, i);
    if (st == 0)
        st = quotes(&r->anr[1]) || cleanup(&r->anr[2]) || txt_anr_stream(&r->tok, &r->anr[2]);
    if (st != 0) {
        // Ending the topmost analyzer ends those below it (they are its source).
        for (int i = 2; i >= 0; i--)
            if (r->anr[i].src)
                txt_anr_end(&r->anr[i]);
        return rtn_fail();
    }
    return rtn_ok();
}

// The next token: 0; 1 at the end of the tokens; a failure.
int32_t tok_pop(st_stream *stm, st_txt_anr_tkn *t)
{
    const int32_t r = stream_pop(stm, t);
    return r == 0 ? rtn_ok() : r == 1 ? rtn_none() : rtn_keep();
}

void *nst_arg(const st_vmap *map, void *nst)
{
    return (map->mod & VMAP_NST) ? nst : nullptr;
}

// "/" paths: each key before a "/" is looked up or made under *spar and
// becomes the parent of the next. *key and *t move along.
int32_t path(st_vmap *map, st_stream *stm, char **key, st_txt_anr_tkn *t, int32_t *r, void **spar)
{
    while (*r == 0 && t->knd == K_SEP) {
        void *nod = nullptr;
        if (vmap_get_str(map, *spar, *key, &nod) != 0)
            RTN_TRY(_vmap_put_str_nul(map, *spar, *key, &nod, 0));
        *spar = nod;
        if (tok_pop(stm, t) != 0 || t->knd != K_WRD)
            return rtn_fail();
        _free(key);
        *key = nullptr;
        RTN_TRY(_malloc_str(key, t->txt));
        *r = tok_pop(stm, t);
        if (*r != 0 && *r != 1)
            return rtn_keep();
    }
    return rtn_ok();
}

// The statement after its key (the key copy is the caller's).
int32_t stm_val(st_vmap *map, st_stream *stm, const char *key, st_vmap_frmm *st, void *spar,
                st_txt_anr_tkn *t, int32_t r)
{
    const bool nst = map->mod & VMAP_NST;
    if (r == 1 && !nst)
        return rtn_none(); // the key is not stored
    if (r == 1 || t->knd != K_ASG) {
        if (st->opt & VMAP_RD_VAL)
            return rtn_fail();
        RTN_TRY(_vmap_put_str_nul(map, nst_arg(map, spar), key, &st->lst, 0));
        st->end = r == 1;
        st->stp = *t;
        return rtn_ok();
    }
    r = tok_pop(stm, t);
    if (r != 0)
        return r == 1 ? rtn_none() : rtn_keep();
    if (t->knd != K_WRD)
        return rtn_fail1();
    RTN_TRY(_vmap_put_str_str(map, nst_arg(map, spar), key, t->txt, &st->lst, 0));
    r = tok_pop(stm, t);
    if (r == 1) {
        st->end = true;
        return rtn_ok();
    }
    if (r != 0)
        return rtn_keep();
    if (!(t->knd & K_STM_END))
        return rtn_fail();
    st->stp = *t;
    return rtn_ok();
}

// The dispatcher: tokens until the end, a stop or a failure.
int32_t dispatch(st_vmap *map, st_stream *stm, st_vmap_frmm *st)
{
    st_txt_anr_tkn t;
    bool again = false;
    for (;;) {
        if (again) {
            t = st->stp;
            again = false;
        } else {
            const int32_t r = tok_pop(stm, &t);
            if (r == 1)
                return rtn_ok();
            if (r != 0)
                return rtn_keep();
        }
        switch (t.knd) {
        case K_WRD:
            RTN_TRY(_vmap_frmm_cstm_fnc_wrd(map, stm, &t, st));
            if (st->end)
                return rtn_ok();
            again = st->stp.knd & K_BRK;
            break;
        case K_IGN:
            break;
        case K_OPN:
            st->par = st->lst;
            break;
        case K_CLS:
            if (!st->par || st->par == st->rut)
                return rtn_fail();
            if (vtyp_get_nst(st->par, &st->par) != 0)
                st->par = nullptr;
            break;
        case K_LIN:
            if (st->opt & VMAP_RD_LIN)
                return rtn_ok();
            break;
        default:
            return rtn_fail1();
        }
    }
}

} // namespace

int32_t _vmap_frmm_cstm_fnc_wrd(st_vmap *map, st_stream *stm, const st_txt_anr_tkn *tok,
                                st_vmap_frmm *st) noexcept
{
    if (!map || !stm || !tok || !st)
        return rtn_fail();
    char *key = nullptr;
    void *spar = st->par;
    st_txt_anr_tkn t;
    st->end = false;
    RTN_TRY(_malloc_str(&key, tok->txt));
    int32_t r = tok_pop(stm, &t);
    if (r == 0 && (map->mod & VMAP_NST) && path(map, stm, &key, &t, &r, &spar) != 0) {
        _free(&key);
        return rtn_keep();
    }
    if (r != 0 && r != 1) {
        _free(&key);
        return __rtn = r;
    }
    r = stm_val(map, stm, key, st, spar, &t, r);
    _free(&key);
    return __rtn = r;
}

int32_t _vmap_cstream(st_vmap *map, void *par, st_stream *src, uint32_t opt) noexcept
{
    if (!map || !src)
        return rtn_fail();
    rdr *r = nullptr;
    RTN_TRY(_malloc0(&r, sizeof *r));
    if (rdr_set(r, src) != 0) {
        _free(&r);
        return rtn_fail();
    }
    st_vmap_frmm st{};
    st.rut = st.par = st.lst = par;
    st.opt = opt;
    const int32_t res = dispatch(map, &r->tok, &st);
    stream_end(&r->tok);
    _free(&r);
    return __rtn = res;
}

int32_t vmap_cstream(st_vmap *map, void *par, st_stream *src) noexcept
{
    return _vmap_cstream(map, par, src, VMAP_RD_VAL);
}
