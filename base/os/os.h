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
