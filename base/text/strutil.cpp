// String utilities: cutting a stream at a delimiter, the tail after the
// last occurrence of a character, the file-name part of a path, and a
// comparison that ignores the case of ASCII letters.
#include "base/text/text.h"

#include <cstring>

namespace
{

bool is_dlm(const uint32_t *dlm, uint32_t u)
{
    for (; dlm && *dlm; dlm++)
        if (*dlm == u)
            return true;
    return false;
}

// Folds "a" to "z" to upper case; every other byte stays.
unsigned char fold(unsigned char c)
{
    return (c >= 'a' && c <= 'z') ? static_cast<unsigned char>(c - 'a' + 'A') : c;
}

} // namespace

// A unit is popped into a zeroed 32-bit word: a byte stream fills its low
// byte only, so one loop serves byte and character streams alike.
int32_t stm_tok(st_stream *src, const uint32_t *dlm, st_stream *dst, uint32_t *fnd) noexcept
{
    if (stream_chk(src) != 0)
        return rtn_fail1();
    if (fnd)
        *fnd = 0;
    for (;;) {
        uint32_t u = 0;
        if (stream_pop(src, &u) != 0)
            return rtn_ok();
        if (is_dlm(dlm, u)) {
            if (fnd)
                *fnd = u;
            return rtn_ok();
        }
        stream_psh(dst, &u);
    }
}

char *_strchr_rev(const char *str, int chr) noexcept
{
    if (!str)
        return nullptr;
    const char *p = std::strrchr(str, chr);
    return p ? const_cast<char *>(p + 1) : nullptr;
}

const char *fil_nam(const char *path) noexcept
{
    if (!path)
        return nullptr;
    const char *p = _strchr_rev(path, '/');
    if (!p)
        p = path;
    const char *q = _strchr_rev(p, '\\');
    return q ? q : p;
}

int32_t strsml(const char *a, const char *b) noexcept
{
    if (!a || !b)
        return 0;
    const unsigned char *x = reinterpret_cast<const unsigned char *>(a);
    const unsigned char *y = reinterpret_cast<const unsigned char *>(b);
    for (; *x && *y; x++, y++)
        if (fold(*x) != fold(*y))
            return 0;
    return *x == *y;
}
