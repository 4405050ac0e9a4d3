// The GNU-style options, read before the command beside the "/" options:
// the tool's own long options, and a short and a long form for every "/"
// option. They fill the settings record; a GNU form of a "/" option
// reaches the "/" parser as that option's "/" word, in its place among the
// "/" words, so that both forms behave alike in everything (the last value
// wins, repeated values stay in order, the same messages).
#include "main/rundif.h"

#include <cstdlib>
#include <cstring>
#include <string>
#include <unistd.h>

#ifndef RUNDIF_VERSION
#define RUNDIF_VERSION "0.0.0"
#endif

namespace
{

// What a GNU option takes after its name.
enum : uint8_t {
    TAKES_NONE, // a switch
    TAKES_ONE,  // a value: --name=V, --name V, -cV or -c V
    TAKES_WHEN, // an optional value, only as --name=V
    TAKES_TWO,  // two values: the next two arguments
};

// What an option does.
enum : uint8_t {
    DO_SLASH, // hands its "/" word to the "/" parser
    DO_HELP,
    DO_VERSION,
    DO_COUNT,
    DO_TIMEOUT,
    DO_EXIT_ON_CHANGE,
    DO_JSON,
    DO_COLOR,
    DO_COMPARE,
    DO_STATS,
    DO_STATE,
    DO_STATE_RESET,
};

struct st_gnu_opt {
    char sht;          // short letter, or 0
    const char *lng;   // long name, after "--"
    uint8_t takes;     // TAKES_*
    uint8_t act;       // DO_*
    const char *slash; // DO_SLASH: the name of the "/" option it stands for
    const char *val;   // the value's name in messages
};

const st_gnu_opt gnu_opts[] = {
    {'k', "key", TAKES_ONE, DO_SLASH, "key", "COLS"},
    {'n', "interval", TAKES_ONE, DO_SLASH, "span", "SECONDS"},
    {'d', "delimiter", TAKES_ONE, DO_SLASH, "separate-word", "CHAR"},
    {'w', "watch", TAKES_ONE, DO_SLASH, "watch", "COL:SCALE"},
    {'x', "exclude", TAKES_ONE, DO_SLASH, "exclude", "COL:TEXT"},
    {'t', "time", TAKES_NONE, DO_SLASH, "time", nullptr},
    {'q', "quiet", TAKES_NONE, DO_SLASH, "hide", nullptr},
    {'o', "output", TAKES_ONE, DO_SLASH, "file-out", "FILE"},
    {'h', "help", TAKES_NONE, DO_HELP, nullptr, nullptr},
    {0, "version", TAKES_NONE, DO_VERSION, nullptr, nullptr},
    {0, "count", TAKES_ONE, DO_COUNT, nullptr, "N"},
    {0, "exit-on-change", TAKES_NONE, DO_EXIT_ON_CHANGE, nullptr, nullptr},
    {0, "timeout", TAKES_ONE, DO_TIMEOUT, nullptr, "SECONDS"},
    {0, "json", TAKES_NONE, DO_JSON, nullptr, nullptr},
    {0, "color", TAKES_WHEN, DO_COLOR, nullptr, nullptr},
    {0, "compare", TAKES_TWO, DO_COMPARE, nullptr, nullptr},
    {0, "stats", TAKES_ONE, DO_STATS, nullptr, "WHEN"},
    {0, "state", TAKES_ONE, DO_STATE, nullptr, "FILE"},
    {0, "state-reset", TAKES_NONE, DO_STATE_RESET, nullptr, nullptr},
};

// One reading of the arguments.
struct st_reader {
    int argc;
    char **argv;
    int i;           // the argument being read
    st_cmd_line *cl; // the words for the "/" parser
    st_settings *set;
};

// A "/" word made from a GNU form; its text follows the record.
struct st_made_word {
    st_made_word *nxt;
};

} // namespace

// The word handed to the "/" parser in place of a command it must not read
// (after "--", or with --compare): the table's command record needs one.
static char cmd_word[] = "-";

