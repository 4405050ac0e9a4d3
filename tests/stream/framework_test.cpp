// Stream framework: closed and stopped streams, status rules, ending,
// the hand-off slot and access accounting.
#include "tests/stream/util.h"

namespace
{

using namespace stream_test;

uint64_t fake_ms;
uint64_t fake_clock()
{
    return fake_ms;
}

TEST(Framework, ZeroFilledAndEndedStreamsRefuseEverything)
{
    Script sc{5};
    st_stream z = {};
    char u;
    EXPECT_EQ(stream_pop(&z, &u), -1);
    EXPECT_EQ(stream_psh(&z, &u), -1);
    EXPECT_EQ(stream_chk(&z), -1);
    EXPECT_EQ(stream_rst(&z), -1);
    EXPECT_EQ(stream_end(&z), 0);
    EXPECT_EQ(stream_pop(nullptr, &u), -1);

    // A list and handle without `open` are not called either.
    st_stream c = {&sc, &script_fnclst, 0, 1, nullptr};
    EXPECT_EQ(stream_pop(&c, &u), -1);
    EXPECT_EQ(stream_end(&c), 0);
    EXPECT_EQ(sc.pops + sc.ends, 0);

    // After the end the handle is gone: rst, fls and acs_inf are refused
    // instead of handing an empty handle to the kind.
    ASSERT_EQ(stream_set(&c, &sc, &script_fnclst, nullptr), 0);
    EXPECT_EQ(stream_chk(&c), 0);
    stream_end(&c);
    EXPECT_EQ(c.hdl, nullptr);
    EXPECT_EQ(stream_rst(&c), -1);
    EXPECT_EQ(stream_fls(&c), -1);
    intptr_t out = 0;
    const char *dsc = nullptr;
    EXPECT_EQ(stream_acs_inf(&c, 0, reinterpret_cast<intptr_t>(&out), 0, &dsc), -1);
    EXPECT_EQ(sc.ends + sc.rsts, 1);
}

TEST(Framework, StoppedAfterTheEndUntilRewound)
{
    Stm s;
    ASSERT_EQ(bstream_str_set(&s, "ab"), 0);
    EXPECT_EQ(bytes(&s), "ab");
    EXPECT_EQ(__rtn, 1) << "end of data";
    EXPECT_EQ(s.flg & STM_STP, STM_STP);
    char u;
    EXPECT_EQ(stream_pop(&s, &u), -1) << "stopped: the kind is not called";
    EXPECT_EQ(stream_chk(&s), -1);
    EXPECT_EQ(stream_rst(&s), 0) << "the string kind has no rst slot";
    EXPECT_EQ(stream_pop(&s, &u), 1) << "called again, still at the terminator";

    Script sc{1};
    Stm t;
    ASSERT_EQ(stream_set(&t, &sc, &script_fnclst, nullptr), 0);
    EXPECT_EQ(bytes(&t), "x");
    EXPECT_EQ(__rtn, 1) << "a kind that fails silently means no more data";
    EXPECT_EQ(stream_pop(&t, &u), -1);
    EXPECT_EQ(sc.pops, 2);
    sc = {0, -1};
    EXPECT_EQ(stream_fls(&t), 0) << "fls clears stopped as well";
    EXPECT_EQ(sc.rsts, 1) << "through the fls slot";
    EXPECT_EQ(stream_pop(&t, &u), -1) << "the kind's own failure is kept";
    sc.rst = 1;
    EXPECT_EQ(stream_rst(&t), -1) << "a failing rst slot without a status";
    sc.fail = RTN_ERR1;
    __rtn = RTN_ERR1;
    sc.rst = 1;
    EXPECT_EQ(stream_rst(&t), -1) << "the word is cleared before the slot runs";
}

TEST(Framework, PushFailureValueAndAccessInformation)
{
    Script sc{2, -1};
    Stm s;
    ASSERT_EQ(stream_set(&s, &sc, &script_fnclst, nullptr), 0);
    char u = 'a';
    EXPECT_EQ(stream_psh(&s, &u), 0);
    EXPECT_EQ(stream_psh(&s, &u), 0);
    EXPECT_EQ(stream_psh(&s, &u), RTN_ERR1) << "whatever the kind set";
    EXPECT_EQ(stream_psh(&s, &u), -1) << "stopped";
    EXPECT_EQ(sc.pshs, 3);

    intptr_t out = 0;
    const char *dsc = nullptr;
    EXPECT_EQ(stream_acs_inf(&s, 7, reinterpret_cast<intptr_t>(&out), 0, &dsc), 0)
        << "a stopped stream still answers";
    EXPECT_EQ(out, reinterpret_cast<intptr_t>(&sc) + 7);
    EXPECT_STREQ(dsc, "scripted");
    Stm n;
    ASSERT_EQ(bstream_str_set(&n, ""), 0);
    EXPECT_EQ(stream_acs_inf(&n, 0, 0, 0, nullptr), -1) << "no acs_inf slot";
}

TEST(Framework, SelfAllocatedObjectsGoThroughTheSlotAndAreFreedOnce)
{
    Script sc;
    EXPECT_EQ(stkptr(nullptr, nullptr), nullptr);
    ASSERT_EQ(stream_set(nullptr, &sc, &script_fnclst, nullptr), 0);
    st_stream *s = stkptr(nullptr, nullptr);
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(s->flg, STM_OPN | STM_SLF);
    EXPECT_EQ(s->acs_unt, 1u);
    EXPECT_EQ(stkptr(nullptr, nullptr), nullptr) << "taken once";

    __rtn = 1;
    EXPECT_EQ(stream_end(s), 0);
    EXPECT_EQ(__rtn, 1) << "ending leaves the caller's status alone";
    EXPECT_EQ(sc.ends, 1);
    // s is freed now; ASan reports a second free or a leak.

    __mem_fail_at(1);
    EXPECT_EQ(stream_set(nullptr, &sc, &script_fnclst, nullptr), -1);
    EXPECT_EQ(stkptr(nullptr, nullptr), nullptr) << "nothing parked on failure";
    __mem_fail_at(0);
}

TEST(Framework, CountedStreamAccountsEveryAccessButRealErrors)
{
    __tick_fake(fake_clock);
    fake_ms = 1000;
    uint32_t id = 0;
    st_itfmng_rcd *rcd = nullptr;
    ASSERT_EQ(itf_get_id("stream-test", &id), 0);
    ASSERT_EQ(itfmng_get(id, "count", 5, &rcd), 0);
    const st_itfmng_rcd before = *rcd;

    Script sc{3};
    st_stream s = {};
    ASSERT_EQ(stream_set(&s, &sc, &script_fnclst, rcd), 0);
    EXPECT_EQ(s.flg, STM_OPN | STM_CNT);
    char u;
    while (stream_pop(&s, &u) == 0)
        fake_ms += 2;
    EXPECT_EQ(rcd->tim.cnt - before.tim.cnt, 4u) << "three units and the end of data";
    EXPECT_EQ(rcd->siz - before.siz, 4u);

    stream_rst(&s);
    sc.fail = -1;
    s.acs_unt = 10;
    EXPECT_EQ(stream_pop(&s, &u), -1);
    EXPECT_EQ(stream_psh(&s, &u), -1) << "stopped: not dispatched, not counted";
    stream_rst(&s);
    EXPECT_EQ(stream_psh(&s, &u), RTN_ERR1);
    EXPECT_EQ(rcd->tim.cnt - before.tim.cnt, 4u) << "failures are not counted";
    EXPECT_EQ(rcd->siz - before.siz, 4u);

    fake_ms += 100;
    stream_end(&s);
    EXPECT_EQ(rcd->lif.cnt - before.lif.cnt, 1u);
    EXPECT_EQ(rcd->lif.tot - before.lif.tot, 106u) << "lifetime from set-up to end";
    EXPECT_EQ(s.flg, 0);
    __tick_fake(nullptr);
}

} // namespace
