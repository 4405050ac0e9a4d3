// Operating-system endpoints: child processes with pipes, TCP and UDP
// sockets, serial devices.
//
// The library is single-threaded by design; nothing here locks.
#pragma once

#include "base/diag/diag.h"
#include "base/container/container.h"
#include "base/stream/stream.h"

#include <cstdint>
#include <cstring>
#include <sys/socket.h>
#include <sys/types.h>

// ---------------------------------------------------------------------------
// Command lines
//
// A command line is one text: blanks and tabs separate arguments, double
// quotes group, 2n backslashes before a quote give n backslashes and the
// quote groups, 2n+1 give n backslashes and a literal quote, and other
// backslashes are literal. It is the inverse of the library's argument
// joining.
// ---------------------------------------------------------------------------

// Splits cmd into a null-terminated argument vector in one allocation (free
// it with _free(&argv)); *argc gets the count. -1 on allocation failure; an
// empty or blank command gives a count of 0.
int32_t cmdline_split(const char *cmd, char ***argv, int32_t *argc) noexcept;

// ---------------------------------------------------------------------------
// Stop requests from outside
// ---------------------------------------------------------------------------

// Makes SIGINT, SIGTERM and SIGHUP, and the other signals that would end
// the process by default (SIGUSR1, SIGUSR2, SIGALRM), request a stop
// instead of killing it, so the caller can end what it started first;
// blocking waits return early. A signal ignored at the call (nohup, a
// shell's trap '') stays ignored. 0, or -1 when a handler cannot be set.
int32_t os_stop_catch() noexcept;

// The signal that requested a stop, 0 while none has.
int os_stop_sig() noexcept;

// Requests a stop as if signal sig had arrived (0 withdraws the request).
void os_stop_set(int sig) noexcept;

// Sleeps ms milliseconds: 0, or -1 as soon as a stop is requested.
int32_t os_sleep_ms(uint32_t ms) noexcept;

// ---------------------------------------------------------------------------
// Child process
// ---------------------------------------------------------------------------

// Mode bits of st_prc::mode (the mode argument of _prc_set).
enum : int32_t {
    PRC_STDIN = 0x1,  // pipe the child's standard input
    PRC_STDOUT = 0x2, // pipe the child's standard output
    PRC_STDERR = 0x4, // pipe the child's standard error
    PRC_WAIT = 0x8,   // _prc_end waits for a running child without time limit
};

struct st_prc_io; // the read-ahead of the output pipes, the library's own

// A child process. Zero-fill, then _prc_set; end with _prc_end. A
// zero-filled or ended record is closed: its operations fail (_prc_end
// returns the exit code kept) and touch no descriptor.
struct st_prc {
    int par[3];         // parent ends: stdin write, stdout read, stderr read; -1 none
    pid_t pid;          // the child; 0 none
    int32_t mode;       // PRC_* bits
    int32_t code;       // exit code once reaped
    uint8_t reaped;     // the child has been waited for
    st_itfmng_rcd *rcd; // refills and waits of pops add their time here, or none
    uint64_t dln;       // tick_get() time from which pops fail instead of waiting; 0 none
    st_prc_io *io;      // read-ahead of the output pipes while started; none when closed
};

// Starts the child, as the leader of a process group of its own (a command
// that reads the terminal is then stopped by the system: give it another
// standard input). cmd is the command line; without cmd, app is used as
// the command line. With both, app names the program to run and cmd gives
// the arguments. Only the mode's pipes are created (close-on-exec); the
// other standard streams are the caller's own. The program is looked up
// through PATH without a shell. 0, or -1 when a pipe or the process cannot
// be created or the read-ahead cannot be allocated (nothing is left open
// then; errno tells why: ENOENT for a missing program or an empty command
// line, EACCES for one that may not be run, ENOMEM, ...).
int32_t _prc_set(st_prc *prc, const char *app, const char *cmd, int32_t mode) noexcept;

// One byte of the child's output, error output first. Waits in 10 ms steps
// (counted as "system"/"sleep") while the child runs without writing.
// 1 once every piped output has ended (all its writers, the child's own
// children too, have closed it) and the child has exited; -1 when the
// child's state cannot be read or the deadline dln has passed.
int32_t _prc_pop(st_prc *prc, uint8_t *out) noexcept;

