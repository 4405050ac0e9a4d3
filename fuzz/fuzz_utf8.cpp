// UTF-8: decoding any bytes and encoding the characters again gives the
// bytes back exactly; every character of more than one byte is a valid,
// shortest sequence of a scalar value.
#include "fuzz/roundtrip.h"

#include <cstdlib>
#include <cstring>

// True when the packed character (2 to 4 bytes, low byte first) is valid.
static bool valid(uint32_t ch)
{
    uint8_t b[4];
    int n = 0;
    for (uint32_t c = ch; c; c >>= 8)
        b[n++] = c & 0xFF;
    uint32_t cp;
    if (n == 2 && (b[0] & 0xE0) == 0xC0)
        cp = (b[0] & 0x1Fu) << 6;
    else if (n == 3 && (b[0] & 0xF0) == 0xE0)
        cp = (b[0] & 0x0Fu) << 12;
    else if (n == 4 && (b[0] & 0xF8) == 0xF0)
        cp = (b[0] & 0x07u) << 18;
    else
        return false;
    for (int i = 1; i < n; i++) {
        if ((b[i] & 0xC0) != 0x80)
            return false;
        cp |= (b[i] & 0x3Fu) << 6 * (n - 1 - i);
    }
    const uint32_t min[5] = {0, 0, 0x80, 0x800, 0x10000};
    return cp >= min[n] && cp <= 0x10FFFF && (cp < 0xD800 || cp > 0xDFFF);
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;
    auto ok = [](int32_t ch) {
        return static_cast<uint32_t>(ch) <= 0xFF || valid(static_cast<uint32_t>(ch));
    };
    const std::string want(reinterpret_cast<const char *>(data), size);
    if (roundtrip(data, size, cstream_utf8_btoc_set, ok) != want)
        std::abort();
    return 0;
}
