// Status word, event counter and source-position register.
#include "base/diag/diag.h"

int32_t __rtn = 0;
int32_t __dbg = 0;

static uint64_t prc_counter;

static struct {
    st_src_pos own;  // filled by calls with a file name
    st_src_pos *ref; // remembered caller-owned record, if any
} src_reg;

uint64_t __prc_cnt(uint64_t *out) noexcept
{
    uint64_t cur = prc_counter++;
    if (out)
        *out = cur;
    return cur;
}

int __prc_prt(const uint64_t *slot, FILE *fp) noexcept
{
    uint64_t v = slot ? *slot : __prc_cnt(nullptr);
    return fprintf(fp, "%lld", static_cast<long long>(v));
}

st_src_pos *__src_pos(st_src_pos *ref, const char *fil, int32_t lin, const char *fnc,
                      const char *abt) noexcept
{
    if (ref)
        return src_reg.ref = ref;
    if (fil) {
        src_reg.own = {abt, fil, lin, fnc};
        src_reg.ref = nullptr;
        return &src_reg.own;
    }
    return src_reg.ref ? src_reg.ref : &src_reg.own;
}

int32_t __src_pos_fprint(FILE *fp, const st_src_pos *pos) noexcept
{
    if (!fp || !pos)
        return -1;
    fprintf(fp, "%s(%d),%s,%s", pos->fil, pos->lin, pos->fnc, pos->abt);
    return 0;
}