// Up to max bytes of the child's output into out, in the order of single
// pops, refilling and waiting as _prc_pop does. 0 with *got >= 1 as soon as
// one byte is there; 1 or -1 with *got = 0 as _prc_pop; -1 for no out or
// got or max 0.
int32_t _prc_pop_blk(st_prc *prc, uint8_t *out, uint32_t max, uint32_t *got) noexcept;

// Writes one byte to the child's input: 0, or -1 unless exactly one byte
// was written (always -1 when the input is not piped).
int32_t _prc_psh(st_prc *prc, const uint8_t *in) noexcept;

// Flushes the child's input pipe: 0, or -1 when the input is not piped.
int32_t _prc_fls(st_prc *prc) noexcept;

// Ends the child: waits up to 100 ms for it to exit (PRC_WAIT: without
// limit; after a stop request: not at all); if it still runs, or anything
// is left of its process group after its exit, ends the whole group
// (SIGTERM, then SIGKILL after 100 ms) and reaps the child. Closes every
// pipe. Returns the exit code (0 for a child it had to end), not a status
// word. Safe to call twice.
int32_t _prc_end(st_prc *prc) noexcept;

// Numbered access information: stores the entry's description in *dsc when
// given, then runs it with (prc, a1, a2). -1 for numbers other than 0 and 1,
// else the entry's result.
//   0 "if pop data is exist then return 0, else other."
//   1 "return pipe handle to res.key 0:stdin 1:stdout 2:stderr"
int32_t _prc_acs_inf(st_prc *prc, int32_t num, intptr_t a1, intptr_t a2, const char **dsc) noexcept;

// 0 when error or output data is waiting (buffered or in a pipe), else -1.
int32_t _prc_acs_inf_chk_pop_exist(st_prc *prc, intptr_t a1, intptr_t a2) noexcept;

// Stores the parent's end of pipe key (0 stdin, 1 stdout, 2 stderr; -1
// when not piped) in *(int *)out. -1 for another key or no out.
int32_t _prc_acs_inf_get_handle(st_prc *prc, intptr_t key, intptr_t out) noexcept;

// ---------------------------------------------------------------------------
// Process stream
// ---------------------------------------------------------------------------

// Slots over an st_prc handle; end ends the child and frees the record.
extern const st_stream_fnc __stream_prc_fnc_lst;

// Starts cmd (mode: PRC_* bits) and sets stm up over it, one byte per unit,
// with a block slot, counted under "process" / the command's first word:
// one access of size 1 per byte; the access time is the time spent reading
// and waiting for the pipes (no clock reading per byte). Without stm the
// object is allocated and parked in the hand-off slot. 0, or -1 when the
// child cannot be started (nothing is left behind).
int32_t stream_prc_set(st_stream *stm, const char *cmd, int32_t mode) noexcept;

// ---------------------------------------------------------------------------
// File-system paths
//
// Paths are byte strings with "/" as the separator. Listings and walks give
// entries in the order the system delivers them; nothing sorts. Every
// operation returns the status word: 0, or -1 on failure (the system's
// error code is not kept).
// ---------------------------------------------------------------------------

enum : uint8_t {   /* st_pth_inf.flg */
    PTH_FIL = 0x1, // bit 0: a file (anything but a directory)
    PTH_DIR = 0x2, // bit 1: a directory
};

// What _chkpth found about the first entry matching a path.
struct st_pth_inf {
    uint32_t siz_lo; // size in bytes, low 32 bits (0 for a directory)
    uint32_t siz_hi; // size in bytes, high 32 bits
    uint8_t flg;     // PTH_* bits
};

inline uint64_t pth_inf_siz(const st_pth_inf *inf) noexcept
{
    return uint64_t{inf->siz_hi} << 32 | inf->siz_lo;
}

struct dirent;

enum : uint8_t {      /* st_pthlst.flg */
    PTHLST_STA = 0x1, // bit 0: started (the directory is open)
    PTHLST_END = 0x2, // bit 1: ended (closed again)
    PTHLST_DIR = 0x4, // bit 2: the current entry is a directory
};

// One directory being listed. A zero-filled record is a listing that has
// not been started; the record's fields stay valid until the next call.
struct st_pthlst {
    const char *name; // the current entry's name, inside ent
    uint32_t pfx;     // walker: length of the directory's path, "/" included
    uint8_t flg;      // PTHLST_* bits
    dirent *ent;      // the system's record of the current entry (<dirent.h>)
    void *dir;        // the open enumeration; none before the start and after the end
};

