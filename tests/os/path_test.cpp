// File-system paths: probe, listing, tree walker, recursive removal, renaming.
#include "base/os/os.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <fcntl.h>
#include <set>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace
{

using Strs = std::vector<std::string>;

// Each test works in a fresh temporary directory, removed afterwards.
struct Path : ::testing::Test {
    std::string tmp;
    void SetUp() override
    {
        char t[] = "/tmp/rundif-path-XXXXXX";
        ASSERT_NE(mkdtemp(t), nullptr);
        tmp = t;
    }
    void TearDown() override { ASSERT_EQ(std::system(("rm -rf " + tmp).c_str()), 0); }
    // Creates tmp/rel: a directory when rel ends with "/", else a file.
    std::string mk(const std::string &rel, const std::string &data = "")
    {
        std::string p = tmp + "/" + rel;
        if (rel.back() == '/')
            EXPECT_EQ(_mkdir(p.c_str()), 0) << p;
        else
            EXPECT_TRUE(std::system(("printf '" + data + "' > " + p).c_str()) == 0);
        return rel.back() == '/' ? p.substr(0, p.size() - 1) : p;
    }
};

// Every entry a walk reports, a directory with a final "/".
Strs walk(const std::string &root, uint8_t flg, pthlst_flt_fn flt = nullptr, void *usr = nullptr)
{
    st_pthlst_all w = {};
    w.flg = flg;
    w.flt = flt;
    w.usr = usr;
    Strs v;
    while (_pthlst_all(root.c_str(), &w) == 0)
        v.push_back(std::string(w.pth) + ((w.flg & PTHALL_DIR) ? "/" : ""));
    EXPECT_TRUE(w.flg & PTHALL_END);
    EXPECT_NE(_pthlst_all(root.c_str(), &w), 0) << "an ended walk stays ended";
    EXPECT_EQ(_pthlst_all_end(&w), 0);
    return v;
}

Strs listing(const char *pth, int32_t (*fn)(const char *, st_pthlst *))
{
    st_pthlst l = {};
    Strs v;
    while (fn(pth, &l) == 0)
        v.push_back(std::string(l.name) + ((l.flg & PTHLST_DIR) ? "/" : ""));
    EXPECT_EQ(l.flg & (PTHLST_STA | PTHLST_END), PTHLST_STA | PTHLST_END);
    EXPECT_EQ(l.dir, nullptr);
    EXPECT_NE(fn(pth, &l), 0) << "an ended listing stays ended";
    std::sort(v.begin(), v.end());
    return v;
}

TEST_F(Path, ProbeTellsFilesFromDirectories)
{
    std::string f = mk("a.txt", "hello"), d = mk("d/");
    st_pth_inf inf = {};
    EXPECT_EQ(_chkpth(f.c_str(), &inf), 0);
    EXPECT_EQ(pth_inf_siz(&inf), 5u);
    EXPECT_EQ(inf.flg, PTH_FIL);
    EXPECT_EQ(_chkpth((tmp + "/*.t?t").c_str(), &inf), 0);
    EXPECT_EQ(inf.flg, PTH_FIL) << "wildcards find a.txt";
    EXPECT_NE(_chkpth((tmp + "/*.none").c_str(), &inf), 0);
    EXPECT_EQ(inf.flg, PTH_FIL) << "unchanged when nothing matches";
    ASSERT_EQ(truncate(f.c_str(), (5LL << 30) + 7), 0); // sparse: 5 GiB + 7
    EXPECT_EQ(_chkpth(f.c_str(), &inf), 0);
    EXPECT_EQ(inf.siz_hi, 1u);
    EXPECT_EQ(pth_inf_siz(&inf), (5ULL << 30) + 7);
    EXPECT_EQ(_chkfil(f.c_str()), 0);
    EXPECT_NE(_chkdir(f.c_str()), 0);
    EXPECT_EQ(_chkdir(d.c_str()), 0);
    EXPECT_NE(_chkfil(d.c_str()), 0);
    EXPECT_NE(_chkfil((tmp + "/none").c_str()), 0);
    EXPECT_NE(_chkdir((tmp + "/none").c_str()), 0);
}

TEST_F(Path, ListingStatesAndDotEntries)
{
    mk("a");
    mk("b/");
    EXPECT_EQ(listing(tmp.c_str(), __pthlst), (Strs{"../", "./", "a", "b/"}));
    EXPECT_EQ(listing(tmp.c_str(), _pthlst), (Strs{"a", "b/"}));
    char cwd[4096];
    ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
    ASSERT_EQ(_chdir(tmp.c_str()), 0);
    Strs here = listing("", _pthlst);
    ASSERT_EQ(_chdir(cwd), 0);
    EXPECT_EQ(here, (Strs{"a", "b/"})) << "an empty path lists the working directory";
    st_pthlst l = {};
    EXPECT_EQ(_pthlst_end(&l), 0);
    EXPECT_NE(__pthlst((tmp + "/none").c_str(), &l), 0);
    EXPECT_EQ(l.flg, 0) << "a listing that could not start stays not started";
}

TEST_F(Path, WalkEveryFlagCombination)
{
    for (auto r : {"d/", "d/e/", "f", "d/g", "d/e/h"})
        mk(r);
    const Strs all = {"d/", "d/e/", "d/e/h", "d/g", "f"};
    for (const std::string &root : {tmp, tmp + "/"})
        for (uint8_t flg = 0; flg < 64; flg += PTHALL_POST) {
            Strs got = walk(root, flg), want;
            for (auto &e : all)
                if (!(flg & (e.back() == '/' ? PTHALL_NODIR : PTHALL_NOFIL)))
                    want.push_back(e);
            for (size_t i = 0; i < got.size(); i++) { // a directory before or after its contents
                ASSERT_EQ(got[i].find("//"), std::string::npos) << got[i];
                for (size_t j = 0; j < got.size(); j++) {
                    if (got[i].back() == '/' && j != i && got[j].rfind(got[i], 0) == 0) {
                        EXPECT_EQ(i < j, !(flg & PTHALL_POST)) << got[i] << " and " << got[j];
                    }
                }
                got[i].erase(0, tmp.size() + 1);
            }
            std::sort(got.begin(), got.end());
            EXPECT_EQ(got, want) << "flags " << int(flg);
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
    auto fp = reinterpret_cast<uintptr_t>(__builtin_frame_address(0));
    f->lo = std::min(f->lo, fp);
    f->hi = std::max(f->hi, fp);
    return std::string(w->pth).find(f->rej) != std::string::npos;
}

TEST_F(Path, FilterSkipsRejectedDirectoryAndDeepTreesKeepTheStackFlat)
{
    for (auto r : {"d/", "d/e/", "f", "d/g", "x/", "x/d/"})
        mk(r);
    Flt f{"/d"};
    Strs got = walk(tmp, PTHALL_POST, flt, &f);
    std::sort(got.begin(), got.end());
    EXPECT_EQ(got, (Strs{tmp + "/f", tmp + "/x/"}));
    // 1000 levels (a path far beyond PATH_MAX) and a level of 2000 rejected files.
    rlimit rl;
    getrlimit(RLIMIT_NOFILE, &rl);
    rl.rlim_cur = std::max<rlim_t>(rl.rlim_cur, std::min<rlim_t>(rl.rlim_max, 1200));
    if (setrlimit(RLIMIT_NOFILE, &rl) != 0 || rl.rlim_cur < 1100)
        GTEST_SKIP() << "needs 1100 descriptors";
    int fd = open(tmp.c_str(), O_RDONLY);
    for (int i = 0; i < 1000; i++) {
        ASSERT_EQ(mkdirat(fd, "level", 0777), 0);
        int sub = openat(fd, "level", O_RDONLY);
        close(fd);
        fd = sub;
    }
    for (int i = 0; i < 2000; i++)
        close(openat(fd, ("skip" + std::to_string(i)).c_str(), O_CREAT | O_WRONLY, 0666));
    close(fd);
    Flt deep{"/skip"};
    got = walk(tmp + "/level", PTHALL_POST, flt, &deep);
    ASSERT_EQ(got.size(), 999u);
    EXPECT_GT(got.front().size(), 5900u);
    EXPECT_LT(deep.hi - deep.lo, 256u) << "filter frames spread over " << deep.hi - deep.lo << " bytes";
    EXPECT_EQ(_pthrmv((tmp + "/level").c_str(), 1), 0);
    EXPECT_NE(_chkdir((tmp + "/level").c_str()), 0);
}

TEST_F(Path, RemoveKeepsOrDropsTheRootAndNeverFollowsLinks)
{
    std::string r = mk("r/"), keep = mk("keep/"), kept = mk("keep/x", "data");
    for (auto e : {"r/d/", "r/d/e/", "r/d/e/h", "r/f"})
        mk(e);
    ASSERT_EQ(symlink(keep.c_str(), (r + "/d/ln").c_str()), 0);
    ASSERT_EQ(symlink(kept.c_str(), (r + "/lf").c_str()), 0);
    ASSERT_EQ(symlink(keep.c_str(), (tmp + "/rootln").c_str()), 0);
    Strs got = walk(r, 0);
    EXPECT_EQ(std::count(got.begin(), got.end(), r + "/d/ln"), 1) << "a link is a file";
    EXPECT_EQ(got.size(), 6u) << "nothing below the link";
    EXPECT_EQ(_pthrmv((tmp + "/rootln").c_str(), 0), 0);
    EXPECT_EQ(_chkfil((tmp + "/rootln/x").c_str()), 0) << "a root link is not entered";
    EXPECT_EQ(_pthrmv(r.c_str(), 0), 0);
    EXPECT_EQ(listing(r.c_str(), _pthlst), Strs{});
    EXPECT_EQ(_chkfil(kept.c_str()), 0);
    mk("r/f");
    EXPECT_EQ(_pthrmv(r.c_str(), 1), 0);
    EXPECT_NE(_chkdir(r.c_str()), 0);
    EXPECT_EQ(_pthrmv((tmp + "/rootln").c_str(), 1), 0);
    EXPECT_EQ(listing(keep.c_str(), _pthlst), Strs{"x"}) << "only the link went";
    EXPECT_NE(_pthrmv(r.c_str(), 0), 0) << "a missing root cannot be emptied";
}

TEST_F(Path, UnreadableDirectoryIsNotEnteredAndItsRemovalFails)
{
    if (geteuid() == 0)
        GTEST_SKIP() << "root reads every directory";
    std::string u = mk("r/"), d = mk("r/u/"), f = mk("r/u/f");
    ASSERT_EQ(chmod(d.c_str(), 0), 0);
    EXPECT_EQ(walk(u, 0), Strs{d + "/"});
    EXPECT_NE(_pthrmv(u.c_str(), 1), 0);
    EXPECT_NE(_pthrmv(d.c_str(), 0), 0) << "an unreadable root is not reported empty";
    ASSERT_EQ(chmod(d.c_str(), 0700), 0);
    EXPECT_EQ(_chkfil(f.c_str()), 0);
}

TEST_F(Path, RenameNeverReplacesAndDirectoryCallsReportFailures)
{
    std::string a = mk("a", "A"), b = tmp + "/b", d = mk("d/"), e = mk("e/");
    EXPECT_EQ(_rename(a.c_str(), b.c_str()), 0);
    mk("a", "AA");
    EXPECT_NE(_rename(a.c_str(), b.c_str()), 0);
    EXPECT_NE(_rename(d.c_str(), e.c_str()), 0) << "an empty directory is not replaced either";
    st_pth_inf inf = {};
    EXPECT_EQ(_chkpth(a.c_str(), &inf), 0);
    EXPECT_EQ(pth_inf_siz(&inf), 2u) << "the new a stays";
    EXPECT_EQ(_chkpth(b.c_str(), &inf), 0);
    EXPECT_EQ(pth_inf_siz(&inf), 1u) << "the old a, now b, stays";
    EXPECT_EQ(_chkdir(d.c_str()) | _chkdir(e.c_str()), 0);
    EXPECT_NE(_mkdir(d.c_str()), 0);
    mk("d/x");
    EXPECT_NE(_rmdir(d.c_str()), 0);
    EXPECT_EQ(_rmdir(e.c_str()), 0);
    EXPECT_NE(_chdir(e.c_str()), 0);
}

} // namespace
