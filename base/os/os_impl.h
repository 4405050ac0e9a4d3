// Operating-system endpoints: the records and helpers behind the public
// ones. Not part of the installed interface: included by the files of
// base/os and their tests only.
#pragma once

#include "base/os/os.h"

#include <cstdint>
#include <dirent.h>
#include <netdb.h>
#include <sys/socket.h>
#include <termios.h>

// ---------------------------------------------------------------------------
// Child process: the read-ahead behind st_prc::io
// ---------------------------------------------------------------------------

constexpr int32_t PRC_BUF_SIZ = 16384; // read buffer per output pipe

// Read-ahead of one output pipe: pops deliver one byte at a time from here.
struct st_prc_buf {
    int32_t pos;              // next byte to deliver
    int32_t len;              // bytes held
    uint8_t eof;              // the pipe's writers are gone and it is empty
    uint8_t dat[PRC_BUF_SIZ]; // the bytes read
};

enum : int {
    PRC_IO_ERR = 0,
    PRC_IO_OUT = 1
}; // st_prc_io::buf indexes

// Allocated by _prc_set with the record's pipes, freed by _prc_end.
struct st_prc_io {
    st_prc_buf buf[2]; // [PRC_IO_ERR] standard error, [PRC_IO_OUT] standard output
};

// ---------------------------------------------------------------------------
// Listings: the system's enumeration behind st_pthlst::dir
// ---------------------------------------------------------------------------

inline DIR *pthlst_dir(const st_pthlst *lst) noexcept
{
    return static_cast<DIR *>(lst->dir);
}

// ---------------------------------------------------------------------------
// Sockets and serial devices
// ---------------------------------------------------------------------------

// The addresses of host and port for sockets of type typ (SOCK_STREAM,
// SOCK_DGRAM) in resolution order, in *out (free it with freeaddrinfo). A
// host may be a name or an IPv4 or IPv6 literal; none is the any-address.
// 0; -1 for a port outside 0-65535 or an unknown host.
int32_t __sck_adr(const char *host, int32_t port, int typ, addrinfo **out) noexcept;

// A close-on-exec socket for the address ai; -1 on failure.
int __sck_opn(const addrinfo *ai) noexcept;

// Sends the *cnt bytes at dat to the socket's peer (dst none) or to dst,
// retrying partial sends and waiting while a non-blocking socket is full.
// 0 with *cnt = 0; -1 when a send fails, with the unsent bytes moved to the
// front of dat and counted in *cnt.
int32_t __sck_snd(int sck, uint8_t *dat, uint32_t *cnt, const sockaddr *dst,
                  socklen_t dst_len) noexcept;

// True when a call's result r is an interruption by a signal and no stop
// is requested, so the caller repeats the call.
bool __os_again(long r) noexcept;

// Makes *tio raw and applies baud (a standard rate) and the settings word.
// 0; -1 for a rate or a word the tty cannot express (parity 3, one and a
// half or 3 stop bits, data bits other than 6 or 8).
int32_t __dev_con_tio(termios *tio, uint32_t baud, uint32_t set) noexcept;
