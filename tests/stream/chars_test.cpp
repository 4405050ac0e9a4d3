// Character streams: Shift-JIS and UTF-8 decoding and encoding, the
// console's choice by locale, the constructors that go through the hand-off slot, and
// block pops: both decoders give the characters of single pops, in the same
// order and with the same end, over a byte stream without a block slot and
// over a process stream; single and block pops mix on one stream.
#include "base/os/os.h"
#include "tests/sjis_locale.h"
#include "tests/stream/util.h"

#include <clocale>
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

// The characters of a zero-free byte text through single pops (the block
// pops' cross-check checks how they end).
V decode(const std::string &b, bool utf8)
{
    V v = decode(utf8, 0, [&] { return bstream_str_set(nullptr, b.c_str()); });
    return V(v.begin(), v.end() - 2);
}

TEST(Decoders, ShiftJisPairsAndUtf8WholeSequencesOrSingleBytes)
{
    // A pair, then bytes that stand alone: kana 0xA0..0xDF, 0x80, 0xF0..0xFF.
    EXPECT_EQ(decode("\x41\x82\xA0\xB1\x80\xA0\xDF\xF0\xFF", false),
              (V{0x41, 0xA082, 0xB1, 0x80, 0xA0, 0xDF, 0xF0, 0xFF}));
    EXPECT_EQ(decode("\x81\x40\x9F\xFC\xE0\x40\xEF\x0A", false),
              (V{0x4081, 0xFC9F, 0x40E0, 0x0AEF}));
    EXPECT_EQ(decode("A\x95", false), V{0x41}) << "a lone lead byte at the end is lost";

    // A, é, あ, 😀 and U+10FFFF, packed low byte first.
    EXPECT_EQ(decode("A\xC3\xA9\xE3\x81\x82\xF0\x9F\x98\x80\xF4\x8F\xBF\xBF", true),
              (V{0x41, 0xA9C3, 0x8281E3, int32_t(0x80989FF0), int32_t(0xBFBF8FF4)}));
    // Overlong, surrogate, beyond U+10FFFF, stray continuation, bad leads:
    // each byte a character of its own.
    for (std::u8string b : {u8"\xC0\xAF", u8"\xE0\x9F\xBF", u8"\xED\xA0\x80", u8"\xF0\x8F\xBF\xBF",
                            u8"\xF4\x90\x80\x80", u8"\x80", u8"\xF5\x80"})
        EXPECT_EQ(decode(std::string(b.begin(), b.end()), true), V(b.begin(), b.end()));
    // Broken off before a line feed, a new sequence, or the end.
    EXPECT_EQ(decode("\xE3\x81\n\xE3\xE3\x81\x82", true), (V{0xE3, 0x81, 0x0A, 0xE3, 0x8281E3}));
    EXPECT_EQ(decode("\xF0\x9F\x98", true), (V{0xF0, 0x9F, 0x98}));

    // A rewind forgets the bytes read ahead: from the start, nothing twice.
    char b[] = "\xE3\x81Z";
    Stm c;
    ASSERT_EQ(stream_stc_ary_set(nullptr, b, 1, 3), 0);
    ASSERT_EQ(cstream_utf8_btoc_set(&c, nullptr), 0);
    int32_t ch = 0;
    ASSERT_EQ(stream_pop(&c, &ch), 0);
    ASSERT_EQ(stream_rst(&c), 0);
    EXPECT_EQ(units<int32_t>(&c), (V{0xE3, 0x81, 0x5A}));
}

