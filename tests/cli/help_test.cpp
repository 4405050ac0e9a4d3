// The help switches print the exact help text in the console's encoding.
#include "tests/cli/cli.h"

#include <gtest/gtest.h>
#include <iconv.h>

namespace
{

// The expected help text (UTF-8). Each option gives its name and its lines:
// the first beside the name, the others in the help column (column 19).
std::string expected_help_utf8()
{
    const std::vector<std::vector<std::string>> opts = {
        {"/key", "行の更新判定対象となるキー番号を指定する。",
         "指定しない場合、行全体で更新判定を行う。", "ex)/key=0:1:4", "Optional"},
        {"/span", "次のコマンドを実行するまでの待機時間[秒]を指定する。", "default:10", "Optional"},
        {"/separate-word", "行の分割を行う文字を指定する。", "デフォルトでは空白になる。",
         "default: ", "Optional"},
        {"/watch", "監視対象のインデックスと検出スケールを指定する。ex)/watch=3:100", "Optional",
         "MultipleDefinable"},
        {"/exclude", "除隊対象のインデックスと名称を指定する。", "ex)/exclude=3:key-name",
         "Optional", "MultipleDefinable"},
        {"/time", "時刻を表示する", "Optional"},
        {"/hide", "コンソールを非表示する", "Optional"},
        {"/file-out", "出力ファイルパスを指定する.", "Optional"},
        {"cmd", "コマンド", "MultipleDefinable"},
    };
    std::string s = "[rundif]\nコマンドの実行結果差分を出力する\n\n"
                    "rundif [/key=val] [/span=val] [/separate-word=val] [/watch=val] "
                    "[/exclude=val] [/time] [/hide] [/file-out=val] cmd value ...\n\n";
    for (auto &o : opts)
        for (size_t i = 1; i < o.size(); i++)
            s +=
                (i == 1 ? "  " + o[0] + std::string(17 - o[0].size(), ' ') : std::string(19, ' ')) +
                o[i] + "\n";
    return s + "\nex)\nrundif.exe /key=0:1 /exclude=0:tasklist.exe tasklist /V\n"
               "rundif.exe /span=1 /key=0:1:2 /exclude=0:pslist /watch=4:10 "
               "/file-out=pslist.log pslist\n\n";
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

TEST(CliHelp, EverySwitchPrintsTheHelpInTheConsoleEncodingAndNoOtherDoes)
{
    const std::string utf8 = expected_help_utf8(), cp932 = convert(utf8, "CP932", "UTF-8");
    // Spot check against known code page 932 bytes: "コマンド".
    ASSERT_NE(cp932.find("\x83\x52\x83\x7d\x83\x93\x83\x68"), std::string::npos);
    for (const char *sw : {"/?", "/h", "/H", "/help", "/HELP"})
        for (auto &[locale, want] : {std::pair{"LC_ALL=C.UTF-8", utf8}, {"LC_ALL=C", cp932}}) {
            CliResult r = run_rundif({sw, "ignored", "/key"}, {.env = {locale}});
            EXPECT_EQ(r.out, want) << sw << " " << locale;
            EXPECT_EQ(r.err, "") << sw;
            EXPECT_EQ(r.status, 0) << sw;
        }
    for (std::vector<std::string> args :
         std::vector<std::vector<std::string>>{{"/HeLp"}, {"/help2"}, {"/time", "/help"}}) {
        CliResult r = run_rundif(args, {.env = {"LC_ALL=C.UTF-8"}});
        EXPECT_EQ(r.out.find("[rundif]"), std::string::npos) << args[0];
        EXPECT_EQ(r.status, 255) << args[0];
    }
}

} // namespace
