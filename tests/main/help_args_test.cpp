// help_args on tables other than the tool's own.
#include "main/args.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

namespace
{

std::string help_of(const st_args *def, int32_t n, const char *exm)
{
    char *buf = nullptr;
    size_t len = 0;
    FILE *fp = open_memstream(&buf, &len);
    EXPECT_EQ(help_args(fp, "prog", "desc", exm, def, n), 0);
    fclose(fp);
    std::string s(buf, len);
    free(buf);
    return s;
}

TEST(HelpArgs, LayoutOfRecordsWithoutHelpDefaultsAndTrailingLineFeed)
{
    st_args def[] = {
        // Required switch with a value list: no brackets, no Optional line.
        {'-', "in", 0, "input", nullptr, "files\n", ARGS_TAKES | ARGS_REQUIRED, 77},
        // No help text: its later lines continue on the padded line.
        {'-', "n", '=', "count", "5", nullptr, ARGS_MULTIPLE, 0},
        // Positional record named by its key, longest entry sets the width.
        {0, nullptr, 0, "a-long-key", nullptr, "one", ARGS_TAKES | ARGS_MULTIPLE, 0},
    };
    // Width: max(2+2, 5, 1+2, 5, 10) + 4 = 14.
    const std::string W(14, ' ');
    std::string want = "[prog]\ndesc\n\n"
                       "prog -in value [-n=val] [a-long-key value ...]\n\n"
                       "  -in         files\n" +
                       W + "\n" + "  -n          " + W + "default:5\n" + W + "Optional\n" + W +
                       "MultipleDefinable\n"
                       "  a-long-key  one\n" +
                       W + "Optional\n" + W + "MultipleDefinable\n";
    EXPECT_EQ(help_of(def, 3, nullptr), want);
    // The run-time field is neither read nor changed.
    EXPECT_EQ(def[0].nam_len, 77);
    // The count limits the records shown; the example follows with a line feed.
    EXPECT_EQ(help_of(def, 0, "ex"), "[prog]\ndesc\n\nprog\n\nex\n");
}

TEST(HelpArgs, NameAtOrPastTheWidthIsNotPadded)
{
    // Width: 6 + 2 + 4 = 12; the key "averyverylongkey" (16) sets 20 instead.
    st_args def[] = {{'/', "abcdef", 0, "averyverylongkey", nullptr, "h", ARGS_REQUIRED, 0},
                     {0, nullptr, 0, "averyverylongkey", nullptr, "k", ARGS_REQUIRED, 0}};
    std::string out = help_of(def, 2, nullptr);
    EXPECT_NE(out.find("\n  /abcdef" + std::string(11, ' ') + "h\n"), std::string::npos);
    EXPECT_NE(out.find("\n  averyverylongkey  k\n"), std::string::npos);
}

} // namespace
