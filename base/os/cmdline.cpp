// Splitting a command line into arguments.
#include "base/os/os.h"

#include <cstring>

static bool is_blank(char c)
{
    return c == ' ' || c == '\t';
}

// Scans one argument starting at s (not a blank). Writes its bytes to dst
// when given and returns the position after it; *len gets its length.
static const char *scan_arg(const char *s, char *dst, size_t *len)
{
    bool quoted = false;
    size_t n = 0;
    auto put = [&](char c, size_t times) {
        for (; times; times--, n++)
            if (dst)
                dst[n] = c;
    };
    while (*s && (quoted || !is_blank(*s))) {
        size_t bs = strspn(s, "\\");
        if (s[bs] == '"') {
            // 2k backslashes + quote: k backslashes, the quote groups;
            // 2k+1: k backslashes and a literal quote.
            put('\\', bs / 2);
            if (bs % 2)
                put('"', 1);
            else
                quoted = !quoted;
            s += bs + 1;
        } else if (bs) {
            put('\\', bs);
            s += bs;
        } else {
            put(*s++, 1);
        }
    }
    *len = n;
    return s;
}

int32_t cmdline_split(const char *cmd, char ***argv, int32_t *argc) noexcept
{
    // First pass: count the arguments and their bytes.
    size_t cnt = 0, bytes = 0, len;
    for (const char *s = cmd ? cmd : ""; *s;) {
        if (is_blank(*s)) {
            s++;
            continue;
        }
        s = scan_arg(s, nullptr, &len);
        cnt++;
        bytes += len + 1;
    }
    // Second pass: the pointer vector followed by the texts, one block.
    char **v = nullptr;
    RTN_TRY(_malloc(&v, (cnt + 1) * sizeof(char *) + bytes));
    char *txt = reinterpret_cast<char *>(v + cnt + 1);
    size_t i = 0;
    for (const char *s = cmd ? cmd : ""; *s;) {
        if (is_blank(*s)) {
            s++;
            continue;
        }
        v[i++] = txt;
        s = scan_arg(s, txt, &len);
        txt[len] = '\0';
        txt += len + 1;
    }
    v[cnt] = nullptr;
    *argv = v;
    *argc = (int32_t)cnt;
    return rtn_ok();
}
