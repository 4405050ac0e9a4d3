// Recursive removal on the walker: contents before their directory, each
// entry removed relative to the open directory it was listed from, so no
// path is resolved twice and nothing outside the tree can be reached.
#include "base/os/os_impl.h"

#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace
{

// Removes the entry just reported: in an after-contents walk the top level
// is the directory it was listed from, and that level's current entry is it.
bool rmv_entry(st_pthlst_all *wlk)
{
    void *p = nullptr;
    if (buf_ref(buf_hdl(&wlk->lvl), 0, 1, &p) != 0)
        return false;
    const st_pthlst *lvl = static_cast<const st_pthlst *>(p);
    int flg = (wlk->flg & PTHALL_DIR) ? AT_REMOVEDIR : 0;
    return unlinkat(dirfd(pthlst_dir(lvl)), lvl->name, flg) == 0;
}

// A root written without a final "/" that is a symbolic link.
bool is_link(const char *root)
{
    size_t n = std::strlen(root);
    struct stat st;
    return n && root[n - 1] != '/' && lstat(root, &st) == 0 && S_ISLNK(st.st_mode);
}

// Whether directory pth can be listed and has no entries left.
bool is_empty(const char *pth)
{
    st_pthlst lst = {};
    bool empty = _pthlst(pth, &lst) != 0 && (lst.flg & PTHLST_STA);
    _pthlst_end(&lst);
    return empty;
}

} // namespace

int32_t _pthrmv(const char *root, int32_t rmv_root) noexcept
{
    if (!root || !*root) // "" would walk, and empty, the working directory
        return rtn_fail();
    if (is_link(root))
        return !rmv_root || unlink(root) == 0 ? rtn_ok() : rtn_fail();
    st_pthlst_all wlk = {};
    wlk.flg = PTHALL_POST;
    bool ok = true;
    while (_pthlst_all(root, &wlk) == 0)
        ok &= rmv_entry(&wlk);
    _pthlst_all_end(&wlk);
    // Whatever stayed (an entry the listing missed, an unreadable root)
    // makes the final check fail.
    ok &= rmv_root ? _rmdir(root) == 0 : is_empty(root);
    return ok ? rtn_ok() : rtn_fail();
}
