// The stream framework: the hand-off slot, set-up, dispatch through the
// function list, state flags and access accounting.
#include "base/stream/stream_impl.h"

#include <cstring>

st_stkptr __stkptr;

st_stream *stkptr(st_stream *stm, stream_end_fn end) noexcept
{
    if (stm) {
        __stkptr = {stm, end};
        return stm;
    }
    st_stream *out = __stkptr.stm;
    __stkptr = {};
    return out;
}

int32_t stream_set(st_stream *stm, void *hdl, const st_stream_fnc *lst, st_itfmng_rcd *rcd) noexcept
{
    if (stm) {
        std::memset(stm, 0, sizeof *stm);
    } else {
        RTN_TRY(_malloc0(&stm, sizeof *stm));
        stm->flg = STM_SLF;
        stkptr(stm, _stream_end);
    }
    stm->hdl = hdl;
    stm->fnc_lst = lst;
    stm->flg |= STM_OPN;
    stm->acs_unt = 1;
    if (rcd) {
        stm->flg |= STM_CNT;
        stm->itf_rec = rcd;
        simple_timer_start(&rcd->lif);
    }
    return rtn_ok();
}

int32_t stream_set_blk(st_stream *stm, void *hdl, const st_stream_fnc_blk *lst, st_itfmng_rcd *rcd,
                       uint8_t flg) noexcept
{
    if (!lst)
        return rtn_fail();
    RTN_TRY(stream_set(stm, hdl, &lst->fnc, rcd));
    st_stream *obj = stm ? stm : __stkptr.stm; // a new object waits in the slot
    obj->flg |= STM_BLK | (flg & STM_SLT);
    return rtn_ok();
}

// The record to account a pop or push in, or none.
static st_itfmng_rcd *stream_rcd(const st_stream *stm)
{
    return (stm->flg & STM_CNT) ? stm->itf_rec : nullptr;
}

// True when the stream may be popped or pushed: present, open, not stopped.
static bool stream_ready(const st_stream *stm)
{
    return stm && stm->fnc_lst && (stm->flg & (STM_OPN | STM_STP)) == STM_OPN;
}

// Starts the clock of one call, unless nothing is counted or the kind
// times its own accesses.
static void stream_clock(const st_stream *stm, st_simple_timer *t)
{
    *t = {0, 0, 0};
    if (stream_rcd(stm) && !(stm->flg & STM_SLT))
        simple_timer_start(t);
}

// Accounts n accesses of one call, whose clock is t (not started: no time
// is added), as n single accesses: count n, size n units.
static void stream_count(const st_stream *stm, st_simple_timer *t, uint64_t n)
{
    st_itfmng_rcd *rcd = stream_rcd(stm);
    const uint64_t ms = t->stt ? simple_timer_stop(t) : 0;
    if (!rcd || n == 0)
        return;
    rcd->tim.tot += ms;
    rcd->tim.cnt += n;
    rcd->siz += n * stm->acs_unt;
}

// The accesses a call made: the units it handed out, and its end unless
// that was a real error (status: the call's final word).
static uint64_t stream_acs(uint32_t units, bool ended, int32_t status)
{
    return units + (ended && !rtn_is_err(status) ? 1 : 0);
}

// Keeps the end a block pop met after handing out units (see STM_PND).
static void stream_keep_end(st_stream *stm, int32_t status)
{
    stm->flg |= STM_STP;
    if (status == RTN_NONE)
        stm->flg |= STM_PND;
    else if (status == RTN_ERR1)
        stm->flg |= STM_PNE;
    else
        stm->flg |= STM_PND | STM_PNE;
}

// Reports and drops the pending end; the stream stays stopped.
static int32_t stream_take_end(st_stream *stm)
{
    const uint8_t f = stm->flg & (STM_PND | STM_PNE);
    stm->flg &= ~(STM_PND | STM_PNE);
    return __rtn = f == STM_PND ? RTN_NONE : f == STM_PNE ? RTN_ERR1 : RTN_ERR;
}

static bool stream_pending(const st_stream *stm)
{
    return stm && (stm->flg & (STM_PND | STM_PNE));
}

// The status word after a pop: 0 when it gave units; else the stream stops
// and a kind that failed without a word ends the data (1). Returns ok.
static bool stream_settle(st_stream *stm, bool ok)
{
    if (ok) {
        __rtn = RTN_OK;
    } else {
        stm->flg |= STM_STP;
        if (__rtn == RTN_OK)
            __rtn = RTN_NONE;
    }
    return ok;
}

