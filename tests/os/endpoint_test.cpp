// Network and serial endpoints and streams: TCP and UDP over loopback with
// raw sockets as peers; serial devices over pseudo-terminal pairs, the test
// holding the master side and the device opening the slave side.
#include "base/os/os_impl.h"
#include "tests/stream/util.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <csignal>
#include <fcntl.h>
#include <fstream>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <string>
#include <termios.h>
#include <thread>
#include <unistd.h>

namespace
{

// Bounds every blocking call on fd to five seconds, so no test can hang.
int bound(int fd)
{
    timeval tv = {5, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
    return fd;
}

int port_of(int fd) // the port sits at the same place for IPv4 and IPv6
{
    sockaddr_storage a = {};
    socklen_t len = sizeof a;
    getsockname(fd, reinterpret_cast<sockaddr *>(&a), &len);
    return ntohs(reinterpret_cast<sockaddr_in *>(&a)->sin_port);
}

// A raw socket of type typ on 127.0.0.1: bound to a free port (port < 0,
// listening when lsn is set) or connected to port.
int raw(int typ, int port, bool lsn = false)
{
    int fd = bound(socket(AF_INET, typ | SOCK_CLOEXEC, 0));
    sockaddr_in a = {AF_INET, htons(port < 0 ? 0 : port), {htonl(INADDR_LOOPBACK)}, {}};
    auto *sa = reinterpret_cast<sockaddr *>(&a);
    EXPECT_EQ(port < 0 ? bind(fd, sa, sizeof a) : connect(fd, sa, sizeof a), 0);
    EXPECT_EQ(lsn ? listen(fd, 8) : 0, 0);
    return fd;
}

// Up to n bytes that arrive at fd, waiting up to ms for each read.
std::string take(int fd, size_t n, int ms = 5000)
{
    std::string s(n, '\0');
    size_t got = 0;
    pollfd p = {fd, POLLIN, 0};
    for (ssize_t r = 1; got < n && r > 0 && poll(&p, 1, ms) == 1; got += size_t(r))
        r = std::max<ssize_t>(read(fd, &s[got], n - got), 0);
    return s.substr(0, got);
}

// The lowest free descriptor: the same again when nothing was left open.
int free_fd()
{
    int fd = dup(0);
    close(fd);
    return fd;
}

// Waits (5 s at most) until thread tid sleeps in a blocking call.
void wait_asleep(pid_t tid)
{
    const std::string stat = "/proc/self/task/" + std::to_string(tid) + "/stat";
    std::string line; // the state follows the command name in parentheses
    for (int i = 0; i < 5000 && line.find(") S ") == std::string::npos; i++, usleep(1000))
        std::getline(std::ifstream(stat), line);
}

void push(st_stream *s, const std::string &d)
{
    for (char c : d)
        ASSERT_EQ(stream_psh(s, &c), 0);
}

// A TCP client stream sends a full area at once, moves megabytes both ways
// and counts blocks as single accesses, keeps unsent bytes when the peer
// resets, leaves nothing behind when it cannot connect, and takes names
// and IPv6 addresses.
TEST(Tcp, ClientAreasTransfersFailuresAndNames)
{
    int lsn = raw(SOCK_STREAM, -1, true), port = port_of(lsn);
    st_stream s;
    ASSERT_EQ(stream_tcp_con_set(&s, "127.0.0.1", port, 0), 0);
    auto *con = static_cast<st_tcp_con *>(s.hdl);
    bound(con->sck);
    EXPECT_EQ(stream_test::counted_as(&s), "tcp client/127.0.0.1:" + std::to_string(port));
    int peer = bound(accept(lsn, nullptr, nullptr));

    // The 257th byte sends the full area of 256 at once; the last one waits.
    std::string d(256, 'a');
    push(&s, d += 'z');
    EXPECT_EQ(take(peer, 256), d.substr(0, 256));
    EXPECT_EQ(recv(peer, &d[0], 1, MSG_DONTWAIT), -1);
    EXPECT_EQ(stream_fls(&s), 0);
    EXPECT_EQ(take(peer, 1), d.substr(256));

    // Megabytes both ways arrive byte-exact, pushed and popped one by one
    // and then in blocks; blocks are counted as the same single accesses.
    d.resize(3 << 20);
    for (size_t i = 0; i < d.size(); i++)
        d[i] = char(i * 2654435761u >> 13);
    std::string got;
    std::thread rd([&] { got = take(peer, d.size()); });
    const uint32_t h = d.size() / 3 + 7, rest = d.size() - h;
    push(&s, d.substr(0, h));
    uint64_t siz0 = s.itf_rec->siz, cnt0 = s.itf_rec->tim.cnt;
    uint32_t put;
    EXPECT_EQ(stream_psh_blk(&s, &d[h], rest, &put), 0);
    EXPECT_EQ(put, rest);
    EXPECT_EQ(s.itf_rec->siz - siz0, rest);
    EXPECT_EQ(s.itf_rec->tim.cnt - cnt0, rest);
    EXPECT_EQ(stream_fls(&s), 0);
    rd.join();
    EXPECT_TRUE(got == d);
    std::thread wr([&] { send(peer, d.data(), d.size(), MSG_NOSIGNAL); });
    siz0 = s.itf_rec->siz, cnt0 = s.itf_rec->tim.cnt;
    std::string back(d.size(), '\0');
    EXPECT_EQ(stream_pop(&s, &back[0]), 0); // leaves the rest of an area for the blocks
    for (uint32_t n = 1, k; n < d.size() && stream_pop_blk(&s, &back[n], d.size() - n, &k) == 0;)
        n += k;
    EXPECT_TRUE(back == d);
    EXPECT_EQ(s.itf_rec->siz - siz0, d.size());
    EXPECT_EQ(s.itf_rec->tim.cnt - cnt0, d.size());
    wr.join();

    // The peer resets the connection: a flush fails and keeps its bytes
    // (no SIGPIPE), and a pop reports the end.
    linger lg = {1, 0};
    setsockopt(peer, SOL_SOCKET, SO_LINGER, &lg, sizeof lg);
    close(peer);
    pollfd pf = {con->sck, POLLIN, 0};
    ASSERT_EQ(poll(&pf, 1, 5000), 1);
    push(&s, "xyz");
    EXPECT_EQ(stream_fls(&s), -1);
    uint8_t c;
    EXPECT_EQ(stream_pop(&s, &c), 1);
    // A block push that meets the failure keeps what fit and stops (the
    // three bytes stayed).
    EXPECT_EQ(stream_fls(&s), -1); // clears the stop
    EXPECT_EQ(stream_psh_blk(&s, d.data(), 300, &put), RTN_ERR1);
    EXPECT_EQ(put, 253u);
    EXPECT_EQ(stream_psh(&s, &c), -1);
    stream_end(&s);
    close(lsn);

    // Failures leave nothing behind.
    int idle = raw(SOCK_STREAM, -1), fd = free_fd(); // bound, not listening
    port = port_of(idle);
    s = {};
    EXPECT_EQ(stream_tcp_con_set(&s, "127.0.0.1", port, 0), -1);
    EXPECT_EQ(s.hdl, nullptr);
    EXPECT_EQ(stream_tcp_con_set(nullptr, "127.0.0.1", port, 0), -1);
    EXPECT_EQ(stkptr(nullptr, nullptr), nullptr);
    EXPECT_EQ(free_fd(), fd);
    close(idle);
    addrinfo *ai = nullptr; // ports 0-65535, the highest too
    EXPECT_TRUE(__sck_adr("::1", -1, SOCK_STREAM, &ai) &&
                __sck_adr("::1", 65536, SOCK_STREAM, &ai));
    ASSERT_EQ(__sck_adr("127.0.0.1", 65535, SOCK_STREAM, &ai), 0);
    EXPECT_EQ(ntohs(reinterpret_cast<sockaddr_in *>(ai->ai_addr)->sin_port), 65535);
    freeaddrinfo(ai);

    // A name, and an address that exists only as IPv6.
    st_tcp_srv srv;
    st_tcp_con cli, acc;
    for (const char *host : {"localhost", "::1"}) {
        ASSERT_EQ(_tcp_srv_set(&srv, host, 0, 0), 0) << host;
        EXPECT_EQ(_tcp_con_set(&cli, host, port_of(srv.sck), 16), 0) << host;
        EXPECT_EQ(_tcp_srv_pop(&srv, &acc), 0) << host;
        EXPECT_EQ(acc.pee.ss_family, host[0] == ':' ? AF_INET6 : AF_INET);
        for (st_tcp_con *c : {&cli, &acc})
            _tcp_con_end(c);
        _tcp_srv_end(&srv);
    }
}

// A signal that interrupts a connect does not fail it. The listener's
// queue is full, so the handshake waits for a retry after the signal.
TEST(Tcp, InterruptedConnectIsFinished)
{
    struct sigaction sa = {}, old;
    sa.sa_handler = [](int) {}; // no SA_RESTART: the connect returns EINTR
    ASSERT_EQ(sigaction(SIGUSR2, &sa, &old), 0);
    int lsn = raw(SOCK_STREAM, -1), port = port_of(lsn);
    ASSERT_EQ(listen(lsn, 0), 0);
    int full = raw(SOCK_STREAM, port);
    std::thread t([&, tid = gettid(), me = pthread_self()] {
        wait_asleep(tid);
        pthread_kill(me, SIGUSR2);
        close(accept(lsn, nullptr, nullptr)); // room for the retried handshake
    });
    alarm(30); // ends the program should the connect never complete
    st_tcp_con c = {};
    EXPECT_EQ(_tcp_con_set(&c, "127.0.0.1", port, 0), 0);
    alarm(0);
    t.join();
    _tcp_con_end(&c);
    close(full), close(lsn);
    sigaction(SIGUSR2, &old, nullptr);
}

// A server stream listens from its set-up and accepts one counted
// connection per pop; the access operations tell pending input and hand
// out the socket; a restarted server binds at once.
TEST(Tcp, ServerStreamAcceptsOneCountedConnectionPerPop)
{
    st_stream srv, a, b;
    ASSERT_EQ(stream_tcp_srv_set(&srv, "127.0.0.1", 0, 8), 0);
    int port = port_of(bound(static_cast<st_tcp_srv *>(srv.hdl)->sck));
    // The server listens from its set-up: both clients connect before a pop.
    int c1 = raw(SOCK_STREAM, port), c2 = raw(SOCK_STREAM, port);
    ASSERT_EQ(stream_pop(&srv, &a), 0);
    ASSERT_EQ(stream_pop(&srv, &b), 0);
    EXPECT_EQ(stream_test::counted_as(&a), "tcp server-connection/");
    auto *con = static_cast<st_tcp_con *>(a.hdl);
    EXPECT_EQ(con->siz, 8u);
    EXPECT_EQ(port_of(c1), ntohs(reinterpret_cast<sockaddr_in *>(&con->pee)->sin_port));
    bound(con->sck);

    // Access operation 0: nothing pending, a waiting byte, a buffered byte.
    EXPECT_EQ(stream_acs_inf(&a, 0, 0, 0, nullptr), -1);
    EXPECT_EQ(send(c1, "hi", 2, 0), 2);
    pollfd pf = {con->sck, POLLIN, 0};
    ASSERT_EQ(poll(&pf, 1, 5000), 1);
    EXPECT_EQ(stream_acs_inf(&a, 0, 0, 0, nullptr), 0);
    uint8_t c;
    EXPECT_EQ(stream_pop(&a, &c), 0);
    EXPECT_EQ(stream_acs_inf(&a, 0, 0, 0, nullptr), 0);
    EXPECT_EQ(stream_acs_inf(&a, 2, 0, 0, nullptr), -1);

    // Access operation 1 hands out the socket and makes pops non-blocking.
    int fd = -1;
    EXPECT_EQ(stream_acs_inf(&a, 1, 0, reinterpret_cast<intptr_t>(&fd), nullptr), 0);
    EXPECT_EQ(fd, con->sck);
    EXPECT_TRUE(fcntl(fd, F_GETFL) & O_NONBLOCK) << "for its holder, too";
    EXPECT_EQ(stream_pop(&a, &c), 0);
    EXPECT_EQ(c, 'i');
    EXPECT_EQ(stream_pop(&a, &c), 1); // nothing pending
    EXPECT_EQ(_tcp_con_acs_inf_get_handle(con, 0, 0), -1) << "no out";

    // A flush into the full non-blocking socket waits until the peer reads.
    int sz = 4096, bs = -1;
    ASSERT_EQ(stream_acs_inf(&b, 1, 0, reinterpret_cast<intptr_t>(&bs), nullptr), 0);
    setsockopt(bs, SOL_SOCKET, SO_SNDBUF, &sz, sizeof sz);
    std::string big(1 << 20, 'w'), got;
    std::thread rd([&, tid = gettid()] { wait_asleep(tid), got = take(c2, big.size()); });
    alarm(30); // ends the program should the flush never wake
    push(&b, big);
    EXPECT_EQ(stream_fls(&b), 0);
    alarm(0);
    rd.join();
    EXPECT_TRUE(got == big);

    // A restarted server binds at once although connections on its port
    // are still open.
    stream_end(&srv);
    ASSERT_EQ(stream_tcp_srv_set(&srv, nullptr, port, 0), 0);
    for (st_stream *s : {&srv, &a, &b})
        stream_end(s);
    close(c1);
    close(c2);
}

// Datagrams come out byte by byte, the next only after the last byte of
// this one; a full area goes out as one datagram; failed sends keep their
// bytes; a failed set-up is logged.
TEST(Udp, DatagramsByteByByteFromTheRecordedSender)
{
    int peer = raw(SOCK_DGRAM, -1);
    st_udp_con u;
    uint8_t c;
    ASSERT_EQ(_udp_con_set(&u, "127.0.0.1", 0, "127.0.0.1", port_of(peer), 4), 0);
    bound(u.sck);
    for (const char *dg : {"abc", "de"}) // to the bound address
        sendto(peer, dg, strlen(dg), 0, reinterpret_cast<sockaddr *>(&u.loc), u.loc_len);
    std::string got, peek(4, '\0');
    for (int i = 0; i < 5; i++, got += char(c)) { // "de" waits until "abc" is used up
        ASSERT_EQ(_udp_con_pop(&u, &c), 0);
        EXPECT_EQ(recv(u.sck, &peek[0], 4, MSG_PEEK | MSG_DONTWAIT), i < 3 ? 2 : -1) << i;
    }
    EXPECT_EQ(got, "abcde");
    EXPECT_EQ(port_of(peer), ntohs(reinterpret_cast<sockaddr_in *>(&u.loc)->sin_port));

    // Five pushes into a 4-byte area: one datagram of 4, then one of 1.
    for (c = 'v'; c <= 'z'; c++)
        ASSERT_EQ(_udp_con_psh(&u, &c), 0);
    EXPECT_EQ(_udp_con_fls(&u), 0);
    EXPECT_EQ(recv(peer, &peek[0], 4, 0), 4);
    EXPECT_EQ(recv(peer, &peek[0], 4, 0), 1);
    _udp_con_end(&u);
    close(peer);

    // A failed send is reported and keeps its bytes, also by a push into
    // the full area (which then stores nothing); families must match.
    ASSERT_EQ(_udp_con_set(&u, nullptr, 0, "127.0.0.1", 0, 1), 0);
    ASSERT_EQ(_udp_con_psh(&u, &c), 0);
    EXPECT_EQ(_udp_con_psh(&u, &c), -1);
    EXPECT_EQ(_udp_con_fls(&u), -1);
    EXPECT_EQ(u.snd_cnt, 1u);
    _udp_con_end(&u);
    uint32_t pos = __mem_log_mng.pos;
    EXPECT_EQ(_udp_con_set(&u, "::1", 0, "127.0.0.1", 9, 0), -1);
    EXPECT_NE(__mem_log_mng.pos, pos); // logged
}

// Records never set up: zero-filled ones hold descriptor 0, which is
// standard input and not theirs; stale ones hold garbage. Neither is
// closed or freed by an end, and a failed set-up leaves the record closed.
TEST(Endpoint, RecordsNeverSetUpHoldNothing)
{
    if (fcntl(0, F_GETFD) < 0) { // standard input is the descriptor at stake
        ASSERT_EQ(open("/dev/null", O_RDONLY), 0);
    }
    st_tcp_srv s;
    st_tcp_con c;
    st_udp_con u;
    st_dev_con d;
    st_prc p = {}; // its process group would be ours
    uint8_t b = 0;
    for (int fill : {0, 0x5a}) { // zero-filled, then stale
        memset(&s, fill, sizeof s), memset(&c, fill, sizeof c);
        memset(&u, fill, sizeof u), memset(&d, fill, sizeof d);
        EXPECT_EQ(_tcp_srv_end(&s) | _tcp_con_end(&c) | _udp_con_end(&u) | _dev_con_end(&d), 0);
        EXPECT_TRUE(_tcp_con_pop(&c, &b) && _udp_con_psh(&u, &b) && _dev_con_fls(&d)) << fill;
    }
    EXPECT_EQ(_prc_end(&p), 0);
    EXPECT_NE(fcntl(0, F_GETFD), -1) << "standard input stays open";
    // Yet descriptor 0 is one like any other.
    close(0);
    EXPECT_TRUE(_udp_con_set(&u, "127.0.0.1", 0, "127.0.0.1", 9, 0) == 0 && u.sck == 0);
    _udp_con_end(&u);
    __mem_fail_at(1); // the buffer: the socket already made on 0 is closed again
    EXPECT_EQ(_udp_con_set(&u, "127.0.0.1", 0, "127.0.0.1", 9, 0), -1);
    __mem_fail_at(0);
    ASSERT_EQ(open("/dev/null", O_RDONLY), 0);
    EXPECT_EQ(_tcp_srv_end(nullptr) | _tcp_con_end(nullptr) | _udp_con_end(nullptr) |
                  _dev_con_end(nullptr),
              0);
    ASSERT_EQ(_tcp_srv_set(&s, "127.0.0.1", 0, 0), 0);
    shutdown(s.sck, SHUT_RD); // accept fails at once
    EXPECT_TRUE(_tcp_srv_pop(&s, &c) && c.sck == -1 && !c.buf) << "a failed accept clears";
    _tcp_srv_end(&s);
    memset(&c, 0x5a, sizeof c), memset(&s, 0x5a, sizeof s);
    EXPECT_TRUE(_tcp_con_set(&c, nullptr, 80, 0) &&
                _tcp_srv_set(&s, nullptr, 0, SCK_BUF_MAX + 1u) &&
                _udp_con_set(&u, nullptr, 0, nullptr, 0, SCK_BUF_MAX + 1u) &&
                _dev_con_set(&d, nullptr, 9600, 0, 0));
    EXPECT_TRUE(c.sck == -1 && !c.buf && s.sck == -1 && u.sck == -1 && !u.buf && d.prt == -1 &&
                !d.buf)
        << "a failed set-up clears";
}

// A pseudo-terminal pair: the master descriptor and the slave's name. A
// test that blocks for half a minute ends the test program.
struct Pty {
    int m = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    std::string name = m >= 0 && grantpt(m) == 0 && unlockpt(m) == 0 ? ptsname(m) : "";
    Pty() { alarm(30); }
    ~Pty() { close(m), alarm(0); }
};

constexpr tcflag_t FRAME = CSIZE | PARENB | PARODD | CSTOPB;

// The settings word becomes the tty's framing and speed (refusing what a
// tty cannot do), and a device stream moves every byte value raw.
TEST(Serial, SettingsWordsThenAStreamOverAPseudoTerminal)
{
    termios t = {};
    ASSERT_EQ(__dev_con_tio(&t, 9600, 0), 0);
    EXPECT_EQ(t.c_cflag & FRAME, tcflag_t(CS8));
    EXPECT_EQ(cfgetospeed(&t), speed_t(B9600));
    ASSERT_EQ(__dev_con_tio(&t, 115200, DEV_PAR_EVN | DEV_STP_2), 0);
    EXPECT_EQ(t.c_cflag & FRAME, tcflag_t(CS8 | PARENB | CSTOPB));
    EXPECT_TRUE(t.c_iflag & INPCK);
    ASSERT_EQ(__dev_con_tio(&t, 1200, 3 | DEV_PAR_ODD), 0);
    EXPECT_EQ(t.c_cflag & FRAME, tcflag_t(CS6 | PARENB | PARODD));
    for (uint32_t set : {0x30u, 0x100u, 0x300u, 1u, 2u, 5u, 15u})
        EXPECT_EQ(__dev_con_tio(&t, 9600, set), -1) << set;
    EXPECT_EQ(__dev_con_tio(&t, 12345, 0), -1);

    // On a port: a pseudo-terminal keeps the stop bits, speed and input
    // checks but always reports 8 data bits without parity generation.
    Pty p;
    st_dev_con d;
    ASSERT_EQ(_dev_con_set(&d, p.name.c_str(), 19200, DEV_PAR_EVN | DEV_STP_2, 0), 0);
    EXPECT_EQ(d.siz, 256u);
    ASSERT_EQ(tcgetattr(d.prt, &t), 0);
    EXPECT_TRUE((t.c_cflag & CSTOPB) && (t.c_iflag & INPCK));
    EXPECT_EQ(cfgetispeed(&t), speed_t(B19200));
    EXPECT_EQ(fcntl(d.prt, F_GETFD), FD_CLOEXEC);
    _dev_con_end(&d);

    // Refusals leave nothing open: the next free descriptor stays the same.
    int fd = free_fd();
    EXPECT_EQ(_dev_con_set(&d, p.name.c_str(), 9600, DEV_STP_15, 0), -1);
    EXPECT_EQ(_dev_con_set(&d, "/dev/no-such-port", 9600, 0, 0), -1);
    st_stream s = {};
    EXPECT_EQ(stream_dev_con_set(&s, "/dev/null", 9600, 0, 0), -1); // opened, but no tty
    EXPECT_EQ(s.hdl, nullptr);
    EXPECT_EQ(free_fd(), fd);

    // The stream moves every byte value, waits, and hands out the port.
    ASSERT_EQ(stream_dev_con_set(&s, p.name.c_str(), 9600, 0, 4), 0);
    EXPECT_EQ(stream_test::counted_as(&s), "device connection/" + p.name);

    // Pushes into the full 4-byte area write all of it before the fifth,
    // which waits in the area.
    push(&s, "abcde");
    EXPECT_EQ(take(p.m, 4), "abcd");
    EXPECT_EQ(static_cast<st_dev_con *>(s.hdl)->snd_cnt, 1u);
    EXPECT_EQ(stream_fls(&s), 0);
    EXPECT_EQ(take(p.m, 1), "e");

    // All 256 values both ways: no translation, no echo.
    std::string all, got;
    for (int i = 0; i < 256; i++)
        all += char(i);
    push(&s, all);
    EXPECT_EQ(stream_fls(&s), 0);
    EXPECT_TRUE(take(p.m, 256) == all);
    ASSERT_EQ(write(p.m, all.data(), all.size()), 256);
    for (uint8_t c; got.size() < 256 && stream_pop(&s, &c) == 0;)
        got += char(c);
    EXPECT_TRUE(got == all);
    // No block push slot: one unit per call. An echo of what was read
    // would come before it.
    uint32_t put;
    EXPECT_EQ(stream_psh_blk(&s, "!?", 2, &put), 0);
    EXPECT_EQ(put, 1u);
    EXPECT_EQ(stream_fls(&s), 0);
    EXPECT_EQ(take(p.m, 1), "!");

    EXPECT_EQ(stream_acs_inf(&s, 0, 0, 0, nullptr), -1);
    fd = -1;
    EXPECT_EQ(stream_acs_inf(&s, 1, 0, reinterpret_cast<intptr_t>(&fd), nullptr), -1);
    EXPECT_EQ(stream_acs_inf(&s, 2, 0, 0, nullptr), -1);
    // A pop on an empty queue waits: the bytes are written once it sleeps.
    std::thread late([&, tid = gettid()] { wait_asleep(tid), (void)!write(p.m, "Zy", 2); });
    uint8_t c = 0;
    EXPECT_EQ(stream_pop(&s, &c), 0);
    EXPECT_EQ(c, 'Z');
    late.join();
    EXPECT_EQ(stream_acs_inf(&s, 0, 0, 0, nullptr), 0); // "y" waits
    EXPECT_EQ(stream_pop(&s, &c), 0);
    stream_end(&s);

    // Overlapped mode hands out the port for polling; pops still wait.
    ASSERT_EQ(stream_dev_con_set(&s, p.name.c_str(), 9600, DEV_OVL, 0), 0);
    EXPECT_EQ(stream_acs_inf(&s, 1, 0, reinterpret_cast<intptr_t>(&fd), nullptr), 0);
    ASSERT_EQ(write(p.m, "q", 1), 1);
    pollfd pf = {fd, POLLIN, 0};
    EXPECT_EQ(poll(&pf, 1, 5000), 1);
    EXPECT_EQ(stream_pop(&s, &c), 0);
    EXPECT_EQ(c, 'q');
    stream_end(&s);
}

} // namespace
