// Stream framework: closed and stopped streams, status rules, ending,
// the hand-off slot and access accounting.
#include "tests/stream/util.h"

namespace
{

using namespace stream_test;

uint64_t fake_ms; // the injected clock of the accounting test

TEST(Framework, ClosedStreamsCallNothingAndStatusRulesStopTheOthers)
{
    Script sc{5};
    char u;
    intptr_t out = 0;
    const char *dsc = nullptr;
    st_stream z = {};
    EXPECT_EQ(stream_pop(&z, &u) & stream_psh(&z, &u) & stream_chk(&z) & stream_rst(&z), -1);
    EXPECT_EQ(stream_end(&z), 0);
    EXPECT_EQ(stream_pop(nullptr, &u), -1);

    st_stream c = {&sc, &script_fnclst, 0, 1, nullptr}; // `open` clear
    EXPECT_EQ(stream_pop(&c, &u), -1);
    EXPECT_EQ(stream_end(&c), 0);
    // Ended: the handle is gone, so rst, fls and acs_inf are refused too.
    ASSERT_EQ(stream_set(&c, &sc, &script_fnclst, nullptr), 0);
    stream_end(&c);
    EXPECT_EQ(c.hdl, nullptr);
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
    sc = {0, -1};
    EXPECT_EQ(stream_fls(&s), 0);
    EXPECT_EQ(stream_pop(&s, &u), -1) << "the kind's own failure is kept";
    sc = {2, -1, 1};
    EXPECT_EQ(stream_rst(&s), -1) << "a failing slot without a status";
    EXPECT_EQ(stream_psh(&s, &u) | stream_psh(&s, &u), 0);
    EXPECT_EQ(stream_psh(&s, &u), RTN_ERR1) << "a push failure, whatever the kind set";
    EXPECT_EQ(stream_psh(&s, &u), -1) << "stopped";
    EXPECT_EQ(sc.calls, 3);
    EXPECT_EQ(stream_acs_inf(&s, 7, reinterpret_cast<intptr_t>(&out), 0, &dsc), 0)
        << "a stopped stream still answers";
    EXPECT_EQ(out, reinterpret_cast<intptr_t>(&sc) + 7);
    EXPECT_STREQ(dsc, "scripted");
}

TEST(Framework, SelfAllocatedObjectsGoThroughTheSlotAndAreFreedOnce)
{
    for (auto end : {stream_end, _stream_end}) {
        Script sc;
        ASSERT_EQ(stream_set(nullptr, &sc, &script_fnclst, nullptr), 0);
        st_stream *s = stkptr(nullptr, nullptr);
        ASSERT_TRUE(s && s->flg == (STM_OPN | STM_SLF));
        EXPECT_EQ(stkptr(nullptr, nullptr), nullptr) << "taken once";
        __rtn = 1;
        EXPECT_EQ(end(s), 0);
        EXPECT_EQ(__rtn, 1) << "ending leaves the caller's status alone";
        EXPECT_EQ(sc.ends, 1); // s is freed now: ASan reports a second free or a leak
    }
    Script sc;
    __mem_fail_at(1);
    EXPECT_EQ(stream_set(nullptr, &sc, &script_fnclst, nullptr), -1);
    __mem_fail_at(0);
    EXPECT_EQ(stkptr(nullptr, nullptr), nullptr) << "nothing parked on failure";
}

TEST(Framework, CountedStreamAccountsEveryAccessButRealErrors)
{
    __tick_fake([] { return fake_ms; });
    fake_ms = 1000;
    uint32_t id = 0;
    st_itfmng_rcd *rcd = nullptr;
    ASSERT_EQ(itf_get_id("stream-test", &id), 0);
    ASSERT_EQ(itfmng_get(id, "count", 5, &rcd), 0);
    const st_itfmng_rcd was = *rcd;

    Script sc{3};
    st_stream s = {};
    char u;
    ASSERT_EQ(stream_set(&s, &sc, &script_fnclst, rcd), 0);
    EXPECT_EQ(s.flg, STM_OPN | STM_CNT);
    while (stream_pop(&s, &u) == 0)
        fake_ms += 2;
    EXPECT_EQ(rcd->tim.cnt - was.tim.cnt, 4u) << "three units and the end of data";
    EXPECT_EQ(rcd->siz - was.siz, 4u);

    sc.fail = -1;
    stream_rst(&s);
    EXPECT_EQ(stream_pop(&s, &u), -1);
    stream_rst(&s);
    EXPECT_EQ(stream_psh(&s, &u), RTN_ERR1);
    EXPECT_EQ(rcd->tim.cnt - was.tim.cnt, 4u) << "failures are not counted";

    fake_ms += 100;
    stream_end(&s);
    EXPECT_EQ(rcd->lif.cnt - was.lif.cnt, 1u);
    EXPECT_EQ(rcd->lif.tot - was.lif.tot, 106u) << "lifetime from set-up to end";
    __tick_fake(nullptr);
}

} // namespace