enum : uint8_t {         /* st_pthlst_all.flg */
    PTHALL_STA = 0x1,    // bit 0: started
    PTHALL_END = 0x2,    // bit 1: ended (over, failed or released)
    PTHALL_DIR = 0x4,    // bit 2: the entry in pth is a directory
    PTHALL_POST = 0x8,   // bit 3: report directories after their contents
    PTHALL_NODIR = 0x10, // bit 4: never report directories
    PTHALL_NOFIL = 0x20, // bit 5: never report files
};

struct st_pthlst_all;

// Walk filter: non-zero rejects the entry named by walk->pth (bit 2 of
// walk->flg tells a directory); a rejected directory is not entered.
using pthlst_flt_fn = int (*)(st_pthlst_all *walk, void *usr);

// A walk over a whole tree. Zero-fill it, set flt, usr and bits 3-5 of flg,
// then call _pthlst_all until it fails; always end with _pthlst_all_end.
struct st_pthlst_all {
    const char *pth;   // full path of the entry just reported, inside buf
    st_buf lvl;        // level stack: linked stack of st_pthlst, innermost on top
    st_buf buf;        // path buffer: growable byte array holding pth
    pthlst_flt_fn flt; // filter, or none
    void *usr;         // passed to flt
    uint8_t flg;       // PTHALL_* bits
};

// Directories and renaming. An unset or empty path is refused (-1) by
// these and by _pthrmv before anything is touched: only reading
// operations take "" for ".".
int32_t _chdir(const char *pth) noexcept;
int32_t _mkdir(const char *pth) noexcept; // one level, mode 0777 less the umask
int32_t _rmdir(const char *pth) noexcept; // the directory must be empty

// Renames old to nw; -1 when nw exists (it is never replaced), when the file
// system cannot promise that, or across file systems. Nothing changes then.
int32_t _rename(const char *old, const char *nw) noexcept;

// Probing. Wildcards ("*", "?", and the "[...]" classes beside them) take
// the first match in glob's order; a path without "*" or "?" is taken as
// written. Links are followed; a dangling link counts as a file.

// Fills *inf for the first entry matching pth; -1 when nothing matches
// (*inf unchanged).
int32_t _chkpth(const char *pth, st_pth_inf *inf) noexcept;
int32_t _chkfil(const char *pth) noexcept; // 0 when pth names a file, else -1
int32_t _chkdir(const char *pth) noexcept; // 0 when pth names a directory, else -1

// Listing one directory ("" lists "."). Symbolic links are never directories.

// The next entry of directory pth, "." and ".." included: 0 with lst->name
// and bit 2 set. -1 at the end of the listing and on any failure; the
// record is then ended, except when the directory could not be opened (it
// stays not started).
int32_t __pthlst(const char *pth, st_pthlst *lst) noexcept;

// As __pthlst, skipping the directories "." and "..".
int32_t _pthlst(const char *pth, st_pthlst *lst) noexcept;

// Closes an open listing and marks it ended; a record never started or
// already ended is left as it is. Returns 0.
int32_t _pthlst_end(st_pthlst *lst) noexcept;

// Walking a tree

// The next entry below root ("" is "."; the root itself is never reported):
// 0 with walk->pth naming it. -1 when the walk is over or failed (the walk
// is then ended). A directory that cannot be listed is left unentered.
// Symbolic links are reported as files and never followed; only the root
// may be one. Each open level holds a descriptor.
int32_t _pthlst_all(const char *root, st_pthlst_all *walk) noexcept;

// Closes every open level and releases the buffers; marks the walk ended.
int32_t _pthlst_all_end(st_pthlst_all *walk) noexcept;

// Removes everything below root and, when rmv_root is non-zero, root itself.
// A root that is a symbolic link (written without a final "/") is not
// entered: the link is removed with rmv_root, kept otherwise. Goes on after
// a failure; -1 when anything could not be removed (or root cannot be
// listed), else 0. An empty root is refused with -1, nothing removed.
int32_t _pthrmv(const char *root, int32_t rmv_root) noexcept;

// ---------------------------------------------------------------------------
// Sockets: start-up and addresses
//
// IPv4 and IPv6 over BSD sockets. Every socket is close-on-exec and sends
// never raise SIGPIPE. A blocking call interrupted by a signal is resumed
// unless a stop was requested (os_stop_sig), which fails it.
// ---------------------------------------------------------------------------

