// Operating-system endpoints: 64 MB through a TCP connection over loopback,
// 64 KiB blocks per stream_psh_blk on the sending side (64 KiB areas) and
// blocks of up to 64 KiB per stream_pop_blk on the receiving side, checked
// in order (tcp_ours), against plain send and recv of 64 KiB blocks
// (tcp_plain). The sender is a child process, so each side runs on its own
// with its own status word; the counters give the CPU time per byte of
// each side.
#include "base/os/os.h"

#include <benchmark/benchmark.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <vector>

namespace
{

constexpr size_t TOTAL = 64u << 20;   // bytes per transfer
constexpr uint32_t BLOCK = 64u << 10; // area and block size

int port_of(int fd)
{
    sockaddr_in a = {};
    socklen_t len = sizeof a;
    getsockname(fd, reinterpret_cast<sockaddr *>(&a), &len);
    return ntohs(a.sin_port);
}

// Runs send_all in a child process and returns its exit status.
template <class F>
pid_t sender(F send_all)
{
    pid_t pid = fork();
    if (pid == 0)
        _exit(send_all() ? 0 : 1);
    return pid;
}

bool child_ok(pid_t pid)
{
    int st = 0;
    return waitpid(pid, &st, 0) == pid && WIFEXITED(st) && WEXITSTATUS(st) == 0;
}

// CPU seconds (user and system) of this process (who = RUSAGE_SELF) or of
// its reaped children (RUSAGE_CHILDREN).
double cpu_s(int who)
{
    rusage r = {};
    getrusage(who, &r);
    return static_cast<double>(r.ru_utime.tv_sec + r.ru_stime.tv_sec) +
           static_cast<double>(r.ru_utime.tv_usec + r.ru_stime.tv_usec) / 1e6;
}

// Reports the CPU nanoseconds per byte of the sending child and of the
// receiving parent since the readings snd0 and rcv0.
void per_byte(benchmark::State &state, double snd0, double rcv0)
{
    const double n = static_cast<double>(state.iterations()) * TOTAL / 1e9;
    state.counters["send_cpu_ns_per_B"] = (cpu_s(RUSAGE_CHILDREN) - snd0) / n;
    state.counters["recv_cpu_ns_per_B"] = (cpu_s(RUSAGE_SELF) - rcv0) / n;
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * TOTAL));
}

void tcp_ours(benchmark::State &state)
{
    const double snd0 = cpu_s(RUSAGE_CHILDREN), rcv0 = cpu_s(RUSAGE_SELF);
    std::vector<uint8_t> blk(BLOCK), pat(BLOCK + 256); // pat: the bytes from any offset
    for (size_t i = 0; i < pat.size(); i++)
        pat[i] = static_cast<uint8_t>(i);
    for (auto _ : state) {
        st_stream srv, con;
        if (stream_tcp_srv_set(&srv, "127.0.0.1", 0, BLOCK) != 0)
            return state.SkipWithError("server");
        int port = port_of(static_cast<st_tcp_srv *>(srv.hdl)->sck);
        pid_t pid = sender([port, &pat] {
            st_stream c;
            if (stream_tcp_con_set(&c, "127.0.0.1", port, BLOCK) != 0)
                return false;
            // Each block starts at a multiple of 256: the pattern from 0.
            for (size_t i = 0; i < TOTAL; i += BLOCK)
                for (uint32_t k = 0, put; k < BLOCK; k += put)
                    if (stream_psh_blk(&c, pat.data() + k, BLOCK - k, &put) != 0)
                        return false;
            bool ok = stream_fls(&c) == 0;
            stream_end(&c);
            return ok;
        });
        size_t got = 0;
        bool order = true;
        if (stream_pop(&srv, &con) == 0) {
            for (uint32_t k; stream_pop_blk(&con, blk.data(), BLOCK, &k) == 0; got += k)
                order &= memcmp(blk.data(), pat.data() + got % 256, k) == 0;
            stream_end(&con);
        }
        stream_end(&srv);
        if (!child_ok(pid) || got != TOTAL || !order)
            return state.SkipWithError("transfer");
    }
    per_byte(state, snd0, rcv0);
}
BENCHMARK(tcp_ours)->Unit(benchmark::kMillisecond)->UseRealTime();

void tcp_plain(benchmark::State &state)
{
    const double snd0 = cpu_s(RUSAGE_CHILDREN), rcv0 = cpu_s(RUSAGE_SELF);
    std::vector<uint8_t> buf(BLOCK);
    for (size_t i = 0; i < BLOCK; i++)
        buf[i] = static_cast<uint8_t>(i);
    for (auto _ : state) {
        int lsn = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a = {AF_INET, 0, {htonl(INADDR_LOOPBACK)}, {}};
        if (bind(lsn, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0 || listen(lsn, 1) != 0)
            return state.SkipWithError("server");
        a.sin_port = htons(port_of(lsn));
        pid_t pid = sender([&] {
            int c = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
            if (connect(c, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0)
                return false;
            for (size_t sent = 0; sent < TOTAL;) {
                ssize_t n = send(c, buf.data(), BLOCK, MSG_NOSIGNAL);
                if (n <= 0)
                    return false;
                sent += n;
            }
            close(c);
            return true;
        });
        int con = accept4(lsn, nullptr, nullptr, SOCK_CLOEXEC);
        size_t got = 0;
        for (ssize_t n; con >= 0 && (n = recv(con, buf.data(), BLOCK, 0)) > 0;)
            got += n;
        benchmark::DoNotOptimize(buf.data());
        close(con);
        close(lsn);
        if (!child_ok(pid) || got < TOTAL)
            return state.SkipWithError("transfer");
    }
    per_byte(state, snd0, rcv0);
}
BENCHMARK(tcp_plain)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

BENCHMARK_MAIN();