static int32_t usage(const char *fmt, const char *arg, const char *arg2 = nullptr)
{
    fputs("rundif: ", stderr);
    fprintf(stderr, fmt, arg, arg2);
    fputc('\n', stderr);
    return LONG_USAGE;
}

static int32_t out_of_memory()
{
    fputs("rundif: out of memory\n", stderr);
    return LONG_FAIL;
}

// Appends a word to the "/" parser's words.
static int32_t push_word(st_cmd_line *cl, char *word)
{
    if (cl->opt_cnt == cl->opt_cap) {
        int32_t cap = cl->opt_cap ? cl->opt_cap * 2 : 16;
        void *grown = realloc(cl->opt, (size_t)cap * sizeof *cl->opt);
        if (!grown)
            return out_of_memory();
        cl->opt = static_cast<char **>(grown);
        cl->opt_cap = cap;
    }
    cl->opt[cl->opt_cnt++] = word;
    return LONG_RUN;
}

// Appends "/NAME" (val none) or "/NAME=VAL" to the "/" parser's words.
static int32_t push_slash(st_cmd_line *cl, const char *name, const char *val)
{
    size_t n = strlen(name), v = val ? strlen(val) + 1 : 0;
    auto *m = static_cast<st_made_word *>(malloc(sizeof(st_made_word) + n + v + 2));
    if (!m)
        return out_of_memory();
    m->nxt = static_cast<st_made_word *>(cl->made);
    cl->made = m;
    char *word = reinterpret_cast<char *>(m + 1);
    word[0] = '/';
    memcpy(word + 1, name, n);
    word[n + 1] = 0;
    if (val) {
        word[n + 1] = '=';
        memcpy(word + n + 2, val, v);
    }
    return push_word(cl, word);
}

void long_opts_end(st_cmd_line *cl) noexcept
{
    for (auto *m = static_cast<st_made_word *>(cl->made); m;) {
        st_made_word *nxt = m->nxt;
        free(m);
        m = nxt;
    }
    free(cl->opt);
    *cl = {};
}

// A whole number from 1 to UINT32_MAX written in decimal digits only.
static bool whole_number(const char *t, uint32_t *out)
{
    uint64_t v = 0;
    if (!*t)
        return false;
    for (const char *p = t; *p; p++) {
        if (*p < '0' || *p > '9')
            return false;
        v = v * 10 + (uint64_t)(*p - '0');
        if (v > UINT32_MAX)
            return false;
    }
    *out = (uint32_t)v;
    return v > 0;
}

// --color's WHEN: never, always, or auto (standard output is a terminal and
// NO_COLOR is unset or empty). false for another word.
static bool color_when(const char *when, uint8_t *clr)
{
    const char *nc = getenv("NO_COLOR");
    if (strcmp(when, "never") == 0)
        *clr = 0;
    else if (strcmp(when, "always") == 0)
        *clr = 1;
    else if (strcmp(when, "auto") == 0)
        *clr = isatty(1) && !(nc && *nc);
    else
        return false;
    return true;
}

