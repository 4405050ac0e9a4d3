// Child processes with pipes, over posix_spawn.
#include "base/os/os_impl.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

constexpr int ERR = PRC_IO_ERR, OUT = PRC_IO_OUT; // st_prc_io::buf indexes
constexpr int POLL_MS = 10;                       // wait step while the child is silent
constexpr int END_WAIT_MS = 100;                  // grace period of _prc_end

// Parent end of the pipe behind buf[b]: stderr for ERR, stdout for OUT.
static int buf_fd(const st_prc *prc, int b)
{
    return prc->par[b == ERR ? 2 : 1];
}

// A record _prc_set started and _prc_end has not ended: its descriptors
// and read-ahead are its own. A zero-filled record's pipe fields are 0,
// the caller's standard input, and must not be used.
static bool prc_open(const st_prc *prc)
{
    return prc && prc->pid > 0 && prc->io;
}

static void close_fd(int *fd)
{
    if (*fd >= 0)
        close(*fd);
    *fd = -1;
}

// Creates the pipes of the mode; the child's ends go to chl[], the
// parent's to prc->par[]. false (with errno) when a pipe fails.
static bool make_pipes(st_prc *prc, int chl[3])
{
    for (int i = 0; i < 3; i++) {
        if (!(prc->mode & (1 << i)))
            continue;
        int p[2];
        if (pipe2(p, O_CLOEXEC) != 0)
            return false;
        prc->par[i] = p[i == 0 ? 1 : 0];
        chl[i] = p[i == 0 ? 0 : 1];
        if (i > 0)
            fcntl(prc->par[i], F_SETFL, O_NONBLOCK);
    }
    return true;
}

// Starts the program with the child ends as its standard streams, as the
// leader of a new process group. A SIGPIPE the caller ignores (the tool
// does) is reset to its default, so the command behaves as it would from
// a shell.
static int spawn(st_prc *prc, const char *app, char **argv, const int chl[3])
{
    posix_spawn_file_actions_t fa;
    posix_spawnattr_t at;
    if (posix_spawn_file_actions_init(&fa) != 0)
        return -1;
    if (posix_spawnattr_init(&at) != 0) {
        posix_spawn_file_actions_destroy(&fa);
        return -1;
    }
    for (int i = 0; i < 3; i++)
        if (chl[i] >= 0)
            posix_spawn_file_actions_adddup2(&fa, chl[i], i);
    sigset_t def;
    sigemptyset(&def);
    sigaddset(&def, SIGPIPE);
    posix_spawnattr_setsigdefault(&at, &def);
    // A process group of its own, so that ending the command ends whatever
    // it started too (a shell pipeline, a sleeping grandchild).
    posix_spawnattr_setpgroup(&at, 0);
    posix_spawnattr_setflags(&at, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETPGROUP);
    const char *prog = app ? app : argv[0];
    int rc = strchr(prog, '/') ? posix_spawn(&prc->pid, prog, &fa, &at, argv, environ)
                               : posix_spawnp(&prc->pid, prog, &fa, &at, argv, environ);
    posix_spawnattr_destroy(&at);
    posix_spawn_file_actions_destroy(&fa);
    return rc;
}

int32_t _prc_set(st_prc *prc, const char *app, const char *cmd, int32_t mode) noexcept
{
    if (!prc)
        return rtn_fail();
    if (!cmd) {
        cmd = app;
        app = nullptr;
    }
    memset(prc, 0, sizeof *prc);
    prc->mode = mode;
    int chl[3] = {-1, -1, -1};
    for (int &fd : prc->par)
        fd = -1;
    char **argv = nullptr;
    int32_t argc = 0;
    if (_malloc(&prc->io, sizeof *prc->io) != 0) {
        errno = ENOMEM;
        return rtn_keep();
    }
    for (st_prc_buf &bf : prc->io->buf)
        bf.pos = bf.len = bf.eof = 0;
    if (cmdline_split(cmd, &argv, &argc) != 0) {
        _free(&prc->io);
        errno = ENOMEM;
        return rtn_keep();
    }
    // posix_spawn reports a program that cannot be run (missing, not
    // executable) as its own result; a failed pipe leaves errno.
    int err = ENOENT;
    bool ok = argc > 0 && make_pipes(prc, chl);
    if (!ok && argc > 0)
        err = errno;
    if (ok && (err = spawn(prc, app, argv, chl)) != 0)
        ok = false;
    _free(&argv);
    for (int &fd : chl)
        close_fd(&fd);
    if (!ok) {
        for (int &fd : prc->par)
            close_fd(&fd);
        prc->pid = 0;
        _free(&prc->io);
        errno = err < 0 ? ENOMEM : err;
        return rtn_fail();
    }
    return rtn_ok();
}

// Reaps the child if it has exited. false when its state cannot be read.
static bool poll_exit(st_prc *prc)
{
    if (prc->reaped)
        return true;
    int ws;
    pid_t r = waitpid(prc->pid, &ws, WNOHANG);
    if (r < 0)
        return false;
    if (r == prc->pid) {
        prc->reaped = 1;
        prc->code = WIFEXITED(ws) ? WEXITSTATUS(ws) : 128 + WTERMSIG(ws);
    }
    return true;
}

