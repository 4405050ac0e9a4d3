// Report lines as JSON objects (JSON Lines) for --json, written straight to
// the channel through a small block: a line of any length costs no copy.
#include "main/rundif.h"

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <iconv.h>

namespace
{

// A JSON line on its way to a channel, with the UTF-8 check of the string
// being written: the bytes of an unfinished sequence wait in seq until it
// completes, so that a sequence found bad is dropped whole.
struct st_jw {
    FILE *fp;
    bool ok;              // every write so far went through
    size_t n;             // bytes waiting in buf
    char buf[8192];       // bytes not yet written
    unsigned char seq[4]; // the unfinished sequence
    int seq_n;            // its bytes so far
    int seq_len;          // the bytes it will have
    unsigned char lo, hi; // range of its next byte
};

} // namespace

static void jw_flush(st_jw *w)
{
    if (w->n && fwrite(w->buf, 1, w->n, w->fp) != w->n)
        w->ok = false;
    w->n = 0;
}

static void jw_put(st_jw *w, const void *b, size_t n)
{
    if (w->n + n > sizeof w->buf)
        jw_flush(w);
    std::memcpy(w->buf + w->n, b, n); // n: a few bytes at most, far below the block
    w->n += n;
}

static void jw_str(st_jw *w, const char *s)
{
    jw_put(w, s, strlen(s));
}

// Starts a sequence at lead byte c: its length and the range of its second
// byte, as well-formed UTF-8 allows them; 0 for a byte that starts none.
static int seq_start(st_jw *w, unsigned char c)
{
    w->lo = 0x80, w->hi = 0xBF;
    if (c >= 0xC2 && c <= 0xDF)
        return 2;
    if (c >= 0xE0 && c <= 0xEF) {
        if (c == 0xE0)
            w->lo = 0xA0; // no overlong forms
        else if (c == 0xED)
            w->hi = 0x9F; // no surrogates
        return 3;
    }
    if (c >= 0xF0 && c <= 0xF4) {
        if (c == 0xF0)
            w->lo = 0x90;
        else if (c == 0xF4)
            w->hi = 0x8F; // nothing beyond U+10FFFF
        return 4;
    }
    return 0;
}

static void jw_bad(st_jw *w)
{
    jw_put(w, "\xEF\xBF\xBD", 3); // U+FFFD
    w->seq_n = 0;
}

// One byte of a JSON string's text: quotes, backslashes and control
// characters escaped; a byte outside well-formed UTF-8 ends the sequence
// it breaks as one U+FFFD and is then read on its own.
static void jw_byte(st_jw *w, unsigned char c)
{
    if (w->seq_n) {
        if (c >= w->lo && c <= w->hi) {
            w->seq[w->seq_n++] = c;
            w->lo = 0x80, w->hi = 0xBF;
            if (w->seq_n == w->seq_len) {
                jw_put(w, w->seq, (size_t)w->seq_len);
                w->seq_n = 0;
            }
            return;
        }
        jw_bad(w);
    }
    if (c >= 0x80) {
        w->seq_len = seq_start(w, c);
        if (!w->seq_len)
            return jw_bad(w);
        w->seq[0] = c;
        w->seq_n = 1;
        return;
    }
    const char *e = nullptr;
    switch (c) {
    case '"':
        e = "\\\"";
        break;
    case '\\':
        e = "\\\\";
        break;
    case '\b':
        e = "\\b";
        break;
    case '\f':
        e = "\\f";
        break;
    case '\n':
        e = "\\n";
        break;
    case '\r':
        e = "\\r";
        break;
    case '\t':
        e = "\\t";
        break;
    }
    char out[8];
    if (e)
        jw_put(w, e, 2);
    else if (c < 0x20)
        jw_put(w, out, (size_t)snprintf(out, sizeof out, "\\u%04x", c));
    else
        jw_put(w, &c, 1);
}

static void jw_bytes(st_jw *w, const char *s, size_t n)
{
    for (size_t i = 0; i < n; i++)
        jw_byte(w, (unsigned char)s[i]);
}

