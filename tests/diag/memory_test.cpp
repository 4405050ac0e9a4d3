// Memory wrappers: slots, status words and failures.
#include "base/diag/diag.h"

#include <gtest/gtest.h>

#include <cstring>

namespace
{

TEST(Memory, WrappersFillTheSlotAndReturnZero)
{
    char *p = nullptr;
    __rtn = 1;
    ASSERT_EQ(_malloc0(&p, 16), 0);
    EXPECT_EQ(__rtn, 0);
    for (int i = 0; i < 16; i++)
        EXPECT_EQ(p[i], 0);
    _free(&p);

    ASSERT_EQ(_malloc_cpy(&p, "abc", 4), 0);
    EXPECT_STREQ(p, "abc");
    _free(&p);

    ASSERT_EQ(_malloc_str(&p, "hello"), 0);
    EXPECT_STREQ(p, "hello");
    _free(&p);

    p = reinterpret_cast<char *>(&p); // stale value must be replaced
    EXPECT_EQ(_malloc_str(&p, nullptr), 0);
    EXPECT_EQ(p, nullptr);

    int *a = nullptr;
    ASSERT_EQ(_calloc(&a, 10, sizeof(int)), 0);
    EXPECT_EQ(a[9], 0);
    ASSERT_EQ(_realloc(&a, 1000 * sizeof(int)), 0);
    a[999] = 7;
    EXPECT_EQ(a[0], 0);
    _free(&a);

    char *e = nullptr;
    ASSERT_EQ(_realloc(&e, 8), 0); // an empty slot allocates
    _free(&e);
    _free(nullptr);
    char *none = nullptr;
    _free(&none);
}

TEST(Memory, FailuresSetMinusOneAndKeepTheOldBlock)
{
    char *p = nullptr;
    ASSERT_EQ(_malloc_str(&p, "keep me"), 0);
    __mem_fail_at(1);
    __rtn = 0;
    EXPECT_EQ(_realloc(&p, 1 << 20), -1);
    EXPECT_EQ(__rtn, -1);
    EXPECT_STREQ(p, "keep me"); // old block still valid through the slot
    _free(&p);

    char *q = reinterpret_cast<char *>(&q);
    __mem_fail_at(2); // the second allocation from now fails
    EXPECT_EQ(_malloc(&q, 4), 0);
    _free(&q);
    __rtn = 1; // _malloc sets -1 whatever the word held
    EXPECT_EQ(_malloc_str(&q, "x"), -1);
    EXPECT_EQ(q, nullptr);

    __mem_fail_at(1);
    EXPECT_EQ(_calloc(&q, 2, 2), -1);
    EXPECT_EQ(q, nullptr);
    __mem_fail_at(0);
}

} // namespace
