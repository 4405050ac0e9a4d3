// The coverage recorder: the source scanner, pass points, pairing, the
// report and the clears; the instrumented sample closes the whole loop.
#define RUNDIF_CVR 1 // this file and the sample it includes are instrumented
#include "tests/diag/data/cvr_sample.cpp"
#include "tests/diag/fixture.h"

#include <fcntl.h>

using diag_test::read_file;
using diag_test::TempDir;
using diag_test::written;

namespace
{

std::string sample_path()
{
    return std::string(TEST_DATA_DIR) + "/data/cvr_sample.cpp";
}

// A recorder of its own, cleared when the test ends.
struct Rec {
    st_test_cvr m{};
    ~Rec() { test_cvr_clr_all(&m, 0); }
};

// The expected points as "line:type" in source order.
std::string points(const st_test_cvr &m)
{
    std::string s;
    for (const st_test_cvr_exp *e = m.exp; e; e = e->nxt)
        s = std::to_string(e->pos.lin) + ":" + std::to_string(e->typ) + (s.empty() ? "" : " ") + s;
    return s;
}

// Scans text written to a file; the points found, or "fail".
std::string scan(const std::string &text)
{
    TempDir dir;
    std::string path = dir.file("src.cpp");
    FILE *fp = fopen(path.c_str(), "wb");
    fwrite(text.data(), 1, text.size(), fp);
    fclose(fp);
    Rec r;
    return test_cvr_rd(&r.m, path.c_str()) == 0 ? points(r.m) : "fail";
}

std::string report(st_test_cvr *m, int32_t all)
{
    return written([&](FILE *fp) { EXPECT_EQ(test_cvr_prt(m, fp, all), 0); });
}

} // namespace

TEST(Coverage, ScannerFindsMarkersOutsideCommentsStringsAndNoCoverage)
{
    EXPECT_EQ(scan("if (a) b(); if (c) d();\n"), "1:1 1:2 1:1 1:2");
    EXPECT_EQ(scan("s(\"_cv\", '_cv', \"a\\\"_cv\", '\\'', \"if\");\n_cv;\n"), "2:0");
    EXPECT_EQ(scan("// _cv if\n/* _cv\nif */ _cv; a/b; _cv\n_cv\n"), "3:0 3:0 4:0");
    EXPECT_EQ(scan("_nc _cv; if (x)\n_cv; _nc if (y) // c\nif (z)\n"), "2:0 3:1 3:2");
    EXPECT_EQ(scan("#include <a/b.h> // _cv\n#define Q \" _cv\n  # if X\n_cv\n"), "4:0");
    EXPECT_EQ(scan("_cv\r\nif (x)\r\n\r\n/* \r\n */ _cv"), "1:0 2:1 2:2 5:0");
    EXPECT_EQ(scan("_cv_if _cvx xif if_ endif _cvAAAAAAAAAAAAAAAAAAA ifAAAAAAAAAAAAAAAA\n"), "");
    // A Shift-JIS character whose trail byte is a backslash does not escape.
    EXPECT_EQ(scan("\"\x81\x5c\" _cv\n"), "1:0");
    EXPECT_EQ(scan("/*/ _cv */ _cv\n/**/_cv"), "1:0 2:0");
    Rec r;
    EXPECT_EQ(test_cvr_rd(&r.m, "/nonexistent/dir/x.cpp"), -1);
    EXPECT_EQ(__rtn, -1);
    EXPECT_EQ(r.m.exp, nullptr);
}

TEST(Coverage, PassPointsPairByFileNamePartLineAndType)
{
    TempDir dir;
    std::string path = dir.file("pair.cpp");
    FILE *fp = fopen(path.c_str(), "w");
    fputs("_cv;\nif (a) _cv;\n", fp);
    fclose(fp);
    Rec r;
    __rtn = RTN_ERR1;
    EXPECT_EQ(_test_cvr_pas(&r.m, 0, "/x/y/pair.cpp", 1, "f", "about"), 0);
    EXPECT_EQ(_test_cvr_pas(&r.m, 0, "pair.cpp", 1, "g", "other"), 0); // the same point
    EXPECT_EQ(_test_cvr_pas(&r.m, 2, "C:\\src\\pair.cpp", 2, "h", "about"), 0);
    EXPECT_EQ(_test_cvr_pas(&r.m, 1, "other.cpp", 2, "h", "about"), 0);
    EXPECT_EQ(_test_cvr_pas(&r.m, 0, "n.cpp", -128, "neg", "line"), 0);
    EXPECT_EQ(__rtn, RTN_ERR1) << "passing leaves the status word alone";
    ASSERT_EQ(test_cvr_rd(&r.m, path.c_str()), 0);
    EXPECT_EQ(report(&r.m, 1), "sorce,func,msg,type,count\n"
                               "pair.cpp(2),,test_coverage,0,0\n"
                               "pair.cpp(2),h,about,2,1\n"
                               "pair.cpp(2),,test_coverage,1,0\n"
                               "pair.cpp(1),f,about,0,2\n");
    EXPECT_EQ(report(&r.m, 0), "sorce,func,msg,type,count\n"
                               "pair.cpp(2),,test_coverage,0,0\n"
                               "pair.cpp(2),,test_coverage,1,0\n");
    // A later pass under the full path still counts into the same point.
    _test_cvr_pas(&r.m, 2, "/z/pair.cpp", 2, "h", "about");
    EXPECT_NE(report(&r.m, 1).find("pair.cpp(2),h,about,2,2\n"), std::string::npos);

    test_cvr_clr(&r.m); // the expected points go, the pass points stay
    EXPECT_EQ(report(&r.m, 1), "");
    _test_cvr_pas(&r.m, 0, "pair.cpp", 1, "f", "about");
    ASSERT_EQ(test_cvr_rd(&r.m, path.c_str()), 0);
    EXPECT_NE(report(&r.m, 1).find("pair.cpp(1),f,about,0,3\n"), std::string::npos);
}

