// The help switches print the exact help text in the console's encoding.
#include "tests/cli/cli.h"

#include <gtest/gtest.h>
#include <iconv.h>

namespace
{

const std::string W(19, ' '); // help column for this option table

// The expected help text, written out line by line (UTF-8).
std::string expected_help_utf8()
{
    return "[rundif]\n"
           "コマンドの実行結果差分を出力する\n"
           "\n"
           "rundif [/key=val] [/span=val] [/separate-word=val] [/watch=val] [/exclude=val] "
           "[/time] [/hide] [/file-out=val] cmd value ...\n"
           "\n"
           "  /key             行の更新判定対象となるキー番号を指定する。\n" +
           W + "指定しない場合、行全体で更新判定を行う。\n" + W + "ex)/key=0:1:4\n" + W +
           "Optional\n"
           "  /span            次のコマンドを実行するまでの待機時間[秒]を指定する。\n" +
           W + "default:10\n" + W +
           "Optional\n"
           "  /separate-word   行の分割を行う文字を指定する。\n" +
           W + "デフォルトでは空白になる。\n" + W + "default: \n" + W +
           "Optional\n"
           "  /watch           監視対象のインデックスと検出スケールを指定する。ex)/watch=3:100\n" +
           W + "Optional\n" + W +
           "MultipleDefinable\n"
           "  /exclude         除隊対象のインデックスと名称を指定する。\n" +
           W + "ex)/exclude=3:key-name\n" + W + "Optional\n" + W +
           "MultipleDefinable\n"
           "  /time            時刻を表示する\n" +
           W +
           "Optional\n"
           "  /hide            コンソールを非表示する\n" +
           W +
           "Optional\n"
           "  /file-out        出力ファイルパスを指定する.\n" +
           W +
           "Optional\n"
           "  cmd              コマンド\n" +
           W +
           "MultipleDefinable\n"
           "\n"
           "ex)\n"
           "rundif.exe /key=0:1 /exclude=0:tasklist.exe tasklist /V\n"
           "rundif.exe /span=1 /key=0:1:2 /exclude=0:pslist /watch=4:10 "
           "/file-out=pslist.log pslist\n"
           "\n";
}

std::string convert(const std::string &s, const char *to, const char *from)
{
    iconv_t cd = iconv_open(to, from);
    EXPECT_NE(cd, (iconv_t)-1);
    std::string out(s.size() * 4, '\0');
    char *in = const_cast<char *>(s.data()), *op = out.data();
    size_t inleft = s.size(), outleft = out.size();
    EXPECT_NE(iconv(cd, &in, &inleft, &op, &outleft), (size_t)-1);
    iconv_close(cd);
    out.resize(out.size() - outleft);
    return out;
}

const char *const kSwitches[] = {"/?", "/h", "/H", "/help", "/HELP"};

TEST(CliHelp, EverySwitchPrintsUtf8HelpInUtf8Locale)
{
    for (const char *sw : kSwitches) {
        CliResult r = run_rundif({sw, "ignored", "/key"}, {"LC_ALL=C.UTF-8"});
        EXPECT_EQ(r.out, expected_help_utf8()) << sw;
        EXPECT_EQ(r.err, "") << sw;
        EXPECT_EQ(r.status, 0) << sw;
    }
}

TEST(CliHelp, EverySwitchPrintsCp932HelpInOtherLocale)
{
    std::string want = convert(expected_help_utf8(), "CP932", "UTF-8");
    // Spot check against known code page 932 bytes: "コマンド".
    ASSERT_NE(want.find("\x83\x52\x83\x7d\x83\x93\x83\x68"), std::string::npos);
    for (const char *sw : kSwitches) {
        CliResult r = run_rundif({sw}, {"LC_ALL=C"});
        EXPECT_EQ(r.out, want) << sw;
        EXPECT_NE(r.out.find("\x83\x52\x83\x7d\x83\x93\x83\x68"), std::string::npos);
        EXPECT_EQ(r.err, "") << sw;
        EXPECT_EQ(r.status, 0) << sw;
    }
}

TEST(CliHelp, NoHelpForOtherSpellingsOrPositions)
{
    for (std::vector<std::string> args :
         std::vector<std::vector<std::string>>{{}, {"/HeLp"}, {"/help2"}, {"/time", "/help"}}) {
        CliResult r = run_rundif(args, {"LC_ALL=C.UTF-8"});
        EXPECT_EQ(r.out.find("[rundif]"), std::string::npos);
        EXPECT_EQ(r.status, 255) << (args.empty() ? "(none)" : args[0]);
    }
}

} // namespace
