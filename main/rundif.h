// rundif: runs a command line again and again and reports which output rows
// appeared, vanished or moved a watched numeric column into another band.
#pragma once

#include "main/args.h"

#include "base/container/container.h"
#include "base/stream/stream.h"

#include <cstdio>
#include <ctime>

// One fallible library call inside its own nesting level of the resource
// manager; on failure the keeping rule applies and the caller leaves.
#define TOOL_TRY(call)                                                                             \
    do {                                                                                           \
        rscmng_nst_in(nullptr);                                                                    \
        int32_t r_ = (call);                                                                       \
        if (r_ != 0)                                                                               \
            rtn_keep();                                                                            \
        rscmng_nst_out(nullptr);                                                                   \
        if (r_ != 0)                                                                               \
            return __rtn;                                                                          \
    } while (0)

constexpr int32_t ARGS_DEF_CNT = 9; // records in args_def
constexpr int32_t SET_LST_MAX = 64; // entries of each settings list

// The tool's option table (the parser fills its run-time fields).
extern st_args args_def[ARGS_DEF_CNT];

struct st_watch {
    int32_t col; // watched column
    int32_t scl; // band width, at least 1
};

struct st_exclude {
    int32_t col;     // column compared
    const char *txt; // text that excludes the row (points into the options map)
};

// Settings of one tool run, fixed before the first run: the GNU options fill
// them (long_opts_read), then the "/" parser's options map (settings_read).
struct st_settings {
    char *cmd;                   // command line run by every cycle (owned)
    int32_t key[SET_LST_MAX];    // key columns; none: the whole line is the key
    int32_t key_cnt;             // entries of key
    st_watch wtc[SET_LST_MAX];   // watched columns
    int32_t wtc_cnt;             // entries of wtc
    st_exclude exc[SET_LST_MAX]; // exclusions
    int32_t exc_cnt;             // entries of exc
    int32_t spn;                 // seconds to wait after each run, at least 1
    int32_t sep;                 // column separator as the console decodes it; 0: none
    uint8_t tim;                 // prefix report lines with the run's time
    FILE *con;                   // console channel, or none
    FILE *fil;                   // output file, or none
    const char *fil_path;        // output path (points into the options map), or none
    uint8_t fil_bad;             // the file's last open, write or close failed (told once)
    uint32_t cnt;                // runs to make; 0: no limit
    uint32_t tmo;                // seconds a command may run before it is ended; 0: no limit
    uint8_t eoc;                 // end after the first run past the first that reports a line
    uint8_t jsn;                 // report lines as JSON objects, one per line
    uint8_t clr;                 // colour the console's report lines by their mark
    uint8_t lost;                // a report line could not be written to the file
    const char *prog;            // the command's program, for messages (points into argv)
    FILE *src;                   // read this saved output instead of running the command, or none
    const char *state;           // file of the rows kept across restarts (in argv), or none
    uint8_t state_reset;         // start afresh from a state of other settings or a damaged one
    const char *cmp[2];          // saved outputs OLD and NEW to compare once (in argv), or none
    uint8_t nostats;             // no statistics and resource report at the end
};

// One row of the hash index over the row map.
struct st_row_slot {
    void *nod;    // the key node in the row map; none: the slot is free
    uint32_t hsh; // the low 32 bits of the key's hash
    uint32_t no;  // the number of the last run that saw the row
};

// The hash index over the row map (row_index.cpp): every key node once.
struct st_row_index {
    st_row_slot *slt; // cap slots
    size_t cap;       // a power of two, or 0 before the first row
    size_t cnt;       // slots in use
};