enum : uint8_t {       /* _sck_flg */
    SCK_STARTED = 0x1, // _sck_ini has run and _sck_end has not (nothing to start on Linux)
    SCK_HOOKED = 0x2,  // _sck_end is registered to run at exit
};
extern uint8_t _sck_flg; // SCK_* bits, process-wide

// The open mark of st_tcp_con, st_tcp_srv, st_udp_con and st_dev_con
// (field opn): only a successful set-up writes it and every end clears it.
// A record without it, zero-filled or holding stale contents, is closed:
// nothing in it is used, closed or freed.
constexpr uint32_t OS_REC_OPN = 0x4f50454e; // "OPEN"

constexpr uint32_t SCK_BUF_DEF = 256;        // area size taken for a buffer size of 0
constexpr uint32_t SCK_BUF_MAX = 0x7fffffff; // largest buffer size accepted

// Marks the sockets started; the first call also registers _sck_end with
// atexit. Once started, further calls do nothing. 0.
int32_t _sck_ini() noexcept;

// Clears SCK_STARTED; the next _sck_ini starts again (without a new hook).
void _sck_end() noexcept;

// ---------------------------------------------------------------------------
// TCP connection and server
// ---------------------------------------------------------------------------

// A connected TCP socket with a receive area and a send area. Zero-filled
// or ended it is closed; _tcp_con_set and _tcp_srv_pop open it, and leave
// it closed (cleared) when they fail.
struct st_tcp_con {
    int sck;              // the connected socket; -1 none
    sockaddr_storage pee; // peer address (filled by accept; zero for a client)
    socklen_t pee_len;    // length of pee (0 for a client)
    uint8_t *buf;         // receive area, then send area, siz bytes each; none when closed
    uint32_t siz;         // bytes per area
    int32_t rcv_cnt;      // bytes in the receive area from the last receive
    uint32_t rd_pos;      // next byte of the receive area to deliver
    uint32_t snd_cnt;     // bytes waiting in the send area
    uint8_t nbk;          // access operation 1 made the socket non-blocking
    st_itfmng_rcd *rcd;   // receives and sends add their time here, or none
    uint32_t opn;         // OS_REC_OPN while open
};

// A listening TCP socket. Zero-filled or ended it is closed.
struct st_tcp_srv {
    int sck;      // the listening socket; -1 none
    uint32_t siz; // buffer size of each accepted connection
    uint32_t opn; // OS_REC_OPN while listening
};

// Connects to host (a name or an address literal; required) and port, with
// the system's own connect time-out, trying the resolved addresses in order.
// siz bytes per area (SCK_BUF_DEF for 0). 0; -1 when nothing could be
// connected (con is left closed).
int32_t _tcp_con_set(st_tcp_con *con, const char *host, int32_t port, uint32_t siz) noexcept;

// Closes the socket and frees the areas; safe on a closed record. 0.
int32_t _tcp_con_end(st_tcp_con *con) noexcept;

// One received byte. Waits for data unless access operation 1 made the
// socket non-blocking. 1 when the peer has closed, on a receive error, or
// (non-blocking) when nothing is pending; -1 for a closed record.
int32_t _tcp_con_pop(st_tcp_con *con, uint8_t *out) noexcept;

// Up to max received bytes into out, *got of them: what the receive area
// holds, or when it is empty one receive (straight into out when max is at
// least the area size). 0 with *got >= 1; 1 (*got = 0) as _tcp_con_pop; -1
// for a closed record or max 0.
int32_t _tcp_con_pop_blk(st_tcp_con *con, uint8_t *out, uint32_t max, uint32_t *got) noexcept;

// Appends one byte to the send area, flushing a full area first. 0; -1 when
// that flush fails (the byte is not stored).
int32_t _tcp_con_psh(st_tcp_con *con, const uint8_t *in) noexcept;

// Appends the cnt bytes at in to the send area, *put of them, sending each
// full area before going on: the sends of cnt single pushes. 0 with *put =
// cnt; -1 when a send fails (the bytes after the first *put are not
// stored) or for a closed record.
int32_t _tcp_con_psh_blk(st_tcp_con *con, const uint8_t *in, uint32_t cnt, uint32_t *put) noexcept;

// Sends the whole send area. 0; -1 when a send fails, the unsent bytes kept.
int32_t _tcp_con_fls(st_tcp_con *con) noexcept;