// Does what option o says with its values v (none where it takes none).
static int32_t apply(st_reader *r, const st_gnu_opt *o, const char *const v[2])
{
    st_settings *set = r->set;
    switch (o->act) {
    case DO_SLASH:
        return push_slash(r->cl, o->slash, v[0]);
    case DO_HELP:
        long_opts_help(stdout);
        return LONG_DONE;
    case DO_VERSION:
        printf("rundif %s\n", RUNDIF_VERSION);
        return LONG_DONE;
    case DO_COUNT:
        if (!whole_number(v[0], &set->cnt))
            return usage("%s needs a whole number of 1 or more", "--count");
        break;
    case DO_TIMEOUT:
        if (!whole_number(v[0], &set->tmo))
            return usage("%s needs a whole number of seconds, 1 or more", "--timeout");
        break;
    case DO_EXIT_ON_CHANGE:
        set->eoc = 1;
        break;
    case DO_JSON:
        set->jsn = 1;
        break;
    case DO_COLOR:
        if (!color_when(v[0] ? v[0] : "always", &set->clr))
            return usage("%s needs never, always or auto", "--color");
        break;
    case DO_COMPARE:
        if (!strcmp(v[0], "-") && !strcmp(v[1], "-"))
            return usage("%s can read only one of OLD and NEW from standard input", "--compare");
        set->cmp[0] = v[0];
        set->cmp[1] = v[1];
        break;
    case DO_STATS:
        if (strcmp(v[0], "never") != 0 && strcmp(v[0], "always") != 0)
            return usage("%s needs never or always", "--stats");
        set->nostats = strcmp(v[0], "never") == 0;
        break;
    case DO_STATE:
        if (!*v[0])
            return usage("%s needs a file name", "--state");
        set->state = v[0];
        break;
    case DO_STATE_RESET:
        set->state_reset = 1;
        break;
    }
    return LONG_RUN;
}

// The values of option o, typed as name, from the argument's own text
// (in: after "=" or after a short letter; none when it ends there) or the
// arguments after it (r->i moves past them).
static int32_t take_values(st_reader *r, const st_gnu_opt *o, const std::string &name,
                           const char *in, const char *v[2])
{
    if (o->takes == TAKES_NONE && in)
        return usage("%s takes no value", name.c_str());
    if (o->takes == TAKES_WHEN || o->takes == TAKES_NONE) {
        v[0] = in;
        return LONG_RUN;
    }
    if (o->takes == TAKES_TWO) {
        if (in || r->i + 2 >= r->argc)
            return usage("%s needs two saved outputs: --compare OLD NEW", name.c_str());
        v[0] = r->argv[++r->i];
        v[1] = r->argv[++r->i];
        return LONG_RUN;
    }
    if (!in && r->i + 1 >= r->argc) {
        std::string form = name + (name[1] == '-' ? "=" : " ") + o->val;
        return usage("%s needs a value (%s)", name.c_str(), form.c_str());
    }
    v[0] = in ? in : r->argv[++r->i];
    return LONG_RUN;
}

// Reads the long option argv[i]: --name, --name=value or --name value.
static int32_t read_long(st_reader *r)
{
    const char *a = r->argv[r->i];
    const char *eq = strchr(a, '=');
    std::string name(a, eq ? (size_t)(eq - a) : strlen(a));
    for (const st_gnu_opt &o : gnu_opts) {
        if (name.compare(2, std::string::npos, o.lng) != 0)
            continue;
        const char *v[2] = {};
        int32_t rc = take_values(r, &o, name, eq ? eq + 1 : nullptr, v);
        return rc == LONG_RUN ? apply(r, &o, v) : rc;
    }
    return usage("unknown option '%s'", a);
}

// Reads the short options of argv[i], one after the other (-tq); one that
// takes a value takes the rest of the argument (-k0:1), else the next
// argument (-k 0:1).
static int32_t read_shorts(st_reader *r)
{
    const char *a = r->argv[r->i];
    for (const char *p = a + 1; *p; p++) {
        const st_gnu_opt *o = nullptr;
        for (const st_gnu_opt &g : gnu_opts)
            if (g.sht && g.sht == *p)
                o = &g;
        std::string name = {'-', *p};
        if (!o)
            return usage("unknown option '%s'", name.c_str());
        bool rest = o->takes == TAKES_ONE && p[1];
        const char *v[2] = {};
        int32_t rc = take_values(r, o, name, rest ? p + 1 : nullptr, v);
        if (rc == LONG_RUN)
            rc = apply(r, o, v);
        if (rc != LONG_RUN || o->takes == TAKES_ONE)
            return rc;
    }
    return LONG_RUN;
}

