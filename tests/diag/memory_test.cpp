// Memory wrappers: slots, status words and failures.
#include "base/diag/diag.h"

#include <gtest/gtest.h>

#include <cstring>

namespace
{

TEST(Memory, WrappersFillTheSlotOrFailWithMinusOne)
{
    char *p = nullptr, *q = reinterpret_cast<char *>(&q), zero[16] = {};
    __rtn = 1;
    ASSERT_EQ(_malloc0(&p, 16), 0);
    EXPECT_TRUE(__rtn == 0 && std::memcmp(p, zero, 16) == 0);
    _free(&p);
    ASSERT_EQ(_malloc_cpy(&p, "abc", 4), 0);
    EXPECT_STREQ(p, "abc");
    _free(&p);
    EXPECT_TRUE(_malloc_str(&q, nullptr) == 0 && !q) << "a stale slot is replaced";
    int *a = nullptr;
    ASSERT_EQ(_calloc(&a, 10, sizeof(int)), 0);
    ASSERT_EQ(_realloc(&a, 1000 * sizeof(int)), 0);
    a[999] = 7;
    EXPECT_EQ(a[0] | a[9], 0);
    _free(&a);
    p = nullptr; // _free leaves the slot as it was
    ASSERT_EQ(_realloc(&p, 8), 0) << "an empty slot allocates";
    _free(&p);
    p = nullptr;
    _free(nullptr);
    _free(&p); // an empty slot

    ASSERT_EQ(_malloc_str(&p, "keep me"), 0);
    __mem_fail_at(1);
    __rtn = 0;
    EXPECT_TRUE(_realloc(&p, 1 << 20) == -1 && __rtn == -1);
    EXPECT_STREQ(p, "keep me") << "the old block stays valid through the slot";
    _free(&p);
    __mem_fail_at(2); // the second allocation from now fails
    EXPECT_EQ(_malloc(&q, 4), 0);
    _free(&q);
    __rtn = 1; // -1 whatever the word held
    EXPECT_TRUE(_malloc_str(&q, "x") == -1 && !q);
    __mem_fail_at(1);
    EXPECT_TRUE(_calloc(&q, 2, 2) == -1 && !q);
    __mem_fail_at(0);
}

} // namespace
