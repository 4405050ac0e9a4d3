// Number streams: pop the decimal text of a 32-bit signed or unsigned
// value, most significant digit first.
#include "base/stream/stream_impl.h"

// The stream's handle. A negative value is kept as its magnitude with the
// sign still due, so the most negative value renders as "-2147483648".
struct st_num {
    uint32_t val; // the magnitude
    uint8_t stt;  // NUM_* bits
};

enum : uint8_t {    /* st_num.stt */
    NUM_CNT = 0x0f, // bits 0-3: digits still to deliver; 0 before the first
    NUM_END = 0x10, // bit 4: the last digit has been delivered
    NUM_NEG = 0x20, // bit 5: the minus sign is still due
};

static constexpr uint32_t pow10[10] = {1,      10,      100,      1000,      10000,
                                       100000, 1000000, 10000000, 100000000, 1000000000};

// Number of decimal digits of v (1 for 0).
static uint32_t num_digits(uint32_t v)
{
    uint32_t d = 1;
    while (d < 10 && v >= pow10[d])
        d++;
    return d;
}

static int32_t stream_pop_uint(void *hdl, void *unit)
{
    st_num *n = static_cast<st_num *>(hdl);
    if (!n)
        return rtn_fail();
    if (n->stt & NUM_END)
        return rtn_none();
    uint32_t d = (n->stt & NUM_CNT) ? (n->stt & NUM_CNT) : num_digits(n->val);
    *static_cast<char *>(unit) = static_cast<char>('0' + n->val / pow10[d - 1] % 10);
    n->stt = static_cast<uint8_t>(d == 1 ? uint32_t{NUM_END} : d - 1);
    return rtn_ok();
}

static int32_t stream_pop_int(void *hdl, void *unit)
{
    st_num *n = static_cast<st_num *>(hdl);
    if (n && (n->stt & NUM_NEG)) {
        *static_cast<char *>(unit) = '-';
        n->stt &= ~NUM_NEG;
        return rtn_ok();
    }
    return stream_pop_uint(hdl, unit);
}

static const st_stream_fnc _int_stream_fnclst = {stream_pop_int, nullptr, stream_end_fnc_only_free,
                                                 nullptr,        nullptr, nullptr};
static const st_stream_fnc _uint_stream_fnclst = {
    stream_pop_uint, nullptr, stream_end_fnc_only_free, nullptr, nullptr, nullptr};

int32_t bstream_int_set(st_stream *stm, int32_t val) noexcept
{
    st_num n = {static_cast<uint32_t>(val), 0};
    if (val < 0) {
        n.val = 0u - n.val;
        n.stt = NUM_NEG;
    }
    return __stream_set_cpy(stm, &n, sizeof n, &_int_stream_fnclst);
}

int32_t bstream_uint_set(st_stream *stm, uint32_t val) noexcept
{
    const st_num n = {val, 0};
    return __stream_set_cpy(stm, &n, sizeof n, &_uint_stream_fnclst);
}
