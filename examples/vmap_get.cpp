// vmap_get FILE PATH: reads a variant-map text file and prints the value at
// PATH, a key or "/"-separated keys ("server/port"). A file such as
//
//     name = demo
//     server = main [
//         port = 5432
//     ]
//
// gives 5432 for server/port. Exit status 0, 1 when the file cannot be read
// or holds no value at PATH, 2 for a wrong command line.
#include "base/container/container.h"
#include "base/stream/stream.h"
#include "base/text/text.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

// Follows the keys of path from the top of map, each below the one before;
// 0 with *val the string value of the last one.
static int32_t value_at(st_vmap *map, const std::string &path, char **val)
{
    void *nst = nullptr;
    size_t top = 0;
    for (size_t sep; (sep = path.find('/', top)) != std::string::npos; top = sep + 1)
        if (vmap_ref_str(map, nst, path.substr(top, sep - top).c_str(), &nst) != 0)
            return -1;
    return vmap_get_str_str(map, nst, path.substr(top).c_str(), val);
}

int main(int argc, char **argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: vmap_get FILE PATH\n");
        return 2;
    }
    FILE *fp = std::fopen(argv[1], "rb");
    if (!fp) {
        std::fprintf(stderr, "vmap_get: cannot open %s: %s\n", argv[1], std::strerror(errno));
        return 1;
    }
    st_stream src = {}; // the file's characters; ending it closes the file
    st_vmap map = {};
    if (cstream_fil_set(&src, fp, 1) != 0 || vmap_set(&map, VMAP_NST) != 0) {
        std::fprintf(stderr, "vmap_get: out of memory\n");
        return 1;
    }
    const int32_t st = vmap_cstream(&map, nullptr, &src);
    stream_end(&src);
    char *val = nullptr; // inside the map: valid until vmap_end
    int rc = 0;
    if (st != 0) {
        std::fprintf(stderr, "vmap_get: %s is no variant-map text (status %d)\n", argv[1], st);
        rc = 1;
    } else if (value_at(&map, argv[2], &val) != 0) {
        std::fprintf(stderr, "vmap_get: %s holds no value at %s\n", argv[1], argv[2]);
        rc = 1;
    } else {
        std::printf("%s\n", val);
    }
    vmap_end(&map);
    return rc;
}
