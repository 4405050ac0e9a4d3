// String utilities: cutting a stream at delimiters, the tail after a
// character, file-name parts and case-blind comparison.
#include "base/text/text.h"

#include <gtest/gtest.h>

#include <string>

// stm_tok copies up to the first delimiter, which it consumes and reports.
TEST(StrUtil, StmTokCutsAtTheFirstDelimiter)
{
    const uint32_t dlm[] = {',', ';', 0};
    st_stream src, dst;
    char *out = nullptr;
    uint32_t fnd = 99;
    std::string got;
    ASSERT_EQ(bstream_str_set(&src, "a,b;;c") | bstream_vstr_set(&dst, &out), 0);
    for (int i = 0; i < 5 && fnd != 0; i++) {
        EXPECT_EQ(stm_tok(&src, dlm, &dst, &fnd), 0);
        got += std::string(out) + "|" + std::to_string(fnd) + " ";
    }
    EXPECT_EQ(got, "a|44 ab|59 ab|59 abc|0 ");
    fnd = 7;
    EXPECT_EQ(stm_tok(&src, dlm, &dst, &fnd), RTN_ERR1) << "an ended source is not usable";
    EXPECT_EQ(fnd, 7u);
    stream_end(&dst), stream_end(&src), _free(&out);
}

// The tail after a character, the file-name part and ASCII-only folding.
TEST(StrUtil, TailFileNameAndCaseBlindCompare)
{
    const char *s = "abcabc", *p = "dir/sub\\file.txt", *d = "dir/";
    EXPECT_EQ(_strchr_rev(s, 'b'), s + 5);
    EXPECT_EQ(_strchr_rev("abc", 'x'), nullptr);
    EXPECT_EQ(fil_nam(p), p + 8);
    EXPECT_STREQ(fil_nam("a\\b/c/file"), "file");
    EXPECT_STREQ(fil_nam("name"), "name");
    EXPECT_EQ(fil_nam(d), d + 4);
    EXPECT_EQ(strsml("Key", "kEY") + strsml("", "") + strsml("a\xe4", "A\xe4"), 3);
    EXPECT_EQ(strsml("key", "keys") + strsml("keys", "key"), 0);
    EXPECT_EQ(strsml("[", "{") + strsml("\xe4", "\xc4"), 0) << "only ASCII letters fold";
}