// The rows of the runs: one map keyed by the row key, whose values carry
// the number of the last run that saw the key and how many rows of it that
// run saw; the rows after the first of a key in a second map.
struct st_generations {
    st_vmap rows;      // row key -> last run, row count, watched values, line
    st_vmap dups;      // row key, 0x1F, k -> the key's k-th row (k >= 2)
    uint32_t run;      // runs completed
    uint64_t del;      // rows deleted since the map was last rebuilt (vmap_bal)
    uint64_t dup_del;  // the same for dups
    uint64_t dups_n;   // rows in dups
    uint32_t lines;    // report lines of the last run
    uint8_t chg;       // a run after the first has reported a line
    uint8_t tmo;       // the last run's command was ended by the time limit
    int err;           // errno of the read error that failed a saved output's run
    uint32_t run0;     // runs loaded from the state (--count counts the runs after them)
    uint8_t state_bad; // the last save of the state failed (told once)
    st_row_index idx;  // the rows' key nodes by the hash of their key
    uint8_t idx_ok;    // idx holds exactly the rows (else the next run rebuilds it)
};

// The datum of a row value in rows and dups, raw bytes read and written
// with memcpy:
//   offset 0                  uint32  number of the last run that saw the key
//   offset 4                  uint32  rows of the key that run saw; ROW_DUP
//   offset 8                  int128  the watched values, in watch order
//   offset 8 + 16 * watches   char    the line, terminated
// The first two words mean something only in the first row of a key. The
// key of the k-th row in dups is the row key, ROW_DUP_SEP, k in decimal.
constexpr size_t ROW_NO = 0, ROW_CNT = 4, ROW_WTC = 8, WTC_SIZ = sizeof(__int128);
constexpr uint32_t ROW_DUP = 0x80000000u; // the key may have rows in dups
constexpr char ROW_DUP_SEP = '\x1f';

// ---------------------------------------------------------------------------
// --state=FILE: the rows of the last completed run kept in a file across
// restarts, in the variant-map text format (block layout).
// ---------------------------------------------------------------------------

// Loads set->state into the empty generations when the file exists: the
// rows, their run number and gen->run0. A missing file starts afresh. 0;
// 2, told on standard error in one line, when the file cannot be read, or
// is damaged, truncated or of other settings and set->state_reset is not
// given (with it such a file starts afresh); -1 when memory runs out.
// Nothing of a refused state stays in the generations.
int32_t state_load(const st_settings *set, st_generations *gen) noexcept;

// Saves the rows of the run just completed to set->state atomically: a
// temporary file beside it, synced, renamed over it, the directory synced.
// A failure is told once (again when a save works) and noted in
// gen->state_bad; the file keeps the state saved before. 0 or -1.
int32_t state_save(const st_settings *set, st_generations *gen) noexcept;

// The arguments sorted out: the words for the "/" parser and the command.
struct st_cmd_line {
    char **opt;      // words for the "/" parser (owned vector; the words point into argv or made)
    int32_t opt_cnt; // entries of opt
    int32_t opt_cap; // room in opt
    char **cmd;      // the command's words (into argv)
    int32_t cmd_cnt; // entries of cmd
    void *made;      // the "/" words made from GNU forms (owned chain)
};

// Outcome of reading the long options.
enum : int32_t {
    LONG_RUN = 0,   // go on with the command line
    LONG_DONE = 1,  // --help or --version has been printed: exit 0
    LONG_USAGE = 2, // a usage error has been told on standard error: exit 2
    LONG_FAIL = 3,  // a "/" option or the command is wrong (told): exit 255
};

// Decimal value of a text: leading blanks, optional sign, digits; stops at
// the first other character; no digits gives 0. Saturates at the 32-bit range.
int32_t settings_dec(const char *s) noexcept;

// Reads the settings from a parsed options map (keys of args_def). 0; -1
// when a value cannot be read or a list would hold more than 64 entries
// (told on standard error, naming the option). A watch scale below 1 is
// told too, and counts as 1. Opens no file.
int32_t settings_read(st_vmap *opt, st_settings *set) noexcept;

// Opens the output path for writing (append: for appending) and registers
// it with the resource manager. A failed open leaves set->fil none; no error.
void settings_open_file(st_settings *set, bool append) noexcept;

// Opens path for reading; a directory is refused as EISDIR. None, with the
// reason in *err, when it cannot be read.
FILE *settings_open_read(const char *path, int *err) noexcept;

