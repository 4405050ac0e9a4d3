// UTF-8 character stream: decodes whole sequences of 1 to 4 bytes into one
// character (bytes packed low byte first) and encodes characters back into
// their bytes. A byte that does not start a valid sequence, or a sequence
// that breaks off, is delivered as a character of its own; the bytes read
// ahead to find that out are held and delivered next, so no byte is lost or
// merged with the one after it.
//
// Block pops read the byte stream in blocks into a read-ahead buffer and
// hand out runs of ASCII bytes directly; any other character is decoded as
// a single pop decodes it, which completes a sequence cut by the end of the
// buffer with single pops from the byte stream. Bytes are taken in one
// order: held ones, then the buffer, then the byte stream; so single and
// block pops mix freely.
#include "base/stream/stream_impl.h"

#include <cstring>

namespace
{

constexpr uint32_t UTF8_BLK = 4096; // read-ahead bytes

// The stream's handle.
struct st_utf8 {
    st_stream *src;        // the byte stream, owned
    int32_t end;           // the byte stream's last status once it stopped; 0 while it gives bytes
    uint8_t qn;            // bytes held
    uint8_t q[3];          // bytes read ahead and not delivered yet, oldest first
    uint32_t pos;          // next byte of buf to deliver
    uint32_t len;          // bytes in buf
    uint8_t buf[UTF8_BLK]; // read ahead by block pops, after the held bytes
};

} // namespace

// The next byte: a held one first, then one of the read-ahead buffer, else
// one from the byte stream. After the byte stream stopped, its status again
// (non-zero).
static int32_t utf8_get(st_utf8 *u, uint8_t *b)
{
    if (u->qn) {
        *b = u->q[0];
        std::memmove(u->q, u->q + 1, --u->qn);
        return 0;
    }
    if (u->pos < u->len) {
        *b = u->buf[u->pos++];
        return 0;
    }
    if (!u->end && stream_pop(u->src, b) == 0)
        return 0;
    if (!u->end)
        u->end = __rtn;
    return __rtn = u->end;
}

// Holds n bytes again, in front of those already held (never more than 3).
static void utf8_unget(st_utf8 *u, const uint8_t *b, uint32_t n)
{
    std::memmove(u->q + n, u->q, u->qn);
    std::memcpy(u->q, b, n);
    u->qn = static_cast<uint8_t>(u->qn + n);
}

// Length of the sequence that b starts (1: b stands alone) and the range of
// its second byte, which excludes overlong forms, surrogates and values
// above U+10FFFF.
static uint32_t utf8_len(uint8_t b, uint8_t *lo, uint8_t *hi)
{
    *lo = 0x80;
    *hi = 0xBF;
    if (b >= 0xC2 && b <= 0xDF)
        return 2;
    if (b >= 0xE0 && b <= 0xEF) {
        *lo = b == 0xE0 ? 0xA0 : 0x80;
        *hi = b == 0xED ? 0x9F : 0xBF;
        return 3;
    }
    if (b >= 0xF0 && b <= 0xF4) {
        *lo = b == 0xF0 ? 0x90 : 0x80;
        *hi = b == 0xF4 ? 0x8F : 0xBF;
        return 4;
    }
    return 1;
}

static int32_t stream_pop_btoc_utf8(void *hdl, void *unit)
{
    st_utf8 *u = static_cast<st_utf8 *>(hdl);
    uint8_t b[4] = {0, 0, 0, 0}, lo, hi;
    if (utf8_get(u, &b[0]) != 0)
        return __rtn;
    const uint32_t len = utf8_len(b[0], &lo, &hi);
    uint32_t n = 1; // bytes read for this character
    bool ok = true;
    for (; ok && n < len; n++, lo = 0x80, hi = 0xBF) {
        if (utf8_get(u, &b[n]) != 0) {
            ok = false; // broken off by the end: b[n] was not read
            break;
        }
        ok = b[n] >= lo && b[n] <= hi;
    }
    if (!ok) {
        utf8_unget(u, b + 1, n - 1);
        std::memset(b + 1, 0, 3);
    }
    const int32_t chr = static_cast<int32_t>(b[0] | b[1] << 8 | b[2] << 16 | uint32_t{b[3]} << 24);
    std::memcpy(unit, &chr, sizeof chr);
    return rtn_ok();
}

// Refills the empty read-ahead buffer with a block of the byte stream. 0;
// after the byte stream stopped, its status (non-zero).
static int32_t utf8_fill(st_utf8 *u)
{
    u->pos = u->len = 0;
    if (!u->end && stream_pop_blk(u->src, u->buf, UTF8_BLK, &u->len) == 0)
        return 0;
    if (!u->end)
        u->end = __rtn;
    return __rtn = u->end;
}

static int32_t stream_pop_blk_btoc_utf8(void *hdl, void *units, uint32_t max, uint32_t *got)
{
    st_utf8 *u = static_cast<st_utf8 *>(hdl);
    uint8_t *out = static_cast<uint8_t *>(units);
    uint32_t n = 0;
    while (n < max) {
        if (!u->qn && u->pos == u->len) {
            if (n > 0)
                break; // hand out what is decoded rather than wait for more
            if (utf8_fill(u) != 0)
                return __rtn;
        }
        if (!u->qn && u->buf[u->pos] < 0x80) {
            const int32_t chr = u->buf[u->pos++]; // the ASCII fast path
            std::memcpy(out + n++ * sizeof chr, &chr, sizeof chr);
        } else {
            stream_pop_btoc_utf8(u, out + n++ * sizeof(int32_t)); // a byte is there: it succeeds
        }
    }
    *got = n;
    return rtn_ok();
}

static int32_t stream_psh_btoc_utf8(void *hdl, const void *unit)
{
    int32_t chr;
    std::memcpy(&chr, unit, sizeof chr);
    return __cstream_psh_bytes(static_cast<st_utf8 *>(hdl)->src, chr);
}

static int32_t stream_end_btoc_utf8(void *hdl)
{
    stream_end(static_cast<st_utf8 *>(hdl)->src);
    return stream_end_fnc_only_free(hdl);
}

static int32_t stream_rst_btoc_utf8(void *hdl)
{
    st_utf8 *u = static_cast<st_utf8 *>(hdl);
    u->qn = 0;
    u->end = 0;
    u->pos = u->len = 0;
    return stream_rst(u->src);
}

static const st_stream_fnc_blk utf8_fnc_blk = {{stream_pop_btoc_utf8, stream_psh_btoc_utf8,
                                                stream_end_btoc_utf8, stream_rst_btoc_utf8, nullptr,
                                                nullptr},
                                               stream_pop_blk_btoc_utf8};

int32_t cstream_utf8_btoc_set(st_stream *stm, st_stream *src) noexcept
{
    st_stream *in = src ? src : stkptr(nullptr, nullptr);
    if (!in)
        return rtn_fail();
    st_utf8 *u = nullptr;
    if (_malloc0(&u, sizeof *u) == 0) {
        u->src = in;
        if (stream_set_blk(stm, u, &utf8_fnc_blk, nullptr, 0) == 0)
            return rtn_ok();
        _free(&u);
    }
    if (!src)
        __cstream_src_drop(in);
    return rtn_keep();
}
