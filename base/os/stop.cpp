// Stop requests from outside (SIGINT, SIGTERM, SIGHUP and the other
// signals that end a process) and interruptible sleeps.
#include "base/os/os.h"

#include <cerrno>
#include <csignal>
#include <ctime>

static volatile sig_atomic_t stop_sig;

static void on_stop(int sig)
{
    stop_sig = sig;
}

int32_t os_stop_catch() noexcept
{
    struct sigaction sa = {}, old;
    sa.sa_handler = on_stop; // no SA_RESTART: a blocking wait returns at once
    sigemptyset(&sa.sa_mask);
    static const int sigs[] = {SIGINT, SIGTERM, SIGHUP, SIGUSR1, SIGUSR2, SIGALRM};
    for (int sig : sigs)
        if (sigaction(sig, nullptr, &old) != 0 ||
            (old.sa_handler != SIG_IGN && sigaction(sig, &sa, nullptr) != 0))
            return rtn_fail();
    return rtn_ok();
}

int os_stop_sig() noexcept
{
    return stop_sig;
}

void os_stop_set(int sig) noexcept
{
    stop_sig = sig;
}

int32_t os_sleep_ms(uint32_t ms) noexcept
{
    struct timespec ts = {(time_t)(ms / 1000), (long)(ms % 1000) * 1000000L};
    while (!stop_sig && nanosleep(&ts, &ts) != 0 && errno == EINTR) {
    }
    return stop_sig ? rtn_fail() : rtn_ok();
}
