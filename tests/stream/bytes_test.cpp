// Stream framework: closed and stopped streams, status rules, ending, the
// hand-off slot and access accounting. Byte streams: buffer, static array,
// string, growable string, numbers, files and the console.
#include "base/container/container.h"
#include "tests/stream/util.h"

#include <cerrno>
#include <climits>
#include <cstring>
#include <fcntl.h>

namespace
{

using namespace stream_test;

TEST(Framework, ClosedStreamsCallNothingAndStatusRulesStopTheOthers)
{
    Script sc{5};
    char u;
    intptr_t out = 0;
    const char *dsc = nullptr;
    st_stream z = {};
    EXPECT_EQ(stream_pop(&z, &u) & stream_psh(&z, &u) & stream_chk(&z) & stream_rst(&z), -1);
    EXPECT_TRUE(stream_end(&z) == 0 && stream_pop(nullptr, &u) == -1);

    // `open` clear, stale statistics
    st_stream c = {&sc, &script_fnclst, 0, 1, reinterpret_cast<st_itfmng_rcd *>(&sc)};
    EXPECT_TRUE(stream_pop(&c, &u) == -1 && stream_end(&c) == 0);
    // Ended: the handle is gone, so rst, fls and acs_inf are refused too.
    ASSERT_EQ(stream_set(&c, &sc, &script_fnclst, nullptr), 0);
    EXPECT_EQ(c.itf_rec, nullptr) << "an uncounted stream has no statistics";
    stream_end(&c);
    EXPECT_EQ(stream_rst(&c) & stream_fls(&c), -1);
    EXPECT_EQ(stream_acs_inf(&c, 0, reinterpret_cast<intptr_t>(&out), 0, &dsc), -1);
    EXPECT_EQ(sc.calls + sc.ends + sc.rsts, 1) << "only the one end";

    sc = {1}; // before s: s's end calls into it
    Stm s;
    ASSERT_EQ(bstream_str_set(&s, "ab"), 0);
    EXPECT_TRUE(bytes(&s) == "ab" && __rtn == 1) << "end of data";
    EXPECT_EQ(stream_pop(&s, &u), -1) << "stopped: the kind is not called";
    EXPECT_EQ(stream_chk(&s), -1);
    EXPECT_EQ(stream_rst(&s), 0) << "no rst slot: only clears stopped";
    EXPECT_EQ(stream_pop(&s, &u), 1) << "called again, still at the end";

    stream_end(&s);
    ASSERT_EQ(stream_set(&s, &sc, &script_fnclst, nullptr), 0);
    EXPECT_TRUE(bytes(&s) == "x" && __rtn == 1) << "a kind that fails silently means no more data";
    EXPECT_EQ(stream_fls(&s), 0) << "clears stopped"; // a kind's failure: the replace test
    sc = {2, -1, 1};
    EXPECT_EQ(stream_rst(&s), -1) << "a failing slot without a status";
    EXPECT_EQ(stream_psh(&s, &u) | stream_psh(&s, &u), 0);
    EXPECT_EQ(stream_psh(&s, &u), RTN_ERR1) << "a push failure, whatever the kind set";
    EXPECT_EQ(stream_psh(&s, &u), -1) << "stopped";
    EXPECT_EQ(sc.calls, 3);
    EXPECT_EQ(stream_acs_inf(&s, 7, reinterpret_cast<intptr_t>(&out), 0, &dsc), 0)
        << "a stopped stream still answers";
    EXPECT_TRUE(out == reinterpret_cast<intptr_t>(&sc) + 7 && std::string(dsc) == "scripted");
}

TEST(Framework, SelfAllocatedObjectsGoThroughTheSlotAndAreFreedOnce)
{
    for (auto end : {stream_end, _stream_end}) {
        Script sc;
        ASSERT_EQ(stream_set(nullptr, &sc, &script_fnclst, nullptr), 0);
        st_stream *s = stkptr(nullptr, nullptr);
        ASSERT_TRUE(s && s->flg == (STM_OPN | STM_SLF));
        __rtn = 1;
        EXPECT_TRUE(end(s) == 0 && __rtn == 1) << "ending leaves the caller's status alone";
        EXPECT_EQ(sc.ends, 1); // s is freed now: ASan reports a second free or a leak
    }
}

TEST(Framework, CountedStreamAccountsEveryAccessButRealErrors)
{
    uint32_t id = 0;
    st_itfmng_rcd *rcd = nullptr;
    ASSERT_EQ(itf_get_id("stream-test", &id), 0);
    ASSERT_EQ(itfmng_get(id, "count", 5, &rcd), 0);
    const st_itfmng_rcd was = *rcd;

    Script sc{3};
    st_stream s = {};
    char u;
    ASSERT_EQ(stream_set(&s, &sc, &script_fnclst, rcd), 0);
    EXPECT_EQ(bytes(&s), "xxx");
    EXPECT_TRUE(rcd->tim.cnt - was.tim.cnt == 4 && rcd->siz - was.siz == 4)
        << "three units and the end of data";

    sc.fail = -1;
    stream_rst(&s);
    EXPECT_EQ(stream_pop(&s, &u), -1);
    EXPECT_EQ(rcd->tim.cnt - was.tim.cnt, 4u) << "failures are not counted";

    stream_end(&s);
    EXPECT_EQ(rcd->lif.cnt - was.lif.cnt, 1u) << "one lifetime, from set-up to end";
}

TEST(ByteStreams, BufferArrayStringAndNumbers)
{
    st_buf b;
    char txt[] = "abc";
    buf_ptr(buf_hdl(&b), txt, 1, 3);
    Stm s;
    int32_t rtn = 0;
    ASSERT_EQ(buf_stream_set(&s, buf_hdl(&b)), 0);
    EXPECT_TRUE(bytes(&s, &rtn) == "abc" && rtn == RTN_ERR1)
        << "an exhausted buffer ends with its own end status";

    int32_t ary[3] = {10, 20, 30}, v = 7;
    Stm a;
    ASSERT_EQ(stream_stc_ary_set(&a, ary, sizeof *ary, 3), 0);
    EXPECT_EQ(units<int32_t>(&a, &rtn), (std::vector<int32_t>{10, 20, 30}));
    EXPECT_EQ(rtn, 1);
    ASSERT_EQ(stream_rst(&a), 0);
    EXPECT_EQ(stream_psh(&a, &v) | stream_psh(&a, &v) | stream_psh(&a, &v), 0);
    stream_end(&a);
    ASSERT_EQ(stream_stc_ary_set(&a, ary, 4, 0), 0);
    EXPECT_EQ(stream_pop(&a, &v), 1) << "count 0: no more data at once";
    EXPECT_EQ(stream_stc_ary_set(&s, nullptr, 4, 1) & stream_stc_ary_set(&s, ary, 0, 1), -1);

    Stm n;
    ASSERT_EQ(bstream_str_set(&n, nullptr), 0);
    EXPECT_EQ(stream_pop(&n, &v), -1) << "no string is a failure, not the end";
    const char *cur = "xy"; // a caller-owned cursor: no end slot
    Stm c;
    ASSERT_EQ(stream_set(&c, &cur, &str_stream_fnclst, nullptr), 0);
    EXPECT_EQ(bytes(&c), "xy");
    EXPECT_STREQ(cur, "") << "the cursor stays on the terminator";

    for (int32_t v : {0, 10, -45, INT_MIN, INT_MAX}) {
        Stm i;
        ASSERT_EQ(bstream_int_set(&i, v), 0);
        EXPECT_TRUE(bytes(&i, &rtn) == std::to_string(v) && rtn == 1) << v;
    }
    Stm u;
    ASSERT_EQ(bstream_uint_set(&u, UINT32_MAX), 0);
    EXPECT_EQ(bytes(&u), "4294967295");
}

TEST(ByteStreams, GrowableStringAppendsAndStaysTerminated)
{
    char *txt = const_cast<char *>("old value, not freed");
    Stm s;
    ASSERT_EQ(bstream_vstr_set(&s, &txt), 0); // the old value is not freed (ASan)
    std::string model;
    for (int i = 0; i < 5000; i++) {
        char c = static_cast<char>('a' + i % 26);
        ASSERT_EQ(stream_psh(&s, &c), 0);
        model += c;
        ASSERT_EQ(std::strlen(txt), model.size()) << "terminated after every push";
    }
    EXPECT_EQ(txt, model);

    // A failed reallocation keeps the text as it was and stops the stream.
    std::string kept;
    int32_t r = 0;
    char c = '!';
    __mem_fail_at(1);
    for (int i = 0; i < 100000 && r == 0; i++) { // up to the next growth
        kept = txt;
        r = stream_psh(&s, &c);
    }
    __mem_fail_at(0);
    EXPECT_TRUE(r == RTN_ERR1 && txt == kept);
    stream_end(&s);
    _free(&txt);
}

TEST(ByteStreams, FilesAndTheConsole)
{
    FILE *fp = tmpfile();
    Stm s;
    int32_t rtn = 0;
    ASSERT_EQ(bstream_fil_set(&s, fp, 0), 0);
    EXPECT_EQ(counted_as(&s), "file/unkown");
    for (char c : std::string("hi"))
        ASSERT_EQ(stream_psh(&s, &c), 0);
    ASSERT_EQ(stream_rst(&s), 0) << "rewinds";
    EXPECT_EQ(bytes(&s, &rtn), "hi");
    EXPECT_EQ(rtn, -1) << "the end of a file is a failure";
    stream_end(&s);
    EXPECT_EQ(fputc('!', fp), '!') << "still open";
    const int fd = fileno(fp);
    ASSERT_EQ(bstream_fil_set(&s, fp, 1), 0);
    stream_end(&s);
    EXPECT_TRUE(fcntl(fd, F_GETFD) == -1 && errno == EBADF) << "closed with the stream";
    EXPECT_EQ(file_stream_fnclst.rst(nullptr), -1) << "no file to rewind";

    ASSERT_EQ(bstream_fil_set(&s, stdin, 0), 0);
    EXPECT_EQ(counted_as(&s), "file/stdin");
    EXPECT_EQ(std::memcmp(s.itf_rec->acs, "stdin\0", 7), 0) << "six bytes, then zeros";

    ASSERT_EQ(bstream_stdio_set(&s), 0);
    EXPECT_EQ(counted_as(&s), "stdio/unkown");
    EXPECT_EQ(stream_chk(&s), -1) << "its handle is empty";
}

} // namespace
