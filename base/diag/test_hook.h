// Test hooks of the diagnostics: an allocation failure on demand and an
// injected clock. Not part of the installed interface: included by the
// files of base/diag that keep them and by the tests of every room.
#pragma once

#include "base/diag/diag.h"

#include <cstdint>

// The n-th allocation through the memory wrappers from now on fails (1 =
// the next one); 0 disarms it.
void __mem_fail_at(int32_t n) noexcept;

using tick_fn = uint64_t (*)(); // a clock: milliseconds since any fixed origin

// tick_get reads fn instead of the system clock; nullptr restores it.
void __tick_fake(tick_fn fn) noexcept;
