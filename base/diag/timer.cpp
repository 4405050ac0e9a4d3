// Tick count, simple and complex timers, interval check and files named by
// the environment.
#include "base/diag/test_hook.h"

#include <cstdlib>
#include <cstring>
#include <ctime>

static tick_fn tick_fake; // injected clock, none for the system clock

uint64_t tick_get() noexcept
{
    if (tick_fake)
        return tick_fake();
    // The coarse clock is read from the vDSO without a system call; its
    // resolution (one scheduler tick) is as fine as the timers need.
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC_COARSE, &ts);
    return static_cast<uint64_t>(ts.tv_sec) * 1000u + static_cast<uint64_t>(ts.tv_nsec) / 1000000u;
}

void __tick_fake(tick_fn fn) noexcept
{
    tick_fake = fn;
}

st_simple_timer *simple_timer_start(st_simple_timer *tmr) noexcept
{
    if (!tmr)
        return nullptr;
    tmr->stt = tick_get() + 1; // +1 keeps 0 free for "stopped"
    return tmr;
}

uint64_t simple_timer_diff(const st_simple_timer *tmr) noexcept
{
    if (!tmr || !tmr->stt)
        return 0;
    uint64_t now = tick_get() + 1;
    return now >= tmr->stt ? now - tmr->stt : 0; // a monotonic clock never goes back
}

uint64_t simple_timer_stop(st_simple_timer *tmr) noexcept
{
    if (!tmr)
        return 0;
    uint64_t dif = simple_timer_diff(tmr);
    tmr->tot += dif;
    tmr->cnt++;
    tmr->stt = 0;
    return dif;
}

st_complex_timer *complex_timer_start(st_complex_timer *tmr, st_complex_timer *par) noexcept
{
    if (!tmr)
        return nullptr;
    tmr->par = par;
    simple_timer_start(&tmr->tmr);
    return tmr;
}

uint64_t complex_timer_stop(st_complex_timer *tmr) noexcept
{
    if (!tmr)
        return 0;
    uint64_t dif = simple_timer_stop(&tmr->tmr);
    if (tmr->par) {
        tmr->par->chl_tot += dif;
        tmr->par->chl_cnt++;
    }
    return dif;
}

int32_t check_timeup(uint64_t *stt, uint32_t itv) noexcept
{
    if (!stt)
        return 0;
    uint64_t now = tick_get() / 1000;
    if (now < *stt + itv)
        return 0;
    *stt = now;
    return 1;
}

// fopen with the close-on-exec flag added to mode, so that child processes
// do not inherit diagnostic files.
static FILE *fopen_cloexec(const char *path, const char *mode)
{
    char md[16];
    size_t n = std::strlen(mode);
    if (n > sizeof md - 2)
        return nullptr;
    std::memcpy(md, mode, n);
    md[n] = 'e';
    md[n + 1] = '\0';
    return std::fopen(path, md);
}

FILE *env_fopen(const char *var, const char *def, const char *mode) noexcept
{
    if (!mode)
        return nullptr;
    const char *path = var ? std::getenv(var) : nullptr;
    FILE *fp = path ? fopen_cloexec(path, mode) : nullptr;
    if (!fp && def)
        fp = fopen_cloexec(def, mode);
    return fp;
}
