// rundif: runs a command line again and again and reports which output rows
// appeared, vanished or moved a watched numeric column into another band.
#pragma once

#include "main/args.h"

constexpr int32_t ARGS_DEF_CNT = 9; // records in args_def

// The tool's option table (the parser fills its run-time fields).
extern st_args args_def[ARGS_DEF_CNT];

// The whole program: help, start-up, monitoring, shutdown. Returns the
// process exit status: 0 after the help, else the status word's low 8 bits.
int rundif_main(int argc, char **argv);
