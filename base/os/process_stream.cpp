// The process stream: a child's output popped through the stream framework,
// byte by byte or in blocks out of the read-ahead buffers. The stream times
// its own pops: the process layer adds the time of its refills and waits to
// the record, so no clock is read per byte.
#include "base/os/os.h"

static int32_t prc_pop(void *hdl, void *unit)
{
    if (_prc_pop(static_cast<st_prc *>(hdl), static_cast<uint8_t *>(unit)) != 0)
        return rtn_keep();
    return 0;
}

static int32_t prc_pop_blk(void *hdl, void *units, uint32_t max, uint32_t *got)
{
    if (_prc_pop_blk(static_cast<st_prc *>(hdl), static_cast<uint8_t *>(units), max, got) != 0)
        return rtn_keep();
    return 0;
}

static int32_t prc_psh(void *hdl, const void *unit)
{
    if (_prc_psh(static_cast<st_prc *>(hdl), static_cast<const uint8_t *>(unit)) != 0)
        return rtn_keep();
    return 0;
}

static int32_t prc_end(void *hdl)
{
    st_prc *prc = static_cast<st_prc *>(hdl);
    _prc_end(prc);
    _free(&prc);
    return 0;
}

static int32_t prc_fls(void *hdl)
{
    if (_prc_fls(static_cast<st_prc *>(hdl)) != 0)
        return rtn_keep();
    return 0;
}

static int32_t prc_acs_inf(void *hdl, int32_t num, intptr_t a1, intptr_t a2, const char **dsc)
{
    if (_prc_acs_inf(static_cast<st_prc *>(hdl), num, a1, a2, dsc) != 0)
        return rtn_keep();
    return 0;
}

const st_stream_fnc __stream_prc_fnc_lst = {prc_pop, prc_psh, prc_end,
                                            nullptr, prc_fls, prc_acs_inf};

static const st_stream_fnc_blk prc_fnc_blk = {
    {prc_pop, prc_psh, prc_end, nullptr, prc_fls, prc_acs_inf}, prc_pop_blk};

// The statistics record "process" / the command's first word, or none
// (no id left, or a first word longer than an access name).
static st_itfmng_rcd *prc_record(const char *cmd)
{
    static uint32_t itf_id;
    if (!itf_id && itf_get_id("process", &itf_id) != 0)
        return nullptr;
    size_t len = strcspn(cmd, " \t");
    st_itfmng_rcd *rcd = nullptr;
    if (itfmng_get(itf_id, cmd, len, &rcd) != 0)
        return nullptr;
    return rcd;
}

int32_t stream_prc_set(st_stream *stm, const char *cmd, int32_t mode) noexcept
{
    if (!cmd)
        return rtn_fail();
    // The record comes first, so a command that cannot start still shows.
    st_itfmng_rcd *rcd = prc_record(cmd);
    st_prc *prc = nullptr;
    RTN_TRY(_malloc0(&prc, sizeof *prc));
    if (_prc_set(prc, nullptr, cmd, mode) != 0) {
        _free(&prc);
        return rtn_keep();
    }
    prc->rcd = rcd;
    if (stream_set_blk(stm, prc, &prc_fnc_blk, rcd, STM_SLT) != 0) {
        rtn_keep();
        int32_t keep = __rtn;
        prc_end(prc);
        return __rtn = keep;
    }
    return rtn_ok();
}