TEST(Coverage, PassingWhileBusyOrOutOfMemoryChangesNothing)
{
    Rec r;
    __dbg++;
    EXPECT_EQ(_test_cvr_pas(&r.m, 0, "a.cpp", 1, "f", "t"), 0);
    __dbg--;
    EXPECT_EQ(r.m.pas, nullptr);
    __mem_fail_at(1);
    EXPECT_EQ(_test_cvr_pas(&r.m, 0, "a.cpp", 1, "f", "t"), -1);
    EXPECT_EQ(r.m.pas, nullptr);
    __mem_fail_at(1);
    EXPECT_EQ(test_cvr_psh(&r.m, 0), -1);
    EXPECT_EQ(r.m.exp, nullptr);
    EXPECT_EQ(test_cvr_pas(&r.m, nullptr), -1);

    // An "if" adds both points or neither.
    TempDir dir;
    std::string path = dir.file("if.cpp");
    FILE *fp = fopen(path.c_str(), "w");
    fputs("if (a)\n", fp);
    fclose(fp);
    ASSERT_EQ(test_cvr_rd(&r.m, path.c_str()), 0); // sets up the file's access statistics
    test_cvr_clr(&r.m);
    __mem_fail_at(2);
    EXPECT_EQ(test_cvr_rd(&r.m, path.c_str()), -1);
    __mem_fail_at(0);
    EXPECT_EQ(r.m.exp, nullptr);
}

TEST(Coverage, PshTakesTheCurrentSourcePosition)
{
    Rec r;
    char fil[] = "dir/psh.cpp";
    __src_pos(nullptr, fil, 7, "fn", "about");
    ASSERT_EQ(test_cvr_psh(&r.m, 2), 0);
    fil[4] = 'X'; // the point keeps its own copy
    __src_pos(nullptr, "", 0, "", "");
    EXPECT_EQ(report(&r.m, 0), "sorce,func,msg,type,count\npsh.cpp(7),fn,about,2,0\n");
}

TEST(Coverage, InstrumentedSampleReportsItsUnpassedPoints)
{
    test_cvr_clr_all(nullptr, 0);
    ASSERT_EQ(test_cvr_rd(nullptr, sample_path().c_str()), 0);
    EXPECT_EQ(points(__test_cvr_base), "12:0 14:1 14:2 14:1 14:2 19:1 19:2 26:0");
    __rtn = RTN_ERR;
    EXPECT_EQ(cvr_sample::classify(5), 1);
    EXPECT_EQ(cvr_sample::classify(20), 2);
    EXPECT_EQ(__rtn, RTN_ERR) << "the instrumentation leaves the status word alone";
    EXPECT_EQ(report(nullptr, 0), "sorce,func,msg,type,count\n"
                                  "cvr_sample.cpp(26),,test_coverage,0,0\n"
                                  "cvr_sample.cpp(19),,test_coverage,1,0\n"
                                  "cvr_sample.cpp(14),,test_coverage,2,0\n");
    const std::string all = "sorce,func,msg,type,count\n"
                            "cvr_sample.cpp(26),,test_coverage,0,0\n"
                            "cvr_sample.cpp(19),classify,test_coverage,2,2\n"
                            "cvr_sample.cpp(19),,test_coverage,1,0\n"
                            "cvr_sample.cpp(14),classify,test_coverage,2,1\n"
                            "cvr_sample.cpp(14),classify,test_coverage,1,1\n"
                            "cvr_sample.cpp(14),,test_coverage,2,0\n"
                            "cvr_sample.cpp(14),classify,test_coverage,1,2\n"
                            "cvr_sample.cpp(12),classify,test_coverage,0,2\n";
    EXPECT_EQ(report(nullptr, 1), all);

    // Static points leave the list with the clear and rejoin on their next pass.
    test_cvr_clr_st(nullptr);
    EXPECT_EQ(cvr_sample::classify(-3), -1);
    cvr_sample::never();
    EXPECT_EQ(report(nullptr, 0), "sorce,func,msg,type,count\n"
                                  "cvr_sample.cpp(19),,test_coverage,2,0\n"
                                  "cvr_sample.cpp(14),,test_coverage,1,0\n"
                                  "cvr_sample.cpp(14),,test_coverage,1,0\n");
    EXPECT_NE(report(nullptr, 1).find("(12),classify,test_coverage,0,1\n"), std::string::npos);
    test_cvr_clr_all(nullptr, 0);
    EXPECT_EQ(__test_cvr_base.pas, nullptr);
    EXPECT_EQ(report(nullptr, 1), "");
}

TEST(Coverage, TestFileHelpers)
{
    TempDir dir;
    std::string a = dir.file("a.txt");
    std::string big(10000, 'x');
    big[9999] = '\n';
    FILE *fp = _test_fopen(a.c_str(), "w");
    ASSERT_NE(fp, nullptr);
    EXPECT_TRUE(fcntl(fileno(fp), F_GETFD) & FD_CLOEXEC);
    fputs(big.c_str(), fp); // still buffered: the next open must close (and flush) it
    EXPECT_EQ(_test_fopen(nullptr, "r"), nullptr);
    EXPECT_EQ(read_file(a), big);
    const char *txt = _test_fget(a.c_str());
    ASSERT_NE(txt, nullptr);
    EXPECT_EQ(std::string(txt), big);
    EXPECT_EQ(_test_fget(dir.file("missing").c_str()), nullptr);
    EXPECT_EQ(_test_fget(nullptr), nullptr);
}
