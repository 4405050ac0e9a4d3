// Variant-map text writer: a character stream of a map's keys and values,
// one "key=value" line per key, in path or block layout.
//
// Each line is rendered into an array of characters that the pops hand out
// one by one; the public cstream_vtyp* wrap such arrays as streams pushed
// into a caller's chain.
#include "base/text/text.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace
{

// A growable array of characters.
struct chrs {
    uint32_t *dat; // the characters
    uint32_t len;  // characters in use
    uint32_t cap;  // characters allocated
};

int32_t chr_app(chrs *c, uint32_t chr)
{
    if (c->len == c->cap) {
        const uint32_t cap = c->cap ? 2 * c->cap : 64;
        void *p = std::realloc(c->dat, size_t{cap} * sizeof *c->dat);
        if (!p)
            return rtn_fail();
        c->dat = static_cast<uint32_t *>(p);
        c->cap = cap;
    }
    c->dat[c->len++] = chr;
    return rtn_ok();
}

int32_t chr_app_n(chrs *c, uint32_t chr, uint32_t n)
{
    for (uint32_t i = 0; i < n; i++)
        RTN_TRY(chr_app(c, chr));
    return rtn_ok();
}

int32_t chr_app_asc(chrs *c, const char *s)
{
    for (; *s; s++)
        RTN_TRY(chr_app(c, static_cast<uint8_t>(*s)));
    return rtn_ok();
}

// The characters of s decoded as Shift-JIS; with esc, "\" and the quote get
// a "\" before them and a line end becomes "\n". A lead byte at the end of
// s stays a character of its own.
int32_t chr_app_str(chrs *c, const char *s, bool esc)
{
    const uint8_t *b = reinterpret_cast<const uint8_t *>(s);
    for (size_t i = 0; b[i]; i++) {
        uint32_t chr = b[i];
        if (cstream_sjis_lead(b[i]) && b[i + 1])
            chr |= uint32_t{b[++i]} << 8;
        if (esc && (chr == '\\' || chr == '"' || chr == 10)) {
            RTN_TRY(chr_app(c, '\\'));
            chr = chr == 10 ? 'n' : chr;
        }
        RTN_TRY(chr_app(c, chr));
    }
    return rtn_ok();
}

// True when s is written bare: ASCII letters, digits and "_" only.
bool str_bare(const char *s)
{
    for (; *s; s++) {
        const char ch = *s;
        if (!((ch >= 'a' && ch <= 'z') || (ch >= 'A' && ch <= 'Z') || (ch >= '0' && ch <= '9') ||
              ch == '_'))
            return false;
    }
    return true;
}

// The text of one key or value node.
int32_t wrt_nod(chrs *c, const void *nod, const st_cstream_vmap_opt *opt)
{
    int32_t i;
    char *s;
    if (!nod || opt->lvl > 2)
        return rtn_fail();
    if (vtyp_get_int(nod, &i) == 0) {
        char dec[16];
        // A negative number is quoted: the reader drops a bare "-".
        std::snprintf(dec, sizeof dec, i < 0 ? "\"%d\"" : "%d", static_cast<int>(i));
        return chr_app_asc(c, dec);
    }
    if (vtyp_get_str(nod, &s) != 0)
        return rtn_fail();
    if (*s && str_bare(s)) // the empty string is quoted: a bare "k=" does not read back
        return chr_app_str(c, s, false);
    RTN_TRY(chr_app(c, '"'));
    RTN_TRY(chr_app_str(c, s, true));
    return chr_app(c, '"');
}

// The key's nest; none at the top level and in maps without nests.
void *nod_par(const void *nod)
{
    void *par = nullptr;
    if (vtyp_get_nst(nod, &par) != 0)
        return nullptr;
    return par;
}

bool nod_has_val(const void *nod)
{
    void *val = nullptr;
    return vtyp_get_lnk(nod, &val, 0) == 0 && val;
}

// The ancestors of nod below stop (exclusive), top-most first, each with
// "/"; then nod.
int32_t wrt_path(chrs *c, const void *nod, const void *stop, const st_cstream_vmap_opt *opt)
{
    void *par = nod_par(nod);
    if (par && par != stop) {
        RTN_TRY(wrt_path(c, par, stop, opt));
        RTN_TRY(chr_app(c, '/'));
    }
    return wrt_nod(c, nod, opt);
}

// Tabs, the key (with its path up to stop), "=" and the value.
int32_t wrt_pr(chrs *c, const void *nod, const void *stop, const st_cstream_vmap_opt *opt)
{
    void *val = nullptr;
    if (vtyp_get_lnk(nod, &val, 0) != 0 || !val)
        return rtn_fail();
    RTN_TRY(chr_app_n(c, '\t', opt->dpt));
    RTN_TRY(wrt_path(c, nod, stop, opt));
    RTN_TRY(chr_app(c, '='));
    return wrt_nod(c, val, opt);
}

// ---------------------------------------------------------------------------
// A character stream over an owned array (what cstream_vtyp* push)
// ---------------------------------------------------------------------------

struct ary {
    chrs c;       // the characters, owned
    uint32_t cur; // next to hand out
};

int32_t ary_pop(void *hdl, void *unit)
{
    ary *a = static_cast<ary *>(hdl);
    if (a->cur == a->c.len)
        return rtn_none();
    std::memcpy(unit, &a->c.dat[a->cur++], sizeof(uint32_t));
    return rtn_ok();
}

int32_t ary_end(void *hdl)
{
    ary *a = static_cast<ary *>(hdl);
    std::free(a->c.dat);
    _free(&a);
    return 0;
}

const st_stream_fnc ary_fnclst = {ary_pop, nullptr, ary_end, nullptr, nullptr, nullptr};

// Wraps c in a stream pushed into out (set up as a chain if not open), or
// parked in the hand-off slot without out. c is taken over in every case.
int32_t ary_out(st_stream *out, chrs c)
{
    ary *a = nullptr;
    st_stream stm{};
    if (_malloc0(&a, sizeof *a) != 0) {
        std::free(c.dat);
        return rtn_keep();
    }
    a->c = c;
    if (!out) {
        if (stream_set(nullptr, a, &ary_fnclst, nullptr) == 0)
            return rtn_ok();
        ary_end(a);
        return rtn_keep();
    }
    if (!(out->flg & STM_OPN) && stream_chain(out) != 0) {
        ary_end(a);
        return rtn_keep();
    }
    stream_set(&stm, a, &ary_fnclst, nullptr);
    if (stream_psh(out, &stm) != 0) {
        stream_end(&stm);
        return rtn_keep();
    }
    return rtn_ok();
}

const st_cstream_vmap_opt opt_def = {};

// ---------------------------------------------------------------------------
// The writer stream
// ---------------------------------------------------------------------------

struct wrt {
    chrs lin;                // the text being handed out
    uint32_t cur;            // next character of lin
    st_vmap *map;            // the map written (borrowed)
    void *stt;               // the start node, or none
    st_vmap_rng_itr rng_pop; // depth first from stt
    st_cstream_vmap_opt opt; // options; dpt is the current bracket depth
    void *lst_key;           // the key written last
    void *rp;                // block layout: the reader's parent for the next line
    bool end;                // the text is complete
};

// True when anc is nod or one of its ancestors (none: the top, always).
bool is_anc(const void *anc, const void *nod)
{
    for (const void *p = nod; p; p = nod_par(p))
        if (p == anc)
            return true;
    return !anc;
}

// dpt tabs and a "]" line; the reader's parent goes up to the block's.
int32_t wrt_cls(wrt *w)
{
    if (w->opt.dpt > 0)
        w->opt.dpt--;
    RTN_TRY(chr_app_n(&w->lin, '\t', w->opt.dpt));
    return chr_app_asc(&w->lin, "]\n");
}

// The lines for one key: block brackets as needed, then its pair. In block
// layout rp is where the reader puts the next statement: "[" after a key
// makes it rp, "]" makes rp's nest rp. A block is opened only after a key
// written without path (its nest is rp), so every "]" returns to the rp
// its "[" left; keys below a key without value are written with the path
// from rp.
int32_t wrt_key(wrt *w, void *nod)
{
    if (!nod_has_val(nod))
        return rtn_ok(); // its nested keys name it in their paths
    if (!(w->opt.flg & VMAP_FMT_BLK)) {
        RTN_TRY(wrt_pr(&w->lin, nod, nullptr, &w->opt));
        return chr_app(&w->lin, 10);
    }
    void *par = nod_par(nod);
    if (w->lst_key && is_anc(w->lst_key, par) && nod_par(w->lst_key) == w->rp) {
        RTN_TRY(chr_app_n(&w->lin, '\t', w->opt.dpt));
        RTN_TRY(chr_app_asc(&w->lin, "[\n"));
        w->opt.dpt++;
        w->rp = w->lst_key;
    }
    while (w->rp != w->stt && !is_anc(w->rp, par)) {
        RTN_TRY(wrt_cls(w));
        w->rp = nod_par(w->rp);
    }
    w->lst_key = nod;
    RTN_TRY(wrt_pr(&w->lin, nod, w->rp, &w->opt));
    return chr_app(&w->lin, 10);
}

// Up to max characters of the text (at least one unless it has ended).
int32_t _cstream_vmap_pop_blk(void *hdl, void *units, uint32_t max, uint32_t *got)
{
    wrt *w = static_cast<wrt *>(hdl);
    *got = 0;
    for (;;) {
        if (w->cur < w->lin.len) {
            const uint32_t n = std::min(max, w->lin.len - w->cur);
            std::memcpy(units, &w->lin.dat[w->cur], size_t{n} * sizeof(uint32_t));
            w->cur += n;
            *got = n;
            return rtn_ok();
        }
        w->lin.len = w->cur = 0;
        if (w->end)
            return rtn_none();
        void *nod;
        const int32_t r = vmap_rng_pop(&w->rng_pop, &nod, 1);
        if (r == 0) {
            RTN_TRY(wrt_key(w, nod));
            continue;
        }
        if (r != 1)
            return rtn_keep();
        while (w->opt.dpt > 0)
            RTN_TRY(wrt_cls(w));
        w->end = true;
    }
}

int32_t _cstream_vmap_pop(void *hdl, void *unit)
{
    uint32_t got;
    return _cstream_vmap_pop_blk(hdl, unit, 1, &got);
}

int32_t _cstream_vmap_end(void *hdl)
{
    wrt *w = static_cast<wrt *>(hdl);
    vmap_rng_pop_end(&w->rng_pop);
    std::free(w->lin.dat);
    _free(&w);
    return 0;
}

} // namespace

