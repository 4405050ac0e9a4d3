// Command-line option tables: the record layout shared by the help printer
// and the argument parser, so that any program can describe its options once.
#pragma once

#include <cstdint>
#include <cstdio>

struct st_vmap;

// Flag bits of st_args::flg.
enum : uint8_t {
    ARGS_SWITCH = 0x01,   // presence alone defines the option (no value)
    ARGS_TAKES = 0x02,    // the value(s) are the following arguments
    ARGS_REQUIRED = 0x04, // must be defined, else parsing fails
    ARGS_MULTIPLE = 0x08, // may be given several times; every value is kept
    ARGS_DEFINED = 0x10,  // run-time mark: seen by the last parse
};

// One option record. Character fields hold the character in the low byte of
// a 32-bit word.
struct st_args {
    int32_t pre;     // prefix character ('/'); 0 for a positional entry
    const char *nam; // name typed after the prefix; none for a positional entry
    int32_t dlm;     // separator before an inline value ('='); 0 for none
    const char *key; // key in the options map; shown for a positional entry
    const char *dfl; // default value, or none
    const char *hlp; // help text, lines separated by "\n", or none
    uint8_t flg;     // ARGS_* bits
    int32_t nam_len; // length of nam, filled in by the parser
};

// Writes the help text for the first n records of def to fp: the program
// name, description, synopsis, one block per record and the example text
// (exm may be none). Reads no run-time field. Always returns 0.
int32_t help_args(FILE *fp, const char *prg, const char *dsc, const char *exm, const st_args *def,
                  int32_t n) noexcept;

// Parses argc arguments (the program name not included) against the first n
// records of def into map, under the key node par (none: top level): every
// option's value under its key, repeated values of a multiple option in the
// order given, switches without value, defaults for options not given.
// 0; -1 for an unknown option word when no positional record takes it, an
// option that needs an inline value and has none, a missing required
// record, or a failed map operation (whose status is kept).
int32_t vmap_args(st_vmap *map, void *par, int32_t argc, char **argv, st_args *def,
                  int32_t n) noexcept;
