// The coverage recorder: the source scanner, pass points, pairing, the
// report and the clears; the instrumented sample closes the whole loop.
#define RUNDIF_CVR 1 // this file and the sample it includes are instrumented
#include "tests/cover/data/cvr_sample.cpp"
#include "tests/diag/fixture.h"

#include <fcntl.h>

namespace
{

struct Rec : diag_test::TempDir { // a recorder and a directory of sources
    st_test_cvr m{};
    ~Rec() { test_cvr_clr_all(&m, 0); }
    int32_t rd(const std::string &text)
    {
        std::ofstream(file("src.cpp"), std::ios::binary) << text;
        return test_cvr_rd(&m, file("src.cpp").c_str());
    }
};

// The points that scanning text finds, as "line:type" in source order.
std::string scan(const std::string &text)
{
    Rec r;
    std::string s = r.rd(text) == 0 ? "" : "fail";
    for (const st_test_cvr_exp *e = r.m.exp; e; e = e->nxt)
        s = std::to_string(e->pos.lin) + ":" + std::to_string(e->typ) + (s.empty() ? "" : " ") + s;
    return s;
}

std::string report(st_test_cvr *m, int32_t all)
{
    return diag_test::written([&](FILE *fp) { EXPECT_EQ(test_cvr_prt(m, fp, all), 0); });
}

const std::string hdr = "sorce,func,msg,type,count\n";

} // namespace

TEST(Coverage, ScannerFindsMarkersOutsideCommentsStringsAndNoCoverage)
{
    EXPECT_EQ(scan("if (a) b(); if (c) d();\n"), "1:1 1:2 1:1 1:2");
    EXPECT_EQ(scan("// _cv if\n/* _cv\nif */ _cv; a/b; _cv\n_cv\n"), "3:0 3:0 4:0");
    EXPECT_EQ(scan("_nc _cv; if (x)\n_cv; _nc if (y) // c\nif (z)\n"), "2:0 3:1 3:2");
    EXPECT_EQ(scan("#include <a/b.h> // _cv\n#define Q \" _cv\n  # if X\n_cv\n"), "4:0");
    EXPECT_EQ(scan("_cv\r\nif (x)\r\n\r\n/* \r\n */ _cv"), "1:0 2:1 2:2 5:0");
    EXPECT_EQ(scan("_cv_if _cvx xif if_ endif _cvAAAAAAAAAAAAAAAAAAA ifAAAAAAAAAAAAAAAA\n"), "");
    EXPECT_EQ(scan("\"\x81\x5c\" _cv\n"), "1:0") << "a Shift-JIS trail byte 0x5C escapes nothing";
    EXPECT_EQ(scan("/*/ _cv */ _cv\n/**/_cv"), "1:0 2:0");
    Rec r;
    EXPECT_EQ(test_cvr_rd(&r.m, "/nonexistent/x.cpp"), -1);
}