// The "/" option of the table that argument a names (alone, or before
// "="), or none.
static const st_args *slash_record(const char *a)
{
    for (const st_args &d : args_def) {
        size_t n = d.nam ? strlen(d.nam) : 0;
        if (d.pre == '/' && strncmp(a + 1, d.nam, n) == 0 && (!a[n + 1] || a[n + 1] == '='))
            return &d;
    }
    return nullptr;
}

// Reads the "/" argument argv[i] before the command: an option of the
// table, by its name alone (a switch may take a value, which it ignores)
// or name=value, goes to the "/" parser. A word that is no option starts
// the command when it is a path (it holds another '/': /usr/bin/who);
// else it is told as a wrong option (LONG_FAIL). *cmd: it is the command.
static int32_t read_slash(st_reader *r, bool *cmd)
{
    char *a = r->argv[r->i];
    const st_args *d = slash_record(a);
    if (!d && strchr(a + 1, '/')) {
        *cmd = true;
        return LONG_RUN;
    }
    if (!d) {
        fprintf(stderr,
                "rundif: '%s' is not an option; put -- before a command that starts with /\n", a);
        return LONG_FAIL;
    }
    if (!(d->flg & ARGS_SWITCH) && a[strlen(d->nam) + 1] != '=') {
        fprintf(stderr, "rundif: /%s needs a value (/%s=...)\n", d->nam, d->nam);
        return LONG_FAIL;
    }
    return push_word(r->cl, a);
}

// Reads the options up to the command: r->i ends at the command's first
// word (argc when there is none). *dashes: "--" ended them.
static int32_t read_options(st_reader *r, bool *dashes)
{
    for (; r->i < r->argc; r->i++) {
        const char *a = r->argv[r->i];
        bool cmd = false;
        int32_t rc = LONG_RUN;
        if (strcmp(a, "--") == 0) {
            *dashes = true;
            r->i++;
            return LONG_RUN;
        }
        if (a[0] == '/')
            rc = read_slash(r, &cmd);
        else if (a[0] == '-' && a[1] == '-')
            rc = read_long(r);
        else if (a[0] == '-' && a[1])
            rc = read_shorts(r);
        else
            cmd = true;
        if (rc != LONG_RUN || cmd)
            return rc;
    }
    return LONG_RUN;
}

// Checks that there is a command, or none with --compare, and hands the
// "/" parser the command's words (which may hold "/" options), or a
// stand-in for the command after "--" or with --compare.
static int32_t hand_over(st_reader *r, bool dashes)
{
    st_cmd_line *cl = r->cl;
    const char *const *cmp = r->set->cmp;
    if (cmp[0] && r->i < r->argc)
        return usage("--compare takes no command ('%s')", r->argv[r->i]);
    if (!cmp[0] && (r->i == r->argc || !*r->argv[r->i])) {
        fputs("rundif: no command to run (see rundif --help)\n", stderr);
        return LONG_FAIL;
    }
    cl->cmd = r->argv + r->i;
    cl->cmd_cnt = r->argc - r->i;
    if (dashes || cmp[0])
        return push_word(cl, cmd_word);
    for (int i = r->i; i < r->argc; i++)
        if (push_word(cl, r->argv[i]) != LONG_RUN)
            return LONG_FAIL;
    return LONG_RUN;
}

int32_t long_opts_read(int argc, char **argv, st_cmd_line *cl, st_settings *set) noexcept
{
    *cl = {};
    st_reader r = {argc, argv, 1, cl, set};
    bool dashes = false;
    int32_t rc = read_options(&r, &dashes);
    if (rc == LONG_RUN)
        rc = hand_over(&r, dashes);
    if (rc != LONG_RUN)
        long_opts_end(cl);
    return rc;
}

