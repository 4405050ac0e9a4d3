// Block pops: both decoders give the characters of single pops, in the same
// order and with the same end, over a byte stream without a block slot and
// over a process stream; single and block pops mix on one stream.
#include "base/os/os.h"
#include "tests/stream/util.h"

#include <functional>
#include <random>
#include <unistd.h>

namespace
{

using namespace stream_test;
using V = std::vector<int32_t>;

// The characters a decoder gives over the byte stream that src parks, then
// the status that ended them and the status of one more pop. Single pops
// for blk 0, else block pops of random sizes 1..blk and now and then a
// single pop.
V decode(bool utf8, uint32_t blk, const std::function<int32_t()> &src)
{
    Stm c;
    EXPECT_EQ(src(), 0);
    EXPECT_EQ((utf8 ? cstream_utf8_btoc_set : cstream_default_btoc_set)(&c, nullptr), 0);
    std::mt19937 rng(blk);
    int32_t u[64];
    uint32_t got = 1;
    V v;
    while ((!blk || rng() % 8 == 0 ? stream_pop(&c, u)
                                   : stream_pop_blk(&c, u, rng() % blk + 1, &got)) == 0) {
        v.insert(v.end(), u, u + got);
        got = 1;
    }
    v.push_back(__rtn);
    v.push_back(stream_pop_blk(&c, u, 64, &got));
    return v;
}

TEST(BlockPops, DecodersGiveTheCharactersOfSinglePops)
{
    char path[] = "/tmp/blk_test_XXXXXX";
    const int fd = mkstemp(path);
    ASSERT_GE(fd, 0);
    const std::string cmd = "head -c 1000000 " + std::string(path);
    // Bytes that make ASCII runs, valid and cut UTF-8 sequences, Shift-JIS
    // pairs, stray continuation bytes and invalid ones; the end is cut.
    static const char abc[] = "aaaaaa \n\x80\x81\x82\x9F\xA0\xA9\xC3\xE0\xE3\xED\xF0\xF4\xFF";
    std::mt19937 rng(11);
    for (int i = 0; i < 16; i++) {
        std::string s(rng() % (i < 8 ? 40 : 20000), 'a');
        for (char &c : s)
            c = abc[rng() % (sizeof abc - 1)];
        s += i % 2 ? "\x82" : "\xE3\x81";
        ASSERT_EQ(ftruncate(fd, 0), 0);
        ASSERT_EQ(pwrite(fd, s.data(), s.size(), 0), static_cast<ssize_t>(s.size()));
        auto str = [&] { return bstream_str_set(nullptr, s.c_str()); };
        auto prc = [&] { return stream_prc_set(nullptr, cmd.c_str(), PRC_STDOUT); };
        for (bool utf8 : {false, true}) {
            const V one = decode(utf8, 0, str);
            EXPECT_EQ(V(one.end() - 2, one.end()), (V{1, -1})) << "the end, then stopped";
            for (uint32_t blk : {1u, 3u, 64u}) {
                EXPECT_EQ(decode(utf8, blk, str), one) << "utf8 " << utf8 << ", blk " << blk;
                EXPECT_EQ(decode(utf8, blk, prc), one) << "utf8 " << utf8 << ", blk " << blk;
            }
        }
    }
    close(fd);
    unlink(path);
}

TEST(BlockPops, ArgumentsAndKindsWithoutABlockSlot)
{
    Stm s;
    char b[8];
    uint32_t got = 9;
    ASSERT_EQ(bstream_str_set(&s, "ab"), 0);
    EXPECT_EQ(stream_pop_blk(&s, b, 0, &got) & stream_pop_blk(&s, nullptr, 1, &got), -1);
    EXPECT_EQ(stream_pop_blk(&s, b, 8, &got), 0);
    EXPECT_EQ(got, 1u) << "one unit per call without a block slot";
}

} // namespace
