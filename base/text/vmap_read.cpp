// Variant-map text reader: a one-pass lexer (or, as its reference, a
// splitter and three stacked analyzers) makes word tokens of the text; a
// dispatcher and a statement parser store them.
#include "base/text/text_impl.h"

#include <cstring>
#include <initializer_list>
#include <utility>

namespace
{

// Token kinds of the splitter rules: a number in the low byte and property
// bits above it, which the dispatcher, the parser and the analyzers read.
constexpr uint32_t K_STM_END = 0x100; // the token ends a statement
constexpr uint32_t K_BRK = 0x200;     // a block bracket: dispatched again after a statement
constexpr uint32_t K_WRD = 0x01;      // word
constexpr uint32_t K_ESC = 0x02;      // escape sequence
constexpr uint32_t K_IGN = 0x10;      // "#", ignored
constexpr uint32_t K_SEP = 0x11;      // "/", path separator
constexpr uint32_t K_ASG = 0x12;      // "="
constexpr uint32_t K_QUO = 0x13;      // quote
constexpr uint32_t K_OPN = 0x14 | K_STM_END | K_BRK;   // "["
constexpr uint32_t K_CLS = 0x15 | K_STM_END | K_BRK;   // "]"
constexpr uint32_t K_END = 0x16 | K_STM_END;           // ";"
constexpr uint32_t K_LIN = 0x20 | K_STM_END | ANR_BLK; // line end (a blank to the analyzers)
constexpr uint32_t K_BLK = 0x21 | ANR_BLK;             // blanks and tabs

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

// ---------------------------------------------------------------------------
// The same tokens in one pass
//
// The splitter and the three analyzers cost some thousand instructions a
// character; a state of a million rows would take minutes. This lexer hands
// out the tokens the clean-up analyzer hands out, in one pass: runs of word
// characters, the five escapes and closed quoted texts as words; other
// escapes, the marks and line ends as themselves; blanks and unmatched
// text dropped. Inside quotes every character counts as text, escapes
// replaced. A quote that no later quote closes stays a quote token, and
// the characters after it are read again as tokens (there is no quote
// among them). A character 0 or a failing pop ends the text, as the
// splitter's end does (the analyzers read on past a 0 at some places and
// not at others; a text of the format holds none).
// ---------------------------------------------------------------------------

constexpr uint32_t LEX_BLK = 4096; // characters popped at once

struct chr_buf {
    uint32_t *dat;
    uint32_t len, cap;
};

struct lex {
    st_stream *src;        // the characters (the caller's)
    uint32_t blk[LEX_BLK]; // characters popped; blk[pos .. len) not yet read
    uint32_t pos, len;
    bool end;         // src has ended
    chr_buf qte;      // the characters of the quoted text being read
    bool in_qte;      // taken characters go into qte
    chr_buf rpl;      // characters read again after an unclosed quote
    uint32_t rpl_pos; // next of rpl; rpl.len when none is left
    char *txt;        // the token's text
    size_t txt_len, txt_cap;
};

bool lex_wrd(uint32_t c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
}

// The next character, not taken; -1 at the end of the text.
int64_t lex_peek(lex *l)
{
    if (l->rpl_pos < l->rpl.len)
        return l->rpl.dat[l->rpl_pos];
    if (l->pos == l->len) {
        uint32_t got = 0;
        if (!l->end && stream_pop_blk(l->src, l->blk, LEX_BLK, &got) != 0)
            l->end = true;
        l->pos = 0;
        l->len = got;
        if (got == 0)
            return -1;
    }
    if (l->blk[l->pos] == 0) { // a character 0 ends the text
        l->end = true;
        l->len = l->pos;
        return -1;
    }
    return l->blk[l->pos];
}

int32_t lex_take(lex *l, uint32_t c)
{
    if (l->rpl_pos < l->rpl.len)
        l->rpl_pos++;
    else
        l->pos++;
    if (!l->in_qte)
        return rtn_ok();
    if (l->qte.len == l->qte.cap) {
        const uint32_t cap = l->qte.cap ? 2 * l->qte.cap : 256;
        RTN_TRY(_realloc(&l->qte.dat, size_t{cap} * sizeof *l->qte.dat));
        l->qte.cap = cap;
    }
    l->qte.dat[l->qte.len++] = c;
    return rtn_ok();
}

// Room for n more bytes of text and the terminator.
int32_t lex_room(lex *l, size_t n)
{
    if (l->txt_len + n + 1 > l->txt_cap) {
        const size_t cap = 2 * (l->txt_len + n + 1) + 64;
        RTN_TRY(_realloc(&l->txt, cap));
        l->txt_cap = cap;
    }
    return rtn_ok();
}

int32_t lex_txt(lex *l, const char *b, size_t n)
{
    RTN_TRY(lex_room(l, n));
    std::memcpy(l->txt + l->txt_len, b, n);
    l->txt_len += n;
    l->txt[l->txt_len] = '\0';
    return rtn_ok();
}

int32_t lex_chr(lex *l, uint32_t c)
{
    char b[4];
    return lex_txt(l, b, cstream_chr_bytes(static_cast<int32_t>(c), b));
}

// Takes the characters from the block up to the first for which stop is
// true (or the block's end) and appends their text: the loops over plain
// text and words, without a call per character.
template <class F>
int32_t lex_run(lex *l, F stop)
{
    if (l->rpl_pos < l->rpl.len)
        return rtn_ok(); // characters read again go one by one
    uint32_t i = l->pos;
    while (i < l->len && l->blk[i] != 0 && !stop(l->blk[i]))
        i++;
    const uint32_t n = i - l->pos;
    if (n == 0)
        return rtn_ok();
    if (l->in_qte) {
        if (l->qte.len + n > l->qte.cap) {
            const uint32_t cap = 2 * (l->qte.len + n);
            RTN_TRY(_realloc(&l->qte.dat, size_t{cap} * sizeof *l->qte.dat));
            l->qte.cap = cap;
        }
        std::memcpy(l->qte.dat + l->qte.len, l->blk + l->pos, size_t{n} * sizeof *l->blk);
        l->qte.len += n;
    }
    RTN_TRY(lex_room(l, 4 * size_t{n})); // room for the longest text
    char *p = l->txt + l->txt_len;
    for (; l->pos < i; l->pos++) {
        const uint32_t c = l->blk[l->pos];
        if (c < 0x80)
            *p++ = static_cast<char>(c);
        else
            p += cstream_chr_bytes(static_cast<int32_t>(c), p);
    }
    *p = '\0';
    l->txt_len = static_cast<size_t>(p - l->txt);
    return rtn_ok();
}

// After a backslash: the escape's text appended; its kind, or 0 for a
// backslash before a line end or the end (unmatched text: appended only
// inside quotes).
int32_t lex_esc(lex *l, uint32_t *knd)
{
    static const char ESC[] = "n\nt\t\"\"\\\\//";
    const int64_t c = lex_peek(l);
    *knd = 0;
    if (c < 0 || c == '\n')
        return l->in_qte ? lex_txt(l, "\\", 1) : rtn_ok();
    RTN_TRY(lex_take(l, static_cast<uint32_t>(c)));
    for (const char *e = ESC; *e; e += 2)
        if (c == *e) {
            *knd = K_WRD;
            return lex_txt(l, e + 1, 1);
        }
    *knd = K_ESC;
    RTN_TRY(lex_txt(l, "\\", 1));
    return lex_chr(l, static_cast<uint32_t>(c));
}

// After a quote: the quoted text up to the closing quote as a word, or the
// quote itself when none closes it (its characters are then read again).
int32_t lex_qte(lex *l, uint32_t *knd)
{
    l->in_qte = true;
    l->qte.len = 0;
    for (int64_t c; (c = lex_peek(l)) >= 0;) {
        uint32_t esc;
        RTN_TRY(lex_run(l, [](uint32_t u) { return u == '"' || u == '\\'; }));
        if ((c = lex_peek(l)) < 0)
            break;
        RTN_TRY(lex_take(l, static_cast<uint32_t>(c)));
        if (c == '"') {
            l->in_qte = false;
            *knd = K_WRD;
            return rtn_ok();
        }
        RTN_TRY(c == '\\' ? lex_esc(l, &esc) : lex_chr(l, static_cast<uint32_t>(c)));
    }
    l->in_qte = false;
    std::swap(l->rpl, l->qte);
    l->rpl_pos = 0;
    l->txt_len = 0;
    *knd = K_QUO;
    return lex_txt(l, "\"", 1);
}

// The kind of a character that is a token of its own; 0 for blanks and
// unmatched text.
uint32_t lex_mark(uint32_t c)
{
    switch (c) {
    case '#':
        return K_IGN;
    case '/':
        return K_SEP;
    case '=':
        return K_ASG;
    case '[':
        return K_OPN;
    case ']':
        return K_CLS;
    case ';':
        return K_END;
    case '\n':
        return K_LIN;
    default:
        return 0;
    }
}

int32_t lex_pop(void *hdl, void *unit)
{
    lex *l = static_cast<lex *>(hdl);
    uint32_t knd = 0;
    for (int64_t c; knd == 0;) {
        if ((c = lex_peek(l)) < 0)
            return rtn_none();
        l->txt_len = 0;
        RTN_TRY(lex_txt(l, "", 0));
        RTN_TRY(lex_take(l, static_cast<uint32_t>(c)));
        if (lex_wrd(static_cast<uint32_t>(c))) {
            RTN_TRY(lex_chr(l, static_cast<uint32_t>(c)));
            RTN_TRY(lex_run(l, [](uint32_t u) { return !lex_wrd(u); }));
            for (; (c = lex_peek(l)) >= 0 && lex_wrd(static_cast<uint32_t>(c));)
                RTN_TRY(lex_take(l, static_cast<uint32_t>(c)) ||
                        lex_chr(l, static_cast<uint32_t>(c)));
            knd = K_WRD;
        } else if (c == '\\') {
            RTN_TRY(lex_esc(l, &knd));
        } else if (c == '"') {
            RTN_TRY(lex_qte(l, &knd));
        } else if ((knd = lex_mark(static_cast<uint32_t>(c))) != 0) {
            RTN_TRY(lex_chr(l, static_cast<uint32_t>(c)));
        }
    }
    st_txt_anr_tkn t{};
    t.knd = knd;
    t.txt = l->txt;
    std::memcpy(unit, &t, sizeof t);
    return rtn_ok();
}

int32_t lex_end(void *hdl)
{
    lex *l = static_cast<lex *>(hdl);
    _free(&l->qte.dat);
    _free(&l->rpl.dat);
    _free(&l->txt);
    _free(&l);
    return 0;
}

const st_stream_fnc lex_fnclst = {lex_pop, nullptr, lex_end, nullptr, nullptr, nullptr};

// The token stream tok over src (borrowed).
int32_t lex_set(st_stream *tok, st_stream *src)
{
    lex *l = nullptr;
    RTN_TRY(_malloc0(&l, sizeof *l));
    l->src = src;
    if (stream_set(tok, l, &lex_fnclst, nullptr) != 0) {
        lex_end(l);
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
        RTN_TRY(_vmap_put_str_nul(map, nst_arg(map, spar), key, &st->lst, MAP_PUT_END));
        st->end = r == 1;
        st->stp = *t;
        return rtn_ok();
    }
    r = tok_pop(stm, t);
    if (r != 0)
        return r == 1 ? rtn_none() : rtn_keep();
    if (t->knd != K_WRD)
        return rtn_fail1();
    RTN_TRY(_vmap_put_str_str(map, nst_arg(map, spar), key, t->txt, &st->lst, MAP_PUT_END));
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
    if ((opt & VMAP_RD_ANR) ? rdr_set(r, src) != 0 : lex_set(&r->tok, src) != 0) {
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
