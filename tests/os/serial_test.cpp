// Serial device endpoint and stream over pseudo-terminal pairs: the test
// holds the master side, the device opens the slave side.
#include "base/os/os.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <string>
#include <termios.h>
#include <thread>
#include <unistd.h>

namespace
{

// A pseudo-terminal pair: the master descriptor and the slave's name. A
// test that blocks for half a minute ends the test program.
struct Pty {
    int m = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    std::string name = m >= 0 && grantpt(m) == 0 && unlockpt(m) == 0 ? ptsname(m) : "";
    Pty() { alarm(30); }
    ~Pty() { close(m), alarm(0); }

    // Up to n bytes that arrive at the master, waiting up to ms for each read.
    std::string take(size_t n, int ms = 5000)
    {
        std::string s;
        pollfd p = {m, POLLIN, 0};
        char buf[512];
        for (ssize_t r = 1; s.size() < n && r > 0 && poll(&p, 1, ms) == 1; s.append(buf, r))
            r = std::max<ssize_t>(read(m, buf, std::min(sizeof buf, n - s.size())), 0);
        return s;
    }
};

constexpr tcflag_t FRAME = CSIZE | PARENB | PARODD | CSTOPB;

TEST(Serial, SettingsWordsBecomeRawTermiosOrAreRefused)
{
    termios t = {};
    ASSERT_EQ(__dev_con_tio(&t, 9600, 0), 0);
    EXPECT_EQ(t.c_cflag & FRAME, tcflag_t(CS8));
    EXPECT_EQ(t.c_lflag & (ECHO | ICANON | ISIG | IEXTEN), 0u); // the rest: round trip below
    EXPECT_EQ(t.c_cc[VMIN], 1);
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
    int fd = dup(0);
    close(fd);
    EXPECT_EQ(_dev_con_set(&d, p.name.c_str(), 9600, DEV_STP_15, 0), -1);
    EXPECT_EQ(_dev_con_set(&d, "/dev/no-such-port", 9600, 0, 0), -1);
    st_stream s = {};
    EXPECT_EQ(stream_dev_con_set(&s, "/dev/null", 9600, 0, 0), -1); // opened, but no tty
    EXPECT_EQ(s.hdl, nullptr);
    EXPECT_EQ(dup(0), fd);
    close(fd);
}

TEST(Serial, StreamMovesEveryByteValueWaitsAndHandsOutThePort)
{
    Pty p;
    st_stream s;
    ASSERT_EQ(stream_dev_con_set(&s, p.name.c_str(), 9600, 0, 4), 0);
    const char *nam = nullptr;
    itf_get_nam(s.itf_rec->itf, &nam);
    EXPECT_EQ(std::string(nam) + "/" + s.itf_rec->acs, "device connection/" + p.name);

    // Pushes into the full 4-byte area write all of it before the fifth.
    for (char c : std::string("abcde"))
        ASSERT_EQ(stream_psh(&s, &c), 0);
    EXPECT_EQ(p.take(4), "abcd");
    EXPECT_EQ(p.take(1, 100), "");
    EXPECT_EQ(stream_fls(&s), 0);
    EXPECT_EQ(p.take(1), "e");

    // All 256 values both ways: no translation, no echo.
    std::string all, got;
    for (int i = 0; i < 256; i++)
        all += char(i);
    for (char c : all)
        ASSERT_EQ(stream_psh(&s, &c), 0);
    EXPECT_EQ(stream_fls(&s), 0);
    EXPECT_TRUE(p.take(256) == all);
    ASSERT_EQ(write(p.m, all.data(), all.size()), 256);
    for (uint8_t c; got.size() < 256 && stream_pop(&s, &c) == 0;)
        got += char(c);
    EXPECT_TRUE(got == all);
    EXPECT_EQ(p.take(1, 100), "");

    const char *dsc = nullptr;
    EXPECT_EQ(stream_acs_inf(&s, 0, 0, 0, &dsc), -1);
    EXPECT_STREQ(dsc, "if pop data is exist then return 0, else other.");
    int fd = -1;
    EXPECT_EQ(stream_acs_inf(&s, 1, 0, reinterpret_cast<intptr_t>(&fd), nullptr), -1);
    EXPECT_EQ(stream_acs_inf(&s, 2, 0, 0, nullptr), -1);
    std::thread late([&] { usleep(50000), (void)!write(p.m, "Zy", 2); });
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
