// Character-stream constructors: a byte stream built without an object
// (so it waits in the hand-off slot) under a Shift-JIS character stream,
// and the choice of the console's decoder.
#include "base/stream/stream.h"

#include <langinfo.h>
#include <strings.h>

// Wraps the byte stream that a constructor (result made) just parked in the
// hand-off slot; a failed wrapping releases it.
static int32_t cstream_wrap(st_stream *stm, int32_t made)
{
    if (made != 0)
        return rtn_keep();
    return cstream_default_btoc_set(stm, nullptr);
}

int32_t cstream_str_set(st_stream *stm, const char *str) noexcept
{
    return cstream_wrap(stm, bstream_str_set(nullptr, str));
}

int32_t cstream_vstr_set(st_stream *stm, char **str) noexcept
{
    char *old = str ? *str : nullptr;
    if (cstream_wrap(stm, bstream_vstr_set(nullptr, str)) == 0)
        return 0;
    if (str && *str != old) {
        _free(str); // the new text goes, the caller's pointer comes back
        *str = old;
    }
    return __rtn;
}

int32_t cstream_int_set(st_stream *stm, int32_t val) noexcept
{
    return cstream_wrap(stm, bstream_int_set(nullptr, val));
}

int32_t cstream_uint_set(st_stream *stm, uint32_t val) noexcept
{
    return cstream_wrap(stm, bstream_uint_set(nullptr, val));
}

int32_t cstream_fil_set(st_stream *stm, FILE *fp, int32_t cls) noexcept
{
    return cstream_wrap(stm, bstream_fil_set(nullptr, fp, cls));
}

int32_t cstream_stdio_set(st_stream *stm) noexcept
{
    return cstream_wrap(stm, bstream_stdio_set(nullptr));
}

bool cstream_console_utf8() noexcept
{
    // Shift-JIS only where the codeset names it: C, POSIX (ASCII) and every
    // other locale read UTF-8, whose decoder passes an invalid byte alone.
    static const char *const sjis[] = {"SHIFT_JIS", "SHIFT-JIS", "SJIS", "CP932", "WINDOWS-31J"};
    const char *cs = nl_langinfo(CODESET);
    for (const char *name : sjis)
        if (cs && strcasecmp(cs, name) == 0)
            return false;
    return true;
}

int32_t cstream_console_btoc_set(st_stream *stm, st_stream *src) noexcept
{
    if (cstream_console_utf8())
        return cstream_utf8_btoc_set(stm, src);
    return cstream_default_btoc_set(stm, src);
}
