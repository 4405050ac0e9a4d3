// File-system paths: probe, listing, tree walker, recursive removal, renaming.
#include "base/os/os.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fcntl.h>
#include <string>
#include <grp.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace
{

using Strs = std::vector<std::string>;

// Each test runs in a fresh temporary directory, removed afterwards.
struct Path : ::testing::Test {
    char tmp[32] = "/tmp/rundif-path-XXXXXX";
    int home = open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC); // the working directory before
    void SetUp() override { ASSERT_TRUE(mkdtemp(tmp) && _chdir(tmp) == 0); }
    void TearDown() override
    {
        ASSERT_TRUE(fchdir(home) == 0 && close(home) == 0);
        ASSERT_EQ(system(("rm -rf " + std::string(tmp)).c_str()), 0);
    }
};

// Creates each entry: a directory when it ends with "/", else a file of siz bytes.
void mk(const Strs &rels, off_t siz = 0)
{
    for (auto &r : rels)
        if (r.back() == '/' ? _mkdir(r.c_str())
                            : close(creat(r.c_str(), 0666)) || truncate(r.c_str(), siz))
            ADD_FAILURE() << r;
}

// Everything a walk reports, in its order; a directory with a final "/".
Strs walk(const char *root, uint8_t flg, pthlst_flt_fn flt = nullptr, void *usr = nullptr)
{
    st_pthlst_all w = {nullptr, {}, {}, flt, usr, flg};
    Strs v;
    while (_pthlst_all(root, &w) == 0)
        v.push_back(std::string(w.pth) + ((w.flg & PTHALL_DIR) ? "/" : ""));
    EXPECT_NE(_pthlst_all(root, &w), 0) << "an ended walk stays ended";
    _pthlst_all_end(&w);
    return v;
}

Strs sorted(Strs v)
{
    std::sort(v.begin(), v.end());
    return v;
}

// A whole listing, sorted; a directory with a final "/".
Strs list(const char *pth, int32_t (*fn)(const char *, st_pthlst *) = _pthlst)
{
    st_pthlst l = {};
    Strs v;
    while (fn(pth, &l) == 0)
        v.push_back(std::string(l.name) + ((l.flg & PTHLST_DIR) ? "/" : ""));
    EXPECT_TRUE(fn(pth, &l) != 0 && (l.flg & PTHLST_END) && !l.dir) << "an ended listing is closed";
    return sorted(v);
}

// Probing follows links and gives 64-bit sizes, listings skip only "."
// and "..", and renaming never replaces.
TEST_F(Path, ProbeListRename)
{
    mk({"b/", "c/", "..x/", ".x/", "a.txt"}, (5LL << 32) + 7);
    ASSERT_EQ(symlink("b", "bl") | symlink("none", "dl"), 0);
    st_pth_inf inf = {};
    ASSERT_EQ(_chkpth("*.t?t", &inf), 0);
    EXPECT_EQ(inf.flg | inf.siz_hi << 8, PTH_FIL | 5u << 8);
    // Links are followed; a dangling one is a file.
    EXPECT_EQ(_chkfil("a.txt") | _chkdir("b") | _chkdir("bl") | _chkfil("dl"), 0);
    EXPECT_TRUE(_chkdir("a.txt") && _chkfil("b") && _chkfil("none") && _chkdir("none") &&
                _chkpth("*.no", &inf) && _chkdir("dl"));
    // Only "." and ".." are skipped; listed links are never directories.
    const Strs ents = {"..x/", ".x/", "a.txt", "b/", "bl", "c/", "dl"};
    EXPECT_EQ(list(tmp, __pthlst),
              sorted({"../", "./", "..x/", ".x/", "a.txt", "b/", "bl", "c/", "dl"}));
    EXPECT_EQ(list(""), ents) << "an empty path lists the working directory";
    st_pthlst l = {};
    EXPECT_TRUE(__pthlst("none", &l) && l.flg == 0)
        << "a listing that could not start stays not started";
    EXPECT_TRUE(_mkdir("b") && _rmdir("none") && _chdir("none"));
    // Renaming never replaces a file or an empty directory.
    EXPECT_EQ(_rename("a.txt", "x"), 0);
    mk({"a.txt"}, 1);
    EXPECT_TRUE(_rename("a.txt", "x") && _rename("b", "c"));
    EXPECT_EQ(list("."), (Strs{"..x/", ".x/", "a.txt", "b/", "bl", "c/", "dl", "x"}));
    EXPECT_TRUE(_chkpth("x", &inf) == 0 && pth_inf_siz(&inf) == (5ULL << 32) + 7);
}

// A walk reports every entry once, as its flags ask, a directory before or
// after its contents.
TEST_F(Path, WalkEveryFlagCombination)
{
    const Strs all = {"d/", "d/e/", "d/e/h", "d/g", "f"};
    mk(all);
    for (const char *root : {"", "./"})
        for (uint8_t flg = 0; flg < 64; flg += PTHALL_POST) {
            Strs got = walk(root, flg), want;
            for (auto &e : all)
                if (!(flg & (e.back() == '/' ? PTHALL_NODIR : PTHALL_NOFIL)))
                    want.push_back("./" + e);
            for (size_t i = 0; i < got.size(); i++) // a directory before or after its contents
                for (size_t j = 0; j < got.size(); j++)
                    if (got[i].back() == '/' && j != i && got[j].rfind(got[i], 0) == 0) {
                        EXPECT_EQ(i < j, !(flg & PTHALL_POST)) << got[i] << " and " << got[j];
                    }
            EXPECT_EQ(sorted(got), want) << "flags " << int(flg) << ", root " << root;
        }
}

