// Conversions: copying a stream into another, and draining a character
// stream into a text, a character array or a file. Each ends its source.
#include "base/container/container.h"
#include "base/stream/stream.h"

#include <cstring>

constexpr uint32_t CPY_LOC_SIZ = 16; // units up to this size need no allocation

// A conversion refused for its arguments still ends its source.
static int32_t stream_refuse(st_stream *src)
{
    stream_end(src);
    return rtn_fail();
}

int32_t stream_cpy(st_stream *dst, st_stream *src, uint32_t siz) noexcept
{
    alignas(8) unsigned char loc[CPY_LOC_SIZ] = {};
    void *unit = loc;
    if (!dst || !src || !siz)
        return stream_refuse(src);
    if (siz > CPY_LOC_SIZ && _malloc0(&unit, siz) != 0) {
        stream_end(src);
        return rtn_keep();
    }
    int32_t r = 0;
    while (r == 0 && stream_pop(src, unit) == 0)
        r = stream_psh(dst, unit);
    if (unit != loc)
        _free(&unit);
    stream_end(src);
    return r ? __rtn : rtn_ok(); // a failing pop ends the copy like the end of data
}

int32_t cstream_cpy_str(st_stream *dst, const char *str) noexcept
{
    if (!dst || !str)
        return rtn_fail();
    const char *cur = str;
    st_stream bs, cs;
    stream_set(&bs, &cur, &str_stream_fnclst, nullptr);
    RTN_TRY(cstream_console_btoc_set(&cs, &bs));
    return stream_cpy(dst, &cs, sizeof(int32_t));
}

// Pops every character of src and pushes it to dst, then with trm a 0
// character. A failure of the source is passed on; ends src, not dst.
static int32_t cstream_drain(st_stream *src, st_stream *dst, bool trm)
{
    int32_t chr = 0;
    while (stream_pop(src, &chr) == 0) {
        if (stream_psh(dst, &chr) != 0)
            break;
    }
    chr = 0;
    if (!rtn_is_err(__rtn) && (!trm || stream_psh(dst, &chr) == 0))
        rtn_ok();
    stream_end(src);
    return __rtn;
}

// Drains src into a new array of siz-byte elements (siz 1: the characters'
// bytes through a Shift-JIS encoder; siz 4: the characters themselves),
// 0-terminated, and hands it over to *out.
static int32_t cstream_to_buf(st_stream *src, void **out, uint32_t siz)
{
    st_buf buf;
    st_stream bs;
    buf_var(buf_hdl(&buf), siz);
    buf_stream_set(&bs, buf_hdl(&buf));
    st_stream cs = {&bs, &stream_btoc_sjis, STM_OPN, 0, nullptr};
    st_stream *dst = siz == 1 ? &cs : &bs;
    if (cstream_drain(src, dst, true) == 0)
        _buf_vptr(buf_hdl(&buf), out);
    stream_end(dst); // releases the array unless it was handed over
    return __rtn;
}

int32_t cstream_to_vstr(st_stream *src, char **out) noexcept
{
    if (!out)
        return stream_refuse(src);
    *out = nullptr;
    void *txt;
    RTN_TRY(cstream_to_buf(src, &txt, 1));
    *out = static_cast<char *>(txt);
    return rtn_ok();
}

int32_t cstream_to_vcstr(st_stream *src, int32_t **out) noexcept
{
    if (!out)
        return stream_refuse(src);
    *out = nullptr;
    void *ary;
    RTN_TRY(cstream_to_buf(src, &ary, sizeof(int32_t)));
    *out = static_cast<int32_t *>(ary);
    return rtn_ok();
}

int32_t cstream_to_fil(st_stream *src, FILE *fp) noexcept
{
    if (!fp)
        return stream_refuse(src);
    st_stream fs;
    stream_set(&fs, fp, &_file_stream_fnclst, nullptr); // leaves the file open
    st_stream cs = {&fs, &stream_btoc_sjis, STM_OPN, 0, nullptr};
    cstream_drain(src, &cs, false);
    stream_end(&cs);
    return __rtn;
}
