// The UDP endpoint: a bound datagram socket that delivers datagrams byte
// by byte and sends its send area as one datagram to a fixed destination.
#include "base/os/os_impl.h"

#include <cerrno>
#include <netdb.h>
#include <unistd.h>

namespace
{

void udp_clear(st_udp_con *con)
{
    *con = {};
    con->sck = -1;
}

// Only the mark tells an open record: a zero-filled one holds socket 0.
bool udp_is_open(const st_udp_con *con)
{
    return con && con->opn == OS_REC_OPN;
}

// The first address of lst in family fam, or none.
const addrinfo *same_family(const addrinfo *lst, int fam)
{
    while (lst && lst->ai_family != fam)
        lst = lst->ai_next;
    return lst;
}

// Binds a socket to the first local address that has a remote address of
// its family, and records both; -1 (errno set) when none can be bound.
int bind_pair(st_udp_con *con, const addrinfo *loc, const addrinfo *rem)
{
    errno = EAFNOSUPPORT;
    for (; loc; loc = loc->ai_next) {
        const addrinfo *dst = same_family(rem, loc->ai_family);
        int sck = dst ? __sck_opn(loc) : -1;
        if (sck < 0)
            continue;
        con->loc_len = sizeof con->loc; // the address bound, with the port taken
        if (bind(sck, loc->ai_addr, loc->ai_addrlen) == 0 &&
            getsockname(sck, reinterpret_cast<sockaddr *>(&con->loc), &con->loc_len) == 0) {
            memcpy(&con->rem, dst->ai_addr, dst->ai_addrlen);
            con->rem_len = dst->ai_addrlen;
            return sck;
        }
        int err = errno;
        close(sck);
        errno = err;
    }
    return -1;
}

// Logs a failed set-up: the status and errno, the latter in hexadecimal.
void udp_log(int err, int lin)
{
    static int32_t id;
    unsigned char dat[16] = {};
    const char *nam = "errno";
    memcpy(dat, &nam, sizeof nam);
    memcpy(dat + 8, &err, sizeof err);
    mem_log_psh(&id, __rtn, __FILE__, lin, dat, sizeof dat, __test_mem_log_prt_hex);
}

} // namespace

int32_t _udp_con_set(st_udp_con *con, const char *lhost, int32_t lport, const char *rhost,
                     int32_t rport, uint32_t siz) noexcept
{
    if (!con)
        return rtn_fail();
    udp_clear(con); // closed from here on, whatever it held
    if (siz > SCK_BUF_MAX)
        return rtn_fail();
    addrinfo *loc = nullptr, *rem = nullptr;
    int err = EINVAL;
    if (_sck_ini() != 0 || __sck_adr(lhost, lport, SOCK_DGRAM, &loc) != 0 ||
        __sck_adr(rhost, rport, SOCK_DGRAM, &rem) != 0) {
        rtn_keep();
    } else if ((con->sck = bind_pair(con, loc, rem)) < 0) {
        err = errno;
        rtn_fail();
    } else {
        con->siz = siz ? siz : SCK_BUF_DEF;
        if (_malloc(&con->buf, 2 * static_cast<size_t>(con->siz)) == 0)
            rtn_ok();
        err = ENOMEM;
    }
    if (loc)
        freeaddrinfo(loc);
    if (rem)
        freeaddrinfo(rem);
    if (__rtn == 0) {
        con->opn = OS_REC_OPN;
        return __rtn;
    }
    udp_log(err, __LINE__);
    if (con->sck >= 0)
        close(con->sck);
    _free(&con->buf);
    udp_clear(con);
    return rtn_keep();
}

int32_t _udp_con_end(st_udp_con *con) noexcept
{
    if (udp_is_open(con)) {
        close(con->sck);
        _free(&con->buf);
        udp_clear(con);
    }
    return rtn_ok();
}

int32_t _udp_con_pop(st_udp_con *con, uint8_t *out) noexcept
{
    if (!udp_is_open(con) || !out)
        return rtn_fail();
    if (con->rd_pos >= static_cast<uint32_t>(con->rcv_cnt)) {
        ssize_t n;
        do {
            con->loc_len = sizeof con->loc;
            n = recvfrom(con->sck, con->buf, con->siz, 0, reinterpret_cast<sockaddr *>(&con->loc),
                         &con->loc_len);
        } while (n < 0 && __os_again(n));
        con->rd_pos = 0;
        con->rcv_cnt = n > 0 ? static_cast<int32_t>(n) : 0;
        if (n <= 0)
            return rtn_none();
    }
    *out = con->buf[con->rd_pos++];
    return rtn_ok();
}

int32_t _udp_con_psh(st_udp_con *con, const uint8_t *in) noexcept
{
    if (!udp_is_open(con) || !in)
        return rtn_fail();
    if (con->snd_cnt >= con->siz)
        RTN_TRY(_udp_con_fls(con));
    con->buf[con->siz + con->snd_cnt++] = *in;
    return rtn_ok();
}

int32_t _udp_con_fls(st_udp_con *con) noexcept
{
    if (!udp_is_open(con))
        return rtn_fail();
    return __sck_snd(con->sck, con->buf + con->siz, &con->snd_cnt,
                     reinterpret_cast<const sockaddr *>(&con->rem), con->rem_len);
}
