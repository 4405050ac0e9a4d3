// Resource manager: registrations through nesting levels, duplicates, range
// checks, the guard and the unreleased-resource report.
#include "base/container/container.h"
#include "tests/diag/fixture.h"

#include <set>

namespace
{

using namespace diag_test;

void *ptr(uintptr_t v)
{
    return reinterpret_cast<void *>(v);
}

// A private manager, ended with every registration and frame.
struct Mng {
    st_rscmng m{10, nullptr, nullptr};
    ~Mng()
    {
        rscmng_del_all(&m, 0);
        _free(&m.map);
    }
    operator st_rscmng *() { return &m; }
};

void *reg(st_rscmng *m, uintptr_t p, uint32_t siz, uint32_t nst)
{
    return rscmng_psh(m, ptr(p), siz, nst, "r.cpp", 7, "fn", "about");
}

int32_t del(st_rscmng *m, uintptr_t p, uint32_t nst)
{
    return rscmng_del(m, ptr(p), nst, "r.cpp", 8, "fn", "about");
}

int32_t chk(st_rscmng *m, uintptr_t p, uint32_t siz)
{
    return rscmng_chk(m, ptr(p), siz, 0, "r.cpp", 9, "fn", "a");
}

st_rscmng_rcd *find(st_rscmng *m, uintptr_t p, uint32_t nst)
{
    st_rtn_save kept; // the test's own lookup must not show in the word
    st_rscmng_key key = {p, p, nst};
    void *nod = nullptr;
    return m->map && map_get(m->map, &key, &nod) == 0 ? static_cast<st_rscmng_rcd *>(nod) : nullptr;
}

// Checker, returning the count of registrations: each frame list is
// consistently linked and holds registered records with a nest flag, no
// record is on two lists, and frame levels fall strictly from the top down.
uint32_t check(st_rscmng *m)
{
    std::set<const st_rscmng_rcd *> seen;
    st_rscmng *own = m ? m : &__rscmng_base;
    int32_t lvl = own->lvl + 1;
    for (const st_rscmng_nst *f = own->top; f; f = f->lnk) {
        EXPECT_LT(f->lvl, lvl);
        lvl = f->lvl;
        st_rscmng_rcd *const *link = &f->top;
        for (st_rscmng_rcd *r = f->top; r; link = &r->nxt, r = r->nxt) {
            EXPECT_EQ(r->prv, link);
            EXPECT_EQ(find(own, r->key.beg, r->nst), r);
            EXPECT_TRUE(r->nst && seen.insert(r).second);
        }
    }
    uint32_t n = 99;
    EXPECT_EQ(rscmng_cnt(m, &n), 0);
    return n;
}

TEST(RscMng, LevelsEndTheirRegistrations)
{
    Mng m;
    int32_t w = __rtn = RTN_ERR1; // bookkeeping must not touch the word
    EXPECT_EQ(reg(m, 0x1000, 16, 0), ptr(0x1000));
    rscmng_nst_in(m);
    reg(m, 0x2000, 16, 1);
    reg(m, 0x3000, 16, 0); // global inside a level: stays
    rscmng_nst_in(m);      // a level makes its frame only when something registers
    EXPECT_TRUE(m.m.lvl == 12 && m.m.top->lvl == 11);
    reg(m, 0x4000, 16, 1); // makes the level's frame now
    reg(m, 0x5000, 16, 1);
    EXPECT_TRUE(del(m, 0x4000, 1) == 0 && check(m) == 4) << "dropped before its level ends";
    rscmng_nst_out(m);
    EXPECT_TRUE(check(m) == 3 && !find(m, 0x5000, 1) && find(m, 0x2000, 1));
    rscmng_nst_out(m);
    EXPECT_TRUE(m.m.top == nullptr && check(m) == 2);
    EXPECT_TRUE(del(m, 0x2000, 1) == 1 && find(m, 0x3000, 0)) << "0x2000 ended with its level";
    EXPECT_EQ(__rtn, w);
    __rtn = 0;

    rscmng_nst_in(m);
    reg(m, 0x6000, 4, 1);
    rscmng_nst_in(m);
    __mem_fail_at(1); // the registration's frame cannot be made
    reg(m, 0x7000, 4, 1);
    ASSERT_TRUE(find(m, 0x7000, 1) && check(m) == 4) << "registered, though on no list";
    rscmng_nst_out(m);
    EXPECT_NE(find(m, 0x6000, 1), nullptr) << "the enclosing level's records survive";
    rscmng_nst_out(m);
    EXPECT_TRUE(find(m, 0x6000, 1) == nullptr && del(m, 0x7000, 1) == 0);
    __mem_fail_at(0);

    rscmng_nst_in(m);
    reg(m, 0x2000, 4, 1);
    rscmng_nst_in(m);
    reg(m, 0x8000, 4, 1);
    EXPECT_EQ(rscmng_del_all(m, 12), 0); // the frames of level 12 and above
    EXPECT_TRUE(!find(m, 0x8000, 1) && find(m, 0x2000, 1) && check(m) == 3);
    EXPECT_EQ(rscmng_del_all(m, 0), 0);
    EXPECT_TRUE(check(m) == 0 && !m.m.top);
}

TEST(RscMng, DuplicatesGuardFailedSetUpAndTheDefaultManager)
{
    Mng m;
    EXPECT_EQ(reg(m, 0, 4, 0), nullptr);
    reg(m, 0x1000, 4, 0);
    reg(m, 0x1000, 8, 0);
    reg(m, 0x1000, 4, 2); // another nest flag is another key
    EXPECT_TRUE(check(m) == 2 && find(m, 0x1000, 0)->cnt == 2);
    EXPECT_TRUE(del(m, 0x1000, 0) == 0 && del(m, 0x1000, 0) == 1) << "one drop removes it";

    __dbg = 1; // busy diagnostics do nothing
    EXPECT_EQ(reg(m, 0x9000, 4, 0), ptr(0x9000));
    EXPECT_EQ(rscmng_chk(m, ptr(0x9999), 1, 1, "r.cpp", 1, "fn", "a"), 0);
    EXPECT_EQ(del(m, 0x1000, 2), 0);
    EXPECT_EQ(rscmng_del_all(m, 0), 1);
    __dbg = 0;
    EXPECT_EQ(check(m), 1u);

    st_rscmng fresh = {10, nullptr, nullptr};
    __mem_fail_at(1); // the registry cannot be set up
    EXPECT_EQ(reg(&fresh, 0x1000, 4, 0), ptr(0x1000));
    __mem_fail_at(1);
    EXPECT_EQ(chk(&fresh, 0x1000, 4), -1);
    __mem_fail_at(1);
    uint32_t n = 7;
    EXPECT_TRUE(rscmng_cnt(&fresh, &n) == -1 && n == 0 && !fresh.map);

    int32_t lvl = __rscmng_base.lvl; // nullptr: the process's own manager
    uint32_t base_cnt = check(nullptr);
    rscmng_nst_in(nullptr);
    rscmng_psh(nullptr, &n, sizeof n, 1, "d.cpp", 1, "f", "a");
    EXPECT_EQ(check(nullptr), base_cnt + 1);
    rscmng_nst_out(nullptr);
    EXPECT_TRUE(__rscmng_base.lvl == lvl && check(nullptr) == base_cnt);
}

TEST(RscMng, ReportListsRegistrationsUpToTheLevelAndRangeChecks)
{
    Mng m;
    int32_t rc = 9;
    auto report = [&](uint32_t lvl) {
        return written([&](FILE *fp) { rc = rscmng_prt(m, fp, lvl); });
    };
    EXPECT_TRUE(report(100).empty() && rc == 0) << "nothing registered: not even the header";

    uintptr_t high = static_cast<uintptr_t>(0x7f0012345678ull);
    rscmng_psh(m, ptr(high), 0x10, 0, "main.cpp", 258, "start", "fopen");
    rscmng_psh(m, ptr(0x1234), 5, 3, "b.cpp", 12, "grow", "buf");
    uint64_t seq = find(m, high, 0)->seq;
    const std::string head = "[RSCMNG UnReleasePointer],func,about,pointer,size,*,prc_cnt\n";
    const std::string main_line =
        "main.cpp(258),start,fopen,7f0012345678,7f0012345688,0," + std::to_string(seq) + "\n";
    const std::string buf_line =
        "b.cpp(12),grow,buf,00001234,00001239,3," + std::to_string(seq + 1) + "\n";
    EXPECT_EQ(report(0), head + main_line) << "level 0: global registrations only";
    EXPECT_EQ(report(2), head + main_line);
    EXPECT_TRUE(report(3) == head + buf_line + main_line && rc == 0) << "in pointer order";

    // Range checks need one registration that covers the whole range.
    reg(m, 0x1000, 100, 0);
    reg(m, 0x1010, 8, 3); // a smaller block inside the first
    reg(m, 0x2000, 0, 0); // a handle: size 0
    EXPECT_EQ(chk(m, 0x1000, 100), 0);
    EXPECT_EQ(chk(m, 0x1014, 60), 0) << "a part of a block is covered";
    EXPECT_EQ(chk(m, 0x1060, 5), 1) << "one byte past the end";
    EXPECT_TRUE(chk(m, 0x0fff, 2) == 1 && chk(m, 0x2000, 2) == 1 && chk(m, 0, 4) == 1);
    EXPECT_EQ(chk(m, 0x2000, 0), 0) << "a handle covers its own address";
    EXPECT_EQ(chk(m, UINTPTR_MAX - 2, 8), 1);

    mem_log_clr(); // a logged miss: memory-log record, status word -1
    __rtn = 0;
    testing::internal::CaptureStderr();
    EXPECT_EQ(rscmng_chk(m, ptr(0x1060), 8, 1, "q.cpp", 42, "caller", "buf"), 1);
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(__rtn, -1) << "a logged miss sets the word";
    EXPECT_EQ(err.rfind("q.cpp(42) PRC:rundif.exe err_no:0/0x0 prc_cnt:", 0), 0u);
    EXPECT_NE(err.find(" fnc=caller ptr=0x00001060 size=8 about=buf\n"), std::string::npos);
    __rtn = 0;
    mem_log_clr();
}

} // namespace
