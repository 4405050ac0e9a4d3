// TCP endpoints: a connection with a receive area and a send area, a
// listening server, and the streams over both.
#include "base/os/os_impl.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <unistd.h>

namespace
{

// Connects sck to ai, finishing a connect that a signal interrupted.
bool connect_to(int sck, const addrinfo *ai)
{
    if (connect(sck, ai->ai_addr, ai->ai_addrlen) == 0)
        return true;
    if (errno != EINTR || os_stop_sig())
        return false;
    pollfd p = {sck, POLLOUT, 0};
    int r;
    while ((r = poll(&p, 1, -1)) < 0 && __os_again(r)) {
    }
    int err = 0;
    socklen_t len = sizeof err;
    return r > 0 && getsockopt(sck, SOL_SOCKET, SO_ERROR, &err, &len) == 0 && err == 0;
}

// Binds a reusable socket for ai and listens; -1 on failure.
int listen_on(const addrinfo *ai)
{
    int sck = __sck_opn(ai);
    if (sck < 0)
        return -1;
    int on = 1;
    setsockopt(sck, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    if (bind(sck, ai->ai_addr, ai->ai_addrlen) == 0 && listen(sck, SOMAXCONN) == 0)
        return sck;
    close(sck);
    return -1;
}

void con_clear(st_tcp_con *con)
{
    *con = {};
    con->sck = -1;
}

// Only the mark tells an open record: a zero-filled one holds socket 0,
// which is a valid descriptor (standard input) and not the record's own.
bool con_is_open(const st_tcp_con *con)
{
    return con && con->opn == OS_REC_OPN;
}

bool srv_is_open(const st_tcp_srv *srv)
{
    return srv && srv->opn == OS_REC_OPN;
}

void srv_clear(st_tcp_srv *srv)
{
    *srv = {};
    srv->sck = -1;
}

// Gives con its socket and its two areas of siz bytes; the socket is
// closed when the areas cannot be allocated.
int32_t con_open(st_tcp_con *con, int sck, uint32_t siz)
{
    con->siz = siz ? siz : SCK_BUF_DEF;
    if (_malloc(&con->buf, 2 * static_cast<size_t>(con->siz)) != 0) {
        close(sck);
        con_clear(con);
        return rtn_keep();
    }
    con->sck = sck;
    con->opn = OS_REC_OPN;
    return rtn_ok();
}

} // namespace

int32_t _tcp_con_set(st_tcp_con *con, const char *host, int32_t port, uint32_t siz) noexcept
{
    if (!con)
        return rtn_fail();
    con_clear(con); // closed from here on, whatever it held
    if (!host || siz > SCK_BUF_MAX)
        return rtn_fail();
    addrinfo *lst;
    RTN_TRY(_sck_ini());
    RTN_TRY(__sck_adr(host, port, SOCK_STREAM, &lst));
    int sck = -1;
    for (addrinfo *ai = lst; ai && sck < 0; ai = ai->ai_next) {
        sck = __sck_opn(ai);
        if (sck >= 0 && !connect_to(sck, ai)) {
            close(sck);
            sck = -1;
        }
    }
    freeaddrinfo(lst);
    if (sck < 0)
        return rtn_fail();
    return con_open(con, sck, siz);
}

int32_t _tcp_con_end(st_tcp_con *con) noexcept
{
    if (con_is_open(con)) {
        close(con->sck);
        _free(&con->buf);
        con_clear(con);
    }
    return rtn_ok();
}

// One receive of up to len bytes into dst, timed into con->rcd: the count,
// or 0 when the peer has closed, the receive failed or nothing is pending.
static uint32_t con_recv(st_tcp_con *con, uint8_t *dst, uint32_t len)
{
    st_simple_timer t = {};
    if (con->rcd)
        simple_timer_start(&t);
    ssize_t n;
    while ((n = recv(con->sck, dst, len, 0)) < 0 && __os_again(n)) {
    }
    if (con->rcd)
        con->rcd->tim.tot += simple_timer_stop(&t);
    return n > 0 ? static_cast<uint32_t>(n) : 0;
}

int32_t _tcp_con_pop_blk(st_tcp_con *con, uint8_t *out, uint32_t max, uint32_t *got) noexcept
{
    if (got)
        *got = 0;
    if (!con_is_open(con) || !out || !max || !got)
        return rtn_fail();
    if (con->rd_pos >= static_cast<uint32_t>(con->rcv_cnt)) {
        con->rd_pos = 0;
        con->rcv_cnt = 0;
        // A request as large as the area skips it: the bytes go straight
        // to the caller.
        if (max >= con->siz)
            return (*got = con_recv(con, out, max)) ? rtn_ok() : rtn_none();
        con->rcv_cnt = static_cast<int32_t>(con_recv(con, con->buf, con->siz));
        if (!con->rcv_cnt)
            return rtn_none();
    }
    uint32_t n = static_cast<uint32_t>(con->rcv_cnt) - con->rd_pos;
    n = n < max ? n : max;
    memcpy(out, con->buf + con->rd_pos, n);
    con->rd_pos += n;
    *got = n;
    return rtn_ok();
}

int32_t _tcp_con_pop(st_tcp_con *con, uint8_t *out) noexcept
{
    if (con_is_open(con) && out && con->rd_pos < static_cast<uint32_t>(con->rcv_cnt)) {
        *out = con->buf[con->rd_pos++];
        return rtn_ok();
    }
    uint32_t got;
    return _tcp_con_pop_blk(con, out, 1, &got);
}

// Sends the full send area, timed into con->rcd: the stream times its own
// pushes, and only those that send take time.
static int32_t con_send_full(st_tcp_con *con)
{
    st_simple_timer t = {};
    if (con->rcd)
        simple_timer_start(&t);
    int32_t rc = _tcp_con_fls(con);
    if (con->rcd)
        con->rcd->tim.tot += simple_timer_stop(&t);
    return rc;
}

int32_t _tcp_con_psh_blk(st_tcp_con *con, const uint8_t *in, uint32_t cnt, uint32_t *put) noexcept
{
    if (put)
        *put = 0;
    if (!con_is_open(con) || !in || !put)
        return rtn_fail();
    while (*put < cnt) {
        if (con->snd_cnt >= con->siz)
            RTN_TRY(con_send_full(con));
        uint32_t n = std::min(cnt - *put, con->siz - con->snd_cnt);
        memcpy(con->buf + con->siz + con->snd_cnt, in + *put, n);
        con->snd_cnt += n;
        *put += n;
    }
    return rtn_ok();
}

int32_t _tcp_con_psh(st_tcp_con *con, const uint8_t *in) noexcept
{
    if (con_is_open(con) && in && con->snd_cnt < con->siz) {
        con->buf[con->siz + con->snd_cnt++] = *in;
        return rtn_ok();
    }
    uint32_t put; // a full area is sent first
    return _tcp_con_psh_blk(con, in, 1, &put);
}

int32_t _tcp_con_fls(st_tcp_con *con) noexcept
{
    if (!con_is_open(con))
        return rtn_fail();
    return __sck_snd(con->sck, con->buf + con->siz, &con->snd_cnt, nullptr, 0);
}

int32_t _tcp_con_acs_inf_chk_pop_exist(st_tcp_con *con, intptr_t, intptr_t) noexcept
{
    if (!con_is_open(con))
        return rtn_fail();
    if (con->rd_pos < static_cast<uint32_t>(con->rcv_cnt))
        return rtn_ok();
    pollfd p = {con->sck, POLLIN, 0};
    return poll(&p, 1, 0) != 0 ? rtn_ok() : rtn_fail(); // an error counts as ready
}

int32_t _tcp_con_acs_inf_get_handle(st_tcp_con *con, intptr_t, intptr_t out) noexcept
{
    if (!con_is_open(con) || !out)
        return rtn_fail();
    int fl = fcntl(con->sck, F_GETFL);
    if (fl < 0 || fcntl(con->sck, F_SETFL, fl | O_NONBLOCK) != 0)
        return rtn_fail();
    con->nbk = 1;
    memcpy(reinterpret_cast<void *>(out), &con->sck, sizeof con->sck);
    return rtn_ok();
}

int32_t _tcp_con_acs_inf(st_tcp_con *con, int32_t num, intptr_t a1, intptr_t a2,
                         const char **dsc) noexcept
{
    static const struct {
        const char *dsc;
        int32_t (*op)(st_tcp_con *, intptr_t, intptr_t) noexcept;
    } tab[] = {
        {"if pop data is exist then return 0, else other.", _tcp_con_acs_inf_chk_pop_exist},
        {"return pipe handle to res.key 0:stdin 1:stdout 2:stderr", _tcp_con_acs_inf_get_handle},
    };
    if (num < 0 || num > 1)
        return rtn_fail();
    if (dsc)
        *dsc = tab[num].dsc;
    if (tab[num].op(con, a1, a2) != 0)
        return rtn_keep();
    return rtn_ok();
}

int32_t _tcp_srv_set(st_tcp_srv *srv, const char *host, int32_t port, uint32_t siz) noexcept
{
    if (!srv)
        return rtn_fail();
    srv_clear(srv); // closed from here on, whatever it held
    if (siz > SCK_BUF_MAX)
        return rtn_fail();
    srv->siz = siz ? siz : SCK_BUF_DEF;
    addrinfo *lst;
    RTN_TRY(_sck_ini());
    RTN_TRY(__sck_adr(host, port, SOCK_STREAM, &lst));
    for (addrinfo *ai = lst; ai && srv->sck < 0; ai = ai->ai_next)
        srv->sck = listen_on(ai);
    freeaddrinfo(lst);
    if (srv->sck < 0)
        return rtn_fail();
    srv->opn = OS_REC_OPN;
    return rtn_ok();
}

int32_t _tcp_srv_pop(st_tcp_srv *srv, st_tcp_con *con) noexcept
{
    if (!con)
        return rtn_fail();
    con_clear(con);
    if (!srv_is_open(srv))
        return rtn_fail();
    con->pee_len = sizeof con->pee;
    int sck;
    while ((sck = accept4(srv->sck, reinterpret_cast<sockaddr *>(&con->pee), &con->pee_len,
                          SOCK_CLOEXEC)) < 0 &&
           __os_again(sck)) {
    }
    if (sck < 0) {
        con_clear(con);
        return rtn_fail();
    }
    return con_open(con, sck, srv->siz);
}

int32_t _tcp_srv_end(st_tcp_srv *srv) noexcept
{
    if (srv_is_open(srv)) {
        close(srv->sck);
        srv_clear(srv);
    }
    return rtn_ok();
}

// ---------------------------------------------------------------------------
// Streams
// ---------------------------------------------------------------------------

namespace
{

int32_t con_pop(void *hdl, void *unit)
{
    if (_tcp_con_pop(static_cast<st_tcp_con *>(hdl), static_cast<uint8_t *>(unit)) != 0)
        return rtn_keep();
    return 0;
}

int32_t con_pop_blk(void *hdl, void *units, uint32_t max, uint32_t *got)
{
    if (_tcp_con_pop_blk(static_cast<st_tcp_con *>(hdl), static_cast<uint8_t *>(units), max, got) !=
        0)
        return rtn_keep();
    return 0;
}

int32_t con_psh(void *hdl, const void *unit)
{
    if (_tcp_con_psh(static_cast<st_tcp_con *>(hdl), static_cast<const uint8_t *>(unit)) != 0)
        return rtn_keep();
    return 0;
}

int32_t con_psh_blk(void *hdl, const void *units, uint32_t cnt, uint32_t *put)
{
    if (_tcp_con_psh_blk(static_cast<st_tcp_con *>(hdl), static_cast<const uint8_t *>(units), cnt,
                         put) != 0)
        return rtn_keep();
    return 0;
}

int32_t con_end(void *hdl)
{
    st_tcp_con *con = static_cast<st_tcp_con *>(hdl);
    _tcp_con_end(con);
    _free(&con);
    return 0;
}

int32_t con_fls(void *hdl)
{
    if (_tcp_con_fls(static_cast<st_tcp_con *>(hdl)) != 0)
        return rtn_keep();
    return 0;
}

int32_t con_acs_inf(void *hdl, int32_t num, intptr_t a1, intptr_t a2, const char **dsc)
{
    if (_tcp_con_acs_inf(static_cast<st_tcp_con *>(hdl), num, a1, a2, dsc) != 0)
        return rtn_keep();
    return 0;
}

// The statistics record (interface itf, len bytes of acs), the interface
// id cached in *id; none when the interface table or the record fails.
st_itfmng_rcd *tcp_record(uint32_t *id, const char *itf, const char *acs, size_t len)
{
    if (!*id && itf_get_id(itf, id) != 0)
        return nullptr;
    st_itfmng_rcd *rcd = nullptr;
    return itfmng_get(*id, acs, len, &rcd) == 0 ? rcd : nullptr;
}

const st_stream_fnc_blk con_fnc_blk = {
    {con_pop, con_psh, con_end, nullptr, con_fls, con_acs_inf}, con_pop_blk, con_psh_blk};

// Sets stm up over the open connection con, or ends and frees con.
int32_t con_stream(st_stream *stm, st_tcp_con *con, st_itfmng_rcd *rcd)
{
    con->rcd = rcd;
    if (stream_set_blk(stm, con, &con_fnc_blk, rcd, STM_SLT) != 0) {
        rtn_keep();
        int32_t keep = __rtn;
        con_end(con);
        return __rtn = keep;
    }
    return rtn_ok();
}

// Accepts one connection and sets the stream object at unit up over it.
int32_t srv_pop(void *hdl, void *unit)
{
    static uint32_t itf_id;
    st_itfmng_rcd *rcd = tcp_record(&itf_id, "tcp server-connection", "", 0);
    st_tcp_con *con = nullptr;
    RTN_TRY(_malloc0(&con, sizeof *con));
    if (_tcp_srv_pop(static_cast<st_tcp_srv *>(hdl), con) != 0) {
        _free(&con);
        return rtn_keep();
    }
    return con_stream(static_cast<st_stream *>(unit), con, rcd);
}

int32_t srv_end(void *hdl)
{
    st_tcp_srv *srv = static_cast<st_tcp_srv *>(hdl);
    _tcp_srv_end(srv);
    _free(&srv);
    return 0;
}

} // namespace

const st_stream_fnc __stream_tcp_con_fnc_lst = {con_pop, con_psh, con_end,
                                                nullptr, con_fls, con_acs_inf};
const st_stream_fnc __stream_tcp_srv_fnc_lst = {srv_pop, nullptr, srv_end,
                                                nullptr, nullptr, nullptr};

int32_t stream_tcp_con_set(st_stream *stm, const char *host, int32_t port, uint32_t siz) noexcept
{
    if (!host)
        return rtn_fail();
    static uint32_t itf_id;
    char acs[ITF_ACS_SIZ];
    snprintf(acs, sizeof acs, "%s:%d", host, static_cast<int>(port));
    st_itfmng_rcd *rcd = tcp_record(&itf_id, "tcp client", acs, strlen(acs));
    st_tcp_con *con = nullptr;
    RTN_TRY(_malloc0(&con, sizeof *con));
    if (_tcp_con_set(con, host, port, siz) != 0) {
        _free(&con);
        return rtn_keep();
    }
    return con_stream(stm, con, rcd);
}

int32_t stream_tcp_srv_set(st_stream *stm, const char *host, int32_t port, uint32_t siz) noexcept
{
    static uint32_t itf_id;
    char acs[ITF_ACS_SIZ];
    snprintf(acs, sizeof acs, "%s:%d", host ? host : "*", static_cast<int>(port));
    st_itfmng_rcd *rcd = tcp_record(&itf_id, "tcp server", acs, strlen(acs));
    st_tcp_srv *srv = nullptr;
    RTN_TRY(_malloc0(&srv, sizeof *srv));
    if (_tcp_srv_set(srv, host, port, siz) != 0) {
        _free(&srv);
        return rtn_keep();
    }
    if (stream_set(stm, srv, &__stream_tcp_srv_fnc_lst, rcd) != 0) {
        rtn_keep();
        int32_t keep = __rtn;
        srv_end(srv);
        return __rtn = keep;
    }
    return rtn_ok();
}
