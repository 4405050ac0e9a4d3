// Operating-system endpoints: child processes with pipes.
//
// The library is single-threaded by design; nothing here locks.
#pragma once

#include "base/diag/diag.h"
#include "base/stream/stream.h"

#include <cstdint>
#include <cstring>
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

// Makes SIGINT, SIGTERM and SIGHUP request a stop instead of killing the
// process; blocking waits return early. 0, or -1 when a handler cannot be set.
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

constexpr int32_t PRC_BUF_SIZ = 16384; // read buffer per output pipe

// Read-ahead of one output pipe: pops deliver one byte at a time from here.
struct st_prc_buf {
    int32_t pos;              // next byte to deliver
    int32_t len;              // bytes held
    uint8_t eof;              // the pipe's writers are gone and it is empty
    uint8_t dat[PRC_BUF_SIZ]; // the bytes read
};

// A child process. Zero-fill, then _prc_set; end with _prc_end.
struct st_prc {
    int par[3];        // parent ends: stdin write, stdout read, stderr read; -1 none
    pid_t pid;         // the child; 0 none
    int32_t mode;      // PRC_* bits
    int32_t code;      // exit code once reaped
    uint8_t reaped;    // the child has been waited for
    uint8_t last_look; // the pipes were looked at once more after the exit
    st_prc_buf buf[2]; // read-ahead: [0] standard error, [1] standard output
};

// Starts the child. cmd is the command line; without cmd, app is used as
// the command line. With both, app names the program to run and cmd gives
// the arguments. Only the mode's pipes are created (close-on-exec); the
// other standard streams are the caller's own. The program is looked up
// through PATH without a shell. 0, or -1 when a pipe or the process cannot
// be created (nothing is left open then).
int32_t _prc_set(st_prc *prc, const char *app, const char *cmd, int32_t mode) noexcept;

// One byte of the child's output, error output first. Waits in 10 ms steps
// (counted as "system"/"sleep") while the child runs without writing.
// 1 once the child has exited and both pipes are empty; -1 when the
// child's state cannot be read.
int32_t _prc_pop(st_prc *prc, uint8_t *out) noexcept;

// Writes one byte to the child's input: 0, or -1 unless exactly one byte
// was written (always -1 when the input is not piped).
int32_t _prc_psh(st_prc *prc, const uint8_t *in) noexcept;

// Flushes the child's input pipe: 0, or -1 when the input is not piped.
int32_t _prc_fls(st_prc *prc) noexcept;

// Ends the child: waits up to 100 ms (PRC_WAIT: without limit), kills it if
// still running and reaps it, closes every pipe. Returns the exit code (0
// for a child it had to kill), not a status word. Safe to call twice.
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
// counted under "process" / the command's first word. Without stm the
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
#include "base/container/container.h"

#include <dirent.h>

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
    dirent *ent;      // the system's record of the current entry
    DIR *dir;         // the open enumeration; none before the start and after the end
};

enum : uint8_t {        /* st_pthlst_all.flg */
    PTHALL_STA = 0x1,   // bit 0: started
    PTHALL_END = 0x2,   // bit 1: ended (over, failed or released)
    PTHALL_DIR = 0x4,   // bit 2: the entry in pth is a directory
    PTHALL_POST = 0x8,  // bit 3: report directories after their contents
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

// Directories and renaming
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
// listed), else 0.
int32_t _pthrmv(const char *root, int32_t rmv_root) noexcept;