// The streams whose accesses take the short path: open, not stopped, no
// end pending, counted and self-timed, so that a unit that goes through
// costs two additions and no clock.
constexpr uint8_t STM_FAST_MASK = STM_OPN | STM_STP | STM_CNT | STM_SLT | STM_PND | STM_PNE;
constexpr uint8_t STM_FAST = STM_OPN | STM_CNT | STM_SLT;

static bool stream_fast(const st_stream *stm)
{
    return stm && (stm->flg & STM_FAST_MASK) == STM_FAST && stm->itf_rec && stm->fnc_lst;
}

// One unit counted on the short path.
static void stream_count_one(const st_stream *stm)
{
    stm->itf_rec->tim.cnt++;
    stm->itf_rec->siz += stm->acs_unt;
}

// The start of a pop on the full path: a pending end is handed out and a
// stream that cannot be popped fails (the result to return, never 0); else
// the clock starts and the word is cleared, so that a kind that fails
// silently is told apart, and 0 is returned.
static int32_t stream_pop_start(st_stream *stm, st_simple_timer *t)
{
    if (stream_pending(stm))
        return stream_take_end(stm);
    if (!stream_ready(stm) || !stm->fnc_lst->pop)
        return rtn_fail();
    stream_clock(stm, t);
    return __rtn = RTN_OK;
}

int32_t stream_pop(st_stream *stm, void *unit) noexcept
{
    if (stream_fast(stm) && stm->fnc_lst->pop) {
        __rtn = RTN_OK;
        if (stm->fnc_lst->pop(stm->hdl, unit) == 0) {
            stream_count_one(stm);
            return __rtn = RTN_OK;
        }
        stream_settle(stm, false); // the end or a failure, counted as below
        st_simple_timer t = {0, 0, 0};
        stream_count(stm, &t, stream_acs(0, true, __rtn));
        return __rtn;
    }
    st_simple_timer t;
    if (int32_t r = stream_pop_start(stm, &t))
        return r;
    const bool ok = stream_settle(stm, stm->fnc_lst->pop(stm->hdl, unit) == 0);
    stream_count(stm, &t, stream_acs(ok, !ok, __rtn));
    return __rtn;
}

// One call of the kind's block slot, or of its single pop when it has none.
static int32_t stream_call_blk(st_stream *stm, void *units, uint32_t max, uint32_t *got)
{
    if (stm->flg & STM_BLK) {
        const auto *lst = reinterpret_cast<const st_stream_fnc_blk *>(stm->fnc_lst);
        if (lst->pop_blk)
            return lst->pop_blk(stm->hdl, units, max, got);
    }
    const int32_t r = stm->fnc_lst->pop(stm->hdl, units);
    *got = r == 0;
    return r;
}

int32_t stream_pop_blk(st_stream *stm, void *units, uint32_t max, uint32_t *got) noexcept
{
    if (got)
        *got = 0;
    if (!units || !got || max == 0)
        return rtn_fail();
    st_simple_timer t;
    if (int32_t r = stream_pop_start(stm, &t))
        return r;
    const bool ok = stream_settle(stm, stream_call_blk(stm, units, max, got) == 0 && *got > 0);
    stream_count(stm, &t, stream_acs(*got, !ok, __rtn));
    if (!ok && *got > 0) {
        stream_keep_end(stm, __rtn);
        return rtn_ok();
    }
    return __rtn;
}

int32_t stream_psh(st_stream *stm, const void *unit) noexcept
{
    if (stream_fast(stm) && stm->fnc_lst->psh) {
        if (stm->fnc_lst->psh(stm->hdl, unit) == 0) {
            stream_count_one(stm);
            return __rtn = RTN_OK;
        }
        stm->flg |= STM_STP; // a failed push, counted as below
        __rtn = RTN_ERR1;
        st_simple_timer t = {0, 0, 0};
        stream_count(stm, &t, stream_acs(0, true, __rtn));
        return __rtn;
    }
    if (!stream_ready(stm) || !stm->fnc_lst->psh)
        return rtn_fail();
    st_simple_timer t;
    stream_clock(stm, &t);
    const bool ok = stm->fnc_lst->psh(stm->hdl, unit) == 0;
    if (ok) {
        __rtn = RTN_OK;
    } else {
        stm->flg |= STM_STP;
        __rtn = RTN_ERR1;
    }
    stream_count(stm, &t, stream_acs(ok, !ok, __rtn));
    return __rtn;
}

