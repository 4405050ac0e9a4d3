// Memory log: the ring, payload limits, record lines, the log and light-log
// files, deferred printing, the lock and the end-of-program paths.
#include "tests/diag/fixture.h"

#include <algorithm>
#include <cstddef>
#include <cstring>

#include <fcntl.h>

namespace
{

using diag_test::CwdGuard;
using diag_test::EnvVar;
using diag_test::read_file;
using diag_test::TempDir;
using testing::internal::CaptureStderr;
using testing::internal::GetCapturedStderr;

// Each test starts from an empty log with its files in a private directory
// and leaves the log empty with its flags restored.
class MemLog : public ::testing::Test
{
  protected:
    TempDir dir;
    std::string log = dir.file("m.log"), llog = dir.file("l.log");
    EnvVar e1{"BAS_MEMLOG_PATH", log.c_str()};
    EnvVar e2{"BAS_MEMLLOG_PATH", llog.c_str()};
    uint8_t flg = __mem_log_mng.flg;

    void SetUp() override { mem_log_clr(); }
    void TearDown() override
    {
        mem_log_lck(0);
        mem_log_clr();
        __mem_log_mng.flg = flg;
    }
    void quiet() { __mem_log_mng.flg &= static_cast<uint8_t>(~MEM_LOG_OUT); }
};

std::string lines_of(const st_mem_log_rcd *r, int32_t sht)
{
    char *buf = nullptr;
    size_t len = 0;
    FILE *fp = open_memstream(&buf, &len);
    mem_log_rcd_prt(fp, r, sht);
    fclose(fp);
    std::string out(buf, len);
    free(buf);
    return out;
}

TEST_F(MemLog, RingKeepsTheLatest64OldestFirst)
{
    quiet();
    for (int32_t i = 0; i < 70; i++)
        ASSERT_EQ(mem_log_psh(nullptr, i, "f.cpp", i + 1, nullptr, 0, nullptr), 0);
    EXPECT_EQ(__mem_log_mng.num, 64u);
    EXPECT_EQ(__mem_log_mng.pos, 6u);
    EXPECT_EQ(__mem_log_mng.rcd[__mem_log_mng.pos].lin, 7) << "oldest is the seventh pushed";

    __mem_log_mng.flg |= MEM_LOG_ERR; // standard error at print time only
    CaptureStderr();
    EXPECT_EQ(mem_log_prt(), 64);
    std::string err = GetCapturedStderr();
    ASSERT_EQ(err.rfind("##memlog##\nf.cpp(7) PRC:rundif.exe err_no:6/0x6 prc_cnt:", 0), 0u);
    EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 65);
    EXPECT_NE(err.find("f.cpp(70) PRC:rundif.exe err_no:69/0x45 prc_cnt:"), std::string::npos);
}

TEST_F(MemLog, PayloadIsLimitedZeroFilledAndMayBeBuiltInPlace)
{
    quiet();
    unsigned char big[257];
    std::memset(big, 'x', sizeof big);
    ASSERT_EQ(mem_log_psh(nullptr, 1, "a.cpp", 1, big, 256, nullptr), 0);
    EXPECT_EQ(std::memcmp(__mem_log_mng.rcd[0].dat, big, 256), 0);
    uint64_t seq = __mem_log_mng.rcd[0].seq;
    EXPECT_EQ(mem_log_psh(nullptr, 1, "a.cpp", 2, big, 257, nullptr), -1);
    EXPECT_EQ(__mem_log_mng.num, 1u);
    EXPECT_EQ(__mem_log_mng.pos, 1u);

    std::memset(mem_log_nxt_buf(), 0xff, MEM_LOG_DAT_SIZ); // stale bytes in the slot
    ASSERT_EQ(mem_log_psh(nullptr, 1, "a.cpp", 3, "abc", 3, mem_log_prt_str), 0);
    const st_mem_log_rcd &r = __mem_log_mng.rcd[1];
    EXPECT_EQ(r.seq, seq + 1) << "a refused push takes no event count";
    EXPECT_STREQ(reinterpret_cast<const char *>(r.dat), "abc");
    EXPECT_EQ(r.dat[255], 0);

    char *in_place = static_cast<char *>(mem_log_nxt_buf());
    EXPECT_EQ(in_place, reinterpret_cast<const char *>(__mem_log_mng.rcd[2].dat));
    std::strcpy(in_place, "built here");
    ASSERT_EQ(mem_log_psh(nullptr, 1, "a.cpp", 4, in_place, 11, mem_log_prt_str), 0);
    EXPECT_STREQ(in_place, "built here");

    ASSERT_EQ(mem_log_psh(nullptr, 1, "a.cpp", 5, nullptr, 10, nullptr), 0);
    EXPECT_EQ(__mem_log_mng.rcd[3].dat[0], 0);
}

void reenter(FILE *fp, const void *)
{
    fprintf(fp, "inner=%d", mem_log_prt());
}

