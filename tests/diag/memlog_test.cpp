// Memory log: the ring, payload limits, record lines, the log and light-log
// files, deferred printing, the lock and clearing. Resource manager, which
// logs its misses there: registrations through nesting levels, duplicates,
// range checks, the guard and the unreleased-resource report.
#include "base/container/container.h"
#include "tests/diag/fixture.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <set>

namespace
{

using namespace diag_test;
using testing::internal::CaptureStderr;
using testing::internal::GetCapturedStderr;

// Each test starts from an empty log with its files in a private directory
// and leaves the log empty with its flags restored.
class MemLog : public ::testing::Test
{
  protected:
    TempDir dir;
    std::string log = dir.file("m.log"), llog = dir.file("l.log");
    EnvVar e1{"BAS_MEMLOG_PATH", log.c_str()}, e2{"BAS_MEMLLOG_PATH", llog.c_str()};
    uint8_t flg = __mem_log_mng.flg;

    void SetUp() override { mem_log_clr(); }
    void TearDown() override
    {
        mem_log_lck(0);
        mem_log_clr();
        __mem_log_mng.flg = flg;
    }
};

int32_t psh(int32_t *id, int32_t val, const char *fil, int32_t lin)
{
    return mem_log_psh(id, val, fil, lin, nullptr, 0, nullptr);
}

void reenter(FILE *fp, const void *)
{
    fprintf(fp, "inner=%d", mem_log_prt());
}

TEST_F(MemLog, PrintWritesTheDeferredOutputsOfTheLatest64OldestFirst)
{
    __mem_log_mng.flg = MEM_LOG_FIL | MEM_LOG_ERR; // written at print time only
    CaptureStderr();
    for (int32_t i = 0; i < 69; i++)
        ASSERT_EQ(psh(nullptr, i, "f.cpp", i + 1), 0);
    mem_log_psh(nullptr, 69, "f.cpp", 70, nullptr, 0, reenter);
    EXPECT_TRUE(GetCapturedStderr().empty() && !std::filesystem::exists(log)) << "deferred";
    EXPECT_TRUE(__mem_log_mng.flg & MEM_LOG_EXT) << "the flush at program end is registered";
    CaptureStderr();
    EXPECT_EQ(mem_log_prt(), 64);
    std::string err = GetCapturedStderr();
    ASSERT_EQ(err.rfind("##memlog##\nf.cpp(7) PRC:test_diag err_no:6/0x6 prc_cnt:", 0), 0u);
    EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 65);
    EXPECT_TRUE(err.ends_with(" inner=-1\n")) << "the latest last; a re-entered print is refused";
    EXPECT_EQ("##memlog##\n" + read_file(log), err);
}

TEST_F(MemLog, PayloadIsLimitedZeroFilledBuiltInPlaceAndPrinted)
{
    __mem_log_mng.flg = 0;
    char big[257];
    std::memset(big, 'x', sizeof big);
    EXPECT_EQ(mem_log_psh(nullptr, 1, "a.cpp", 1, big, 257, nullptr), -1);
    EXPECT_EQ(mem_log_psh(nullptr, 1, "a.cpp", 2, big, 256, mem_log_prt_str), 0);
    EXPECT_EQ(std::memcmp(__mem_log_mng.rcd[0].dat, big, 256), 0);
    std::string line = written([](FILE *fp) { mem_log_rcd_prt(fp, &__mem_log_mng.rcd[0], 0); });
    EXPECT_TRUE(line.ends_with(" " + std::string(255, 'x') + "\n")) << "unterminated: cut at 255";

    char *slot = static_cast<char *>(mem_log_nxt_buf());
    std::memset(slot, 'y', MEM_LOG_DAT_SIZ);
    std::strcpy(slot, "built here"); // in place, over stale bytes
    ASSERT_EQ(mem_log_psh(nullptr, 1, "a.cpp", 3, slot, 4, mem_log_prt_str), 0);
    EXPECT_EQ(slot, reinterpret_cast<char *>(__mem_log_mng.rcd[1].dat));
    EXPECT_STREQ(slot, "buil") << "the payload is kept, the rest zero-filled";
    EXPECT_EQ(slot[MEM_LOG_DAT_SIZ - 1], 0);
}

// The test-value printers: a name reference at byte 0, the value at byte 8,
// unterminated text after it.
TEST_F(MemLog, TestValuePrinters)
{
    const char *text = "tx";
    struct {
        mem_log_prt_fn prt;
        uint64_t val; // the bytes at 8
        const char *nam;
        std::string want;
    } cases[] = {
        {__test_mem_log_prt_int, uint32_t(-7), "i", "[TI] i = -7"},
        {__test_mem_log_prt_uint, 4000000000u, "u", "[TU] u = 4000000000"},
        {__test_mem_log_prt_hex, 0xbeef, "n", "[TX] n = 0x0000BEEF"},
        {__test_mem_log_prt_flt, std::bit_cast<uint64_t>(2.5), "f", "[TF] f = 2.500000"},
        {__test_mem_log_prt_str, reinterpret_cast<uintptr_t>(text), "s", "[TS] s = tx"},
        {__test_mem_log_prt__str, 0x7979797979797979, "n", "[TS] n = " + std::string(248, 'y')},
    };
    for (auto &c : cases) {
        unsigned char dat[MEM_LOG_DAT_SIZ];
        std::memset(dat + 16, 'y', sizeof dat - 16); // no terminator up to the payload's end
        std::memcpy(dat, &c.nam, sizeof c.nam);
        std::memcpy(dat + 8, &c.val, sizeof c.val);
        EXPECT_EQ(written([&](FILE *fp) { c.prt(fp, dat); }), c.want);
    }
}

