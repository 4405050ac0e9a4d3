// Drives the built rundif binary for the end-to-end tests.
#pragma once

#include <string>
#include <vector>

struct CliResult {
    std::string out; // everything written to standard output
    std::string err; // everything written to standard error
    int status = -1; // exit status, or 128 + signal for a signal death
};

// How to run rundif beyond its arguments.
struct CliOptions {
    std::vector<std::string> env; // "NAME=value" entries replacing inherited ones
    std::string cwd;              // working directory; empty: the test's own
    std::string stop_at;          // once standard output holds this text (or at once) ...
    int stop_sig = 0;             // ... send this signal
    int stop_delay_ms = 0;        // this long after the text showed
    int timeout_ms = 20000;       // then SIGKILL (status 128 + 9)
    int closed_fds = 0;           // bit n: rundif starts with descriptor n closed
    bool out_gone = false;        // the reader of standard output is gone from the start
};

// Runs rundif with args (argv[1..]) and waits for it to end.
CliResult run_rundif(const std::vector<std::string> &args, const CliOptions &opt);

// The same with extra environment entries only.
CliResult run_rundif(const std::vector<std::string> &args, const std::vector<std::string> &env = {},
                     int timeout_ms = 20000);
