// Buffer stream: one buffer element per unit, through the buffer's own
// operations.
#include "base/container/container.h"
#include "base/stream/stream.h"

// buf_end answers with a pointer; an end slot answers with a status.
static int32_t stream_buf_end(void *hdl)
{
    buf_end(hdl);
    return 0;
}

const st_stream_fnc buf_stream_fnclst = {buf_pop, buf_psh, stream_buf_end,
                                         buf_rst, nullptr, nullptr};

int32_t buf_stream_set(st_stream *stm, void *buf) noexcept
{
    return stream_set(stm, buf, &buf_stream_fnclst, nullptr);
}