void long_opts_help(FILE *fp) noexcept
{
    fputs("Usage: rundif [OPTION]... COMMAND [ARGUMENT]...\n"
          "       rundif [OPTION]... --compare OLD NEW\n"
          "Run COMMAND again and again and report which lines of its output appeared\n"
          "(+), vanished (-) or moved a watched number into another band (*).\n"
          "\n"
          "Options come before the command; '--' ends them. Short options combine (-tq);\n"
          "a value follows its letter (-k0:1) or is the next argument (-k 0:1).\n"
          "  -k, --key=COLS          columns (from 0) that form a row's key, as N[:N...];\n"
          "                          default: the whole line\n"
          "  -n, --interval=SECONDS  seconds to wait after each run (default 10)\n"
          "  -d, --delimiter=CHAR    character that splits a line into columns\n"
          "                          (default ' ')\n"
          "  -w, --watch=COL:SCALE   report a row with '*' when column COL / SCALE\n"
          "                          changes; may be repeated\n"
          "  -x, --exclude=COL:TEXT  ignore rows whose column COL is TEXT; may be\n"
          "                          repeated\n"
          "  -t, --time              prefix report lines with the run's time\n"
          "  -q, --quiet             write nothing on the console\n"
          "  -o, --output=FILE       also write the report to FILE\n"
          "      --count=N           end after N runs\n"
          "      --exit-on-change    end after the first run, past the first one, that\n"
          "                          reports a line\n"
          "      --timeout=SECONDS   end a command still running SECONDS after its\n"
          "                          start; its run goes on with what it printed\n"
          "      --json              write each report line as one JSON object (JSON\n"
          "                          Lines)\n"
          "      --color[=WHEN]      colour the console's lines: never (default), always\n"
          "                          (the same as no WHEN) or auto (on a terminal,\n"
          "                          unless NO_COLOR is set)\n"
          "      --compare OLD NEW   report the saved output NEW against OLD once and\n"
          "                          exit; '-' reads one of them from standard input\n"
          "      --stats=WHEN        the interface statistics and the unreleased-\n"
          "                          resource report on standard error at the end:\n"
          "                          always (default) or never\n"
          "      --state=FILE        remember the rows across restarts: load the last\n"
          "                          completed run's rows from FILE at start and save\n"
          "                          them after every completed run\n"
          "      --state-reset       start afresh even when FILE was written with\n"
          "                          other settings or is damaged\n"
          "  -h, --help              print this help and exit\n"
          "      --version           print the version and exit\n"
          "      --                  end of the options: the command follows, even if\n"
          "                          it starts with '/'\n"
          "\n"
          "The original syntax, also read after the command:\n"
          "  /key=COLS           the same as --key\n"
          "  /span=SECONDS       the same as --interval\n"
          "  /separate-word=CHAR the same as --delimiter\n"
          "  /watch=COL:SCALE    the same as --watch\n"
          "  /exclude=COL:TEXT   the same as --exclude\n"
          "  /time               the same as --time\n"
          "  /hide               the same as --quiet\n"
          "  /file-out=FILE      the same as --output\n"
          "  /help               the tool's original help, in Japanese (also /?, /h);\n"
          "                      only as the first argument\n"
          "\n"
          "Exit status:\n"
          "  0    help or version printed; --count reached; --exit-on-change saw a change;\n"
          "       --compare found no difference\n"
          "  1    --compare found a difference; --count reached before --exit-on-change\n"
          "       saw a change\n"
          "  2    a wrong option or value of the GNU forms (- and --), a saved output\n"
          "       that cannot be read, or a report line that could not be written to the\n"
          "       output file\n"
          "  128+N  stopped by signal N (130: Ctrl-C, 143: SIGTERM, 129: SIGHUP)\n"
          "  255  another failure: a '/' option it cannot read, a command it cannot start\n"
          "Every failure is told on standard error in a line that starts with 'rundif: '.\n"
          "At the end, standard error also shows one 'interface-id=...' line per outside\n"
          "interface used (time, accesses and size) and any unreleased resources: a\n"
          "report, not an error (--stats=never leaves it out).\n"
          "\n"
          "Example: rundif -t -k 0:1 ps -e -o comm=,pid=\n"
          "More: man rundif\n",
          fp);
}