TEST(CharStreams, ConstructorsAndTheHandOffSlot)
{
    Stm c;
    EXPECT_EQ(cstream_default_btoc_set(&c, nullptr) & cstream_utf8_btoc_set(&c, nullptr), -1)
        << "no byte stream";
    // Both objects self-allocated: ending the character stream frees both.
    ASSERT_EQ(cstream_int_set(nullptr, -12), 0);
    EXPECT_EQ(text(stkptr(nullptr, nullptr)), "-12");
    ASSERT_EQ(cstream_uint_set(nullptr, 34), 0);
    EXPECT_EQ(text(stkptr(nullptr, nullptr)), "34");

    // A failed set-up releases what it made and leaves the pointer alone
    // (ASan checks every allocation failing in turn).
    char *mine = nullptr;
    for (int n = 1; n <= 5; n++) {
        ASSERT_EQ(_malloc0(&mine, 4), 0); // the caller's text: it survives a failure
        char *own = mine;
        __mem_fail_at(n);
        int32_t r = cstream_vstr_set(nullptr, &mine);
        __mem_fail_at(0);
        st_stream *got = stkptr(nullptr, nullptr);
        EXPECT_EQ(got != nullptr, r == 0) << n;
        EXPECT_TRUE(r == 0 || mine == own) << n;
        stream_end(got);
        if (r == 0)
            _free(&own); // replaced, not freed, by a string stream
        _free(&mine);
    }

    // A decoder that cannot be set up releases a byte stream taken from
    // the slot, even the console's (ASan checks); a given one stays.
    ASSERT_EQ(bstream_stdio_set(nullptr), 0);
    __mem_fail_at(1);
    EXPECT_TRUE(cstream_utf8_btoc_set(&c, nullptr) == -1 && !stkptr(nullptr, nullptr));
    Stm in;
    ASSERT_EQ(bstream_str_set(&in, "x"), 0);
    __mem_fail_at(1);
    EXPECT_EQ(cstream_utf8_btoc_set(&c, &in), -1);
    __mem_fail_at(0);
    EXPECT_EQ(stream_chk(&in), 0);

    // A Shift-JIS file closed with the stream (cls; bstream_fil_set's
    // tests cover keeping it open).
    FILE *fp = tmpfile();
    fputs("A\x82\xA0", fp);
    rewind(fp);
    ASSERT_EQ(cstream_fil_set(nullptr, fp, 1), 0);
    st_stream *f = stkptr(nullptr, nullptr);
    EXPECT_EQ(units<int32_t>(f), (V{0x41, 0xA082}));
    EXPECT_EQ(stream_end(f), 0) << "ends both objects and closes fp (ASan, fd leak)";

    // The console's decoder is UTF-8 under C and POSIX, Shift-JIS only
    // where the codeset says so.
    const std::string old = setlocale(LC_CTYPE, nullptr);
    std::vector<std::pair<const char *, bool>> locales = {{"C", true}, {"POSIX", true}};
    if (!sjis_locpath().empty()) {
        setenv("LOCPATH", sjis_locpath().c_str(), 1);
        locales.push_back({"ja_JP.SJIS", false});
    }
    for (auto &[name, utf8] : locales) {
        ASSERT_NE(setlocale(LC_CTYPE, name), nullptr) << name;
        EXPECT_EQ(cstream_console_utf8(), utf8) << name;
        ASSERT_EQ(bstream_str_set(nullptr, "\xE3\x81\x82"), 0);
        ASSERT_EQ(cstream_console_btoc_set(&c, nullptr), 0);
        EXPECT_EQ(units<int32_t>(&c), utf8 ? V{0x8281E3} : V{0x81E3}) << name;
        stream_end(&c);
    }
    setlocale(LC_CTYPE, old.c_str());
    unsetenv("LOCPATH");

    // The console's byte stream has an empty handle, so ending does not
    // free the self-allocated byte stream: the caller has to.
    ASSERT_EQ(cstream_stdio_set(&c), 0);
    st_stream *con = static_cast<st_stream *>(c.hdl);
    stream_end(&c);
    EXPECT_EQ(con->flg, STM_OPN | STM_SLF | STM_CNT) << "left as it was";
    free(con);
}

TEST(BlockPops, ArgumentsAndDecodersGiveTheCharactersOfSinglePops)
{
    Stm s;
    char b[8];
    uint32_t got = 9;
    ASSERT_EQ(bstream_str_set(&s, "ab"), 0);
    EXPECT_EQ(stream_pop_blk(&s, b, 0, &got) & stream_pop_blk(&s, nullptr, 1, &got), -1);

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
        // A file ends in a failure (-1), not with 1; a small buffer makes
        // block pops cross refills.
        std::vector<char> buf(i % 3 ? 7 : BUFSIZ);
        auto fil = [&] {
            FILE *fp = fopen(path, "rb");
            setvbuf(fp, buf.data(), _IOFBF, buf.size());
            return bstream_fil_set(nullptr, fp, 1);
        };
        for (bool utf8 : {false, true}) {
            const V one = decode(utf8, 0, str), one_fil = decode(utf8, 0, fil);
            EXPECT_EQ(V(one.end() - 2, one.end()), (V{1, -1})) << "the end, then stopped";
            EXPECT_EQ(V(one.begin(), one.end() - 2), V(one_fil.begin(), one_fil.end() - 2));
            for (uint32_t blk : {1u, 3u, 64u}) {
                EXPECT_EQ(decode(utf8, blk, str), one) << "utf8 " << utf8 << ", blk " << blk;
                EXPECT_EQ(decode(utf8, blk, prc), one) << "utf8 " << utf8 << ", blk " << blk;
                EXPECT_EQ(decode(utf8, blk, fil), one_fil) << "utf8 " << utf8 << ", blk " << blk;
            }
        }
    }
    close(fd);
    unlink(path);
}

} // namespace