// Numbered access information as _prc_acs_inf: entry 0 runs
// _tcp_con_acs_inf_chk_pop_exist, entry 1 _tcp_con_acs_inf_get_handle. The
// two description texts are the process table's, word for word.
int32_t _tcp_con_acs_inf(st_tcp_con *con, int32_t num, intptr_t a1, intptr_t a2,
                         const char **dsc) noexcept;

// 0 when undelivered bytes are in the receive area or the socket is
// readable (data, the peer's close or an error); -1 when nothing is pending.
int32_t _tcp_con_acs_inf_chk_pop_exist(st_tcp_con *con, intptr_t a1, intptr_t a2) noexcept;

// Stores the socket in *(int *)out for the caller to poll for input, and
// makes it non-blocking: a later pop with nothing pending gives 1. -1
// without out or for a closed record.
int32_t _tcp_con_acs_inf_get_handle(st_tcp_con *con, intptr_t a1, intptr_t out) noexcept;

// Binds to host (none: the any-address) and port and listens with the
// system's backlog; the address is reusable at once after a restart. siz is
// the buffer size of accepted connections (SCK_BUF_DEF for 0). 0; -1 when
// no address could be bound (srv is left closed, sck -1).
int32_t _tcp_srv_set(st_tcp_srv *srv, const char *host, int32_t port, uint32_t siz) noexcept;

// Accepts one connection into con (overwritten), with the peer's address.
// Waits for a client. 0; -1 for a closed server or when the accept or the
// allocation fails (con is left closed).
int32_t _tcp_srv_pop(st_tcp_srv *srv, st_tcp_con *con) noexcept;

// Closes the listening socket (once); safe on a closed record. 0.
int32_t _tcp_srv_end(st_tcp_srv *srv) noexcept;

// ---------------------------------------------------------------------------
// TCP streams
// ---------------------------------------------------------------------------

// Slots over an st_tcp_con handle (no rst); end closes it and frees it.
// The streams carry the block pop as well and time their own receives, so
// no clock is read per byte popped.
extern const st_stream_fnc __stream_tcp_con_fnc_lst;

// Slots over an st_tcp_srv handle: pop accepts a connection and sets the
// stream object at unit up over it; no psh; end closes and frees it.
extern const st_stream_fnc __stream_tcp_srv_fnc_lst;

// A connection stream to host and port (as _tcp_con_set), one byte per
// unit, counted under "tcp client" / "host:port". Without stm the object is
// parked in the hand-off slot. 0; -1 (or the allocator's status) when the
// connection fails, no stream set up.
int32_t stream_tcp_con_set(st_stream *stm, const char *host, int32_t port, uint32_t siz) noexcept;

// A server stream (as _tcp_srv_set), counted under "tcp server" /
// "host:port" ("*:port" without host). Each pop into an empty stream object
// accepts one connection and sets that object up as a connection stream
// counted under "tcp server-connection" with an empty access name.
int32_t stream_tcp_srv_set(st_stream *stm, const char *host, int32_t port, uint32_t siz) noexcept;

// ---------------------------------------------------------------------------
// UDP endpoint
// ---------------------------------------------------------------------------

// A bound datagram socket with a fixed destination. Zero-filled or ended
// it is closed.
struct st_udp_con {
    int sck;              // the datagram socket; -1 none
    sockaddr_storage loc; // the address bound (port 0: the one taken); then the last sender
    socklen_t loc_len;    // length of loc
    sockaddr_storage rem; // destination of every send
    socklen_t rem_len;    // length of rem
    uint8_t *buf;         // receive area, then send area, siz bytes each; none when closed
    uint32_t siz;         // bytes per area; a longer datagram is cut to siz
    int32_t rcv_cnt;      // bytes of the last datagram
    uint32_t rd_pos;      // next byte to deliver
    uint32_t snd_cnt;     // bytes waiting to be sent
    uint32_t opn;         // OS_REC_OPN while open
};

// Binds to local host (none: any) and port, and sends to remote host (none:
// any) and port, taking the first local address for which the remote host
// has an address of the same family. 0; -1 when that fails (logged with
// errno in the memory log; con is left closed).
int32_t _udp_con_set(st_udp_con *con, const char *lhost, int32_t lport, const char *rhost,
                     int32_t rport, uint32_t siz) noexcept;

// Closes the socket and frees the areas; safe on a closed record. 0.
int32_t _udp_con_end(st_udp_con *con) noexcept;

// One byte of the current datagram; the next datagram is received (waiting
// for it) only after the last byte of this one. 1 for an empty datagram or
// a receive error; -1 for a closed record.
int32_t _udp_con_pop(st_udp_con *con, uint8_t *out) noexcept;