// Filter: rejects paths containing rej; notes the lowest and highest frame.
struct Flt {
    std::string rej;
    uintptr_t lo = UINTPTR_MAX, hi = 0;
};
int flt(st_pthlst_all *w, void *usr)
{
    auto *f = static_cast<Flt *>(usr);
    f->lo = std::min(f->lo, reinterpret_cast<uintptr_t>(__builtin_frame_address(0)));
    f->hi = std::max(f->hi, reinterpret_cast<uintptr_t>(__builtin_frame_address(0)));
    return std::string(w->pth).find(f->rej) != std::string::npos;
}

// A rejected directory is not entered, and a walk a thousand levels deep
// runs its filter at one stack depth and is removed whole.
TEST_F(Path, FilterAndDeepTreesKeepTheStackFlat)
{
    mk({"d/", "d/e/", "d/g", "x/", "x/d/", "f"});
    Flt f{"/d"};
    EXPECT_EQ(sorted(walk(".", PTHALL_POST, flt, &f)), (Strs{"./f", "./x/"}))
        << "a rejected directory is not entered";
    for (int i = 0; i < 1000; i++) // 1000 levels, far beyond PATH_MAX, then 2000 rejected files
        ASSERT_TRUE(_mkdir("level") == 0 && _chdir("level") == 0);
    for (int i = 0; i < 2000; i++)
        mk({"skip" + std::to_string(i)});
    Flt deep{"/skip"};
    ASSERT_EQ(_chdir(tmp), 0);
    Strs got = walk("level", PTHALL_POST, flt, &deep);
    ASSERT_EQ(got.size(), 999u);
    EXPECT_EQ(got.front().size(), 6u * 1000); // "level/" 1000 times
    EXPECT_LT(deep.hi - deep.lo, 256u)
        << "filter frames spread over " << deep.hi - deep.lo << " bytes";
    EXPECT_EQ(_pthrmv("level", 1), 0);
    EXPECT_EQ(list("."), (Strs{"d/", "f", "x/"}));
}

// Removal refuses an empty root, never follows a link (but a final "/"
// enters a root link) and fails on a missing root.
TEST_F(Path, RemoveNeverFollowsLinksNorReportsLeftoversAsRemoved)
{
    mk({"keep/", "r/", "r/d/", "r/d/e/", "r/d/e/h", "keep/x"});
    ASSERT_EQ(symlink("../../keep", "r/d/ln") | symlink("../keep/x", "r/lf"), 0);
    ASSERT_EQ(symlink("keep", "rootln"), 0);
    // An empty root would stand for the working directory: refused, untouched.
    EXPECT_TRUE(_pthrmv("", 0) && _pthrmv("", 1));
    EXPECT_EQ(list("."), (Strs{"keep/", "r/", "rootln"}));
    EXPECT_EQ(sorted(walk("r", 0)), (Strs{"r/d/", "r/d/e/", "r/d/e/h", "r/d/ln", "r/lf"}));
    EXPECT_EQ(_pthrmv("rootln", 0) | _pthrmv("r", 0), 0);
    EXPECT_EQ(list("r"), Strs{});
    mk({"r/f"});
    EXPECT_EQ(_pthrmv("r", 1) | _pthrmv("rootln", 1), 0);
    EXPECT_EQ(list("."), Strs{"keep/"});
    EXPECT_EQ(list("keep"), Strs{"x"}) << "nothing behind a link went";
    EXPECT_NE(_pthrmv("r", 0), 0) << "a missing root cannot be emptied";
    ASSERT_EQ(symlink("keep", "rootln"), 0);
    EXPECT_EQ(_pthrmv("rootln/", 0), 0) << "a final \"/\" enters the link";
    EXPECT_EQ(list("keep"), Strs{});
    EXPECT_EQ(list("."), (Strs{"keep/", "rootln"}));
}

// As the user nobody when the tests run as root (root reads every
// directory), in the working directory handed over to nobody. The child's
// exit status bits: 1 set-up, 2 the walk entered u, 4 a removal reported
// success, 8 f is gone; 99 when it could not drop to nobody.
TEST_F(Path, UnreadableDirectoryIsNotEnteredAndStays)
{
    const uid_t nobody = 65534;
    ASSERT_TRUE(geteuid() != 0 || chown(".", nobody, nobody) == 0);
    pid_t pid = fork();
    if (pid == 0) {
        if (geteuid() == 0 && (setgroups(0, nullptr) || setgid(nobody) || setuid(nobody)))
            _exit(99);
        mk({"r/", "r/u/", "r/u/f"});
        int bad = chmod("r/u", 0) != 0;
        bad |= (walk("r", 0) != Strs{"r/u/"}) << 1;
        bad |= !(_pthrmv("r", 1) && _pthrmv("r/u", 0)) << 2;
        bad |= !(chmod("r/u", 0700) == 0 && _chkfil("r/u/f") == 0) << 3;
        _exit(bad);
    }
    int st = 0;
    ASSERT_TRUE(pid > 0 && waitpid(pid, &st, 0) == pid && WIFEXITED(st));
    EXPECT_EQ(WEXITSTATUS(st), 0);
}

} // namespace
