// find_files DIR REGEX: walks the tree below DIR and prints the path of
// every file whose name (the part after the last "/") matches REGEX
// somewhere, one per line, in the order the system lists them:
// find_files src '\.cpp$'. Exit status 0, 1 when DIR is no directory or
// REGEX does not compile, 2 for a wrong command line.
#include "base/os/os.h"
#include "base/stream/stream.h"
#include "base/text/text.h"

#include <cstdio>
#include <cstring>

// Walk filter: directories are entered, files kept when their name matches
// the compiled pattern usr. Non-zero rejects.
static int name_filter(st_pthlst_all *walk, void *usr)
{
    if (walk->flg & PTHALL_DIR)
        return 0;
    auto *mtc = static_cast<st_txt_mtc *>(usr);
    const char *slash = std::strrchr(walk->pth, '/');
    st_stream name = {};
    if (cstream_str_set(&name, slash ? slash + 1 : walk->pth) != 0)
        return 1;
    txt_mtc_chk_rst(mtc);
    const int32_t st = txt_mtc(mtc, &name);
    stream_end(&name);
    return st != 0;
}

int main(int argc, char **argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: find_files DIR REGEX\n");
        return 2;
    }
    if (_chkdir(argv[1]) != 0) {
        std::fprintf(stderr, "find_files: %s is no directory\n", argv[1]);
        return 1;
    }
    st_stream pat = {};
    st_txt_mtc mtc = {};
    const bool ok = cstream_str_set(&pat, argv[2]) == 0 && regexp_chk(&mtc, &pat, nullptr) == 0;
    stream_end(&pat);
    if (!ok) {
        std::fprintf(stderr, "find_files: cannot compile the pattern '%s'\n", argv[2]);
        return 1;
    }
    st_pthlst_all walk = {};
    walk.flt = name_filter;
    walk.usr = &mtc;
    walk.flg = PTHALL_NODIR; // directories are walked, not listed
    while (_pthlst_all(argv[1], &walk) == 0)
        std::printf("%s\n", walk.pth);
    _pthlst_all_end(&walk);
    txt_mtc_chk_end(&mtc);
    return 0;
}
