#include "tests/cli/cli.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

CliResult run_rundif(const std::vector<std::string> &args, const CliOptions &opt)
{
    CliResult r;
    int out[2], err[2];
    if (pipe2(out, O_CLOEXEC) || pipe2(err, O_CLOEXEC))
        return r;
    // Everything the child needs, made before the fork.
    std::vector<std::string> argv_s = {RUNDIF_BIN}, env = opt.env;
    argv_s.insert(argv_s.end(), args.begin(), args.end());
    std::vector<char *> argv;
    for (std::string &s : argv_s)
        argv.push_back(s.data());
    argv.push_back(nullptr);
    pid_t pid = fork();
    if (pid == 0) {
        dup2(out[1], 1);
        dup2(err[1], 2);
        for (int fd = 0; fd <= 2; fd++)
            if (opt.closed_fds & (1 << fd))
                close(fd);
        for (std::string &e : env)
            putenv(e.data());
        if (opt.cwd.empty() || chdir(opt.cwd.c_str()) == 0)
            execv(RUNDIF_BIN, argv.data());
        _exit(127);
    }
    close(out[1]);
    close(err[1]);
    if (pid < 0) {
        close(out[0]);
        close(err[0]);
        return r;
    }

    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(opt.timeout_ms);
    bool signalled = false;
    struct pollfd pf[2] = {{opt.out_gone ? -1 : out[0], POLLIN, 0}, {err[0], POLLIN, 0}};
    std::string *dst[2] = {&r.out, &r.err};
    if (opt.out_gone)
        close(out[0]);
    while (pf[0].fd >= 0 || pf[1].fd >= 0) {
        if (std::chrono::steady_clock::now() > deadline) {
            kill(pid, SIGKILL);
            deadline += std::chrono::hours(1);
        }
        // Short polls, so a stop that waits for no output is sent in time.
        if (poll(pf, 2, 50) < 0 && errno != EINTR)
            break;
        for (pollfd &p : pf) {
            if (p.fd < 0 || !(p.revents & (POLLIN | POLLHUP | POLLERR)))
                continue;
            char buf[4096];
            ssize_t n = read(p.fd, buf, sizeof buf);
            if (n > 0) {
                dst[&p - pf]->append(buf, (size_t)n);
            } else if (n == 0 || errno != EINTR) {
                close(p.fd);
                p.fd = -1;
            }
        }
        const bool file_seen =
            opt.stop_file.empty() || access((opt.cwd + "/" + opt.stop_file).c_str(), F_OK) == 0;
        if (opt.stop_sig && !signalled && r.out.find(opt.stop_at) != std::string::npos &&
            file_seen) {
            usleep((useconds_t)opt.stop_delay_ms * 1000);
            kill(pid, opt.stop_sig);
            signalled = true;
        }
    }
    int ws = 0;
    waitpid(pid, &ws, 0);
    r.status = WIFEXITED(ws) ? WEXITSTATUS(ws) : 128 + WTERMSIG(ws);
    return r;
}