// Drops the output file from the resource manager and closes it.
void settings_close_file(st_settings *set) noexcept;

// Notes whether the output file took the last open, write or close (err:
// its errno when not): one line on standard error when the file starts to
// fail, one when it works again.
void settings_file_result(st_settings *set, bool ok, int err) noexcept;

// The hash of a row key of len bytes.
uint64_t row_hash(const char *key, size_t len) noexcept;

// The slot of the row of key (whose hash is hsh), or none.
st_row_slot *row_index_find(st_row_index *idx, const char *key, uint64_t hsh) noexcept;

// Indexes the key node nod of a key not yet indexed, seen by run no; the
// index grows as it fills. 0, or -1 when it cannot grow (nothing changed).
int32_t row_index_add(st_row_index *idx, void *nod, uint64_t hsh, uint32_t no) noexcept;

// Drops the key node nod from the index (nothing when it is not there).
void row_index_del(st_row_index *idx, void *nod) noexcept;

// Shrinks an index that holds rows for less than an eighth of its slots to
// a quarter full or less.
void row_index_fit(st_row_index *idx) noexcept;

// Indexes every key node of rows afresh. 0 or -1 (out of memory).
int32_t row_index_build(st_row_index *idx, st_vmap *rows) noexcept;
void row_index_end(st_row_index *idx) noexcept;

// Creates the row map, empty.
int32_t generations_set(st_generations *gen) noexcept;
void generations_end(st_generations *gen) noexcept;

// One run of the command: reads its output, reports "+", "*" and "-" lines
// stamped with now, and keeps the rows it saw. 0, or the failure that must
// end monitoring (the end of the command's output only ends the run).
int32_t monitor_run(st_settings *set, st_generations *gen, time_t now) noexcept;

// Runs the command until a failure, a stop request, the run limit or (with
// eoc) a change: run, close the file, sleep, reopen. Returns the status
// that ended it (0 for the limit or a change).
int32_t monitor_cycle(st_settings *set, st_generations *gen) noexcept;

// Reads the options that come before the command into set: the GNU forms
// (long options, short options alone or combined) and the "/" options.
// Hands the "/" parser, in cl->opt, the "/" words in the order given, a
// GNU form of a "/" option as its "/" word, then the command's words (or a
// stand-in after "--" or with --compare); cl->cmd holds the command. The
// command starts at the first word that is no option ("-" alone, or a "/"
// word naming a path that is no "/" option); "--" ends the options. Prints
// the help, the version or a failure itself. Returns a LONG_ outcome; on
// LONG_RUN the caller ends cl with long_opts_end.
int32_t long_opts_read(int argc, char **argv, st_cmd_line *cl, st_settings *set) noexcept;

// Frees what long_opts_read made for cl.
void long_opts_end(st_cmd_line *cl) noexcept;

// The English usage text of --help.
void long_opts_help(FILE *fp) noexcept;

// Writes one report line to fp as a JSON object, UTF-8, ending in a line
// feed, and flushes it. key (the row key) and txt are texts as the console
// decodes them; old and cur the watched values' raw bytes (signed 128-bit
// each) for a "*" line, else none. A value beyond 64 bits is written as its
// decimal text. A byte outside well-formed UTF-8 ends the sequence it breaks
// as one U+FFFD. Nothing is copied whole, so a line of any length costs a
// few kilobytes. True when fp took the whole line.
bool report_json(FILE *fp, const st_settings *set, uint32_t run, time_t now, int mark,
                 const char *key, const char *txt, const char *old, const char *cur) noexcept;

// Start-up, monitoring and shutdown for a command line that is not a help
// call, with the settings its options gave; returns the exit status.
int rundif_monitor(st_cmd_line *cl, st_settings *set);

// The whole program: help, start-up, monitoring, shutdown. Returns the
// process exit status: 0 after the help, 128 + signal after a stop from
// outside, else the status word's low 8 bits.
int rundif_main(int argc, char **argv);
