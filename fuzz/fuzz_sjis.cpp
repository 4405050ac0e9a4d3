// Shift-JIS: decoding any bytes and encoding the characters again gives the
// bytes back, except a lone lead byte at the very end and a zero byte after
// a lead byte (the packed character cannot tell it from no trail byte).
#include "fuzz/roundtrip.h"

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
    // At most two bytes, and a pair only with a lead byte.
    auto ok = [](int32_t ch) { return !(ch & ~0xFFFF) && (!(ch >> 8) || lead(ch & 0xFF)); };
    if (roundtrip(data, size, cstream_default_btoc_set, ok) != expected(data, size))
        std::abort();
    return 0;
}
