// The serial device endpoint: a raw tty with a receive area and a send
// area, and the device stream over it.
#include "base/os/os_impl.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace
{

// The termios code of a standard rate, or B0 when there is none.
speed_t speed_of(uint32_t baud)
{
    static const struct {
        uint32_t baud;
        speed_t spd;
    } tab[] = {
        {50, B50},           {75, B75},           {110, B110},         {134, B134},
        {150, B150},         {200, B200},         {300, B300},         {600, B600},
        {1200, B1200},       {1800, B1800},       {2400, B2400},       {4800, B4800},
        {9600, B9600},       {19200, B19200},     {38400, B38400},     {57600, B57600},
        {115200, B115200},   {230400, B230400},   {460800, B460800},   {500000, B500000},
        {576000, B576000},   {921600, B921600},   {1000000, B1000000}, {1152000, B1152000},
        {1500000, B1500000}, {2000000, B2000000}, {2500000, B2500000}, {3000000, B3000000},
        {3500000, B3500000}, {4000000, B4000000},
    };
    for (const auto &e : tab)
        if (e.baud == baud)
            return e.spd;
    return B0;
}

// The character size for the data-bit field: 8 for 0, else twice the
// value; only 6 and 8 come out of that rule and fit a tty. 0 when refused.
tcflag_t size_of(uint32_t set)
{
    switch (set & DEV_DAT) {
    case 0:
    case 4:
        return CS8;
    case 3:
        return CS6;
    default:
        return 0;
    }
}

void dev_clear(st_dev_con *dev)
{
    *dev = {};
    dev->prt = -1;
}

// Only the mark tells an open record: a zero-filled one holds port 0.
bool dev_is_open(const st_dev_con *dev)
{
    return dev && dev->opn == OS_REC_OPN;
}

// Bytes waiting in the port's input queue; -1 when it cannot be asked.
int queued(const st_dev_con *dev)
{
    int n = 0;
    return ioctl(dev->prt, FIONREAD, &n) == 0 ? n : -1;
}

} // namespace

int32_t __dev_con_tio(termios *tio, uint32_t baud, uint32_t set) noexcept
{
    speed_t spd = speed_of(baud);
    tcflag_t csz = size_of(set);
    uint32_t par = set & DEV_PAR, stp = set & DEV_STP;
    if (!tio || spd == B0 || !csz || par == DEV_PAR || (stp != 0 && stp != DEV_STP_2))
        return rtn_fail();
    cfmakeraw(tio);
    tio->c_cc[VMIN] = 1; // each read waits for at least one byte
    tio->c_cc[VTIME] = 0;
    tio->c_cflag &= ~(CSIZE | PARENB | PARODD | CSTOPB);
    tio->c_cflag |= csz | CREAD | CLOCAL;
    tio->c_iflag &= ~INPCK;
    if (par) {
        tio->c_cflag |= PARENB | (par == DEV_PAR_ODD ? PARODD : 0);
        tio->c_iflag |= INPCK;
    }
    if (stp == DEV_STP_2)
        tio->c_cflag |= CSTOPB;
    if (cfsetispeed(tio, spd) != 0 || cfsetospeed(tio, spd) != 0)
        return rtn_fail();
    return rtn_ok();
}