// Refills buf[b] from its pipe with what is waiting there, never blocking.
// Returns the bytes now buffered (0: nothing waiting, or the pipe is gone).
static int32_t fill(st_prc *prc, int b)
{
    st_prc_buf *bf = &prc->io->buf[b];
    int fd = buf_fd(prc, b);
    if (bf->pos < bf->len)
        return bf->len - bf->pos;
    if (fd < 0 || bf->eof)
        return 0;
    int avail = 0;
    if (ioctl(fd, FIONREAD, &avail) != 0 || avail <= 0)
        return 0;
    ssize_t n;
    do
        n = read(fd, bf->dat, sizeof bf->dat);
    while (n < 0 && errno == EINTR);
    bf->pos = 0;
    bf->len = n > 0 ? (int32_t)n : 0;
    if (n == 0 || (n < 0 && errno != EAGAIN))
        bf->eof = 1; // treated as the end of this pipe's output
    return bf->len;
}

// Waits up to one poll step for output on the pipes that still have a
// writer; a pipe whose writers have all gone is marked and no longer waited on.
static void wait_step(st_prc *prc)
{
    struct pollfd pf[2];
    int n = 0;
    for (int b = ERR; b <= OUT; b++)
        if (buf_fd(prc, b) >= 0 && !prc->io->buf[b].eof)
            pf[n++] = {buf_fd(prc, b), POLLIN, 0};
    itfmng_start("system", "sleep");
    if (n == 0) {
        os_sleep_ms(POLL_MS);
    } else if (poll(pf, (nfds_t)n, POLL_MS) > 0) {
        for (int i = 0; i < n; i++) {
            int avail = 0;
            bool hup = pf[i].revents & (POLLHUP | POLLERR | POLLNVAL);
            if (hup && (ioctl(pf[i].fd, FIONREAD, &avail) != 0 || avail == 0))
                prc->io->buf[pf[i].fd == buf_fd(prc, ERR) ? ERR : OUT].eof = 1;
        }
    }
    itfmng_stop("system", "sleep", POLL_MS);
}

// Moves up to max buffered bytes to out, error output before standard
// output, as single pops would take them. Returns the bytes moved.
static uint32_t take(st_prc *prc, uint8_t *out, uint32_t max)
{
    uint32_t n = 0;
    for (int b = ERR; b <= OUT && n < max; b++) {
        st_prc_buf *bf = &prc->io->buf[b];
        uint32_t k = std::min<uint32_t>(max - n, bf->len - bf->pos);
        memcpy(out + n, bf->dat + bf->pos, k);
        bf->pos += k;
        n += k;
    }
    return n;
}

// True once every piped output has reached its end: all its writers (the
// child and whatever inherited the pipe) have closed it and it is empty.
static bool outputs_ended(const st_prc *prc)
{
    for (int b = ERR; b <= OUT; b++)
        if (buf_fd(prc, b) >= 0 && !prc->io->buf[b].eof)
            return false;
    return true;
}

// One refill step once both buffers are empty: read the pipes, else wait
// one poll step for more. The output ends when the pipes have ended and
// the child has exited, as $(...) in a shell ends: a background job that
// keeps the output open keeps it going. 0 to look at the buffers again; 1
// at the end of the output; -1 when the child's state cannot be read. Its
// time goes to prc->rcd.
static int32_t refill(st_prc *prc)
{
    st_simple_timer t = {0, 0, 0};
    if (prc->rcd)
        simple_timer_start(&t);
    int32_t r = 0;
    if (fill(prc, ERR) > 0 || fill(prc, OUT) > 0)
        r = 0;
    else if (!poll_exit(prc))
        r = rtn_fail();
    else if (outputs_ended(prc) && prc->reaped)
        r = rtn_none();
    else
        wait_step(prc); // the pipes, or the child's exit once they have ended
    if (prc->rcd)
        prc->rcd->tim.tot += simple_timer_stop(&t);
    return r;
}

int32_t _prc_pop_blk(st_prc *prc, uint8_t *out, uint32_t max, uint32_t *got) noexcept
{
    if (got)
        *got = 0;
    if (!prc_open(prc) || !out || !got || max == 0)
        return rtn_fail();
    // The pipes are asked (a system call each) only when both buffers are
    // empty, so pending error output wins at every refill.
    while ((*got = take(prc, out, max)) == 0) {
        // A stop is looked at before every refill, so a command that floods
        // its output cannot hold it up.
        if (os_stop_sig())
            return rtn_fail();
        // A caller's deadline is noticed within one poll step.
        if (prc->dln && tick_get() >= prc->dln)
            return rtn_fail();
        if (refill(prc) != 0)
            return __rtn;
    }
    return rtn_ok();
}

int32_t _prc_pop(st_prc *prc, uint8_t *out) noexcept
{
    uint32_t got;
    return _prc_pop_blk(prc, out, 1, &got);
}

