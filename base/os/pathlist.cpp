// Directory listings over opendir/readdir, and the tree walker built on them.
//
// The walker keeps one open listing per directory level on a linked stack
// and opens each level relative to its parent's descriptor with O_NOFOLLOW,
// so paths of any length work and a symbolic link is never entered, even
// one swapped in for a directory during the walk.
#include "base/os/os_impl.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace
{

// Outcome of one listing step.
enum class step {
    ent, // an entry: name and directory bit are set
    end, // no entry: the end of the listing, or it cannot be opened or read
};

// Opens directory name relative to descriptor at (AT_FDCWD: the working
// directory) as a close-on-exec stream; none on failure.
DIR *lst_open(int at, const char *name, int oflg)
{
    int fd = openat(at, *name ? name : ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC | oflg);
    if (fd < 0)
        return nullptr;
    DIR *dir = fdopendir(fd);
    if (!dir)
        close(fd);
    return dir;
}

// d_type where the file system fills it, else lstat's answer: a symbolic
// link is never a directory.
bool ent_is_dir(DIR *dir, const dirent *ent)
{
    if (ent->d_type != DT_UNKNOWN)
        return ent->d_type == DT_DIR;
    struct stat st;
    return fstatat(dirfd(dir), ent->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISDIR(st.st_mode);
}

// The next entry of lst, opening (at, name) first when it is not started.
// Leaves the record as it is at the end or on failure.
step lst_step(int at, const char *name, st_pthlst *lst, int oflg)
{
    if (lst->flg & PTHLST_END)
        return step::end;
    if (!(lst->flg & PTHLST_STA)) {
        if (!(lst->dir = lst_open(at, name, oflg)))
            return step::end;
        lst->flg |= PTHLST_STA;
    }
    dirent *ent = readdir(pthlst_dir(lst)); // the end and a read error both end the listing
    if (!ent)
        return step::end;
    lst->ent = ent;
    lst->name = ent->d_name;
    lst->flg = static_cast<uint8_t>(ent_is_dir(pthlst_dir(lst), ent) ? lst->flg | PTHLST_DIR
                                                                     : lst->flg & ~PTHLST_DIR);
    return step::ent;
}

bool is_dot_dir(const st_pthlst *lst)
{
    const char *n = lst->name;
    return (lst->flg & PTHLST_DIR) && n[0] == '.' && (!n[1] || (n[1] == '.' && !n[2]));
}

// lst_step past "." and "..".
step lst_next(int at, const char *name, st_pthlst *lst, int oflg)
{
    step s;
    while ((s = lst_step(at, name, lst, oflg)) == step::ent && is_dot_dir(lst)) {
    }
    return s;
}

int32_t lst_fail(st_pthlst *lst)
{
    _pthlst_end(lst);
    return rtn_fail();
}

} // namespace

int32_t __pthlst(const char *pth, st_pthlst *lst) noexcept
{
    if (!pth || !lst)
        return rtn_fail();
    return lst_step(AT_FDCWD, pth, lst, 0) == step::ent ? rtn_ok() : lst_fail(lst);
}

int32_t _pthlst(const char *pth, st_pthlst *lst) noexcept
{
    if (!pth || !lst)
        return rtn_fail();
    return lst_next(AT_FDCWD, pth, lst, 0) == step::ent ? rtn_ok() : lst_fail(lst);
}

int32_t _pthlst_end(st_pthlst *lst) noexcept
{
    if (lst && (lst->flg & PTHLST_STA) && !(lst->flg & PTHLST_END)) {
        if (lst->dir)
            closedir(pthlst_dir(lst));
        lst->dir = nullptr;
        lst->ent = nullptr;
        lst->name = nullptr;
        lst->flg |= PTHLST_END;
    }
    return rtn_ok();
}

// ---------------------------------------------------------------------------
// Walker
// ---------------------------------------------------------------------------

namespace
{

// What the walk does after one step.
enum class act {
    report, // hand the entry in pth to the caller
    next,   // go on at the innermost level
    over,   // the walk is over or failed
};

void *lvl_hdl(st_pthlst_all *wlk)
{
    return buf_hdl(&wlk->lvl);
}

void *pth_hdl(st_pthlst_all *wlk)
{
    return buf_hdl(&wlk->buf);
}

// Level i of the stack (0 the innermost); none beyond the root.
st_pthlst *lvl_at(st_pthlst_all *wlk, uint32_t i)
{
    void *p = nullptr;
    if (i >= buf_cnt(lvl_hdl(wlk)) || buf_ref(lvl_hdl(wlk), i, 1, &p) != 0)
        return nullptr;
    return static_cast<st_pthlst *>(p);
}

// Writes txt into the path buffer at off and terminates it; pth follows
// the buffer when it moves.
bool pth_put(st_pthlst_all *wlk, uint32_t off, const char *txt)
{
    size_t n = std::strlen(txt);
    void *p;
    if (off + n + 1 > UINT32_MAX ||
        buf_ref(pth_hdl(wlk), 0, static_cast<uint32_t>(off + n + 1), &p) != 0)
        return false;
    std::memcpy(static_cast<char *>(p) + off, txt, n + 1);
    wlk->pth = static_cast<const char *>(p);
    return true;
}

// Truncates the current path at off.
void pth_cut(st_pthlst_all *wlk, uint32_t off)
{
    static_cast<char *>(buf_dat(pth_hdl(wlk)))[off] = '\0';
}

bool lvl_push(st_pthlst_all *wlk)
{
    const st_pthlst zero = {};
    return buf_psh(lvl_hdl(wlk), &zero) == 0;
}

// First call: the buffers, the root's path and the root's level.
bool wlk_start(const char *root, st_pthlst_all *wlk)
{
    wlk->flg |= PTHALL_STA;
    buf_var(pth_hdl(wlk), 1);
    buf_lnks(lvl_hdl(wlk), sizeof(st_pthlst));
    return pth_put(wlk, 0, *root ? root : ".") && lvl_push(wlk);
}

// Opening a level: its entries are appended to the path after a "/".
bool lvl_begin(st_pthlst_all *wlk, st_pthlst *top)
{
    uint32_t len = static_cast<uint32_t>(std::strlen(wlk->pth));
    if (wlk->pth[len - 1] != '/' && !pth_put(wlk, len++, "/"))
        return false;
    top->pfx = len;
    return true;
}

// The next entry of the top level. A level is opened once: the root by its
// path, any other through its parent, whose current entry names it.
step lvl_next(st_pthlst_all *wlk, st_pthlst *top)
{
    st_pthlst *par = (top->flg & PTHLST_STA) ? nullptr : lvl_at(wlk, 1);
    if (!par)
        return lst_next(AT_FDCWD, wlk->pth, top, 0);
    return lst_next(dirfd(pthlst_dir(par)), par->name, top, O_NOFOLLOW);
}

bool rejected(st_pthlst_all *wlk)
{
    return wlk->flt && wlk->flt(wlk, wlk->usr) != 0;
}

// An entry of the top level: a file is reported unless excluded; an
// accepted directory gets a level of its own, walked next.
act wlk_entry(st_pthlst_all *wlk, st_pthlst *top)
{
    if (!pth_put(wlk, top->pfx, top->name))
        return act::over;
    if (!(top->flg & PTHLST_DIR)) {
        wlk->flg &= static_cast<uint8_t>(~PTHALL_DIR);
        return (wlk->flg & PTHALL_NOFIL) || rejected(wlk) ? act::next : act::report;
    }
    wlk->flg |= PTHALL_DIR;
    if (rejected(wlk))
        return act::next;
    if (!lvl_push(wlk))
        return act::over;
    return (wlk->flg & (PTHALL_POST | PTHALL_NODIR)) ? act::next : act::report;
}

// The top level is done: it is closed and dropped. After-contents walks
// report its directory now; others go on with the parent's next entry.
act wlk_up(st_pthlst_all *wlk, st_pthlst *top)
{
    uint32_t pfx = top->pfx;
    st_pthlst gone;
    _pthlst_end(top);
    buf_pop(lvl_hdl(wlk), &gone);
    st_pthlst *par = lvl_at(wlk, 0);
    if (!par || (par->flg & (PTHLST_STA | PTHLST_END)) != PTHLST_STA)
        return act::over;
    if ((wlk->flg & (PTHALL_POST | PTHALL_NODIR)) != PTHALL_POST) {
        pth_cut(wlk, par->pfx);
        return act::next;
    }
    wlk->flg |= PTHALL_DIR;
    pth_cut(wlk, pfx - 1);
    return rejected(wlk) ? act::next : act::report;
}

} // namespace

// Each pass of the loop takes one step at the innermost level; skipped
// entries and finished levels loop instead of recursing, so the stack
// depth is the same for any tree.
int32_t _pthlst_all(const char *root, st_pthlst_all *wlk) noexcept
{
    if (!wlk)
        return rtn_fail();
    if (!root || (wlk->flg & PTHALL_END)) {
        wlk->flg |= PTHALL_END;
        return rtn_fail();
    }
    act a = act::next;
    if (!(wlk->flg & PTHALL_STA) && !wlk_start(root, wlk))
        a = act::over;
    while (a == act::next) {
        st_pthlst *top = lvl_at(wlk, 0);
        if (!(top->flg & PTHLST_STA) && !lvl_begin(wlk, top))
            a = act::over;
        else if (lvl_next(wlk, top) == step::ent)
            a = wlk_entry(wlk, top);
        else
            a = wlk_up(wlk, top);
    }
    if (a == act::over) {
        wlk->flg |= PTHALL_END;
        return rtn_fail();
    }
    return rtn_ok();
}

int32_t _pthlst_all_end(st_pthlst_all *wlk) noexcept
{
    if (!wlk)
        return rtn_fail();
    st_pthlst gone;
    for (st_pthlst *top; (top = lvl_at(wlk, 0)) != nullptr; buf_pop(lvl_hdl(wlk), &gone))
        _pthlst_end(top);
    buf_end(lvl_hdl(wlk));
    buf_end(pth_hdl(wlk));
    wlk->pth = nullptr;
    wlk->flg |= PTHALL_END;
    return rtn_ok();
}
