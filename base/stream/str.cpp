// String stream: pops the bytes of a zero-terminated string. The handle is
// a cursor cell, allocated by the constructor or owned by the caller.
#include "base/stream/stream_impl.h"

static int32_t stream_pop_str(void *hdl, void *unit)
{
    const char **cur = static_cast<const char **>(hdl);
    if (!cur || !*cur)
        return rtn_fail();
    if (**cur == '\0')
        return rtn_none(); // the cursor stays on the terminator
    *static_cast<char *>(unit) = *(*cur)++;
    return rtn_ok();
}

const st_stream_fnc str_stream_fnclst = {stream_pop_str, nullptr, nullptr,
                                         nullptr,        nullptr, nullptr};
const st_stream_fnc _str_stream_fnclst = {stream_pop_str, nullptr, stream_end_fnc_only_free,
                                          nullptr,        nullptr, nullptr};

int32_t bstream_str_set(st_stream *stm, const char *str) noexcept
{
    return __stream_set_cpy(stm, &str, sizeof str, &_str_stream_fnclst);
}
