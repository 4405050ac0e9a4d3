// Shift-JIS character stream: decodes the bytes of a byte stream into
// characters on pop and encodes characters into bytes on push. The handle
// is the byte stream, which the character stream owns.
//
// Block pops take at most as many bytes from the byte stream as units are
// asked for and decode all of them (a lead byte at the end of the block
// takes its trail byte with a single pop), so no byte is ever held here.
#include "base/stream/stream_impl.h"

#include <algorithm>
#include <cstring>

constexpr uint32_t SJIS_BLK = 4096; // bytes taken per block pop

static int32_t stream_pop_btoc_sjis(void *hdl, void *unit)
{
    st_stream *src = static_cast<st_stream *>(hdl);
    uint8_t b[2] = {0, 0};
    if (stream_pop(src, &b[0]) != 0)
        return rtn_keep();
    // A lead byte at the very end has no trail byte: it is dropped and the
    // end of the byte stream is reported.
    if (cstream_sjis_lead(b[0]) && stream_pop(src, &b[1]) != 0)
        return rtn_keep();
    const int32_t chr = b[0] | b[1] << 8;
    std::memcpy(unit, &chr, sizeof chr);
    return rtn_ok();
}

static void sjis_put(void *units, uint32_t i, int32_t chr)
{
    std::memcpy(static_cast<uint8_t *>(units) + i * sizeof chr, &chr, sizeof chr);
}

static int32_t stream_pop_blk_btoc_sjis(void *hdl, void *units, uint32_t max, uint32_t *got)
{
    st_stream *src = static_cast<st_stream *>(hdl);
    uint8_t b[SJIS_BLK];
    uint32_t k = 0, n = 0;
    if (stream_pop_blk(src, b, std::min(max, SJIS_BLK), &k) != 0)
        return rtn_keep();
    for (uint32_t i = 0; i < k; i++) {
        int32_t chr = b[i];
        if (cstream_sjis_lead(b[i])) {
            uint8_t t = 0;
            if (i + 1 < k) {
                t = b[++i];
            } else if (stream_pop(src, &t) != 0) {
                *got = n; // the lead byte is dropped; the units go out before the end
                return rtn_keep();
            }
            chr |= t << 8;
        }
        sjis_put(units, n++, chr);
    }
    *got = n;
    return rtn_ok();
}

int32_t __cstream_psh_bytes(st_stream *dst, int32_t chr) noexcept
{
    char b[4];
    for (uint32_t i = 0, n = cstream_chr_bytes(chr, b); i < n; i++)
        if (stream_psh(dst, &b[i]) != 0)
            return rtn_fail1();
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

static const st_stream_fnc_blk sjis_fnc_blk = {{stream_pop_btoc_sjis, stream_psh_btoc_sjis,
                                                stream_end_btoc_sjis, _stream_rst, nullptr,
                                                nullptr},
                                               stream_pop_blk_btoc_sjis};

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
    if (stream_set_blk(stm, in, &sjis_fnc_blk, nullptr, 0) != 0) {
        if (!src)
            __cstream_src_drop(in);
        return rtn_keep();
    }
    return rtn_ok();
}
