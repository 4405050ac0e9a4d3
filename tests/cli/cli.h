// Drives the built rundif binary for the end-to-end tests.
#pragma once

#include <string>
#include <vector>

struct CliResult {
    std::string out; // everything written to standard output
    std::string err; // everything written to standard error
    int status = -1; // exit status, or 128 + signal for a signal death
};

// Runs rundif with args (argv[1..]) and extra environment entries
// ("NAME=value", replacing any inherited value) and waits for it to end.
// A run that outlives timeout_ms is killed (status 128 + SIGKILL).
CliResult run_rundif(const std::vector<std::string> &args, const std::vector<std::string> &env = {},
                     int timeout_ms = 20000);
