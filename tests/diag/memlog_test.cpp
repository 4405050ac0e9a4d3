// Memory log: the ring, payload limits, record lines, the log and light-log
// files, deferred printing, the lock and clearing.
#include "tests/diag/fixture.h"

#include <algorithm>
#include <bit>
#include <cstring>

#include <fcntl.h>

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

std::string line_of(const st_mem_log_rcd *r, int32_t sht)
{
    return written([&](FILE *fp) { mem_log_rcd_prt(fp, r, sht); });
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
    CaptureStderr();
    EXPECT_EQ(mem_log_prt(), 64);
    std::string err = GetCapturedStderr();
    ASSERT_EQ(err.rfind("##memlog##\nf.cpp(7) PRC:rundif.exe err_no:6/0x6 prc_cnt:", 0), 0u);
    EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 65);
    EXPECT_NE(err.find("\nf.cpp(69) PRC:rundif.exe err_no:68/0x44 prc_cnt:"), std::string::npos);
    EXPECT_TRUE(err.ends_with(" inner=-1\n")) << "the latest last; a re-entered print is refused";
    EXPECT_EQ("##memlog##\n" + read_file(log), err);
}

TEST_F(MemLog, PayloadIsLimitedZeroFilledBuiltInPlaceAndPrinted)
{
    __mem_log_mng.flg = 0;
    char big[257];
    std::memset(big, 'x', sizeof big);
    EXPECT_EQ(mem_log_psh(nullptr, 1, "a.cpp", 1, big, 257, nullptr), -1);
    EXPECT_EQ(mem_log_psh(nullptr, 1, "a.cpp", 2, big, 256, nullptr), 0);
    EXPECT_EQ(std::memcmp(__mem_log_mng.rcd[0].dat, big, 256), 0);

    char *slot = static_cast<char *>(mem_log_nxt_buf());
    std::memset(slot, 'y', MEM_LOG_DAT_SIZ);
    std::strcpy(slot, "built here"); // in place, over stale bytes
    ASSERT_EQ(mem_log_psh(nullptr, 1, "a.cpp", 3, slot, 4, mem_log_prt_str), 0);
    EXPECT_EQ(slot, reinterpret_cast<char *>(__mem_log_mng.rcd[1].dat));
    EXPECT_STREQ(slot, "buil") << "the payload is kept, the rest zero-filled";
    EXPECT_EQ(slot[MEM_LOG_DAT_SIZ - 1], 0);

    st_mem_log_rcd r{}; // record lines, with and without their payload
    r.seq = 42, r.lin = 77, r.fil = "x.cpp", r.val = -1, r.prt = mem_log_prt_str;
    std::memset(r.dat, 'y', sizeof r.dat); // unterminated text: cut at 255
    const std::string head = "x.cpp(77) PRC:rundif.exe err_no:-1/0xffffffff prc_cnt:42";
    EXPECT_EQ(line_of(&r, 0), head + " " + std::string(255, 'y') + "\n");
    EXPECT_EQ(line_of(&r, 1), head);
    r.prt = nullptr;
    EXPECT_EQ(line_of(&r, 0), head + " \n");
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
        {__test_mem_log_prt_str, 0, nullptr, "[TS]  = "},
        {__test_mem_log_prt__str, 0x6968, "b", "[TS] b = hi"},
        {__test_mem_log_prt__str, 0x7979797979797979, "n", "[TS] n = " + std::string(248, 'y')},
    };
    for (auto &c : cases) {
        unsigned char dat[MEM_LOG_DAT_SIZ];
        std::memset(dat + 16, 'y', sizeof dat - 16); // no terminator up to the payload's end
        std::memcpy(dat, &c.nam, sizeof c.nam);
        std::memcpy(dat + 8, &c.val, sizeof c.val);
        EXPECT_EQ(written([&](FILE *fp) { c.prt(fp, dat); }), c.want);
        c.prt(nullptr, dat); // no stream: nothing, no crash
    }
}

TEST_F(MemLog, PushWritesLogStandardErrorAndLightLogLines)
{
    int32_t site1 = 0, site2 = 0, site3 = 0;
    std::string blank = std::string(255, ' ') + "\n"; // light-log lines: 256 bytes each
    auto pad = [&](const std::string &l) { return l + blank.substr(l.size()); };
    CaptureStderr();
    mem_log_psh(&site1, -1, "first_long_name.cpp", 10, "one", 4, mem_log_prt_str);
    for (FILE *fp : {__mem_log_mng.lgf, __mem_log_mng.llf})
        EXPECT_TRUE(fp && (fcntl(fileno(fp), F_GETFD) & FD_CLOEXEC)) << "close-on-exec";
    uint64_t s = __mem_log_mng.rcd[0].seq;
    std::string l0 =
        "first_long_name.cpp(10) PRC:rundif.exe err_no:-1/0xffffffff prc_cnt:" + std::to_string(s);
    psh(&site1, 5, "s.cpp", 11); // overwrites the start of the same line
    std::string l1 = "s.cpp(11) PRC:rundif.exe err_no:5/0x5 prc_cnt:" + std::to_string(s + 1);
    std::string ln1 = pad(l1 + l0.substr(l1.size()));
    EXPECT_EQ(read_file(llog), blank + ln1);

    psh(nullptr, 6, "n.cpp", 12); // no slot: line 0
    psh(&site2, 7, "z.cpp", 0);   // source line 0: not in the light log
    std::string lng(300, 'p');
    psh(&site3, 8, lng.c_str(), 13);
    std::string err = GetCapturedStderr();

    std::string l2 = "n.cpp(12) PRC:rundif.exe err_no:6/0x6 prc_cnt:" + std::to_string(s + 2);
    EXPECT_EQ(read_file(llog), pad(l2) + ln1 + blank + std::string(255, 'p') + "\n")
        << "a long record stays inside its own line";

    std::string full = l0 + " one\n" + l1 + " \n" + l2 + " \n";
    EXPECT_EQ(err.substr(0, full.size()), full);
    EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 5);
    EXPECT_EQ(mem_log_prt(), 5) << "everything was written at push time";
    EXPECT_EQ(read_file(log), err);
}

// Without the variables the files are in the working directory.
TEST_F(MemLog, ClearKeepsTheTrailAndTheNextPushStartsAfresh)
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
    psh(&other, -1, "b.cpp", 3);
    GetCapturedStderr();
    mem_log_clr();
    std::filesystem::current_path(cwd);
    EXPECT_TRUE(other == 1 && read_file(dir.file("memlightlog.log")).size() == 512)
        << "light-log ids start again";
    EXPECT_EQ(read_file(dir.file("memlog.log")).rfind("b.cpp(3) ", 0), 0u);
}

TEST_F(MemLog, LockSilencesPushesAndRestoresTheFlags)
{
    uint8_t before = __mem_log_mng.flg;
    mem_log_lck(1);
    mem_log_lck(1); // a second lock must not save the silenced bits
    CaptureStderr();
    EXPECT_EQ(psh(nullptr, 1, "k.cpp", 1), 0);
    EXPECT_TRUE(GetCapturedStderr().empty() && !std::filesystem::exists(log)) << "silenced";
    EXPECT_EQ(__mem_log_mng.num, 1u);
    mem_log_clr();
    mem_log_lck(0);
    mem_log_lck(0);
    EXPECT_EQ(__mem_log_mng.flg, before);
    CaptureStderr(); // cleared while locked: the next push opens the files
    psh(nullptr, 1, "k.cpp", 2);
    GetCapturedStderr();
    EXPECT_EQ(read_file(log).rfind("k.cpp(2) ", 0), 0u);
}

} // namespace