TEST_F(MemLog, RecordLinesAndPayloadPrinters)
{
    st_mem_log_rcd r{};
    r.seq = 42, r.lin = 77, r.fil = "x.cpp", r.val = -1, r.prt = mem_log_prt_str;
    std::strcpy(reinterpret_cast<char *>(r.dat), "payload");
    const std::string head = "x.cpp(77) PRC:rundif.exe err_no:-1/0xffffffff prc_cnt:42";
    EXPECT_EQ(lines_of(&r, 0), head + " payload\n");
    EXPECT_EQ(lines_of(&r, 1), head);
    r.prt = nullptr;
    EXPECT_EQ(lines_of(&r, 0), head + " \n");
    EXPECT_EQ(lines_of(nullptr, 0), "");
    mem_log_rcd_prt(nullptr, &r, 0);

    std::memset(r.dat, 'y', sizeof r.dat); // unterminated: cut at 255
    r.prt = mem_log_prt_str;
    EXPECT_EQ(lines_of(&r, 0), head + " " + std::string(255, 'y') + "\n");

    struct {
        const char *nam;
        union {
            const char *str;
            int32_t i;
            uint32_t u;
            double d;
            char txt[248];
        } v;
    } p{"n", {}};
    static_assert(offsetof(decltype(p), v) == 8);
    std::memset(&p.v, 0, sizeof p.v);
    auto show = [&](mem_log_prt_fn fn) {
        r.prt = fn;
        std::memcpy(r.dat, &p, sizeof p);
        std::string s = lines_of(&r, 0);
        return s.substr(head.size() + 1, s.size() - head.size() - 2);
    };
    p.v.str = "text";
    EXPECT_EQ(show(__test_mem_log_prt_str), "[TS] n = text");
    std::strcpy(p.v.txt, "inline");
    EXPECT_EQ(show(__test_mem_log_prt__str), "[TS] n = inline");
    p.v.i = -5;
    EXPECT_EQ(show(__test_mem_log_prt_int), "[TI] n = -5");
    EXPECT_EQ(show(__test_mem_log_prt_uint), "[TU] n = 4294967291");
    p.v.u = 0xbeef;
    EXPECT_EQ(show(__test_mem_log_prt_hex), "[TX] n = 0x0000BEEF");
    p.v.d = 2.5;
    EXPECT_EQ(show(__test_mem_log_prt_flt), "[TF] n = 2.500000");
}

bool cloexec(FILE *fp)
{
    return fp && (fcntl(fileno(fp), F_GETFD) & FD_CLOEXEC);
}

// Line i of the light log: 256 bytes from byte 256 * i.
std::string llg_line(const std::string &file, size_t i)
{
    return file.size() >= 256 * (i + 1) ? file.substr(256 * i, 256) : "";
}

TEST_F(MemLog, PushWritesLogStandardErrorAndLightLogLines)
{
    int32_t site1 = 0, site2 = 0, site3 = 0;
    std::string blank = std::string(255, ' ') + "\n";
    CaptureStderr();
    mem_log_psh(&site1, -1, "first_long_name.cpp", 10, "one", 4, mem_log_prt_str);
    EXPECT_TRUE(cloexec(__mem_log_mng.lgf));
    EXPECT_TRUE(cloexec(__mem_log_mng.llf));
    EXPECT_TRUE(__mem_log_mng.flg & MEM_LOG_EXT);
    uint64_t s0 = __mem_log_mng.rcd[0].seq;
    std::string l0 =
        "first_long_name.cpp(10) PRC:rundif.exe err_no:-1/0xffffffff prc_cnt:" + std::to_string(s0);
    std::string ll = read_file(llog);
    EXPECT_EQ(site1, 1);
    EXPECT_EQ(llg_line(ll, 0), blank);
    EXPECT_EQ(llg_line(ll, 1), l0 + blank.substr(l0.size()));

    mem_log_psh(&site1, 5, "s.cpp", 11, nullptr, 0, nullptr); // overwrites the start only
    std::string l1 = "s.cpp(11) PRC:rundif.exe err_no:5/0x5 prc_cnt:" + std::to_string(s0 + 1);
    EXPECT_EQ(llg_line(read_file(llog), 1), l1 + l0.substr(l1.size()) + blank.substr(l0.size()));

    mem_log_psh(nullptr, 6, "n.cpp", 12, nullptr, 0, nullptr); // no slot: line 0
    mem_log_psh(&site2, 7, "z.cpp", 0, nullptr, 0, nullptr);   // line 0 of source: not written
    std::string lng(300, 'p');
    mem_log_psh(&site3, 8, lng.c_str(), 13, nullptr, 0, nullptr);
    std::string err = GetCapturedStderr();

    ll = read_file(llog);
    ASSERT_EQ(ll.size(), 4u * 256) << "a long record stays inside its own line";
    std::string l2 = "n.cpp(12) PRC:rundif.exe err_no:6/0x6 prc_cnt:" + std::to_string(s0 + 2);
    EXPECT_EQ(llg_line(ll, 0), l2 + blank.substr(l2.size()));
    EXPECT_EQ(llg_line(ll, 2), blank) << "site 2 got its line but logged from line 0";
    EXPECT_EQ(llg_line(ll, 3), std::string(255, 'p') + "\n");

    std::string full = l0 + " one\n" + l1 + " \n" + l2 + " \n";
    EXPECT_EQ(read_file(log).substr(0, full.size()), full);
    EXPECT_EQ(err.substr(0, full.size()), full);
    EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 5);
    EXPECT_EQ(mem_log_prt(), 5) << "everything was written at push time";
    EXPECT_EQ(read_file(log), err);
}

