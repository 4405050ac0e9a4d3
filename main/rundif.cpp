// Entry point of the tool: option table, help, and the hand-over to start-up.
#include "main/rundif.h"

#include "base/diag/diag.h"

#include <cerrno>
#include <clocale>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <iconv.h>

st_args args_def[ARGS_DEF_CNT] = {
    {'/', "key", '=', "key", nullptr,
     "行の更新判定対象となるキー番号を指定する。\n指定しない場合、行全体で更新判定を行う。\nex)/key=0:1:4",
     0, 0},
    {'/', "span", '=', "spn", "10", "次のコマンドを実行するまでの待機時間[秒]を指定する。", 0, 0},
    {'/', "separate-word", '=', "sep", " ",
     "行の分割を行う文字を指定する。\nデフォルトでは空白になる。", 0, 0},
    {'/', "watch", '=', "wtc", nullptr,
     "監視対象のインデックスと検出スケールを指定する。ex)/watch=3:100", ARGS_MULTIPLE, 0},
    {'/', "exclude", '=', "exc", nullptr,
     "除隊対象のインデックスと名称を指定する。\nex)/exclude=3:key-name", ARGS_MULTIPLE, 0},
    {'/', "time", 0, "time", nullptr, "時刻を表示する", ARGS_SWITCH, 0},
    {'/', "hide", 0, "hide", nullptr, "コンソールを非表示する", ARGS_SWITCH, 0},
    {'/', "file-out", '=', "filout", nullptr, "出力ファイルパスを指定する.", 0, 0},
    {0, nullptr, 0, "cmd", nullptr, "コマンド", ARGS_TAKES | ARGS_REQUIRED | ARGS_MULTIPLE, 0},
};

static const char prg_name[] = "rundif";
static const char prg_desc[] = "コマンドの実行結果差分を出力する";
static const char prg_example[] =
    "\nex)\nrundif.exe /key=0:1 /exclude=0:tasklist.exe tasklist /V\n"
    "rundif.exe /span=1 /key=0:1:2 /exclude=0:pslist /watch=4:10 /file-out=pslist.log pslist\n";

static bool is_help_switch(const char *a)
{
    static const char *const sw[] = {"/?", "/h", "/H", "/help", "/HELP"};
    for (const char *s : sw)
        if (strcmp(a, s) == 0)
            return true;
    return false;
}

// Converts len bytes of UTF-8 text to code page 932 and writes them to fp.
// Returns false (having written nothing) when the conversion fails.
static bool write_cp932(FILE *fp, const char *txt, size_t len)
{
    iconv_t cd = iconv_open("CP932", "UTF-8");
    if (cd == (iconv_t)-1)
        return false;
    size_t cap = len * 2 + 1; // a UTF-8 character never shrinks to less than half
    char *out = static_cast<char *>(malloc(cap));
    char *in = const_cast<char *>(txt), *op = out;
    size_t inleft = len, outleft = cap;
    bool ok = out && iconv(cd, &in, &inleft, &op, &outleft) != (size_t)-1;
    iconv_close(cd);
    if (ok)
        fwrite(out, 1, (size_t)(op - out), fp);
    free(out);
    return ok;
}

// Prints the help in the console's encoding: the texts are stored as UTF-8
// and converted to code page 932 for a console that is not UTF-8.
static void print_help()
{
    if (cstream_console_utf8()) {
        help_args(stdout, prg_name, prg_desc, prg_example, args_def, ARGS_DEF_CNT);
        return;
    }
    char *buf = nullptr;
    size_t len = 0;
    FILE *mem = open_memstream(&buf, &len);
    if (mem) {
        help_args(mem, prg_name, prg_desc, prg_example, args_def, ARGS_DEF_CNT);
        fclose(mem);
        if (!write_cp932(stdout, buf, len))
            fwrite(buf, 1, len, stdout);
    }
    free(buf);
}

// Opens /dev/null on each of the standard descriptors that is closed, so
// that no file the tool opens later lands on one of them.
static void fill_std_fds()
{
    for (int fd = 0; fd <= 2; fd++)
        if (fcntl(fd, F_GETFD) < 0 && errno == EBADF && open("/dev/null", O_RDWR) < 0)
            return;
}

// Flushes standard output; a write error is told on standard error.
static bool flush_stdout()
{
    if (fflush(stdout) == 0 && !ferror(stdout))
        return true;
    fprintf(stderr, "rundif: write error: %s\n", strerror(errno ? errno : EIO));
    return false;
}

int rundif_main(int argc, char **argv)
{
    fill_std_fds();
    // The console's encoding decides how the help is printed and how the
    // command's output is decoded.
    setlocale(LC_CTYPE, "");
    if (argc > 1 && is_help_switch(argv[1])) {
        print_help();
        return flush_stdout() ? 0 : 1;
    }
    st_cmd_line cl;
    st_settings set = {}; // no option given yet
    switch (long_opts_read(argc, argv, &cl, &set)) {
    case LONG_DONE:
        return flush_stdout() ? 0 : 1;
    case LONG_USAGE:
        return 2;
    case LONG_FAIL:
        return 255;
    }
    int status = rundif_monitor(&cl, &set);
    long_opts_end(&cl);
    return status;
}
