// GNU-style long options: read before the command, beside the "/" options
// of the table, which keep their own parser and their own failures.
#include "main/rundif.h"

#include <cstdlib>
#include <cstring>
#include <string>
#include <unistd.h>

#ifndef RUNDIF_VERSION
#define RUNDIF_VERSION "0.0.0"
#endif

// The word handed to the "/" parser in place of a command it must not read
// (after "--", or with --compare): the table's command record needs one.
static char cmd_word[] = "-";

static int32_t usage(const char *fmt, const char *arg)
{
    fputs("rundif: ", stderr);
    fprintf(stderr, fmt, arg);
    fputc('\n', stderr);
    return LONG_USAGE;
}

// A whole number from 1 to UINT32_MAX written in decimal digits only.
static bool whole_number(const char *t, uint32_t *out)
{
    uint64_t v = 0;
    if (!t || !*t)
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

// The value of a long option that needs one: after "=", else the next
// argument (*i moves past it). None when there is neither.
static const char *needed_value(int argc, char **argv, int *i, const char *eq)
{
    if (eq)
        return eq + 1;
    if (*i + 1 >= argc)
        return nullptr;
    return argv[++*i];
}

// Reads the long option argv[*i] (moving *i past the values it takes).
static int32_t long_opt(int argc, char **argv, int *i, st_long_opts *lo)
{
    const char *a = argv[*i];
    const char *eq = strchr(a, '=');
    size_t len = eq ? (size_t)(eq - a) : strlen(a);
    auto is = [a, len](const char *name) { return strlen(name) == len && !memcmp(a, name, len); };
    bool flag =
        is("--help") || is("-h") || is("--version") || is("--exit-on-change") || is("--json");
    if (flag && eq) {
        std::string name(a, len);
        return usage("%s takes no value", name.c_str());
    }
    if (is("--help") || is("-h")) {
        long_opts_help(stdout);
        return LONG_DONE;
    }
    if (is("--version")) {
        printf("rundif %s\n", RUNDIF_VERSION);
        return LONG_DONE;
    }
    if (is("--exit-on-change")) {
        lo->eoc = 1;
    } else if (is("--json")) {
        lo->jsn = 1;
    } else if (is("--count")) {
        if (!whole_number(needed_value(argc, argv, i, eq), &lo->cnt))
            return usage("%s needs a whole number of 1 or more", "--count");
    } else if (is("--timeout")) {
        if (!whole_number(needed_value(argc, argv, i, eq), &lo->tmo))
            return usage("%s needs a whole number of seconds, 1 or more", "--timeout");
    } else if (is("--color")) {
        if (!color_when(eq ? eq + 1 : "always", &lo->clr))
            return usage("%s needs never, always or auto", "--color");
    } else if (is("--stats")) {
        const char *when = needed_value(argc, argv, i, eq);
        if (!when || (strcmp(when, "never") != 0 && strcmp(when, "always") != 0))
            return usage("%s needs never or always", "--stats");
        lo->nostats = strcmp(when, "never") == 0;
    } else if (is("--compare")) {
        if (eq || *i + 2 >= argc)
            return usage("%s needs two saved outputs: --compare OLD NEW", "--compare");
        lo->cmp[0] = argv[++*i];
        lo->cmp[1] = argv[++*i];
        if (!strcmp(lo->cmp[0], "-") && !strcmp(lo->cmp[1], "-"))
            return usage("%s can read only one of OLD and NEW from standard input", "--compare");
    } else {
        return usage("unknown option '%s'", a);
    }
    return LONG_RUN;
}

// A "/" argument before the command must be an option of the table: its
// name alone (a switch may take a value, which it ignores) or name=value.
// A failure is told on standard error.
static int32_t slash_opt(const char *a)
{
    for (const st_args &d : args_def) {
        size_t n = d.nam ? strlen(d.nam) : 0;
        if (d.pre != '/' || strncmp(a + 1, d.nam, n) != 0 || (a[n + 1] && a[n + 1] != '='))
            continue;
        if (!(d.flg & ARGS_SWITCH) && a[n + 1] != '=') {
            fprintf(stderr, "rundif: /%s needs a value (/%s=...)\n", d.nam, d.nam);
            return LONG_FAIL;
        }
        return LONG_RUN;
    }
    fprintf(stderr, "rundif: '%s' is not an option; put -- before a command that starts with /\n",
            a);
    return LONG_FAIL;
}

int32_t long_opts_read(int argc, char **argv, st_cmd_line *cl) noexcept
{
    *cl = {};
    int w = 1, i = 1;
    bool dashes = false;
    for (; i < argc; i++) {
        const char *a = argv[i];
        if (strcmp(a, "--") == 0) {
            dashes = true;
            i++;
            break;
        }
        if (a[0] == '/') {
            if (slash_opt(a) != LONG_RUN)
                return LONG_FAIL;
            argv[w++] = argv[i];
            continue;
        }
        if (strcmp(a, "-h") != 0 && strncmp(a, "--", 2) != 0)
            break; // the command starts here
        int32_t rc = long_opt(argc, argv, &i, &cl->lo);
        if (rc != LONG_RUN)
            return rc;
    }
    if (cl->lo.cmp[0] && i < argc)
        return usage("--compare takes no command ('%s')", argv[i]);
    if (!cl->lo.cmp[0] && (i == argc || !*argv[i])) {
        fputs("rundif: no command to run (see rundif --help)\n", stderr);
        return LONG_FAIL;
    }
    cl->opt = argv + 1;
    cl->cmd = argv + i;
    cl->cmd_cnt = argc - i;
    if (dashes || cl->lo.cmp[0]) {
        // The command is not for the "/" parser: it gets a stand-in word.
        // w is below i here, as "--" or --compare's words took its place.
        if (cl->lo.cmp[0] || i < argc)
            argv[w++] = cmd_word;
    } else {
        // The command and what follows, read by the "/" parser as always.
        cl->cmd = argv + w;
        for (; i < argc; i++)
            argv[w++] = argv[i];
    }
    cl->opt_cnt = w - 1;
    return LONG_RUN;
}

void long_opts_help(FILE *fp) noexcept
{
    fputs("Usage: rundif [OPTION]... COMMAND [ARGUMENT]...\n"
          "       rundif [OPTION]... --compare OLD NEW\n"
          "Run COMMAND again and again and report which lines of its output appeared\n"
          "(+), vanished (-) or moved a watched number into another band (*).\n"
          "\n"
          "Options of the tool (they start with '/'):\n"
          "  /key=N[:N...]        columns (from 0) that form a row's key; default: the line\n"
          "  /span=S              seconds to wait after each run (default 10)\n"
          "  /separate-word=C     character that splits a line into columns (default ' ')\n"
          "  /watch=N:SCALE       report a row with '*' when column N / SCALE changes;\n"
          "                       may be repeated\n"
          "  /exclude=N:TEXT      ignore rows whose column N is TEXT; may be repeated\n"
          "  /time                prefix report lines with the run's time\n"
          "  /hide                write nothing on the console\n"
          "  /file-out=PATH       also write the report to PATH\n"
          "  /help                the tool's original help, in Japanese (also /?, /h)\n"
          "\n"
          "Long options (before the command):\n"
          "  -h, --help           print this help and exit\n"
          "      --version        print the version and exit\n"
          "      --count=N        end after N runs\n"
          "      --exit-on-change end after the first run, past the first one, that\n"
          "                       reports a line\n"
          "      --timeout=SECONDS\n"
          "                       end a command still running SECONDS after its\n"
          "                       start; its run goes on with what it printed\n"
          "      --json           write each report line as one JSON object (JSON Lines)\n"
          "      --color[=WHEN]   colour the console's lines: never (default), always\n"
          "                       (the same as no WHEN) or auto (on a terminal, unless\n"
          "                       NO_COLOR is set)\n"
          "      --compare OLD NEW\n"
          "                       report the saved output NEW against OLD once and\n"
          "                       exit; '-' reads one of them from standard input\n"
          "      --stats=WHEN     the interface statistics and the unreleased-resource\n"
          "                       report on standard error at the end: always\n"
          "                       (default) or never\n"
          "      --               end of the options: the command follows, even if it\n"
          "                       starts with '/'\n"
          "\n"
          "Exit status:\n"
          "  0    help or version printed; --count reached; --exit-on-change saw a change;\n"
          "       --compare found no difference\n"
          "  1    --compare found a difference; --count reached before --exit-on-change\n"
          "       saw a change\n"
          "  2    a wrong long option or value, a saved output that cannot be read, or a\n"
          "       report line that could not be written to the output file\n"
          "  128+N  stopped by signal N (130: Ctrl-C, 143: SIGTERM, 129: SIGHUP)\n"
          "  255  another failure: a '/' option it cannot read, a command it cannot start\n"
          "Every failure is told on standard error in a line that starts with 'rundif: '.\n"
          "At the end, standard error also shows one 'interface-id=...' line per outside\n"
          "interface used (time, accesses and size) and any unreleased resources: a\n"
          "report, not an error (--stats=never leaves it out).\n"
          "\n"
          "Example: rundif /time /key=0:1 ps -e -o comm=,pid=\n"
          "More: man rundif\n",
          fp);
}
