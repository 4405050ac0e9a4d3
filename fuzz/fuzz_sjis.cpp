// Shift-JIS: decoding any bytes and encoding the characters again gives the
// bytes back, except a lone lead byte at the very end and a zero byte after
// a lead byte (the packed character cannot tell it from no trail byte).
#include "base/container/container.h"
#include "base/stream/stream.h"

#include <cstdlib>
#include <cstring>
#include <string>

static bool lead(uint8_t b)
{
    return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xEF);
}

// The bytes a decode and encode should give back.
static std::string expected(const uint8_t *d, size_t n)
{
    std::string s;
    for (size_t i = 0; i < n; i++) {
        if (!lead(d[i])) {
            s += static_cast<char>(d[i]);
        } else if (i + 1 < n) {
            s += static_cast<char>(d[i]);
            if (d[++i])
                s += static_cast<char>(d[i]);
        }
    }
    return s;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;
    st_stream in, dec, out, enc;
    st_buf buf;
    stream_stc_ary_set(&in, const_cast<uint8_t *>(data), 1, static_cast<uint32_t>(size));
    cstream_default_btoc_set(&dec, &in);
    buf_var(buf_hdl(&buf), 1);
    buf_stream_set(&out, buf_hdl(&buf));
    cstream_default_btoc_set(&enc, &out);
    int32_t ch;
    while (stream_pop(&dec, &ch) == 0) {
        if ((ch & ~0xFFFF) || ((ch >> 8) && !lead(ch & 0xFF)))
            std::abort(); // more than two bytes, or a pair without a lead byte
        if (stream_psh(&enc, &ch) != 0)
            std::abort();
    }
    if (__rtn != 1)
        std::abort();
    const std::string want = expected(data, size);
    const void *got = buf_dat(buf_hdl(&buf));
    if (buf_cnt(buf_hdl(&buf)) != want.size() ||
        (got && std::memcmp(got, want.data(), want.size())))
        std::abort();
    stream_end(&enc);
    stream_end(&dec);
    return 0;
}
