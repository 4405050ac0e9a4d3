// Shared by the decoder fuzz targets: decode the input with one character
// stream kind, check each character, encode it back with the same kind.
#pragma once

#include "base/container/container.h"
#include "base/stream/stream.h"

#include <cstdlib>
#include <string>

using cstream_set_fn = int32_t (*)(st_stream *, st_stream *) noexcept;

// The bytes the decode and encode gave back; aborts when a character fails
// ok(), a push fails or the decode ends on anything but "no more data".
template <typename Ok>
static std::string roundtrip(const uint8_t *data, size_t size, cstream_set_fn set, Ok ok)
{
    st_stream in, dec, out, enc;
    st_buf buf;
    stream_stc_ary_set(&in, const_cast<uint8_t *>(data), 1, static_cast<uint32_t>(size));
    set(&dec, &in);
    buf_var(buf_hdl(&buf), 1);
    buf_stream_set(&out, buf_hdl(&buf));
    set(&enc, &out);
    int32_t ch;
    while (stream_pop(&dec, &ch) == 0)
        if (!ok(ch) || stream_psh(&enc, &ch) != 0)
            std::abort();
    if (__rtn != 1)
        std::abort();
    const char *got = static_cast<const char *>(buf_dat(buf_hdl(&buf)));
    std::string s = got ? std::string(got, buf_cnt(buf_hdl(&buf))) : std::string();
    stream_end(&enc);
    stream_end(&dec);
    return s;
}
