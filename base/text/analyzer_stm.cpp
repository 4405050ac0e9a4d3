// Streams around the text analyzer: its tokens, the bytes of a token
// stream's texts, and the "@name@" substitution of variable values.
#include "base/text/text.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace
{

// ---------------------------------------------------------------------------
// The analyzer's tokens
// ---------------------------------------------------------------------------

int32_t _txt_anr_stream_pop(void *hdl, void *unit)
{
    st_txt_anr *anr = static_cast<st_txt_anr *>(hdl);
    st_txt_anr_tkn *t = nullptr;
    do {
        RTN_TRY(_txt_anr(anr, &t));
    } while (!t || (t->stt & ANR_TKN_DEL));
    std::memcpy(unit, t, sizeof *t);
    return rtn_ok();
}

int32_t _txt_anr_stream_end(void *hdl)
{
    return txt_anr_end(static_cast<st_txt_anr *>(hdl));
}

// ---------------------------------------------------------------------------
// Bytes of the texts of a token stream
// ---------------------------------------------------------------------------

struct cvt {
    st_stream *tok;  // the token stream (owned)
    const char *txt; // the current token's text (the stream's), or none
    size_t pos;      // next byte of txt
    uint32_t rsv;    // reserved word
};

int32_t _txt_anr_cvt_bin_stream_pop(void *hdl, void *unit)
{
    cvt *c = static_cast<cvt *>(hdl);
    while (!c->txt || !c->txt[c->pos]) {
        st_txt_anr_tkn t;
        const int32_t r = stream_pop(c->tok, &t);
        if (r != 0)
            return r == 1 || r == RTN_ERR1 ? rtn_none() : rtn_keep();
        if (!(t.stt & ANR_TKN_DEL)) {
            c->txt = t.txt ? t.txt : "";
            c->pos = 0;
        }
    }
    *static_cast<uint8_t *>(unit) = static_cast<uint8_t>(c->txt[c->pos++]);
    return rtn_ok();
}

int32_t _txt_anr_cvt_bin_stream_end(void *hdl)
{
    cvt *c = static_cast<cvt *>(hdl);
    stream_end(c->tok);
    _free(&c);
    return 0;
}

// ---------------------------------------------------------------------------
// Substitution of "@name@"
// ---------------------------------------------------------------------------

struct fmt {
    st_vmap *map;   // the variables (borrowed)
    void *nst;      // always none: names are top-level keys
    st_stream *src; // the source (owned)
    char *nam;      // the name being collected
    size_t nam_len; // its bytes
    size_t nam_cap; // bytes allocated
    char *val;      // text of the value being handed out
    st_stream in;   // characters of val; closed until the first name
};

// Appends the bytes of chr (none for 0) to the name, keeping it terminated.
int32_t nam_app(fmt *f, uint32_t chr)
{
    if (f->nam_len + 5 > f->nam_cap) {
        const size_t cap = f->nam_cap ? 2 * f->nam_cap : 32;
        void *p = std::realloc(f->nam, cap);
        if (!p)
            return rtn_fail();
        f->nam = static_cast<char *>(p);
        f->nam_cap = cap;
    }
    if (chr)
        f->nam_len += cstream_chr_bytes(static_cast<int32_t>(chr), f->nam + f->nam_len);
    f->nam[f->nam_len] = 0;
    return rtn_ok();
}

// The value text of the variable f->nam into f->val and f->in.
int32_t fmt_val(fmt *f)
{
    void *nod = nullptr, *val = nullptr;
    int32_t i;
    char *s = nullptr;
    char dec[16] = "";
    if (vmap_get_str(f->map, f->nst, f->nam, &nod) != 0 || vtyp_get_lnk(nod, &val, 0) != 0)
        return rtn_fail();
    if (val && vtyp_get_int(val, &i) == 0)
        std::snprintf(dec, sizeof dec, "%d", static_cast<int>(i));
    else if (val && vtyp_get_str(val, &s) != 0)
        return rtn_fail();
    _free(&f->val);
    f->val = nullptr;
    RTN_TRY(_malloc_str(&f->val, val && !dec[0] ? s : dec));
    stream_end(&f->in);
    return cstream_str_set(&f->in, f->val);
}

int32_t _vmap_fmt_stream_pop(void *hdl, void *unit)
{
    fmt *f = static_cast<fmt *>(hdl);
    uint32_t chr = 0;
    for (;;) {
        if ((f->in.flg & STM_OPN) && stream_pop(&f->in, &chr) == 0)
            break;
        const int32_t r = stream_pop(f->src, &chr);
        if (r != 0)
            return r == 1 ? rtn_none() : rtn_keep();
        if (chr != '@')
            break;
        f->nam_len = 0;
        RTN_TRY(nam_app(f, 0));
        for (;;) {
            if (stream_pop(f->src, &chr) != 0)
                return rtn_fail(); // unterminated name
            if (chr == '@')
                break;
            RTN_TRY(nam_app(f, chr));
        }
        if (f->nam_len == 0)
            break; // "@@"
        RTN_TRY(fmt_val(f));
    }
    std::memcpy(unit, &chr, sizeof chr);
    return rtn_ok();
}

int32_t _vmap_fmt_stream_end(void *hdl)
{
    fmt *f = static_cast<fmt *>(hdl);
    stream_end(f->src);
    stream_end(&f->in);
    std::free(f->nam);
    _free(&f->val);
    _free(&f);
    return 0;
}

} // namespace

const st_stream_fnc __txt_anr_stream_fnclst = {
    _txt_anr_stream_pop, nullptr, _txt_anr_stream_end, nullptr, nullptr, nullptr};
const st_stream_fnc __txt_anr_cvt_bin_stream_fnclst = {
    _txt_anr_cvt_bin_stream_pop, nullptr, _txt_anr_cvt_bin_stream_end, nullptr, nullptr, nullptr};
const st_stream_fnc __vmap_fmt_stream_fnclst = {
    _vmap_fmt_stream_pop, nullptr, _vmap_fmt_stream_end, nullptr, nullptr, nullptr};

int32_t txt_anr_stream(st_stream *stm, st_txt_anr *anr) noexcept
{
    if (!anr)
        return rtn_fail();
    return stream_set(stm, anr, &__txt_anr_stream_fnclst, nullptr);
}

int32_t txt_anr_cvt_bin_stream(st_stream *stm, st_stream *tok, uint32_t rsv) noexcept
{
    if (!stm || !tok)
        return rtn_fail();
    cvt *c = nullptr;
    RTN_TRY(_malloc0(&c, sizeof *c));
    c->tok = tok;
    c->rsv = rsv;
    return stream_set(stm, c, &__txt_anr_cvt_bin_stream_fnclst, nullptr);
}

int32_t vmap_fmt_stream(st_stream *stm, st_vmap *map, st_stream *src) noexcept
{
    if (!stm || !map || !src)
        return rtn_fail();
    fmt *f = nullptr;
    RTN_TRY(_malloc0(&f, sizeof *f));
    f->map = map;
    f->src = src;
    return stream_set(stm, f, &__vmap_fmt_stream_fnclst, nullptr);
}