int32_t stream_psh_blk(st_stream *stm, const void *units, uint32_t cnt, uint32_t *put) noexcept
{
    if (put)
        *put = 0;
    if (!units || !put || cnt == 0)
        return rtn_fail();
    const auto *lst = stm && (stm->flg & STM_BLK)
                          ? reinterpret_cast<const st_stream_fnc_blk *>(stm->fnc_lst)
                          : nullptr;
    if (!lst || !lst->psh_blk) {
        const int32_t r = stream_psh(stm, units); // one unit: its size is the kind's
        *put = r == 0;
        return r;
    }
    if (!stream_ready(stm))
        return rtn_fail();
    st_simple_timer t;
    stream_clock(stm, &t);
    const bool ok = lst->psh_blk(stm->hdl, units, cnt, put) == 0 && *put > 0;
    if (ok) {
        __rtn = RTN_OK;
    } else {
        stm->flg |= STM_STP;
        __rtn = RTN_ERR1;
    }
    stream_count(stm, &t, *put);
    return __rtn;
}

int32_t stream_end(st_stream *stm) noexcept
{
    if (!stm || !stm->hdl || !stm->fnc_lst || !(stm->flg & STM_OPN))
        return 0;
    st_rtn_save keep; // the kind's clean-up must not disturb the caller's word
    if (stm->fnc_lst->end)
        stm->fnc_lst->end(stm->hdl);
    if ((stm->flg & STM_CNT) && stm->itf_rec)
        simple_timer_stop(&stm->itf_rec->lif);
    stm->flg &= ~(STM_CNT | STM_OPN | STM_STP | STM_PND | STM_PNE);
    stm->hdl = nullptr;
    if (stm->flg & STM_SLF) {
        stm->flg &= ~STM_SLF;
        _free(&stm);
    }
    return 0;
}

int32_t __stream_set_cpy(st_stream *stm, const void *rcd, size_t siz,
                         const st_stream_fnc *lst) noexcept
{
    void *hdl;
    RTN_TRY(_malloc_cpy(&hdl, rcd, siz));
    if (stream_set(stm, hdl, lst, nullptr) != 0) {
        _free(&hdl);
        return rtn_keep();
    }
    return rtn_ok();
}

int32_t _stream_end(st_stream *stm) noexcept
{
    return stream_end(stm);
}

int32_t stream_end_fnc_only_free(void *hdl) noexcept
{
    _free(&hdl);
    return 0;
}

int32_t stream_chk(const st_stream *stm) noexcept
{
    if (!stm || !stm->hdl || !stm->fnc_lst || (stm->flg & (STM_OPN | STM_STP)) != STM_OPN)
        return rtn_fail();
    return rtn_ok();
}

// The result of a rst, fls or acs_inf slot as the framework reports it.
static int32_t stream_slot_rtn(int32_t r)
{
    return r ? rtn_keep() : rtn_ok();
}

// The list of a stream that rst, fls and acs_inf may use, or none. A closed
// stream is refused: its handle is gone and no slot could use it.
static const st_stream_fnc *stream_open_lst(const st_stream *stm)
{
    return stm && (stm->flg & STM_OPN) ? stm->fnc_lst : nullptr;
}

// rst and fls alike: clear stopped, then run the kind's slot if it has one.
static int32_t stream_restart(st_stream *stm, int32_t (*st_stream_fnc::*slot)(void *))
{
    const st_stream_fnc *lst = stream_open_lst(stm);
    if (!lst)
        return rtn_fail();
    stm->flg &= ~(STM_STP | STM_PND | STM_PNE);
    if (!(lst->*slot))
        return rtn_ok();
    __rtn = RTN_OK;
    return stream_slot_rtn((lst->*slot)(stm->hdl));
}

int32_t stream_rst(st_stream *stm) noexcept
{
    return stream_restart(stm, &st_stream_fnc::rst);
}

int32_t _stream_rst(void *stm) noexcept
{
    return stream_rst(static_cast<st_stream *>(stm));
}

int32_t stream_fls(st_stream *stm) noexcept
{
    return stream_restart(stm, &st_stream_fnc::fls);
}

int32_t stream_acs_inf(st_stream *stm, int32_t num, intptr_t a1, intptr_t a2,
                       const char **dsc) noexcept
{
    const st_stream_fnc *lst = stream_open_lst(stm);
    if (!lst || !lst->acs_inf)
        return rtn_fail();
    __rtn = RTN_OK;
    return stream_slot_rtn(lst->acs_inf(stm->hdl, num, a1, a2, dsc));
}
