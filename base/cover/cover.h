// Test coverage: the recorder of expected and passed points, the source
// scanner that finds the markers, the instrumentation macros and the test
// file helpers. It sits above the text tools, whose tokenizer the scanner
// uses. Single-threaded, like the rest of the library.
#pragma once

#include "base/diag/diag.h"

#include <cstdint>
#include <cstdio>

// ---------------------------------------------------------------------------
// Test-coverage recorder
//
// Expected points come from scanning sources for the markers `_cv` (a plain
// point), `if` (two points: the condition held, type 1, and did not, type
// 2) and `_nc` (no point for the rest of the line). Pass points are counted
// as instrumented code runs. Pairing by file-name part, line and type shows
// the points never passed. Every operation takes a recorder and uses
// __test_cvr_base when it is absent.
//
// Instrumentation, active when RUNDIF_CVR is defined before this header
// (otherwise the markers cost nothing and the code is unchanged):
//
//     _cv;                      // passes a static point of type 0 here
//     if (_cv_if(n > 0)) ...    // passes type 1 or 2 and yields the condition
//     _nc if (rare()) ...       // exempts the rest of the line
//
// _cv_if evaluates its argument once and gives it back as bool, so code
// behaves the same with and without RUNDIF_CVR. Keep "if (_cv_if(" on one
// line: the point takes the line of the macro.
// ---------------------------------------------------------------------------

constexpr uint32_t TEST_CVR_BKT_NUM = 127;            // hash buckets of the pass points
constexpr const char *TEST_CVR_ABT = "test_coverage"; // about text of every point
constexpr const char *TEST_CVR_HDR = "sorce,func,msg,type,count\n"; // report header

enum : uint8_t {         /* st_test_cvr_exp.flg and st_test_cvr_pas.flg */
    TEST_CVR_MTC = 0x01, // pass point: paired with an expected point
    TEST_CVR_LST = 0x02, // pass point: in the recorder's pass list
    TEST_CVR_DYN = 0x04, // allocated by the recorder (always set on expected points)
};

struct st_test_cvr_pas;

// A point found in a source. Its texts are held in the same allocation.
struct st_test_cvr_exp {
    st_src_pos pos;       // abt "test_coverage", file, line, function ("" when scanned)
    int32_t typ;          // 0 plain; 1, 2 the branches of a condition
    st_test_cvr_exp *nxt; // next expected point (the list is newest first)
    st_test_cvr_pas *mtc; // pass point paired with it, or none
    uint8_t flg;          // TEST_CVR_DYN
};
static_assert(std::is_standard_layout_v<st_test_cvr_exp>);

// A point passed at run time: a static record at the passing site, or one
// allocated by _test_cvr_pas (with its texts in the same allocation).
struct st_test_cvr_pas {
    st_src_pos pos;       // abt, file, line, function of the site
    int32_t typ;          // point type, as st_test_cvr_exp.typ
    uint32_t cnt;         // passes
    st_test_cvr_pas *nxt; // next in the recorder's pass list (newest first)
    st_test_cvr_pas *chn; // next in the same bucket (allocated points only)
    uint8_t flg;          // TEST_CVR_MTC, TEST_CVR_LST, TEST_CVR_DYN
};
static_assert(std::is_standard_layout_v<st_test_cvr_pas>);

struct st_test_cvr {
    st_test_cvr_exp *exp;                   // expected points, newest first
    st_test_cvr_pas *pas;                   // pass points, newest first
    st_test_cvr_pas *bkt[TEST_CVR_BKT_NUM]; // allocated pass points by line modulo 127
};

extern st_test_cvr __test_cvr_base; // the default recorder

// Passing points. Neither changes the status word, so instrumented code
// runs as it would without them.

// Links the static point pt into the pass list on its first pass (again
// after test_cvr_clr_st) and counts the pass. 0; -1 without pt.
int32_t test_cvr_pas(st_test_cvr *mng, st_test_cvr_pas *pt) noexcept;