TEST(Coverage, PassPointsPairByFileNamePartLineAndTypeUnlessOutOfMemory)
{
    Rec r;
    __src_pos(nullptr, "dir/psh.cpp", 7, "fn", "about");
    ASSERT_EQ(test_cvr_psh(&r.m, 2), 0);
    __rtn = RTN_ERR1;
    EXPECT_EQ(_test_cvr_pas(&r.m, 0, "/x/y/src.cpp", 1, "f", "about"), 0);
    EXPECT_EQ(_test_cvr_pas(&r.m, 0, "src.cpp", 1, "g", "other"), 0); // the same point
    EXPECT_EQ(_test_cvr_pas(&r.m, 2, "C:\\dir\\src.cpp", 2, "h", "about"), 0);
    EXPECT_EQ(_test_cvr_pas(&r.m, 1, "other.cpp", 2, "h", "about"), 0);
    EXPECT_EQ(_test_cvr_pas(&r.m, 0, "n.cpp", -128, "neg", "line"), 0);
    EXPECT_EQ(__rtn, RTN_ERR1) << "passing leaves the status word alone";
    ASSERT_EQ(r.rd("_cv;\nif (a) _cv;\n"), 0);
    const std::string cv2 = "src.cpp(2),,test_coverage,0,0\n",
                      if2 = "src.cpp(2),,test_coverage,1,0\n";
    EXPECT_EQ(report(&r.m, 0), hdr + cv2 + if2 + "psh.cpp(7),fn,about,2,0\n");
    EXPECT_EQ(report(&r.m, 1), hdr + cv2 + "src.cpp(2),h,about,2,1\n" + if2 +
                                   "src.cpp(1),f,about,0,2\npsh.cpp(7),fn,about,2,0\n");
    // A pass under another path counts into the same point, also after the
    // expected points were cleared and read again.
    _test_cvr_pas(&r.m, 0, "/z/src.cpp", 1, "f", "about");
    test_cvr_clr(&r.m);
    EXPECT_EQ(report(&r.m, 1), "");
    ASSERT_EQ(r.rd("_cv;\n"), 0);
    EXPECT_EQ(report(&r.m, 1), hdr + "src.cpp(1),f,about,0,3\n");

    // Passing out of memory changes nothing (src.cpp: an "if").
    ASSERT_EQ(r.rd("if (a)\n"), 0);
    test_cvr_clr_all(&r.m, 0);
    __mem_fail_at(1);
    EXPECT_EQ(_test_cvr_pas(&r.m, 0, "a.cpp", 1, "f", "t"), -1);
    __mem_fail_at(1);
    EXPECT_TRUE(test_cvr_psh(&r.m, 0) + test_cvr_pas(&r.m, nullptr) == -2 && !r.m.pas);
    __mem_fail_at(2); // an "if" adds both of its points or neither
    EXPECT_EQ(test_cvr_rd(&r.m, r.file("src.cpp").c_str()), -1);
    __mem_fail_at(0);
    EXPECT_EQ(r.m.exp, nullptr);
}

TEST(Coverage, InstrumentedSampleReportsItsUnpassedPoints)
{
    test_cvr_clr_all(nullptr, 0);
    ASSERT_EQ(test_cvr_rd(nullptr, TEST_DATA_DIR "/data/cvr_sample.cpp"), 0);
    __rtn = RTN_ERR;
    EXPECT_EQ(cvr_sample::classify(5) + cvr_sample::classify(20), 3);
    EXPECT_EQ(__rtn, RTN_ERR) << "the instrumentation leaves the status word alone";
    auto row = [](int lin, const char *fnc, int typ, unsigned cnt) {
        return "cvr_sample.cpp(" + std::to_string(lin) + ")," + fnc + ",test_coverage," +
               std::to_string(typ) + "," + std::to_string(cnt) + "\n";
    };
    EXPECT_EQ(report(nullptr, 0), hdr + row(26, "", 0, 0) + row(19, "", 1, 0) + row(14, "", 2, 0));
    EXPECT_EQ(report(nullptr, 1), hdr + row(26, "", 0, 0) + row(19, "classify", 2, 2) +
                                      row(19, "", 1, 0) + row(14, "classify", 2, 1) +
                                      row(14, "classify", 1, 1) + row(14, "", 2, 0) +
                                      row(14, "classify", 1, 2) + row(12, "classify", 0, 2));
    // Static points leave the list with the clear and rejoin, counted from 0.
    test_cvr_clr_st(nullptr);
    EXPECT_EQ(cvr_sample::classify(-3), -1);
    cvr_sample::never();
    EXPECT_EQ(report(nullptr, 0), hdr + row(19, "", 2, 0) + row(14, "", 1, 0) + row(14, "", 1, 0));
    EXPECT_NE(report(nullptr, 1).find(row(12, "classify", 0, 1)), std::string::npos);
    test_cvr_clr_all(nullptr, 0);
    EXPECT_EQ(__test_cvr_base.pas, nullptr);
}

TEST(Coverage, TestFileHelpers)
{
    diag_test::TempDir dir;
    const std::string a = dir.file("a.txt"), big = std::string(9999, 'x') + "\n";
    FILE *fp = _test_fopen(a.c_str(), "w");
    ASSERT_NE(fp, nullptr);
    EXPECT_TRUE(fcntl(fileno(fp), F_GETFD) & FD_CLOEXEC);
    fputs(big.c_str(), fp); // still buffered: the next open must close (and flush) it
    EXPECT_EQ(_test_fopen(nullptr, "r"), nullptr);
    const char *txt = _test_fget(a.c_str());
    EXPECT_EQ(std::string(txt ? txt : ""), big);
    EXPECT_TRUE(!_test_fget(dir.file("missing").c_str()) && !_test_fget(nullptr));
}
