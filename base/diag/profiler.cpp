// Profiler: debug timers that measure named code sites with nesting, own
// time, recursion and a correction for the profiler's own overhead.
#include "base/diag/diag.h"

#include <cstdlib>
#include <cstring>

st_debug_timer *__global_debug_timer_link;
st_complex_timer *__global_debug_timer_stack_link;
st_simple_timer __global_debug_timer_function_timer;
int32_t __global_debug_timer_flg_lock;

void debug_timer_start(st_debug_timer *site, st_complex_timer *call) noexcept
{
    if (!site || !call || __global_debug_timer_flg_lock)
        return;
    simple_timer_start(&__global_debug_timer_function_timer);
    *call = {};
    call->lnk = __global_debug_timer_stack_link;
    __global_debug_timer_stack_link = call;
    site->dpt++;
    // The call below on the stack is charged with this call as nested time.
    complex_timer_start(call, call->lnk);
    simple_timer_stop(&__global_debug_timer_function_timer);
}

// Widens the site's max/min range to one call's total and own time.
static void site_minmax(st_debug_timer *site, uint64_t tot, uint64_t own)
{
    if (!site->mm_set) {
        site->max_tot = site->min_tot = tot;
        site->max_own = site->min_own = own;
        site->mm_set = 1;
        return;
    }
    if (tot > site->max_tot)
        site->max_tot = tot;
    else if (tot < site->min_tot)
        site->min_tot = tot;
    if (own > site->max_own)
        site->max_own = own;
    else if (own < site->min_own)
        site->min_own = own;
}

void debug_timer_stop(st_debug_timer *site, st_complex_timer *call) noexcept
{
    if (!site || !call || __global_debug_timer_flg_lock)
        return;
    simple_timer_start(&__global_debug_timer_function_timer);
    complex_timer_stop(call);
    if (site->cnt == 0) { // first completed call: join the report list
        site->nxt = __global_debug_timer_link;
        __global_debug_timer_link = site;
    }
    __global_debug_timer_stack_link = call->lnk;
    uint64_t tot = call->tmr.tot;
    uint64_t own = tot > call->chl_tot ? tot - call->chl_tot : 0;
    site_minmax(site, tot, own);
    site->cnt += call->tmr.cnt;
    site->chl_tot += call->chl_tot;
    site->chl_cnt += call->chl_cnt;
    simple_timer_stop(&__global_debug_timer_function_timer);
    // An inner recursive call was charged whole to the enclosing call of the
    // same site as nested time; rec_own collects those totals so that the
    // outermost call can take them out of chl_tot again, leaving only the
    // time of other sites as nested.
    if (--site->dpt > 0) {
        site->rec_own += tot;
        return;
    }
    site->tot += tot;
    site->chl_tot = site->chl_tot > site->rec_own ? site->chl_tot - site->rec_own : 0;
    site->rec_own = 0;
}

// One report line; o is the estimated profiler overhead inside the site.
static void site_print(FILE *fp, const st_debug_timer *s, uint64_t o)
{
    uint64_t tot = o >= s->tot ? 0 : s->tot - o;
    uint64_t own = s->chl_tot + o >= s->tot ? 0 : s->tot - s->chl_tot - o;
    double ave_tot = s->cnt ? static_cast<double>(tot) / static_cast<double>(s->cnt) : -1.0;
    double ave_own = s->cnt ? static_cast<double>(own) / static_cast<double>(s->cnt) : -1.0;
    fprintf(fp, "%s(%d),,%s,%llu,%llu,%llu,%llu,%llu,%llu,%llu,%e,%e\n", s->fil ? s->fil : "",
            s->lin, s->msg ? s->msg : "", static_cast<unsigned long long>(s->cnt),
            static_cast<unsigned long long>(tot), static_cast<unsigned long long>(s->max_tot),
            static_cast<unsigned long long>(s->min_tot), static_cast<unsigned long long>(own),
            static_cast<unsigned long long>(s->max_own),
            static_cast<unsigned long long>(s->min_own), ave_tot, ave_own);
}

int32_t debug_timer_print() noexcept
{
    __global_debug_timer_flg_lock = 1;
    const st_simple_timer &ft = __global_debug_timer_function_timer;
    // Overhead of one profiler call; two calls per measured call.
    double f = ft.cnt ? static_cast<double>(ft.tot) / static_cast<double>(ft.cnt) : 0.0;
    int32_t rc = 0;
    FILE *fp = env_fopen("BAS_TMR_PATH", "_bas_tmr.txt", "w");
    if (fp) {
        fputs("sorce,func,msg,count,total[ms],max_total[ms],min_total[ms],own[ms],max_own[ms],"
              "min_own[ms],ave_total[ms],ave_own[ms]\n",
              fp);
        for (const st_debug_timer *s = __global_debug_timer_link; s; s = s->nxt)
            site_print(fp, s, static_cast<uint64_t>(f * static_cast<double>(s->cnt) * 2 + 0.5));
        rc = fclose(fp);
    }
    __global_debug_timer_flg_lock = 0;
    return rc;
}

static void debug_timer_atexit()
{
    debug_timer_print();
}

int32_t debug_timer_auto(uint32_t itv) noexcept
{
    static bool registered;
    static uint64_t last; // seconds of the last report written here
    if (!registered)
        registered = std::atexit(debug_timer_atexit) == 0;
    if (!check_timeup(&last, itv))
        return 0;
    return debug_timer_print();
}

int32_t debug_timer_get(const char *msg, uint64_t *cnt, uint64_t *tot, uint64_t *own) noexcept
{
    if (!msg)
        return -1;
    const st_debug_timer *s = __global_debug_timer_link;
    while (s && (!s->msg || std::strcmp(s->msg, msg) != 0))
        s = s->nxt;
    if (!s)
        return -1;
    if (cnt)
        *cnt = s->cnt;
    if (tot)
        *tot = s->tot;
    if (own)
        *own = s->tot > s->chl_tot ? s->tot - s->chl_tot : 0;
    return 0;
}