// Block pops hand out the rest of the current line at once.
const st_stream_fnc_blk __cstream_vmap_fnclst_blk = {
    {_cstream_vmap_pop, nullptr, _cstream_vmap_end, nullptr, nullptr, nullptr},
    _cstream_vmap_pop_blk};
const st_stream_fnc &cstream_vmap_fnclst = __cstream_vmap_fnclst_blk.fnc;

int32_t cstream_vmap(st_stream *stm, st_vmap *map, void *stt,
                     const st_cstream_vmap_opt *opt) noexcept
{
    if (!map)
        return rtn_fail();
    wrt *w = nullptr;
    RTN_TRY(_malloc0(&w, sizeof *w));
    w->map = map;
    w->stt = w->rp = stt;
    w->opt = opt ? *opt : opt_def;
    if (vmap_rng_pop_set(map, stt, VMAP_RNG_DSC | VMAP_RNG_FIX, &w->rng_pop) != 0 ||
        stream_set_blk(stm, w, &__cstream_vmap_fnclst_blk, nullptr, 0) != 0) {
        _cstream_vmap_end(w);
        return rtn_fail();
    }
    return rtn_ok();
}

int32_t cstream_vtyp(st_stream *out, const void *nod, const st_cstream_vmap_opt *opt) noexcept
{
    chrs c{};
    if (wrt_nod(&c, nod, opt ? opt : &opt_def) != 0) {
        std::free(c.dat);
        return rtn_fail();
    }
    return ary_out(out, c);
}

// The key's path (pr: with "=" and its value) from the block's parent on,
// as one line for out.
static int32_t wrt_key_out(st_stream *out, const void *nod, const st_cstream_vmap_opt *opt, bool pr)
{
    opt = opt ? opt : &opt_def;
    chrs c{};
    const void *stop = (opt->flg & VMAP_FMT_BLK) && nod ? nod_par(nod) : nullptr;
    if (!out || !nod ||
        (pr                                   ? wrt_pr(&c, nod, stop, opt)
         : chr_app_n(&c, '\t', opt->dpt) != 0 ? -1
                                              : wrt_path(&c, nod, stop, opt)) != 0) {
        std::free(c.dat);
        return rtn_fail();
    }
    return ary_out(out, c);
}

int32_t cstream_vtyp_key(st_stream *out, const void *nod, const st_cstream_vmap_opt *opt) noexcept
{
    return wrt_key_out(out, nod, opt, false);
}

int32_t cstream_vtyp_pr(st_stream *out, const void *nod, const st_cstream_vmap_opt *opt) noexcept
{
    return wrt_key_out(out, nod, opt, true);
}
