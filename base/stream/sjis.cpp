// Shift-JIS character stream: decodes the bytes of a byte stream into
// characters on pop and encodes characters into bytes on push. The handle
// is the byte stream, which the character stream owns.
#include "base/stream/stream.h"

#include <cstring>

// Lead bytes of a two-byte character; every other byte value stands alone.
static bool sjis_lead(uint8_t b)
{
    return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xEF);
}

static int32_t stream_pop_btoc_sjis(void *hdl, void *unit)
{
    st_stream *src = static_cast<st_stream *>(hdl);
    uint8_t b[2] = {0, 0};
    if (stream_pop(src, &b[0]) != 0)
        return rtn_keep();
    // A lead byte at the very end has no trail byte: it is dropped and the
    // end of the byte stream is reported.
    if (sjis_lead(b[0]) && stream_pop(src, &b[1]) != 0)
        return rtn_keep();
    const int32_t chr = b[0] | b[1] << 8;
    std::memcpy(unit, &chr, sizeof chr);
    return rtn_ok();
}

int32_t __cstream_psh_bytes(st_stream *dst, int32_t chr) noexcept
{
    uint32_t c = static_cast<uint32_t>(chr);
    do {
        const uint8_t b = c & 0xff;
        if (stream_psh(dst, &b) != 0)
            return rtn_fail1();
        c >>= 8;
    } while (c & 0xff);
    return rtn_ok();
}

static int32_t stream_psh_btoc_sjis(void *hdl, const void *unit)
{
    int32_t chr;
    std::memcpy(&chr, unit, sizeof chr);
    return __cstream_psh_bytes(static_cast<st_stream *>(hdl), chr);
}

static int32_t stream_end_btoc_sjis(void *hdl)
{
    return stream_end(static_cast<st_stream *>(hdl));
}

const st_stream_fnc stream_btoc_sjis = {stream_pop_btoc_sjis,
                                        stream_psh_btoc_sjis,
                                        stream_end_btoc_sjis,
                                        _stream_rst,
                                        nullptr,
                                        nullptr};

void __cstream_src_drop(st_stream *in) noexcept
{
    if (in->hdl)
        stream_end(in);
    else if (in->flg & STM_SLF)
        _free(&in); // the console: stream_end does nothing for an empty handle
}

int32_t cstream_default_btoc_set(st_stream *stm, st_stream *src) noexcept
{
    st_stream *in = src ? src : stkptr(nullptr, nullptr);
    if (!in)
        return rtn_fail();
    if (stream_set(stm, in, &stream_btoc_sjis, nullptr) != 0) {
        if (!src)
            __cstream_src_drop(in);
        return rtn_keep();
    }
    return rtn_ok();
}
