// Directory operations, renaming without replacement, and the path probe.
#include "base/os/os.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <glob.h>
#include <sys/stat.h>
#include <unistd.h>

// 0 when a system call returned 0, else -1.
static int32_t sys_rtn(int r)
{
    return r == 0 ? rtn_ok() : rtn_fail();
}

// An unset or empty path: refused by every operation that changes the disk,
// so a blank setting can never stand for the working directory.
static bool no_pth(const char *pth)
{
    return !pth || !*pth;
}

int32_t _chdir(const char *pth) noexcept
{
    return no_pth(pth) ? rtn_fail() : sys_rtn(chdir(pth));
}

int32_t _mkdir(const char *pth) noexcept
{
    return no_pth(pth) ? rtn_fail() : sys_rtn(mkdir(pth, 0777));
}

int32_t _rmdir(const char *pth) noexcept
{
    return no_pth(pth) ? rtn_fail() : sys_rtn(rmdir(pth));
}

// rename(2) would silently replace an existing target; RENAME_NOREPLACE
// refuses it atomically. A file system without the flag gives EINVAL, and
// the rename fails rather than risk the target.
int32_t _rename(const char *old, const char *nw) noexcept
{
    if (no_pth(old) || no_pth(nw))
        return rtn_fail();
    return sys_rtn(renameat2(AT_FDCWD, old, AT_FDCWD, nw, RENAME_NOREPLACE));
}

// Fills *inf from the entry at pth (a dangling link is a file of its own).
static int32_t pth_inf_fill(const char *pth, st_pth_inf *inf)
{
    struct stat st;
    if (stat(pth, &st) != 0 && lstat(pth, &st) != 0)
        return rtn_fail();
    uint64_t siz = S_ISDIR(st.st_mode) ? 0 : static_cast<uint64_t>(st.st_size);
    inf->siz_lo = static_cast<uint32_t>(siz);
    inf->siz_hi = static_cast<uint32_t>(siz >> 32);
    inf->flg = S_ISDIR(st.st_mode) ? PTH_DIR : PTH_FIL;
    return rtn_ok();
}

int32_t _chkpth(const char *pth, st_pth_inf *inf) noexcept
{
    if (!pth || !inf)
        return rtn_fail();
    if (!std::strpbrk(pth, "*?"))
        return pth_inf_fill(pth, inf);
    glob_t g = {};
    int r = glob(pth, GLOB_NOESCAPE, nullptr, &g);
    int32_t rtn = r == 0 && g.gl_pathc > 0 ? pth_inf_fill(g.gl_pathv[0], inf) : rtn_fail();
    globfree(&g);
    return rtn;
}

// 0 when _chkpth finds pth with the flag bit, else -1.
static int32_t chk_kind(const char *pth, uint8_t bit)
{
    st_pth_inf inf = {};
    if (_chkpth(pth, &inf) != 0)
        return rtn_keep();
    return (inf.flg & bit) ? rtn_ok() : rtn_fail();
}

int32_t _chkfil(const char *pth) noexcept
{
    return chk_kind(pth, PTH_FIL);
}

int32_t _chkdir(const char *pth) noexcept
{
    return chk_kind(pth, PTH_DIR);
}
