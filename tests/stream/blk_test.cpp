// Block pops: both decoders give the characters of single pops, in the same
// order and with the same end, over a byte stream without a block slot and
// over a process stream; single and block pops mix on one stream.
#include "base/os/os.h"
#include "tests/stream/util.h"

#include <cstdio>
#include <random>
#include <unistd.h>

namespace
{

using namespace stream_test;
using V = std::vector<int32_t>;

// n bytes or a little more, without zero bytes: ASCII runs, valid and cut
// UTF-8 sequences, Shift-JIS pairs, stray continuation and invalid bytes.
std::string noisy(std::mt19937 &rng, size_t n)
{
    static const char *const piece[] = {
        "ps -e",    " ",        "\n",       "\x82\xA0", "\xE3\x81\x82", "\xF0\x9F\x98\x80",
        "\xC3\xA9", "\xE3\x81", "\xF0\x9F", "\x80",     "\xFF",         "\xED\xA0\x80",
        "\xC0\xAF", "\x81",     "\xE0"};
    std::string s;
    while (s.size() < n) {
        if (rng() % 4)
            s += piece[rng() % std::size(piece)];
        else
            s += static_cast<char>(rng() % 255 + 1);
    }
    return s;
}

struct Decoded {
    V chr;       // the characters in order
    int32_t end; // the status that ended them
    int32_t aft; // the status of one more pop
};

// Decodes the bytes of the source that *src parks (a str or process byte
// stream): single pops when blk is 0, else block pops of random sizes
// 1..blk with a single pop now and then.
Decoded decode(bool utf8, uint32_t blk, int32_t (*src)(const void *), const void *arg)
{
    Decoded r{};
    Stm c;
    EXPECT_EQ(src(arg), 0);
    EXPECT_EQ(utf8 ? cstream_utf8_btoc_set(&c, nullptr) : cstream_default_btoc_set(&c, nullptr), 0);
    EXPECT_TRUE(c.flg & STM_BLK) << "the decoder offers block pops";
    std::mt19937 rng(blk);
    int32_t u[64];
    uint32_t got = 1;
    while ((blk && rng() % 8 ? stream_pop_blk(&c, u, rng() % blk + 1, &got)
                             : stream_pop(&c, u) + (got = 1) - 1) == 0)
        r.chr.insert(r.chr.end(), u, u + got);
    r.end = __rtn;
    r.aft = stream_pop_blk(&c, u, 64, &got);
    return r;
}

int32_t str_src(const void *s)
{
    return bstream_str_set(nullptr, static_cast<const char *>(s));
}

int32_t prc_src(const void *cmd)
{
    return stream_prc_set(nullptr, static_cast<const char *>(cmd), PRC_STDOUT);
}

TEST(BlockPops, DecodersGiveTheCharactersOfSinglePops)
{
    char path[] = "/tmp/blk_test_XXXXXX";
    const int fd = mkstemp(path);
    ASSERT_GE(fd, 0);
    close(fd);
    const std::string cmd = "head -c 1000000 " + std::string(path);
    std::mt19937 rng(11);
    for (int i = 0; i < 16; i++) {
        std::string s = noisy(rng, rng() % (i < 8 ? 40 : 20000));
        s += i % 3 == 0 ? "\x82" : i % 3 == 1 ? "\xE3\x81" : ""; // cut at the very end
        FILE *fp = fopen(path, "wb");
        ASSERT_NE(fp, nullptr);
        fwrite(s.data(), 1, s.size(), fp);
        fclose(fp);
        for (bool utf8 : {false, true}) {
            const Decoded one = decode(utf8, 0, str_src, s.c_str());
            EXPECT_EQ(one.end, 1);
            EXPECT_EQ(one.aft, -1) << "stopped after the end";
            for (uint32_t blk : {1u, 3u, 64u}) {
                const Decoded str = decode(utf8, blk, str_src, s.c_str());
                const Decoded prc = decode(utf8, blk, prc_src, cmd.c_str());
                EXPECT_EQ(str.chr, one.chr) << "utf8 " << utf8 << " blk " << blk << " #" << i;
                EXPECT_EQ(prc.chr, one.chr) << "utf8 " << utf8 << " blk " << blk << " #" << i;
                EXPECT_EQ(str.end * 10 + str.aft, one.end * 10 + one.aft);
                EXPECT_EQ(prc.end * 10 + prc.aft, one.end * 10 + one.aft);
            }
        }
    }
    unlink(path);
}

TEST(BlockPops, ArgumentsAndKindsWithoutABlockSlot)
{
    Stm s;
    ASSERT_EQ(bstream_str_set(&s, "abc"), 0);
    char b[8];
    uint32_t got = 9;
    EXPECT_EQ(stream_pop_blk(&s, b, 0, &got), -1);
    EXPECT_EQ(got, 0u);
    EXPECT_EQ(stream_pop_blk(&s, nullptr, 1, &got) & stream_pop_blk(&s, b, 1, nullptr), -1);
    EXPECT_EQ(stream_pop_blk(&s, b, 8, &got), 0);
    EXPECT_EQ(std::string(b, got), "a") << "one unit per call without a block slot";
    EXPECT_EQ(stream_pop(&s, b), 0);
    EXPECT_EQ(stream_pop_blk(&s, b + 1, 8, &got), 0);
    EXPECT_EQ(std::string(b, 2), "bc");
    EXPECT_EQ(stream_pop_blk(&s, b, 8, &got), 1);
    EXPECT_EQ(stream_pop_blk(&s, b, 8, &got), -1) << "stopped";

    // An end met after units (here: the trail byte of a lead byte at the
    // end of a block) waits for the next pop, single or block.
    Stm c;
    ASSERT_EQ(stream_prc_set(nullptr, "printf ab\\202", PRC_STDOUT), 0);
    ASSERT_EQ(cstream_default_btoc_set(&c, nullptr), 0);
    int32_t u[8];
    ASSERT_EQ(stream_pop_blk(&c, u, 8, &got), 0);
    EXPECT_EQ(V(u, u + got), (V{'a', 'b'}));
    EXPECT_EQ(c.flg & (STM_STP | STM_PND | STM_PNE), STM_STP | STM_PND);
    EXPECT_EQ(stream_pop(&c, u), 1) << "the lead byte is dropped, the end follows";
    EXPECT_EQ(stream_pop_blk(&c, u, 8, &got), -1);
}

} // namespace