TEST_F(MemLog, PushWritesLogStandardErrorAndLightLogLines)
{
    int32_t site1 = 0, site2 = 0, site3 = 0;
    std::string blank = std::string(255, ' ') + "\n"; // light-log lines: 256 bytes each
    auto pad = [&](const std::string &l) { return l + blank.substr(l.size()); };
    CaptureStderr();
    mem_log_psh(&site1, -1, "first_long_name.cpp", 10, "one", 4, mem_log_prt_str);
    uint64_t s = __mem_log_mng.rcd[0].seq;
    std::string l0 =
        "first_long_name.cpp(10) PRC:test_diag err_no:-1/0xffffffff prc_cnt:" + std::to_string(s);
    psh(&site1, 5, "s.cpp", 11); // overwrites the start of the same line
    std::string l1 = "s.cpp(11) PRC:test_diag err_no:5/0x5 prc_cnt:" + std::to_string(s + 1);
    std::string ln1 = pad(l1 + l0.substr(l1.size()));
    EXPECT_EQ(read_file(llog), blank + ln1);

    psh(nullptr, 6, "n.cpp", 12); // no slot: line 0
    psh(&site2, 7, "z.cpp", 0);   // source line 0: not in the light log
    std::string lng(300, 'p');
    psh(&site3, 8, lng.c_str(), 13);
    std::string err = GetCapturedStderr();

    std::string l2 = "n.cpp(12) PRC:test_diag err_no:6/0x6 prc_cnt:" + std::to_string(s + 2);
    EXPECT_EQ(read_file(llog), pad(l2) + ln1 + blank + std::string(255, 'p') + "\n")
        << "a long record stays inside its own line";

    std::string full = l0 + " one\n" + l1 + " \n" + l2 + " \n";
    EXPECT_EQ(err.substr(0, full.size()), full);
    EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 5);
    EXPECT_EQ(mem_log_prt(), 5) << "everything was written at push time";
    EXPECT_EQ(read_file(log), err);
}

// Without the variables the files are in the working directory. A lock
// silences pushes; a clear made while locked lets the next push open the
// files again.
TEST_F(MemLog, ClearKeepsTheTrailLockSilencesAndTheNextPushStartsAfresh)
{
    EnvVar u1{"BAS_MEMLOG_PATH", nullptr}, u2{"BAS_MEMLLOG_PATH", nullptr};
    const std::filesystem::path cwd = std::filesystem::current_path();
    std::filesystem::current_path(dir.path);
    int32_t site = 0, other = 0;
    CaptureStderr();
    psh(&site, -1, "a.cpp", 1);
    psh(&site, -1, "a.cpp", 2);
    EXPECT_EQ(mem_log_clr(), 0);
    EXPECT_EQ(mem_log_end(), 0); // as at program end after the tool's clearing
    std::string trail = read_file(dir.file("memlog.log"));
    EXPECT_EQ(std::count(trail.begin(), trail.end(), '\n'), 2) << "the log was not truncated";

    uint8_t before = __mem_log_mng.flg;
    mem_log_lck(1);
    mem_log_lck(1); // a second lock must not save the silenced bits
    EXPECT_TRUE(psh(nullptr, 1, "k.cpp", 1) == 0 && __mem_log_mng.num == 1) << "kept in the ring";
    mem_log_clr();
    mem_log_lck(0);
    mem_log_lck(0);
    EXPECT_EQ(__mem_log_mng.flg, before);
    psh(&other, -1, "b.cpp", 3);
    EXPECT_EQ(GetCapturedStderr().find("k.cpp"), std::string::npos) << "silenced";
    mem_log_clr();
    std::filesystem::current_path(cwd);
    EXPECT_TRUE(other == 1 && read_file(dir.file("memlightlog.log")).size() == 512)
        << "light-log ids start again";
    EXPECT_EQ(read_file(dir.file("memlog.log")).rfind("b.cpp(3) ", 0), 0u);
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
    return rscmng_psh(m, fake(p), siz, nst, "r.cpp", 7, "fn", "about");
}

int32_t del(st_rscmng *m, uintptr_t p, uint32_t nst)
{
    return rscmng_del(m, fake(p), nst, "r.cpp", 8, "fn", "about");
}

