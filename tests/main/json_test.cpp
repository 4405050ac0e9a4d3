// JSON lines: the writer's strings against nlohmann/json's (invalid UTF-8
// replaced) over random texts, the key without its separator, and watched
// values on both sides of the 64-bit range.
#include "main/rundif.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cstdlib>
#include <random>

namespace
{

std::string json_line(const st_settings &set, const std::string &key, const std::string &txt,
                      const char *old = nullptr, const char *cur = nullptr)
{
    char *buf = nullptr;
    size_t len = 0;
    FILE *fp = open_memstream(&buf, &len);
    EXPECT_TRUE(report_json(fp, &set, 7, 0, '*', key.c_str(), txt.c_str(), old, cur));
    fclose(fp);
    std::string s(buf, len);
    free(buf);
    return s;
}

TEST(ReportJson, StringsAsTheJsonLibraryWritesThemKeysAndWideValues)
{
    setenv("TZ", "UTC", 1);
    tzset();
    const std::string head = R"({"run":7,"time":"1970-01-01T00:00:00+00:00","mark":"*","key":)";
    // Pieces that join into valid, cut, overlong, surrogate and too-large
    // sequences, escapes and plain text.
    const char *pieces[] = {"a",        "\"",       "\\",           "\b",
                            "\f",       "\n",       "\r",           "\t",
                            "\x01",     "\x1f",     "\x7f",         "\x80",
                            "\xbf",     "\xc2",     "\xc0\xaf",     "\xe0\xa0",
                            "\xe0\x9f", "\xe3\x81", "\xed\x9f",     "\xed\xa0",
                            "\xf0\x90", "\xf4\x8f", "\xf4\x90",     "\xf5",
                            "\xff",     "\xc3\xa9", "\xe3\x80\x81", "\xf0\x9f\x98\x80"};
    std::mt19937 rnd(7);
    st_settings set = {};
    for (int i = 0; i < 4000; i++) {
        std::string t;
        for (int n = rnd() % 8 + 1; n > 0; n--)
            t += pieces[rnd() % std::size(pieces)];
        std::string want =
            nlohmann::json(t).dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
        ASSERT_EQ(json_line(set, t, t), head + want + ",\"line\":" + want + "}\n")
            << testing::PrintToString(t);
    }

    set.key_cnt = 1, set.sep = ' ', set.wtc_cnt = 2;
    set.wtc[0].col = 3, set.wtc[1].col = 4;
    const __int128 two64 = (__int128)1 << 64;
    const __int128 old[2] = {-5, two64}, cur[2] = {two64 - 1, -(two64 << 6)};
    EXPECT_EQ(json_line(set, "k ", "k 1", reinterpret_cast<const char *>(old),
                        reinterpret_cast<const char *>(cur)),
              head + R"("k","line":"k 1","watch":[{"column":3,"old":-5,)" +
                  R"("new":18446744073709551615},{"column":4,"old":"18446744073709551616",)" +
                  R"("new":"-1180591620717411303424"}]})" + "\n");
}

} // namespace
