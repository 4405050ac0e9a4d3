// A feed for end-to-end runs of the monitor: a helper command prints a
// prepared file on each run and stops rundif (SIGTERM to its parent) after
// the last one.
#pragma once

#include "tests/cli/cli.h"

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <unistd.h>
#include <vector>

// A temporary directory holding the feed script and the run outputs.
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
        std::stringstream ss;
        ss << in.rdbuf();
        return ss.str();
    }
    // Runs rundif with the options, the feed as its command, in the feed's
    // directory and the given locale.
    CliResult run(std::vector<std::string> args, const char *locale = "C.UTF-8") const
    {
        args.insert(args.begin(), "/span=1");
        args.push_back("sh");
        args.push_back("feed.sh");
        CliOptions opt;
        opt.cwd = dir;
        opt.env = {std::string("LC_ALL=") + locale};
        return run_rundif(args, opt);
    }
};

// True once pid has ended (gone, or a zombie waiting for its reaper).
inline bool process_gone(pid_t pid)
{
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string stat;
    std::getline(in, stat);
    size_t paren = stat.rfind(')');
    return !in || paren == std::string::npos || stat.substr(paren + 2, 1) == "Z";
}
