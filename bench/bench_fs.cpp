// Builds, walks and removes directory trees with the library, for
// bench/fs_compare.sh.
//
//   bench_fs make ROOT DIRS FILES  ROOT with DIRS directories of FILES empty files
//   bench_fs walk ROOT             walks everything below ROOT; prints the count
//   bench_fs remove ROOT           removes ROOT and everything below it
//
// Each prints its own milliseconds on standard error. Without arguments it
// only prints this usage (make bench runs every bench program bare).
#include "base/os/os.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <unistd.h>

namespace
{

int make(const char *root, int dirs, int files)
{
    if (_mkdir(root) != 0)
        return 1;
    for (int d = 0; d < dirs; d++) {
        std::string dir = std::string(root) + "/d" + std::to_string(d);
        if (_mkdir(dir.c_str()) != 0)
            return 1;
        for (int f = 0; f < files; f++) {
            int fd = creat((dir + "/file" + std::to_string(f)).c_str(), 0666);
            if (fd < 0)
                return 1;
            close(fd);
        }
    }
    return 0;
}

int walk(const char *root)
{
    st_pthlst_all w = {};
    long n = 0;
    while (_pthlst_all(root, &w) == 0)
        n++;
    _pthlst_all_end(&w);
    std::printf("%ld\n", n);
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc < 3) {
        std::puts(
            "bench_fs make ROOT DIRS FILES | walk ROOT | remove ROOT (see bench/fs_compare.sh)");
        return 0;
    }
    auto t0 = std::chrono::steady_clock::now();
    int r = 2;
    if (!std::strcmp(argv[1], "make") && argc == 5)
        r = make(argv[2], std::atoi(argv[3]), std::atoi(argv[4]));
    else if (!std::strcmp(argv[1], "walk"))
        r = walk(argv[2]);
    else if (!std::strcmp(argv[1], "remove"))
        r = _pthrmv(argv[2], 1) == 0 ? 0 : 1;
    std::chrono::duration<double, std::milli> ms = std::chrono::steady_clock::now() - t0;
    std::fprintf(stderr, "bench_fs %s: %.1f ms%s\n", argv[1], ms.count(), r ? " (failed)" : "");
    return r;
}
