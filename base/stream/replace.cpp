// Replace stream: the characters of a source with every occurrence of a
// pattern replaced, left to right and without overlap. A window of pattern
// length slides over the source; when it matches, the replacement's
// characters are delivered (and never searched again) and the window is
// emptied; otherwise its first character goes out and it slides by one.
#include "base/stream/stream.h"

#include <cstring>

// The stream's handle.
struct st_rpl {
    st_stream *src;     // the source, owned
    int32_t *pat;       // the pattern's characters, 0-terminated
    int32_t *rpl;       // the replacement's characters, 0-terminated
    const int32_t *cur; // next replacement character to deliver; none before the first match
    int32_t *win;       // ring of len source characters
    uint32_t len;       // pattern length
    uint32_t beg;       // ring index of the window's first character
    uint32_t fil;       // characters in the window
    int32_t end;        // the source's last status once it stopped; 0 while it gives characters
};

// Fills the window from the source as far as the source goes.
static void rpl_fill(st_rpl *r)
{
    while (!r->end && r->fil < r->len) {
        int32_t c = 0;
        if (stream_pop(r->src, &c) != 0) {
            r->end = __rtn;
            break;
        }
        r->win[(r->beg + r->fil++) % r->len] = c;
    }
}

// True when the full window holds the pattern.
static bool rpl_match(const st_rpl *r)
{
    if (r->fil < r->len)
        return false;
    for (uint32_t i = 0; i < r->len; i++)
        if (r->win[(r->beg + i) % r->len] != r->pat[i])
            return false;
    return true;
}

static int32_t cstream_replace_pop(void *hdl, void *unit)
{
    st_rpl *r = static_cast<st_rpl *>(hdl);
    if (r->len == 0) // an empty pattern replaces nothing
        return stream_pop(r->src, unit) == 0 ? rtn_ok() : __rtn;
    for (;;) {
        if (r->cur && *r->cur) {
            std::memcpy(unit, r->cur++, sizeof *r->cur);
            return rtn_ok();
        }
        rpl_fill(r);
        if (!rpl_match(r))
            break;
        r->cur = r->rpl;
        r->beg = r->fil = 0;
    }
    if (r->fil == 0) // the source's end of data, or its failure
        return __rtn = r->end;
    std::memcpy(unit, &r->win[r->beg], sizeof *r->win);
    r->beg = (r->beg + 1) % r->len;
    r->fil--;
    return rtn_ok();
}

// Releases the handle and what it owns; also cleans up a failed set-up.
static int32_t cstream_replace_end(void *hdl)
{
    st_rpl *r = static_cast<st_rpl *>(hdl);
    stream_end(r->src);
    _free(&r->pat);
    _free(&r->rpl);
    _free(&r->win);
    return stream_end_fnc_only_free(hdl);
}

static const st_stream_fnc cstream_replace_fnclst = {
    cstream_replace_pop, nullptr, cstream_replace_end, nullptr, nullptr, nullptr};

int32_t cstream_replace(st_stream *stm, st_stream *src, st_stream *pat, st_stream *rpl) noexcept
{
    if (!src || !pat || !rpl)
        return rtn_fail();
    st_rpl *r;
    if (_malloc0(&r, sizeof *r) != 0) {
        stream_end(pat);
        stream_end(rpl);
        return rtn_keep();
    }
    if (cstream_to_vcstr(pat, &r->pat) != 0) {
        stream_end(rpl);
    } else if (cstream_to_vcstr(rpl, &r->rpl) == 0) {
        while (r->pat[r->len])
            r->len++;
        if (_malloc(&r->win, (r->len ? r->len : 1) * sizeof *r->win) == 0 &&
            stream_set(stm, r, &cstream_replace_fnclst, nullptr) == 0) {
            r->src = src; // owned from here on
            return rtn_ok();
        }
    }
    rtn_keep();
    cstream_replace_end(r); // src is still none in the record: it stays the caller's
    return __rtn;
}
