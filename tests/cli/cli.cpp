#include "tests/cli/cli.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <map>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

// The inherited environment with the given entries replacing theirs.
static std::vector<std::string> make_env(const std::vector<std::string> &extra)
{
    std::map<std::string, std::string> by_name;
    for (char **e = environ; *e; e++)
        by_name[std::string(*e, std::strcspn(*e, "="))] = *e;
    for (const std::string &x : extra)
        by_name[x.substr(0, x.find('='))] = x;
    std::vector<std::string> env;
    for (auto &kv : by_name)
        env.push_back(kv.second);
    return env;
}

static std::vector<char *> c_vector(std::vector<std::string> &v)
{
    std::vector<char *> c;
    for (std::string &s : v)
        c.push_back(s.data());
    c.push_back(nullptr);
    return c;
}

CliResult run_rundif(const std::vector<std::string> &args, const CliOptions &opt)
{
    CliResult r;
    int out[2], err[2];
    if (pipe2(out, O_CLOEXEC) || pipe2(err, O_CLOEXEC))
        return r;
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_adddup2(&fa, out[1], 1);
    posix_spawn_file_actions_adddup2(&fa, err[1], 2);
    for (int fd = 0; fd <= 2; fd++)
        if (opt.closed_fds & (1 << fd))
            posix_spawn_file_actions_addclose(&fa, fd);
    if (!opt.cwd.empty())
        posix_spawn_file_actions_addchdir_np(&fa, opt.cwd.c_str());
    std::vector<std::string> argv_s = {RUNDIF_BIN};
    argv_s.insert(argv_s.end(), args.begin(), args.end());
    std::vector<std::string> env_s = make_env(opt.env);
    std::vector<char *> argv_c = c_vector(argv_s), env_c = c_vector(env_s);
    pid_t pid;
    int rc = posix_spawn(&pid, RUNDIF_BIN, &fa, nullptr, argv_c.data(), env_c.data());
    posix_spawn_file_actions_destroy(&fa);
    close(out[1]);
    close(err[1]);
    if (rc != 0) {
        close(out[0]);
        close(err[0]);
        return r;
    }

    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(opt.timeout_ms);
    bool signalled = false;
    struct pollfd pf[2] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}};
    std::string *dst[2] = {&r.out, &r.err};
    int open_fds = 2;
    if (opt.out_gone) {
        close(out[0]);
        pf[0].fd = -1;
        open_fds = 1;
    }
    while (open_fds > 0) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            kill(pid, SIGKILL);
            deadline = std::chrono::steady_clock::now() + std::chrono::hours(1);
        }
        // Short polls, so a stop that waits for no output is sent in time.
        if (poll(pf, 2, (int)std::clamp<long>(left.count(), 1, 50)) < 0 && errno != EINTR)
            break;
        for (int i = 0; i < 2; i++) {
            if (pf[i].fd < 0 || !(pf[i].revents & (POLLIN | POLLHUP | POLLERR)))
                continue;
            char buf[4096];
            ssize_t n = read(pf[i].fd, buf, sizeof buf);
            if (n > 0) {
                dst[i]->append(buf, (size_t)n);
            } else if (n == 0 || errno != EINTR) {
                close(pf[i].fd);
                pf[i].fd = -1;
                open_fds--;
            }
        }
        if (opt.stop_sig && !signalled && r.out.find(opt.stop_at) != std::string::npos) {
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
