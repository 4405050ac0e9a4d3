// Socket start-up flags, address resolution, and the send loop shared by
// the TCP and UDP endpoints.
#include "base/os/os_impl.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <netdb.h>
#include <poll.h>

uint8_t _sck_flg;

int32_t _sck_ini() noexcept
{
    if (_sck_flg & SCK_STARTED)
        return rtn_ok();
    if (!(_sck_flg & SCK_HOOKED)) {
        if (atexit(_sck_end) != 0)
            return rtn_fail();
        _sck_flg |= SCK_HOOKED;
    }
    // Sockets need no start-up on Linux; the flag only records the state.
    _sck_flg |= SCK_STARTED;
    return rtn_ok();
}

void _sck_end() noexcept
{
    _sck_flg &= static_cast<uint8_t>(~SCK_STARTED);
}

bool __os_again(long r) noexcept
{
    return r < 0 && errno == EINTR && !os_stop_sig();
}

int32_t __sck_adr(const char *host, int32_t port, int typ, addrinfo **out) noexcept
{
    if (!out || port < 0 || port > 65535)
        return rtn_fail();
    char srv[8];
    snprintf(srv, sizeof srv, "%d", static_cast<int>(port));
    addrinfo hint = {};
    hint.ai_socktype = typ;
    hint.ai_flags = AI_NUMERICSERV | (host ? 0 : AI_PASSIVE);
    *out = nullptr;
    return getaddrinfo(host, srv, &hint, out) == 0 ? rtn_ok() : rtn_fail();
}

int __sck_opn(const addrinfo *ai) noexcept
{
    return socket(ai->ai_family, ai->ai_socktype | SOCK_CLOEXEC, ai->ai_protocol);
}

// Waits until the socket can take more data; false when the wait fails.
static bool wait_writable(int sck)
{
    pollfd p = {sck, POLLOUT, 0};
    int r;
    while ((r = poll(&p, 1, -1)) < 0 && __os_again(r)) {
    }
    return r > 0;
}

int32_t __sck_snd(int sck, uint8_t *dat, uint32_t *cnt, const sockaddr *dst,
                  socklen_t dst_len) noexcept
{
    uint32_t done = 0;
    while (done < *cnt) {
        ssize_t n = sendto(sck, dat + done, *cnt - done, MSG_NOSIGNAL, dst, dst_len);
        if (n >= 0)
            done += static_cast<uint32_t>(n);
        else if ((errno == EAGAIN || errno == EWOULDBLOCK) && wait_writable(sck))
            continue;
        else if (!__os_again(n))
            break;
    }
    if (done < *cnt) {
        memmove(dat, dat + done, *cnt - done);
        *cnt -= done;
        return rtn_fail();
    }
    *cnt = 0;
    return rtn_ok();
}
