// Character streams: Shift-JIS and UTF-8 decoding and encoding, the
// console's choice, and the constructors that go through the hand-off slot.
#include "tests/stream/util.h"

#include <random>

namespace
{

using namespace stream_test;
using V = std::vector<int32_t>;

// The characters of a zero-free byte text, and the status that ended them.
V decode(const std::string &b, bool utf8, int32_t *rtn = nullptr)
{
    Stm c;
    EXPECT_EQ(bstream_str_set(nullptr, b.c_str()), 0);
    EXPECT_EQ(utf8 ? cstream_utf8_btoc_set(&c, nullptr) : cstream_default_btoc_set(&c, nullptr), 0);
    return chars(&c, rtn);
}

// The bytes that pushing the characters into a growable string gives.
std::string encode(const V &v)
{
    char *t = nullptr;
    Stm c;
    EXPECT_EQ(cstream_vstr_set(&c, &t), 0);
    for (int32_t ch : v)
        EXPECT_EQ(stream_psh(&c, &ch), 0);
    stream_end(&c);
    std::string r = t;
    _free(&t);
    return r;
}

TEST(ShiftJis, LeadBytesPairWithTheirTrailByte)
{
    int32_t rtn = 0;
    EXPECT_EQ(decode("\x41\x82\xA0\xB1", false, &rtn), (V{0x41, 0xA082, 0xB1}));
    EXPECT_EQ(rtn, 1);
    // Range edges: 0x80, 0xA0-0xDF and 0xF0-0xFF stand alone.
    EXPECT_EQ(decode("\x80\xA0\xDF\xF0\xFF", false), (V{0x80, 0xA0, 0xDF, 0xF0, 0xFF}));
    EXPECT_EQ(decode("\x81\x40\x9F\xFC\xE0\x40\xEF\x0A", false),
              (V{0x4081, 0xFC9F, 0x40E0, 0x0AEF}));
    EXPECT_EQ(decode("A\x95", false, &rtn), V{0x41}) << "a lone lead byte at the end is lost";
    EXPECT_EQ(rtn, 1);

    EXPECT_EQ(encode({0x41}), "A");
    EXPECT_EQ(encode({0xA082, 0x0A}), "\x82\xA0\n");
    EXPECT_EQ(encode({0x8281E3}), "\xE3\x81\x82") << "wider characters keep every byte";
}

TEST(Utf8, WholeSequencesOrSingleBytes)
{
    int32_t rtn = 0;
    // A, é (C3 A9), あ (E3 81 82), 😀 (F0 9F 98 80): low byte first.
    EXPECT_EQ(decode("A\xC3\xA9\xE3\x81\x82\xF0\x9F\x98\x80", true, &rtn),
              (V{0x41, 0xA9C3, 0x8281E3, static_cast<int32_t>(0x80989FF0)}));
    EXPECT_EQ(rtn, 1);
    EXPECT_EQ(decode("\xEF\xBF\xBF\xF4\x8F\xBF\xBF", true).size(), 2u) << "U+FFFF, U+10FFFF";

    // Overlong, surrogate, beyond U+10FFFF, stray continuation, bad leads:
    // byte by byte.
    for (const char *bad : {"\xC0\xAF", "\xC1\xBF", "\xE0\x9F\xBF", "\xED\xA0\x80",
                            "\xF0\x8F\xBF\xBF", "\xF4\x90\x80\x80", "\x80", "\xF5\x80", "\xFF"}) {
        const std::string b = bad;
        V want;
        for (unsigned char c : b)
            want.push_back(c);
        EXPECT_EQ(decode(b, true), want) << testing::PrintToString(b);
    }
    // A sequence that breaks off before a line feed or the end.
    EXPECT_EQ(decode("\xE3\x81\n", true), (V{0xE3, 0x81, 0x0A}));
    EXPECT_EQ(decode("\xF0\x9F\x98", true, &rtn), (V{0xF0, 0x9F, 0x98}));
    EXPECT_EQ(rtn, 1);
    EXPECT_EQ(decode("\xE3\xE3\x81\x82", true), (V{0xE3, 0x8281E3}));

    // Whatever the bytes, decoding and encoding give them back.
    std::mt19937 rng(11);
    for (int round = 0; round < 300; round++) {
        std::string b;
        for (int i = rng() % 12; i > 0; i--)
            b += static_cast<char>(1 + rng() % 255);
        V v = decode(b, true);
        EXPECT_EQ(encode(v), b) << testing::PrintToString(b);
    }
}

TEST(Utf8, RewindForgetsTheBytesReadAhead)
{
    char b[] = "\xE3\x81Z";
    Stm c;
    ASSERT_EQ(stream_stc_ary_set(nullptr, b, 1, 3), 0);
    ASSERT_EQ(cstream_utf8_btoc_set(&c, nullptr), 0);
    int32_t ch = 0;
    EXPECT_EQ(stream_pop(&c, &ch), 0);
    EXPECT_EQ(ch, 0xE3) << "0x81 and Z are held now";
    EXPECT_EQ(stream_rst(&c), 0);
    EXPECT_EQ(chars(&c), (V{0xE3, 0x81, 0x5A})) << "from the start, nothing twice";
}

TEST(Console, TheLocaleChoosesTheDecoder)
{
    {
        Locale c("C");
        EXPECT_FALSE(cstream_console_utf8());
        Stm s;
        ASSERT_EQ(bstream_str_set(nullptr, "\xE3\x81\x82"), 0);
        ASSERT_EQ(cstream_console_btoc_set(&s, nullptr), 0);
        EXPECT_EQ(chars(&s), V{0x81E3}) << "Shift-JIS";
    }
    Locale u("C.UTF-8");
    if (!u.ok)
        GTEST_SKIP() << "no C.UTF-8 locale";
    EXPECT_TRUE(cstream_console_utf8());
    Stm s;
    ASSERT_EQ(bstream_str_set(nullptr, "\xE3\x81\x82"), 0);
    ASSERT_EQ(cstream_console_btoc_set(&s, nullptr), 0);
    EXPECT_EQ(chars(&s), V{0x8281E3});
}

TEST(CharStreams, ConstructorsAndTheHandOffSlot)
{
    Stm c;
    ASSERT_EQ(stkptr(nullptr, nullptr), nullptr);
    EXPECT_EQ(cstream_default_btoc_set(&c, nullptr), -1) << "no byte stream";
    EXPECT_EQ(cstream_utf8_btoc_set(&c, nullptr), -1);

    // Both objects self-allocated: the character stream waits in the slot
    // and ending it frees both (ASan checks).
    ASSERT_EQ(cstream_int_set(nullptr, -12), 0);
    st_stream *s = stkptr(nullptr, nullptr);
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(text(s), "-12");
    ASSERT_EQ(cstream_uint_set(nullptr, 34), 0);
    EXPECT_EQ(text(stkptr(nullptr, nullptr)), "34");

    // A failed wrapping takes the byte stream back and releases it; a
    // growable string's pointer is left as it was.
    char *mine = nullptr;
    for (int n = 1; n <= 5; n++) {
        __mem_fail_at(n);
        int32_t r = cstream_vstr_set(nullptr, &mine);
        __mem_fail_at(0);
        st_stream *got = stkptr(nullptr, nullptr);
        EXPECT_EQ(r == 0, n == 5) << "four allocations, the n-th fails";
        EXPECT_EQ(got != nullptr, r == 0) << n;
        EXPECT_EQ(mine != nullptr, r == 0) << n;
        stream_end(got);
        _free(&mine);
        mine = nullptr;
    }

    // The console's byte stream has an empty handle, so ending does not
    // free the self-allocated byte stream: the caller has to.
    ASSERT_EQ(cstream_stdio_set(&c), 0);
    st_stream *in = static_cast<st_stream *>(c.hdl);
    EXPECT_EQ(in->flg & STM_SLF, STM_SLF);
    stream_end(&c);
    EXPECT_EQ(in->flg & STM_OPN, STM_OPN) << "left open by stream_end";
    free(in);
}

} // namespace
