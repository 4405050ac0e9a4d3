// Checked memory wrappers: fill the caller's pointer slot, report through
// the status word.
#include "base/diag/test_hook.h"

#include <cstdlib>
#include <cstring>

static int32_t fail_at;   // allocations left before the injected failure; 0 = off
static uint64_t fail_cnt; // allocations that failed

// True when the injected failure is due now.
static bool injected_failure()
{
    if (fail_at <= 0)
        return false;
    return --fail_at == 0;
}

static void slot_put(void *slot, void *p)
{
    std::memcpy(slot, &p, sizeof p);
}

static void *slot_get(const void *slot)
{
    void *p;
    std::memcpy(&p, slot, sizeof p);
    return p;
}

void __mem_fail_at(int32_t n) noexcept
{
    fail_at = n;
}

uint64_t mem_fail_cnt() noexcept
{
    return fail_cnt;
}

// The status of an allocation that gave p, counting a failure.
static int32_t alloc_result(const void *p)
{
    if (p)
        return rtn_ok();
    fail_cnt++;
    return rtn_fail();
}

int32_t _malloc(void *slot, size_t siz) noexcept
{
    void *p = injected_failure() ? nullptr : std::malloc(siz ? siz : 1);
    slot_put(slot, p);
    return alloc_result(p);
}

int32_t _malloc0(void *slot, size_t siz) noexcept
{
    RTN_TRY(_malloc(slot, siz));
    std::memset(slot_get(slot), 0, siz);
    return rtn_ok();
}

int32_t _malloc_cpy(void *slot, const void *src, size_t siz) noexcept
{
    RTN_TRY(_malloc(slot, siz));
    if (siz)
        std::memcpy(slot_get(slot), src, siz);
    return rtn_ok();
}

int32_t _malloc_str(void *slot, const char *txt) noexcept
{
    if (!txt) {
        slot_put(slot, nullptr);
        return rtn_ok();
    }
    return _malloc_cpy(slot, txt, std::strlen(txt) + 1);
}

int32_t _calloc(void *slot, size_t cnt, size_t siz) noexcept
{
    void *p = injected_failure() ? nullptr : std::calloc(cnt ? cnt : 1, siz ? siz : 1);
    slot_put(slot, p);
    return alloc_result(p);
}

int32_t _realloc(void *slot, size_t siz) noexcept
{
    void *p = injected_failure() ? nullptr : std::realloc(slot_get(slot), siz ? siz : 1);
    if (p)
        slot_put(slot, p);
    return alloc_result(p);
}

void _free(void *slot) noexcept
{
    if (slot)
        std::free(slot_get(slot));
}