TEST_F(MemLog, ClearKeepsTheTrailAndTheNextPushStartsAfresh)
{
    int32_t site = 0;
    CaptureStderr();
    mem_log_psh(&site, -1, "a.cpp", 1, nullptr, 0, nullptr);
    mem_log_psh(&site, -1, "a.cpp", 2, nullptr, 0, nullptr);
    GetCapturedStderr();
    EXPECT_EQ(mem_log_clr(), 0);
    EXPECT_EQ(__mem_log_mng.lgf, nullptr);
    EXPECT_EQ(__mem_log_mng.llf, nullptr);
    EXPECT_EQ(mem_log_prt(), 0);
    EXPECT_EQ(mem_log_end(), 0);
    std::string trail = read_file(log);
    EXPECT_EQ(std::count(trail.begin(), trail.end(), '\n'), 2) << "a print after clearing "
                                                                  "must not truncate the log";
    int32_t other = 0;
    CaptureStderr();
    mem_log_psh(&other, -1, "b.cpp", 3, nullptr, 0, nullptr);
    GetCapturedStderr();
    EXPECT_EQ(other, 1) << "light-log ids start again";
    EXPECT_EQ(read_file(log).rfind("b.cpp(3) ", 0), 0u);
    EXPECT_EQ(read_file(llog).size(), 512u);
}

TEST_F(MemLog, DeferredOutputsAreWrittenByPrint)
{
    __mem_log_mng.flg = MEM_LOG_FIL | MEM_LOG_ERR;
    CaptureStderr();
    mem_log_psh(nullptr, 1, "d.cpp", 1, nullptr, 0, nullptr);
    mem_log_psh(nullptr, 2, "d.cpp", 2, nullptr, 0, reenter);
    EXPECT_EQ(GetCapturedStderr(), "");
    EXPECT_FALSE(std::filesystem::exists(log));
    EXPECT_FALSE(std::filesystem::exists(llog));
    CaptureStderr();
    EXPECT_EQ(mem_log_prt(), 2);
    std::string err = GetCapturedStderr();
    EXPECT_EQ(err.rfind("##memlog##\nd.cpp(1) ", 0), 0u);
    EXPECT_NE(err.find("inner=-1\n"), std::string::npos) << "re-entered print is refused";
    EXPECT_EQ("##memlog##\n" + read_file(log), err);
    EXPECT_TRUE(cloexec(__mem_log_mng.lgf));
}

TEST_F(MemLog, LockSilencesPushesAndRestoresTheFlags)
{
    uint8_t before = __mem_log_mng.flg;
    mem_log_lck(1);
    mem_log_lck(1); // a second lock must not save the silenced bits
    EXPECT_EQ(__mem_log_mng.flg & MEM_LOG_OUT, 0);
    EXPECT_TRUE(__mem_log_mng.flg & MEM_LOG_LCK);
    CaptureStderr();
    EXPECT_EQ(mem_log_psh(nullptr, 1, "k.cpp", 1, nullptr, 0, nullptr), 0);
    EXPECT_EQ(GetCapturedStderr(), "");
    EXPECT_EQ(__mem_log_mng.num, 1u);
    EXPECT_FALSE(std::filesystem::exists(log));
    mem_log_clr();
    mem_log_lck(0);
    EXPECT_EQ(__mem_log_mng.flg, before);
    mem_log_lck(0);
    EXPECT_EQ(__mem_log_mng.flg, before);

    CaptureStderr(); // cleared while locked: the next push opens the files
    mem_log_psh(nullptr, 1, "k.cpp", 2, nullptr, 0, nullptr);
    EXPECT_NE(GetCapturedStderr(), "");
    EXPECT_EQ(read_file(log).rfind("k.cpp(2) ", 0), 0u);
}

TEST_F(MemLog, DefaultFileNamesInTheWorkingDirectory)
{
    EnvVar u1{"BAS_MEMLOG_PATH", nullptr}, u2{"BAS_MEMLLOG_PATH", nullptr};
    CwdGuard in(dir.path);
    CaptureStderr();
    mem_log_psh(nullptr, 1, "w.cpp", 1, nullptr, 0, nullptr);
    GetCapturedStderr();
    mem_log_clr();
    EXPECT_EQ(read_file(dir.file("memlog.log")).rfind("w.cpp(1) ", 0), 0u);
    EXPECT_EQ(read_file(dir.file("memlightlog.log")).size(), 256u);
}

} // namespace
