// No-clear view: forwards pop, push and rewind to the viewed stream and has
// no end, so ending the view leaves the viewed stream open.
#include "base/stream/stream.h"

static int32_t _stream_noclear_pop(void *hdl, void *unit)
{
    return stream_pop(static_cast<st_stream *>(hdl), unit);
}

static int32_t _stream_noclear_psh(void *hdl, const void *unit)
{
    return stream_psh(static_cast<st_stream *>(hdl), unit);
}

const st_stream_fnc stream_noclear_fnclst = {
    _stream_noclear_pop, _stream_noclear_psh, nullptr, _stream_rst, nullptr, nullptr};

int32_t stream_noclear(st_stream *stm, st_stream *viw) noexcept
{
    if (!viw)
        return rtn_fail();
    return stream_set(stm, viw, &stream_noclear_fnclst, nullptr);
}
