// Static array stream: pops and pushes the elements of a caller's array.
#include "base/stream/stream_impl.h"

#include <cstring>

// The stream's handle; the array itself stays the caller's.
struct st_stc_ary {
    uint32_t siz; // element size in bytes
    uint32_t cnt; // elements in the array
    uint32_t pos; // next element to pop or push
    char *ary;    // the array
};

// Past the end the pop answers non-zero and leaves the status word to the
// framework, which makes it "no more data".
static int32_t stream_stc_ary_pop(void *hdl, void *unit)
{
    st_stc_ary *a = static_cast<st_stc_ary *>(hdl);
    if (a->pos >= a->cnt)
        return 1;
    std::memcpy(unit, a->ary + size_t{a->siz} * a->pos++, a->siz);
    return 0;
}

static int32_t stream_stc_ary_psh(void *hdl, const void *unit)
{
    st_stc_ary *a = static_cast<st_stc_ary *>(hdl);
    if (a->pos >= a->cnt)
        return 1;
    std::memcpy(a->ary + size_t{a->siz} * a->pos++, unit, a->siz);
    return 0;
}

static int32_t stream_stc_ary_rst(void *hdl)
{
    static_cast<st_stc_ary *>(hdl)->pos = 0;
    return 0;
}

static const st_stream_fnc __stream_stc_ary_fnclst = {stream_stc_ary_pop,
                                                      stream_stc_ary_psh,
                                                      stream_end_fnc_only_free,
                                                      stream_stc_ary_rst,
                                                      nullptr,
                                                      nullptr};

int32_t stream_stc_ary_set(st_stream *stm, void *ary, uint32_t siz, uint32_t cnt) noexcept
{
    if (!ary || !siz)
        return rtn_fail();
    const st_stc_ary a = {siz, cnt, 0, static_cast<char *>(ary)};
    return __stream_set_cpy(stm, &a, sizeof a, &__stream_stc_ary_fnclst);
}