// Counts a pass of (lin, typ, file-name part of fil), allocating its point
// (with copies of the texts) on the first pass. 0; 0 at once while the
// diagnostics are busy (__dbg); -1 when it cannot allocate (nothing changed).
int32_t _test_cvr_pas(st_test_cvr *mng, int32_t typ, const char *fil, int32_t lin, const char *fnc,
                      const char *abt) noexcept;

// Expected points and reports.

// Adds an expected point of type typ at the current source position
// (__src_pos query). 0; -1 when it cannot allocate (nothing changed).
int32_t test_cvr_psh(st_test_cvr *mng, int32_t typ) noexcept;

// Scans the source file at path and adds its expected points under the
// file-name part of path. Comments, string and character literals and
// preprocessor lines are skipped. 0; -1 when the file cannot be opened or a
// point cannot be allocated (the points added before stay).
int32_t test_cvr_rd(st_test_cvr *mng, const char *path) noexcept;

// Pairs every pass point with the first unpaired expected point of the same
// file-name part, line and type (both lists in their order); file names
// become their file-name parts. Clears the status word; returns 0.
int32_t test_cvr_pir(st_test_cvr *mng) noexcept;

// Pairs, then writes one line per expected point never passed (with all:
// per expected point) under the header TEST_CVR_HDR, which is written only
// when a line follows: "file(line),function,about,type,count\n". 0; -1
// without fp (paired, nothing written).
int32_t test_cvr_prt(st_test_cvr *mng, FILE *fp, int32_t all) noexcept;

// Frees the expected points.
void test_cvr_clr(st_test_cvr *mng) noexcept;

// Frees the allocated pass points and empties the buckets; static points
// get count 0 and leave the list until their next pass.
void test_cvr_clr_st(st_test_cvr *mng) noexcept;

// test_cvr_clr, then test_cvr_clr_st. mod is not used.
void test_cvr_clr_all(st_test_cvr *mng, int32_t mod) noexcept;

// Test files. One test file and one text are held at a time.

// Closes the file opened by the previous call, then opens path with mode
// (close-on-exec). The file, or none for an absent path or mode or a failed open.
FILE *_test_fopen(const char *path, const char *mode) noexcept;

// Releases the previous text and closes the test file, then returns the
// whole content of path as a terminated text, held until the next call.
// None for an absent path, a file that cannot be opened or no memory.
char *_test_fget(const char *path) noexcept;

// Library-internal: passes a branch point of _cv_if, naming its function.
inline void __test_cvr_brn(st_test_cvr_pas *pt, const char *fnc) noexcept
{
    if (!pt->pos.fnc)
        pt->pos.fnc = fnc;
    test_cvr_pas(nullptr, pt);
}

#define _nc

#ifdef RUNDIF_CVR
#define _cv                                                                                        \
    do {                                                                                           \
        static st_test_cvr_pas __cv_pt = {                                                         \
            {"test_coverage", __FILE__, __LINE__, __func__}, 0, 0, nullptr, nullptr, 0};           \
        test_cvr_pas(nullptr, &__cv_pt);                                                           \
    } while (0)
#define _cv_if(cnd)                                                                                \
    ([](bool __cv_b, const char *__cv_f) noexcept {                                                \
        static st_test_cvr_pas __cv_t = {                                                          \
            {"test_coverage", __FILE__, __LINE__, nullptr}, 1, 0, nullptr, nullptr, 0};            \
        static st_test_cvr_pas __cv_e = {                                                          \
            {"test_coverage", __FILE__, __LINE__, nullptr}, 2, 0, nullptr, nullptr, 0};            \
        __test_cvr_brn(__cv_b ? &__cv_t : &__cv_e, __cv_f);                                        \
        return __cv_b;                                                                             \
    }(static_cast<bool>(cnd), __func__))
#else
#define _cv         ((void)0)
#define _cv_if(cnd) (static_cast<bool>(cnd))
#endif
