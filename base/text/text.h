// Text processing: checked integer arithmetic and string utilities.
// Further sections (regular expressions, matching, splitting, analysis, the
// variant-map text format) join this header as their facilities land.
//
// The library is single-threaded by design: the light-log id slots of the
// arithmetic and the status word are plain globals without locking.
#pragma once

#include "base/diag/diag.h"
#include "base/stream/stream.h"

#include <cstdint>

// ---------------------------------------------------------------------------
// Checked integer arithmetic
//
// Each operation returns the ordinary (32-bit wrapped) result. When the
// operation leaves its domain it pushes one memory-log record (value -1,
// file "base", payload "Error") and sets the status word to -1 unless the
// word already holds a real error (error flag and a non-zero code), which
// stays. Success never touches the status word: check it afterwards.
// ---------------------------------------------------------------------------

// The value of a digit character: chr - 48. Reports when chr is not one of
// "0" to "9"; the result is then still chr - 48, wrapped as unsigned.
uint32_t ctoi(uint32_t chr) noexcept;

// a + b. Reports when the sum leaves the signed 32-bit range; returns it wrapped.
int32_t int_pls(int32_t a, int32_t b) noexcept;

// a - b. Reports when the difference leaves the range; returns it wrapped.
int32_t int_mns(int32_t a, int32_t b) noexcept;

// a * b. Reports once when the product is above the range and once (from
// another site) when below; returns it wrapped.
int32_t int_mlt(int32_t a, int32_t b) noexcept;

// a / b truncated toward zero. b = 0 reports and returns 0. The one
// quotient out of range, INT32_MIN / -1, returns INT32_MIN and reports.
int32_t int_dvs(int32_t a, int32_t b) noexcept;

// The remainder of a / b with the sign of a. b = 0 reports and returns 0;
// INT32_MIN % -1 is 0.
int32_t int_spl(int32_t a, int32_t b) noexcept;

// |a|. INT32_MIN reports and returns INT32_MAX.
int32_t int_abs(int32_t a) noexcept;

// ---------------------------------------------------------------------------
// String utilities
// ---------------------------------------------------------------------------

// Copies units from src to dst up to the first unit found in dlm (32-bit
// unit values ended by 0); that delimiter is consumed, not copied, and
// stored in *fnd (when given), which is 0 when src ended first. Units are
// read in src's unit size (1 byte or 4). A failed push is not reported.
// 0; 0x80000001 when src is not usable at the start (*fnd untouched).
int32_t stm_tok(st_stream *src, const uint32_t *dlm, st_stream *dst, uint32_t *fnd) noexcept;

// Pointer just after the last chr in str; none when chr does not occur or
// str is none. chr must not be 0.
char *_strchr_rev(const char *str, int chr) noexcept;

// The file-name part of path: after its last "/" and then after its last
// backslash; the whole path without either. Points into path.
const char *fil_nam(const char *path) noexcept;

// 1 when a and b are equal with ASCII letters folded to upper case, else 0
// (also when either is none).
int32_t strsml(const char *a, const char *b) noexcept;
