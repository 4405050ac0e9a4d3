// Growable-string stream: appends each pushed byte to a string that the
// caller's pointer names. The stream keeps the length and capacity in a
// small record, so an append costs amortised O(1) instead of a measure and
// a reallocation per byte; the text is still terminated after every push.
#include "base/stream/stream_impl.h"

#include <cstring>

constexpr size_t VSTR_CAP0 = 16; // bytes of the first allocation

// The stream's handle; the text belongs to the caller.
struct st_vstr {
    char **dst; // the caller's pointer to the text
    char *str;  // the text as last seen through dst
    size_t len; // its length, without the terminator
    size_t cap; // bytes allocated
};

// The caller may have put another text behind its pointer: adopt it, with
// its capacity unknown (the next append reallocates).
static void vstr_sync(st_vstr *v)
{
    if (*v->dst == v->str)
        return;
    v->str = *v->dst;
    v->len = std::strlen(v->str);
    v->cap = v->len + 1;
}

static int32_t stream_psh_vstr(void *hdl, const void *unit)
{
    st_vstr *v = static_cast<st_vstr *>(hdl);
    if (!v || !v->dst || !*v->dst)
        return rtn_fail();
    vstr_sync(v);
    if (v->len + 2 > v->cap) {
        size_t cap = v->cap * 2 > v->len + 2 ? v->cap * 2 : v->len + 2;
        RTN_TRY(_realloc(v->dst, cap)); // on failure the text stays as it was
        v->str = *v->dst;
        v->cap = cap;
    }
    v->str[v->len++] = *static_cast<const char *>(unit);
    v->str[v->len] = '\0';
    return rtn_ok();
}

static const st_stream_fnc vstr_stream_fnclst = {nullptr, stream_psh_vstr, stream_end_fnc_only_free,
                                                 nullptr, nullptr,         nullptr};

int32_t bstream_vstr_set(st_stream *stm, char **str) noexcept
{
    if (!str)
        return rtn_fail();
    char *txt;
    RTN_TRY(_malloc0(&txt, VSTR_CAP0));
    const st_vstr v = {str, txt, 0, VSTR_CAP0};
    if (__stream_set_cpy(stm, &v, sizeof v, &vstr_stream_fnclst) != 0) {
        _free(&txt);
        return rtn_keep();
    }
    *str = txt; // only now, so a failure leaves the caller's pointer alone
    return rtn_ok();
}
