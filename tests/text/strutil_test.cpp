// String utilities: cutting a stream at delimiters, the tail after a
// character, file-name parts and case-blind comparison.
#include "base/text/text.h"

#include <gtest/gtest.h>

#include <string>

TEST(StrUtil, StmTokCutsAtTheFirstDelimiter)
{
    const uint32_t dlm[] = {',', ';', 0};
    st_stream src;
    st_stream dst;
    char *out = nullptr;
    ASSERT_EQ(bstream_str_set(&src, "a,b;;c"), 0);
    ASSERT_EQ(bstream_vstr_set(&dst, &out), 0);
    uint32_t fnd = 99;
    std::string got;
    for (int i = 0; i < 5 && fnd != 0; i++) {
        EXPECT_EQ(stm_tok(&src, dlm, &dst, &fnd), 0);
        got += std::string(out) + "|" + std::to_string(fnd) + " ";
    }
    EXPECT_EQ(got, "a|44 ab|59 ab|59 abc|0 ");
    stream_end(&dst);
    _free(&out);
    // The source has ended and stopped: not usable, the out value untouched.
    fnd = 7;
    EXPECT_EQ(stm_tok(&src, dlm, nullptr, &fnd), RTN_ERR1);
    EXPECT_EQ(fnd, 7u);
    EXPECT_EQ(stm_tok(nullptr, dlm, nullptr, nullptr), RTN_ERR1);
    stream_end(&src);

    // Character streams move whole characters: a Shift-JIS character whose
    // trail byte is a comma is not the delimiter.
    ASSERT_EQ(cstream_str_set(&src, "\x82,\x82\xa0,x"), 0);
    ASSERT_EQ(cstream_vstr_set(&dst, &out), 0);
    EXPECT_EQ(stm_tok(&src, dlm, &dst, &fnd), 0);
    EXPECT_STREQ(out, "\x82,\x82\xa0");
    EXPECT_EQ(fnd, uint32_t{','});
    EXPECT_EQ(stm_tok(&src, dlm, nullptr, nullptr), 0); // no destination: dropped
    EXPECT_EQ(stm_tok(&src, dlm, &dst, &fnd), RTN_ERR1);
    stream_end(&dst);
    stream_end(&src);
    _free(&out);
}

TEST(StrUtil, TailFileNameAndCaseBlindCompare)
{
    const char *s = "abcabc";
    EXPECT_EQ(_strchr_rev(s, 'b'), s + 5);
    EXPECT_EQ(_strchr_rev(s, 'c'), s + 6);
    EXPECT_EQ(_strchr_rev("abc", 'x'), nullptr);
    const char *p = "dir/sub\\file.txt";
    EXPECT_EQ(fil_nam(p), p + 8);
    EXPECT_STREQ(fil_nam("a\\b/c/file"), "file");
    EXPECT_STREQ(fil_nam("name"), "name");
    const char *d = "dir/";
    EXPECT_EQ(fil_nam(d), d + 4);
    EXPECT_EQ(strsml("Key", "kEY"), 1);
    EXPECT_EQ(strsml("key", "keys"), 0);
    EXPECT_EQ(strsml("keys", "key"), 0);
    EXPECT_EQ(strsml("", ""), 1);
    EXPECT_EQ(strsml("[", "{"), 0) << "only letters fold";
    EXPECT_EQ(strsml("\xe4", "\xc4"), 0) << "bytes above 127 stay";
    EXPECT_EQ(strsml("a\xe4", "A\xe4"), 1);
}
