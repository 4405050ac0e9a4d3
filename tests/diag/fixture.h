// Helpers shared by the library's tests: an injected clock, a temporary
// directory, an environment guard, file reading, fake pointers, variant
// parameters, and where the files written at program end go.
#pragma once

#include "base/container/container.h"
#include "base/diag/test_hook.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <string>

namespace diag_test
{

// The injected clock for the scope: timers read fake_ms.
inline uint64_t fake_ms;

struct FakeClock {
    explicit FakeClock(uint64_t start = 0)
    {
        fake_ms = start;
        __tick_fake([] { return fake_ms; });
    }
    ~FakeClock() { __tick_fake(nullptr); }
    void advance(uint64_t ms) { fake_ms += ms; }
};

// A fresh directory below the system's temporary directory, removed with
// everything in it at the end of the scope.
struct TempDir {
    std::filesystem::path path;
    TempDir()
    {
        std::string tpl = (std::filesystem::temp_directory_path() / "diagXXXXXX").string();
        path = mkdtemp(tpl.data());
    }
    ~TempDir()
    {
        std::error_code ec;
        std::filesystem::remove_all(path, ec);
    }
    std::string file(const char *name) const { return (path / name).string(); }
};

// Sets (or with nullptr unsets) an environment variable for the scope.
struct EnvVar {
    std::string name;
    std::optional<std::string> old;
    EnvVar(const char *nam, const char *val) : name(nam)
    {
        if (const char *cur = std::getenv(nam))
            old = cur;
        val ? setenv(nam, val, 1) : unsetenv(nam);
    }
    ~EnvVar() { old ? setenv(name.c_str(), old->c_str(), 1) : unsetenv(name.c_str()); }
};

// What wrt writes to a stream, as a string.
inline std::string written(const std::function<void(FILE *)> &wrt)
{
    char *buf = nullptr;
    size_t len = 0;
    FILE *fp = open_memstream(&buf, &len);
    wrt(fp);
    fclose(fp);
    std::string out(buf, len);
    free(buf);
    return out;
}

inline std::string read_file(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

// An address that is never dereferenced: a registry key, a link to check.
inline void *fake(uintptr_t v)
{
    return reinterpret_cast<void *>(v);
}

// A variant parameter; a non-zero ext (VTYP_X_PRM and more) comes with VTYP_EXT.
inline st_vtyp_prm prm_of(uint8_t knd, const void *dat, uint32_t siz = 0, uint8_t ext = 0)
{
    st_vtyp_prm p = {};
    p.flg = ext ? knd | VTYP_EXT : knd;
    p.ext = ext;
    p.dat = dat;
    p.siz = siz;
    return p;
}

// The memory log and the profiler write their files again at program end:
// for the whole test program they go to /dev/null, never into the working
// directory (a test that needs them sets its own paths).
inline const bool exit_files = [] {
    for (const char *var : {"BAS_MEMLOG_PATH", "BAS_MEMLLOG_PATH", "BAS_TMR_PATH"})
        setenv(var, "/dev/null", 1);
    return true;
}();

} // namespace diag_test