int32_t _prc_psh(st_prc *prc, const uint8_t *in) noexcept
{
    if (!prc_open(prc) || !in || prc->par[0] < 0)
        return rtn_fail();
    // A reader that has gone must not kill the caller with SIGPIPE.
    sigset_t pipe_set, old;
    sigemptyset(&pipe_set);
    sigaddset(&pipe_set, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipe_set, &old);
    st_simple_timer t = {0, 0, 0}; // the process stream times its own accesses
    if (prc->rcd)
        simple_timer_start(&t);
    ssize_t n;
    do
        n = write(prc->par[0], in, 1);
    while (n < 0 && errno == EINTR);
    if (prc->rcd)
        prc->rcd->tim.tot += simple_timer_stop(&t);
    if (n < 0 && errno == EPIPE) {
        struct timespec zero = {0, 0};
        sigtimedwait(&pipe_set, nullptr, &zero);
    }
    pthread_sigmask(SIG_SETMASK, &old, nullptr);
    return n == 1 ? rtn_ok() : rtn_fail();
}

int32_t _prc_fls(st_prc *prc) noexcept
{
    // Pipe writes are unbuffered: there is nothing to send, only to check.
    if (!prc_open(prc) || prc->par[0] < 0)
        return rtn_fail();
    return rtn_ok();
}

// Waits up to ms milliseconds (negative: without limit) for the child to
// exit by itself. true when it has been reaped.
static bool wait_exit(st_prc *prc, int ms)
{
    if (ms < 0) {
        int ws;
        pid_t r;
        do
            r = waitpid(prc->pid, &ws, 0);
        while (r < 0 && errno == EINTR);
        if (r == prc->pid) {
            prc->reaped = 1;
            prc->code = WIFEXITED(ws) ? WEXITSTATUS(ws) : 128 + WTERMSIG(ws);
        }
        return prc->reaped;
    }
    for (int t = 0; poll_exit(prc) && !prc->reaped && t < ms; t++) {
        struct timespec ts = {0, 1000000L};
        nanosleep(&ts, nullptr);
    }
    return prc->reaped;
}

// Ends the child's whole process group: SIGTERM (with SIGCONT, so a
// stopped member hears it), SIGKILL to what is left after the grace
// period, then reaps the child. A child ended here has exit code 0.
static void end_group(st_prc *prc)
{
    const bool ended = !prc->reaped;
    kill(-prc->pid, SIGTERM);
    kill(-prc->pid, SIGCONT);
    for (int t = 0; t < END_WAIT_MS; t++) {
        if (poll_exit(prc) && prc->reaped && kill(-prc->pid, 0) != 0)
            break; // the child is reaped and its group is empty
        struct timespec ts = {0, 1000000L};
        nanosleep(&ts, nullptr);
    }
    kill(-prc->pid, SIGKILL);
    if (!prc->reaped)
        wait_exit(prc, -1);
    if (ended)
        prc->code = 0;
}

int32_t _prc_end(st_prc *prc) noexcept
{
    if (!prc || prc->pid <= 0)
        return prc ? prc->code : 0; // never started, or ended already
    // A stop from outside does not wait for the child to end by itself.
    int ms = (prc->mode & PRC_WAIT) ? -1 : os_stop_sig() ? 0 : END_WAIT_MS;
    // What is left of the child's group once it has exited (a background
    // job it started) is ended with it: a run owns its processes. The
    // group outlives its leader, so its id still names it.
    if ((!prc->reaped && !wait_exit(prc, ms)) || kill(-prc->pid, 0) == 0)
        end_group(prc);
    for (int &fd : prc->par)
        close_fd(&fd);
    prc->pid = 0;
    _free(&prc->io);
    return prc->code;
}

int32_t _prc_acs_inf_chk_pop_exist(st_prc *prc, intptr_t, intptr_t) noexcept
{
    if (!prc_open(prc))
        return rtn_fail();
    return fill(prc, ERR) > 0 || fill(prc, OUT) > 0 ? rtn_ok() : rtn_fail();
}

int32_t _prc_acs_inf_get_handle(st_prc *prc, intptr_t key, intptr_t out) noexcept
{
    if (!prc_open(prc) || key < 0 || key > 2 || !out)
        return rtn_fail();
    int fd = prc->par[key];
    memcpy(reinterpret_cast<void *>(out), &fd, sizeof fd);
    return rtn_ok();
}

int32_t _prc_acs_inf(st_prc *prc, int32_t num, intptr_t a1, intptr_t a2, const char **dsc) noexcept
{
    static const struct {
        const char *dsc;
        int32_t (*op)(st_prc *, intptr_t, intptr_t) noexcept;
    } tab[] = {
        {"if pop data is exist then return 0, else other.", _prc_acs_inf_chk_pop_exist},
        {"return pipe handle to res.key 0:stdin 1:stdout 2:stderr", _prc_acs_inf_get_handle},
    };
    if (num < 0 || num > 1)
        return rtn_fail();
    if (dsc)
        *dsc = tab[num].dsc;
    if (tab[num].op(prc, a1, a2) != 0)
        return rtn_keep();
    return rtn_ok();
}