int32_t _dev_con_set(st_dev_con *dev, const char *prt, uint32_t baud, uint32_t set,
                     uint32_t siz) noexcept
{
    if (!dev)
        return rtn_fail();
    dev_clear(dev); // closed from here on, whatever it held
    if (!prt || siz > SCK_BUF_MAX)
        return rtn_fail();
    termios tio = {};
    if (__dev_con_tio(&tio, baud, set) != 0) // refused before anything is opened
        return rtn_fail();
    int fd = open(prt, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return rtn_fail();
    // Everything but the settings stays as the port had it.
    if (tcgetattr(fd, &tio) != 0 || __dev_con_tio(&tio, baud, set) != 0 ||
        tcsetattr(fd, TCSANOW, &tio) != 0) {
        close(fd);
        return rtn_fail();
    }
    dev->siz = siz ? siz : SCK_BUF_DEF;
    if (_malloc(&dev->buf, 2 * static_cast<size_t>(dev->siz)) != 0) {
        close(fd);
        dev_clear(dev);
        return rtn_keep();
    }
    dev->prt = fd;
    dev->set = set;
    dev->opn = OS_REC_OPN;
    return rtn_ok();
}

int32_t _dev_con_end(st_dev_con *dev) noexcept
{
    if (dev_is_open(dev)) {
        close(dev->prt);
        _free(&dev->buf);
        dev_clear(dev);
    }
    return rtn_ok();
}

int32_t _dev_con_pop(st_dev_con *dev, uint8_t *out) noexcept
{
    if (!dev_is_open(dev) || !out)
        return rtn_fail();
    if (dev->rd_pos >= dev->rcv_cnt) {
        int n = queued(dev);
        if (n < 0)
            return rtn_fail();
        size_t want = n < 1 ? 1 : static_cast<size_t>(n) < dev->siz ? n : dev->siz;
        ssize_t got;
        while ((got = read(dev->prt, dev->buf, want)) < 0 && __os_again(got)) {
        }
        if (got < 0)
            return rtn_fail();
        dev->rd_pos = 0;
        dev->rcv_cnt = static_cast<uint32_t>(got);
        if (got == 0)
            return rtn_none();
    }
    *out = dev->buf[dev->rd_pos++];
    return rtn_ok();
}

int32_t _dev_con_psh(st_dev_con *dev, const uint8_t *in) noexcept
{
    if (!dev_is_open(dev) || !in)
        return rtn_fail();
    if (dev->snd_cnt >= dev->siz)
        RTN_TRY(_dev_con_fls(dev));
    dev->buf[dev->siz + dev->snd_cnt++] = *in;
    return rtn_ok();
}

int32_t _dev_con_fls(st_dev_con *dev) noexcept
{
    if (!dev_is_open(dev))
        return rtn_fail();
    uint8_t *dat = dev->buf + dev->siz;
    uint32_t done = 0;
    while (done < dev->snd_cnt) {
        ssize_t n = write(dev->prt, dat + done, dev->snd_cnt - done);
        if (n >= 0)
            done += static_cast<uint32_t>(n);
        else if (!__os_again(n))
            break;
    }
    memmove(dat, dat + done, dev->snd_cnt - done);
    dev->snd_cnt -= done;
    return dev->snd_cnt == 0 ? rtn_ok() : rtn_fail();
}

int32_t _dev_con_acs_inf_chk_pop_exist(st_dev_con *dev, intptr_t, intptr_t) noexcept
{
    if (!dev_is_open(dev))
        return rtn_fail();
    return dev->rd_pos < dev->rcv_cnt || queued(dev) > 0 ? rtn_ok() : rtn_fail();
}

int32_t _dev_con_acs_inf_get_handle(st_dev_con *dev, intptr_t, intptr_t out) noexcept
{
    if (!dev_is_open(dev) || !(dev->set & DEV_OVL) || !out)
        return rtn_fail();
    memcpy(reinterpret_cast<void *>(out), &dev->prt, sizeof dev->prt);
    return rtn_ok();
}

int32_t _dev_con_acs_inf(st_dev_con *dev, int32_t num, intptr_t a1, intptr_t a2,
                         const char **dsc) noexcept
{
    static const struct {
        const char *dsc;
        int32_t (*op)(st_dev_con *, intptr_t, intptr_t) noexcept;
    } tab[] = {
        {"if pop data is exist then return 0, else other.", _dev_con_acs_inf_chk_pop_exist},
        {"return pipe handle to res.key 0:stdin 1:stdout 2:stderr", _dev_con_acs_inf_get_handle},
    };
    if (num < 0 || num > 1)
        return rtn_fail();
    if (dsc)
        *dsc = tab[num].dsc;
    if (tab[num].op(dev, a1, a2) != 0)
        return rtn_keep();
    return rtn_ok();
}

// ---------------------------------------------------------------------------
// Device stream
// ---------------------------------------------------------------------------

namespace
{

int32_t dev_pop(void *hdl, void *unit)
{
    if (_dev_con_pop(static_cast<st_dev_con *>(hdl), static_cast<uint8_t *>(unit)) != 0)
        return rtn_keep();
    return 0;
}

int32_t dev_psh(void *hdl, const void *unit)
{
    if (_dev_con_psh(static_cast<st_dev_con *>(hdl), static_cast<const uint8_t *>(unit)) != 0)
        return rtn_keep();
    return 0;
}

int32_t dev_end(void *hdl)
{
    st_dev_con *dev = static_cast<st_dev_con *>(hdl);
    _dev_con_end(dev);
    _free(&dev);
    return 0;
}

int32_t dev_fls(void *hdl)
{
    if (_dev_con_fls(static_cast<st_dev_con *>(hdl)) != 0)
        return rtn_keep();
    return 0;
}

int32_t dev_acs_inf(void *hdl, int32_t num, intptr_t a1, intptr_t a2, const char **dsc)
{
    if (_dev_con_acs_inf(static_cast<st_dev_con *>(hdl), num, a1, a2, dsc) != 0)
        return rtn_keep();
    return 0;
}

// The statistics record "device connection" / the port name, or none.
st_itfmng_rcd *dev_record(const char *prt)
{
    static uint32_t itf_id;
    if (!itf_id && itf_get_id("device connection", &itf_id) != 0)
        return nullptr;
    char acs[ITF_ACS_SIZ];
    snprintf(acs, sizeof acs, "%s", prt);
    st_itfmng_rcd *rcd = nullptr;
    return itfmng_get(itf_id, acs, strlen(acs), &rcd) == 0 ? rcd : nullptr;
}

} // namespace

const st_stream_fnc __stream_dev_con_fnc_lst = {dev_pop, dev_psh, dev_end,
                                                nullptr, dev_fls, dev_acs_inf};

int32_t stream_dev_con_set(st_stream *stm, const char *prt, uint32_t baud, uint32_t set,
                           uint32_t siz) noexcept
{
    if (!prt)
        return rtn_fail();
    st_itfmng_rcd *rcd = dev_record(prt);
    st_dev_con *dev = nullptr;
    RTN_TRY(_malloc0(&dev, sizeof *dev));
    if (_dev_con_set(dev, prt, baud, set, siz) != 0) {
        _free(&dev);
        return rtn_keep();
    }
    if (stream_set(stm, dev, &__stream_dev_con_fnc_lst, rcd) != 0) {
        rtn_keep();
        int32_t keep = __rtn;
        dev_end(dev);
        return __rtn = keep;
    }
    return rtn_ok();
}