// A text as the console decodes it, as a JSON string. A UTF-8 console's
// bytes go as they are; a Shift-JIS one's are converted from code page 932,
// each byte that does not convert becoming U+FFFD.
static void jw_text(st_jw *w, const char *txt, size_t left)
{
    jw_put(w, "\"", 1);
    static iconv_t cd = (iconv_t)-1; // opened once, kept for the program's life
    if (!cstream_console_utf8() && cd == (iconv_t)-1)
        cd = iconv_open("UTF-8", "CP932");
    if (cstream_console_utf8() || cd == (iconv_t)-1) {
        jw_bytes(w, txt, left);
    } else {
        char buf[256], *in = const_cast<char *>(txt);
        iconv(cd, nullptr, nullptr, nullptr, nullptr);
        while (left > 0) {
            char *op = buf;
            size_t room = sizeof buf;
            size_t r = iconv(cd, &in, &left, &op, &room);
            jw_bytes(w, buf, (size_t)(op - buf));
            if (r == (size_t)-1 && errno != E2BIG) {
                jw_bad(w); // an invalid or cut character: one byte replaced
                in++;
                left--;
            }
        }
    }
    if (w->seq_n)
        jw_bad(w); // a sequence cut by the end of the text
    jw_put(w, "\"", 1);
}

// The run's local time in ISO 8601 with the UTC offset: 2026-12-07T09:15:02+09:00.
static void jw_time(st_jw *w, time_t now)
{
    struct tm tm;
    char s[40], z[8];
    localtime_r(&now, &tm);
    strftime(s, sizeof s, "\"%Y-%m-%dT%H:%M:%S", &tm);
    strftime(z, sizeof z, "%z", &tm); // +0900
    if (strlen(z) == 5)
        snprintf(s + strlen(s), sizeof s - strlen(s), "%.3s:%s", z, z + 3);
    jw_str(w, s);
    jw_put(w, "\"", 1);
}

// Watched value i of the raw bytes (signed 128-bit each) as a JSON
// number; one beyond 64 bits, which JSON readers seldom take exactly, as
// its decimal text.
static void jw_value(st_jw *w, const char *wtc, int32_t i)
{
    __int128 v;
    std::memcpy(&v, wtc + sizeof v * (size_t)i, sizeof v);
    char d[48], *p = d + sizeof d;
    unsigned __int128 u = v < 0 ? 0 - static_cast<unsigned __int128>(v) : v;
    const bool wide = v < INT64_MIN || v > (__int128)UINT64_MAX;
    *--p = '\0';
    if (wide)
        *--p = '"';
    do
        *--p = static_cast<char>('0' + u % 10);
    while (u /= 10);
    if (v < 0)
        *--p = '-';
    if (wide)
        *--p = '"';
    jw_str(w, p);
}

bool report_json(FILE *fp, const st_settings *set, uint32_t run, time_t now, int mark,
                 const char *key, const char *txt, const char *old, const char *cur) noexcept
{
    if (!fp || !set || !key || !txt)
        return false;
    st_jw w;
    w.fp = fp, w.ok = true, w.n = 0, w.seq_n = 0;
    char num[48];
    snprintf(num, sizeof num, "{\"run\":%u,\"time\":", run);
    jw_str(&w, num);
    jw_time(&w, now);
    snprintf(num, sizeof num, ",\"mark\":\"%c\",\"key\":", mark);
    jw_str(&w, num);
    // The row key without the separator that follows each key column.
    size_t klen = strlen(key);
    if (set->key_cnt > 0) {
        char b[4];
        size_t n = cstream_chr_bytes(set->sep, b);
        if (klen >= n && std::memcmp(key + klen - n, b, n) == 0)
            klen -= n;
    }
    jw_text(&w, key, klen);
    jw_str(&w, ",\"line\":");
    jw_text(&w, txt, strlen(txt));
    if (old && cur) {
        jw_str(&w, ",\"watch\":[");
        for (int32_t i = 0; i < set->wtc_cnt; i++) {
            snprintf(num, sizeof num, "%s{\"column\":%d,\"old\":", i ? "," : "", set->wtc[i].col);
            jw_str(&w, num);
            jw_value(&w, old, i);
            jw_str(&w, ",\"new\":");
            jw_value(&w, cur, i);
            jw_put(&w, "}", 1);
        }
        jw_put(&w, "]", 1);
    }
    jw_put(&w, "}\n", 2);
    jw_flush(&w);
    return fflush(fp) == 0 && w.ok;
}
