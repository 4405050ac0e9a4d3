// Argument joining: exact command lines, and joining then splitting with
// cmdline_split gives the arguments back.
#include "base/os/os.h"
#include "tests/stream/util.h"

#include <algorithm>
#include <random>

namespace
{

using namespace stream_test;
using Args = std::vector<std::string>;

// The joined command line, or "<fail>".
std::string join(const Args &args)
{
    std::vector<const char *> v;
    for (const std::string &a : args)
        v.push_back(a.c_str());
    char *out = nullptr;
    if (arg_to_vstr(static_cast<int32_t>(v.size()), v.data(), &out) != 0)
        return "<fail>";
    std::string r = out;
    _free(&out);
    return r;
}

Args split(const std::string &cmd)
{
    char **argv = nullptr;
    int32_t argc = 0;
    EXPECT_EQ(cmdline_split(cmd.c_str(), &argv, &argc), 0);
    Args r(argv, argv + argc);
    _free(&argv);
    return r;
}

TEST(Args, ExactCommandLines)
{
    EXPECT_EQ(join({"tasklist", "/V"}), "tasklist /V");
    EXPECT_EQ(join({"a b"}), "\"a b\"");
    EXPECT_EQ(join({"say", "\"hi\""}), "say \"\\\"hi\\\"\"");
    EXPECT_EQ(join({"a", "", "b"}), "a \"\" b") << "an empty argument is kept";
    EXPECT_EQ(join({"a\tb"}), "\"a\tb\"");
    EXPECT_EQ(join({"one\ntwo", "x"}), "\"one two\" x") << "a line feed stays inside its argument";
    EXPECT_EQ(join({"C:\\dir\\", "a\\b"}), "C:\\dir\\ a\\b") << "unquoted: backslashes stay";
    EXPECT_EQ(join({"a b\\"}), "\"a b\\\\\"") << "doubled before the closing quote";
    EXPECT_EQ(join({"x\\\"y"}), "\"x\\\\\\\"y\"") << "x\\\"y: 1 backslash + quote -> 3 + quote";
    EXPECT_EQ(join({"\xE8\xA1\xA8 \\"}), "\"\xE8\xA1\xA8 \\\\\"");

    EXPECT_EQ(join({}), "<fail>") << "a count of 0";
    char *out = reinterpret_cast<char *>(1);
    EXPECT_TRUE(arg_to_vstr(1, nullptr, &out) == -1 && out == nullptr);
}

TEST(Args, JoinThenSplitGivesTheArgumentsBack)
{
    const std::string alphabet[] = {
        "a", "Z", " ", "\t", "\"", "\\", "\n", "\x82\xA0", "\xE3\x81\x82", "\x95\x5C", "\xC3"};
    std::mt19937 rng(6);
    for (int round = 0; round < 3000; round++) {
        Args args(1 + rng() % 4);
        for (std::string &a : args)
            for (int n = rng() % 7; n > 0; n--)
                a += alphabet[rng() % std::size(alphabet)];
        Args want = args;
        for (std::string &a : want)
            std::replace(a.begin(), a.end(), '\n', ' ');
        const std::string cmd = join(args);
        ASSERT_EQ(split(cmd), want) << testing::PrintToString(cmd);
    }
}

TEST(Args, EndingPartWayReleasesEverything)
{
    const char *args[] = {"first arg", "second"};
    Stm s;
    EXPECT_EQ(cstream_args_set(&s, -1, args), -1);
    ASSERT_EQ(cstream_args_set(&s, 2, args), 0);
    int32_t c = 0;
    for (int i = 0; i < 4; i++)
        ASSERT_EQ(stream_pop(&s, &c), 0);
    EXPECT_EQ(c, 'r');
    stream_end(&s); // ASan: the record, its streams and their cells are freed

    __mem_fail_at(1);
    EXPECT_EQ(cstream_args_set(&s, 2, args), -1);
    __mem_fail_at(3); // the first argument's streams
    ASSERT_EQ(cstream_args_set(&s, 2, args), 0);
    EXPECT_EQ(stream_pop(&s, &c), -1);
    __mem_fail_at(0);
}

} // namespace
