// Drives the built rundif binary for the end-to-end tests.
#pragma once

#include "tests/sjis_locale.h"

#include <csignal>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

struct CliResult {
    std::string out; // everything written to standard output
    std::string err; // everything written to standard error
    int status = -1; // exit status, or 128 + signal for a signal death
};

// How to run rundif beyond its arguments.
struct CliOptions {
    std::vector<std::string> env = {}; // "NAME=value" entries replacing inherited ones
    std::string cwd = {};              // working directory; empty: the test's own
    std::string stop_at = {};          // once standard output holds this text (or at once) ...
    std::string stop_file = {};        // ... and this file exists (in cwd), when given ...
    int stop_sig = 0;                  // ... send this signal
    int stop_delay_ms = 0;             // this long after the text showed
    int timeout_ms = 20000;            // then SIGKILL (status 128 + 9)
    int closed_fds = 0;                // bit n: rundif starts with descriptor n closed
    bool out_gone = false;             // the reader of standard output is gone from the start
};

// Runs rundif with args (argv[1..]) and waits for it to end.
CliResult run_rundif(const std::vector<std::string> &args, const CliOptions &opt = {});

// A feed for end-to-end runs of the monitor, in a temporary directory: a
// helper command prints a prepared file on each run and stops rundif
// (SIGTERM to its parent) after the last one; the file "count" tells how
// many runs were made.
struct Feed {
    std::string dir;

    explicit Feed(const std::vector<std::string> &runs)
    {
        char tmpl[] = "/tmp/rundif-cli-XXXXXX";
        dir = mkdtemp(tmpl);
        write("feed.sh", "n=$(cat count 2>/dev/null || echo 0); n=$((n+1)); echo $n > count\n"
                         "if [ -f $n.txt ]; then cat $n.txt; else kill -TERM $PPID; fi\n");
        for (size_t i = 0; i < runs.size(); i++)
            write(std::to_string(i + 1) + ".txt", runs[i]);
    }
    ~Feed() { std::system(("rm -rf " + dir).c_str()); }

    void write(const std::string &name, const std::string &text) const
    {
        std::ofstream(dir + "/" + name, std::ios::binary) << text;
    }
    std::string read(const std::string &name) const
    {
        std::ifstream in(dir + "/" + name, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
    // The exit status of a shell command line run in the feed's directory.
    int sh(const std::string &cmd) const
    {
        return WEXITSTATUS(std::system(("cd " + dir + " && " + cmd).c_str()));
    }
    // Runs rundif with the options, the feed as its command, in the feed's
    // directory and the given locale (ja_JP.SJIS: the tests' own).
    CliResult run(std::vector<std::string> args, const char *locale = "C.UTF-8") const
    {
        args.insert(args.begin(), "/span=1");
        args.push_back("sh");
        args.push_back("feed.sh");
        return run_rundif(args, {.env = {std::string("LC_ALL=") + locale, sjis_env()}, .cwd = dir});
    }
    // LOCPATH for the tests' Shift-JIS locale.
    static std::string sjis_env() { return "LOCPATH=" + sjis_locpath(); }
    // True once the process whose id the file holds has ended (gone, or a
    // zombie waiting for its reaper) within three seconds; else it is killed.
    bool gone(const std::string &pid_file) const
    {
        pid_t pid = std::atoi(read(pid_file).c_str());
        for (int i = 0; pid > 0 && i < 300; i++, usleep(10000)) {
            std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
            std::string stat;
            std::getline(in, stat);
            size_t paren = stat.rfind(')');
            if (!in || paren == std::string::npos || stat.substr(paren + 2, 1) == "Z")
                return true;
        }
        if (pid > 0)
            kill(pid, SIGKILL);
        return false;
    }
};
