// Buffer: each mode's cursor, end status and growth, indexed access, lists,
// hand-over and release, and records lying unaligned in packed memory.
#include "base/container/container.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>

// Huge requests must come back as failures, not abort the sanitized run.
extern "C" const char *__asan_default_options()
{
    return "allocator_may_return_null=1";
}

namespace
{

// Element i of a buffer of T (without i: the next popped one), or nothing
// when the get or pop fails.
template <class T>
std::optional<T> get(void *h, std::optional<uint32_t> i = {})
{
    T v{};
    return (i ? buf_get(h, *i, &v) : buf_pop(h, &v)) == 0 ? std::optional<T>(v) : std::nullopt;
}

TEST(Buf, GrowableArrayInAMisalignedRecord)
{
    alignas(8) unsigned char raw[64];
    void *h = raw + BUF_HDR_SIZ + 1; // header words and dat at odd addresses
    ASSERT_EQ(buf_var(h, sizeof(uint32_t)), 0);
    for (uint32_t i = 0; i < 1000; i++)
        ASSERT_EQ(buf_psh(h, &i), 0);
    EXPECT_EQ(buf_eop(h), 0) << "a growable array never ends on push";
    uint32_t v = 7;
    EXPECT_EQ(buf_pop(h, &v), RTN_ERR1) << "the shared cursor stands at the end";
    buf_rst(h);
    for (uint32_t i = 0; i < 1000; i++)
        ASSERT_EQ(get<uint32_t>(h), i);
    EXPECT_EQ(buf_eop(h), 1) << "the last pop sets the end bit";
    EXPECT_EQ(buf_psh(h, &v), RTN_ERR1) << "the end bit is sticky";
    buf_rst(h);
    ASSERT_EQ(buf_psh(h, &v), 0) << "rewound, pushes overwrite from the start";
    EXPECT_TRUE(get<uint32_t>(h, 0) == 7u && buf_cnt(h) == 1000u);
    ASSERT_EQ(buf_put(h, 1500, &v), 0) << "put beyond cnt grows";
    EXPECT_EQ(buf_cnt(h), 1501u);
    void *start = nullptr, *arr = nullptr;
    EXPECT_TRUE(buf_ref(h, 0, 0, &start) == 0 && start == buf_dat(h))
        << "index 0, count 0: the start";
    ASSERT_EQ(_buf_vptr(h, &arr), 0);
    free(arr);
    EXPECT_EQ(_buf_vptr(h, &arr), -1) << "the array has been handed over";
    buf_var(h, 4);
    EXPECT_EQ(_buf_vptr(h, &arr), -1) << "a growable buffer that never got an element";
    ASSERT_EQ(buf_psh(h, &v), 0);
    EXPECT_TRUE(buf_end(h) == h && buf_dat(h) == nullptr) << "the array is released";
}

TEST(Buf, FixedArrayAndStringCursorsAndFailuresChangeNothing)
{
    st_buf b{};
    void *h = buf_hdl(&b);
    buf_var(h, 1u << 31);
    st_buf before = b;
    void *e = nullptr;
    EXPECT_TRUE(buf_ref(h, 0, UINT32_MAX, &e) == -1 && std::memcmp(&b, &before, sizeof b) == 0)
        << "2^63 bytes cannot be had; not even the exponent moved";
    buf_var(h, 4);
    uint32_t x = 1;
    ASSERT_EQ(buf_psh(h, &x), 0);
    before = b;
    EXPECT_TRUE(buf_ref(h, 2, UINT32_MAX, &e) == -1 && std::memcmp(&b, &before, sizeof b) == 0)
        << "index + count beyond 32 bits";
    buf_end(h);

    buf_str(h, "x");
    ASSERT_EQ(get<char>(h), 'x');
    char c;
    EXPECT_TRUE(buf_eop(h) == 1 && buf_pop(h, &c) == RTN_ERR1) << "the last pop ends the view";
    int16_t arr[2] = {};
    buf_ptr(h, arr, sizeof *arr, 2);
    int16_t v = 5;
    ASSERT_TRUE(buf_psh(h, &v) == 0 && buf_psh(h, &v) == 0);
    EXPECT_TRUE(buf_eop(h) == 1 && buf_psh(h, &v) == RTN_ERR1) << "the last push ends the array";
    buf_rst(h);
    v = 9;
    EXPECT_TRUE(b.pos == 0 && buf_put(h, 1, &v) == 0 && arr[1] == 9);
    EXPECT_EQ(buf_get(h, 2, &v), -1) << "beyond cnt of a fixed array";
    EXPECT_EQ(buf_ref(h, UINT32_MAX, 2, &e), -1) << "wrapping index + count";
    EXPECT_TRUE(buf_end(h) == nullptr && b.dat == arr) << "a fixed array owns nothing";
    buf_ptr(h, arr, sizeof *arr, 0);
    EXPECT_EQ(buf_psh(h, &v), -1) << "a full fixed array refuses with -1";
}

TEST(Buf, LinkedStackAndQueue)
{
    st_buf b{};
    void *h = buf_hdl(&b);
    void *e = nullptr;
    int v;
    for (bool que : {false, true}) {
        SCOPED_TRACE(que ? "queue" : "stack");
        que ? buf_lnkq(h, sizeof(int)) : buf_lnks(h, sizeof(int));
        EXPECT_EQ(buf_ref(h, 0, 1, &e), -1) << "an empty list has no element";
        for (int round = 0; round < 2; round++) { // emptied and refilled
            for (int i = 0; i < 4; i++)
                ASSERT_EQ(buf_psh(h, &i), 0);
            EXPECT_TRUE(buf_ref(h, UINT32_MAX, 1, &e) == 0 &&
                        *static_cast<int *>(e) == (que ? 3 : 0))
                << "the tail: a queue's last push, a stack's first";
            EXPECT_EQ(get<int>(h, 2), que ? 2 : 1);
            for (int i = 0; i < 4; i++)
                EXPECT_EQ(get<int>(h), que ? i : 3 - i)
                    << "a queue pops in order, a stack reversed";
            EXPECT_TRUE(b.cnt == 0 && b.dat == nullptr) << "the last pop releases the list";
        }
        EXPECT_TRUE(buf_pop(h, &v) == RTN_ERR1 && buf_end(h) == h);
    }
    buf_lnkq(h, sizeof(int));
    for (int i = 0, next = 0; i < 30; i++) { // pops and pushes interleaved
        ASSERT_EQ(buf_psh(h, &i), 0);
        if (i % 3 != 2)
            continue;
        EXPECT_EQ(get<int>(h), next++);
        EXPECT_TRUE(buf_ref(h, UINT32_MAX, 1, &e) == 0 && *static_cast<int *>(e) == i)
            << "the tail survives a pop";
    }
    EXPECT_EQ(b.cnt, 20u);
    EXPECT_TRUE(buf_ref(h, 20, 1, &e) == 0 && !e) << "past the end: no address";
    EXPECT_TRUE(buf_eop(h) == 1 && buf_get(h, 20, &v) == -1) << "no copy from a missing element";
    void *arr = nullptr;
    EXPECT_EQ(_buf_vptr(h, &arr), -1) << "a list has no array to hand over";
    EXPECT_EQ(buf_end(h), h) << "releases the blocks left";
}

TEST(Buf, InlineElementsInPackedMemory)
{
    alignas(8) unsigned char raw[80];
    std::memset(raw, 0xee, sizeof raw);
    unsigned char *h = raw + BUF_HDR_SIZ + 3; // an inline buffer at an odd address
    buf_hdr_put(h, 0, 0, 4, 3);
    for (int i = 0; i < 4; i++)
        ASSERT_EQ(buf_psh(h, "abc"), 0);
    EXPECT_EQ(buf_psh(h, "abc"), RTN_ERR1);
    EXPECT_EQ(std::memcmp(h + 9, "abc", 3), 0) << "elements start at dat";
    buf_clr(h);
    EXPECT_EQ(buf_eop(h), 0);
    const unsigned char zero[12] = {};
    EXPECT_EQ(std::memcmp(h, zero, 12), 0) << "clr zero-fills the elements";
    EXPECT_EQ(h[12], 0xee) << "and nothing beyond";
}

} // namespace
