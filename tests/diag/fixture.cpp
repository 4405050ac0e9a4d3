// The memory log and the profiler write their files again at program end.
// Point the environment at a private directory for the whole test program,
// and remove it after those end-of-program writers have run: atexit
// handlers run in reverse order, and this one is registered before main.
#include "tests/diag/fixture.h"

namespace
{

std::filesystem::path exit_dir;

struct ExitFiles {
    ExitFiles()
    {
        std::string tpl = (std::filesystem::temp_directory_path() / "diagexitXXXXXX").string();
        if (!mkdtemp(tpl.data()))
            return;
        exit_dir = tpl;
        setenv("BAS_MEMLOG_PATH", (exit_dir / "memlog.log").c_str(), 1);
        setenv("BAS_MEMLLOG_PATH", (exit_dir / "memlightlog.log").c_str(), 1);
        setenv("BAS_TMR_PATH", (exit_dir / "_bas_tmr.txt").c_str(), 1);
        std::atexit([] {
            std::error_code ec;
            std::filesystem::remove_all(exit_dir, ec);
        });
    }
} exit_files;

} // namespace