int32_t chk(st_rscmng *m, uintptr_t p, uint32_t siz)
{
    return rscmng_chk(m, fake(p), siz, 0, "r.cpp", 9, "fn", "a");
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
    int32_t lvl = m->lvl + 1;
    for (const st_rscmng_nst *f = m->top; f; f = f->lnk) {
        EXPECT_LT(f->lvl, lvl);
        lvl = f->lvl;
        st_rscmng_rcd *const *link = &f->top;
        for (st_rscmng_rcd *r = f->top; r; link = &r->nxt, r = r->nxt) {
            EXPECT_EQ(r->prv, link);
            EXPECT_EQ(find(m, r->key.beg, r->nst), r);
            EXPECT_TRUE(r->nst && seen.insert(r).second);
        }
    }
    uint32_t n = 99;
    EXPECT_EQ(rscmng_cnt(m, &n), 0);
    return n;
}

// The process's own manager (nullptr) is run by the tool's own tests.
TEST(RscMng, LevelsEndTheirRegistrationsDuplicatesGuardAndFailedSetUp)
{
    Mng m;
    int32_t w = __rtn = RTN_ERR1; // bookkeeping must not touch the word
    EXPECT_EQ(reg(m, 0x1000, 16, 0), fake(0x1000));
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

    EXPECT_EQ(reg(m, 0, 4, 0), nullptr);
    reg(m, 0x1000, 4, 0);
    reg(m, 0x1000, 8, 0);
    reg(m, 0x1000, 4, 2); // another nest flag is another key
    EXPECT_TRUE(check(m) == 2 && find(m, 0x1000, 0)->cnt == 2);
    EXPECT_TRUE(del(m, 0x1000, 0) == 0 && del(m, 0x1000, 0) == 1) << "one drop removes it";

    __dbg = 1; // busy diagnostics do nothing
    EXPECT_EQ(reg(m, 0x9000, 4, 0), fake(0x9000));
    __dbg = 0;
    EXPECT_EQ(check(m), 1u);

    st_rscmng fresh = {10, nullptr, nullptr};
    __mem_fail_at(1); // the registry cannot be set up
    EXPECT_EQ(reg(&fresh, 0x1000, 4, 0), fake(0x1000));
    __mem_fail_at(1);
    uint32_t n = 7;
    EXPECT_TRUE(rscmng_cnt(&fresh, &n) == -1 && n == 0 && !fresh.map);
    __mem_fail_at(1);
    EXPECT_EQ(chk(&fresh, 0x1000, 4), -1);
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
    rscmng_psh(m, fake(high), 0x10, 0, "main.cpp", 258, "start", "fopen");
    rscmng_psh(m, fake(0x1234), 5, 3, "b.cpp", 12, "grow", "buf");
    uint64_t seq = find(m, high, 0)->seq;
    const std::string head = "[RSCMNG UnReleasePointer],func,about,pointer,size,*,prc_cnt\n";
    const std::string main_line =
        "main.cpp(258),start,fopen,7f0012345678,7f0012345688,0," + std::to_string(seq) + "\n";
    const std::string buf_line =
        "b.cpp(12),grow,buf,00001234,00001239,3," + std::to_string(seq + 1) + "\n";
    EXPECT_EQ(report(2), head + main_line) << "level 3's registration left out";
    EXPECT_TRUE(report(3) == head + buf_line + main_line && rc == 0) << "in pointer order";
    EXPECT_EQ(rscmng_prt(m, nullptr, 3), -1) << "no channel";

    // Range checks need one registration that covers the whole range.
    reg(m, 0x1000, 100, 0);
    reg(m, 0x1010, 8, 3); // a smaller block inside the first
    reg(m, 0x2000, 0, 0); // a handle: size 0
    EXPECT_EQ(chk(m, 0x1014, 60), 0) << "a part of a block is covered";
    EXPECT_EQ(chk(m, 0x1060, 5), 1) << "one byte past the end";
    EXPECT_TRUE(chk(m, 0x0fff, 2) == 1 && chk(m, 0x2000, 2) == 1 && chk(m, 0, 4) == 1);
    EXPECT_EQ(chk(m, 0x2000, 0), 0) << "a handle covers its own address";
    EXPECT_EQ(chk(m, UINTPTR_MAX - 2, 8), 1);

    mem_log_clr(); // a logged miss: memory-log record, status word -1
    __rtn = 0;
    CaptureStderr();
    EXPECT_EQ(rscmng_chk(m, fake(0x1060), 8, 1, "q.cpp", 42, "caller", "buf"), 1);
    std::string err = GetCapturedStderr();
    EXPECT_EQ(__rtn, -1) << "a logged miss sets the word";
    EXPECT_NE(err.find(" fnc=caller ptr=0x00001060 size=8 about=buf\n"), std::string::npos);
    EXPECT_EQ(written([](FILE *fp) { rscmng_log(fp, nullptr); }), "") << "no record, no line";
    __rtn = 0;
    mem_log_clr();
}

} // namespace