// Appends one byte, sending a full area as one datagram first. 0; -1 when
// that send fails (the byte is not stored).
int32_t _udp_con_psh(st_udp_con *con, const uint8_t *in) noexcept;

// Sends the send area as one datagram. 0; -1 when the send fails, the bytes kept.
int32_t _udp_con_fls(st_udp_con *con) noexcept;

// ---------------------------------------------------------------------------
// Serial device
//
// A tty opened read-write without becoming the controlling terminal, made
// raw (no echo, no line editing, no character translation, each read waits
// for at least one byte), with speed and framing from the settings word.
// ---------------------------------------------------------------------------

enum : uint32_t {             /* st_dev_con::set, the settings word */
    DEV_DAT = 0x0000000f,     // half the data bits (3: 6 bits, 4: 8 bits); 0 means 8
    DEV_PAR = 0x00000030,     // parity field: 0 none
    DEV_PAR_ODD = 0x00000010, // odd parity, checked on input
    DEV_PAR_EVN = 0x00000020, // even parity, checked on input
    DEV_STP = 0x00000300,     // stop-bit field: 0 one
    DEV_STP_15 = 0x00000100,  // one and a half stop bits (refused: a tty cannot)
    DEV_STP_2 = 0x00000200,   // two stop bits
    DEV_OVL = 0x00010000,     // overlapped: access operation 1 hands out the port
};

// A serial port with a receive area and a send area. Zero-filled or ended
// it is closed.
struct st_dev_con {
    int prt;          // the opened port; -1 none
    uint8_t *buf;     // receive area, then send area, siz bytes each; none when closed
    uint32_t siz;     // bytes per area
    uint32_t rcv_cnt; // bytes in the receive area from the last read
    uint32_t rd_pos;  // next byte of the receive area to deliver
    uint32_t snd_cnt; // bytes waiting in the send area
    uint32_t set;     // the settings word (DEV_* bits)
    uint32_t opn;     // OS_REC_OPN while open
};

// Opens the tty named prt (as given), configures it and allocates siz bytes
// per area (SCK_BUF_DEF for 0). 0; -1 when it cannot be opened, is no tty
// or refuses the settings (nothing is left open, dev is closed).
int32_t _dev_con_set(st_dev_con *dev, const char *prt, uint32_t baud, uint32_t set,
                     uint32_t siz) noexcept;

// One byte: reads what the input queue holds (at least one byte, waiting
// for it; at most siz). 1 when the read gives nothing; -1 on a read error.
int32_t _dev_con_pop(st_dev_con *dev, uint8_t *out) noexcept;

// Appends one byte, writing a full area first. 0; -1 when that write fails.
int32_t _dev_con_psh(st_dev_con *dev, const uint8_t *in) noexcept;

// Writes the whole send area. 0; -1 on failure, the unwritten bytes kept.
int32_t _dev_con_fls(st_dev_con *dev) noexcept;

// Closes the port and frees the areas; safe on a closed record. 0.
int32_t _dev_con_end(st_dev_con *dev) noexcept;

// Numbered access information as _prc_acs_inf: entry 0 runs
// _dev_con_acs_inf_chk_pop_exist, entry 1 _dev_con_acs_inf_get_handle. The
// two description texts are the process table's, word for word.
int32_t _dev_con_acs_inf(st_dev_con *dev, int32_t num, intptr_t a1, intptr_t a2,
                         const char **dsc) noexcept;

// 0 when undelivered bytes are in the receive area or the input queue; else -1.
int32_t _dev_con_acs_inf_chk_pop_exist(st_dev_con *dev, intptr_t a1, intptr_t a2) noexcept;

// Overlapped mode only: stores the port in *(int *)out for the caller to
// poll for input. -1 without DEV_OVL or out.
int32_t _dev_con_acs_inf_get_handle(st_dev_con *dev, intptr_t a1, intptr_t out) noexcept;

// Slots over an st_dev_con handle (no rst); end closes it and frees it.
extern const st_stream_fnc __stream_dev_con_fnc_lst;

// A device stream (as _dev_con_set), one byte per unit, counted under
// "device connection" / the port name. Without stm the object is parked in
// the hand-off slot. 0; -1 (or the allocator's status), no stream set up.
int32_t stream_dev_con_set(st_stream *stm, const char *prt, uint32_t baud, uint32_t set,
                           uint32_t siz) noexcept;
