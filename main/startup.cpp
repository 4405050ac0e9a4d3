// Start-up and shutdown of the tool around the monitor cycle, and the
// one-off comparison of two saved outputs.
#include "main/rundif.h"

#include "base/os/os.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <sys/stat.h>

namespace
{

// Everything the tool owns between start-up and shutdown.
struct st_tool {
    st_vmap opt;        // the "/" parser's options (equal keys)
    st_settings *set;   // settings: the GNU options', then those read from opt
    st_generations gen; // rows of the last two runs
};

} // namespace

static int32_t startup(st_tool *t, const st_cmd_line *cl)
{
    st_settings *set = t->set;
    TOOL_TRY(vmap_set(&t->opt, VMAP_EQU));
    if (vmap_args(&t->opt, nullptr, cl->opt_cnt, cl->opt, args_def, ARGS_DEF_CNT) != 0) {
        fputs("rundif: cannot read the options (see rundif --help)\n", stderr);
        return rtn_keep();
    }
    if (!set->cmp[0]) { // --compare runs no command
        TOOL_TRY(arg_to_vstr(cl->cmd_cnt, cl->cmd, &set->cmd));
        set->prog = cl->cmd[0];
    }
    TOOL_TRY(settings_read(&t->opt, set));
    RTN_TRY(generations_set(&t->gen));
    return rtn_ok();
}

// The shutdown sequence; the status word stays as the failure left it.
// The statistics and the unreleased-resource report go to standard error
// unless stats is false.
static void shutdown(st_tool *t, bool stats)
{
    st_rtn_save keep;
    settings_close_file(t->set);
    generations_end(&t->gen);
    vmap_end(&t->opt);
    _free(&t->set->cmd);
    fflush(stdout);
    if (stats)
        itfmng_print(stderr);
    itf_end();
    mem_log_clr();
    if (stats)
        rscmng_prt(nullptr, stderr, 0);
}

// The name of a saved output in messages.
static const char *saved_name(const char *path)
{
    return strcmp(path, "-") == 0 ? "standard input" : path;
}

// Opens a saved output for --compare ("-": standard input); none, told on
// standard error, when it cannot be read.
static FILE *open_saved(const char *path)
{
    if (strcmp(path, "-") == 0)
        return stdin;
    int err;
    FILE *fp = settings_open_read(path, &err);
    if (!fp)
        fprintf(stderr, "rundif: cannot read %s: %s\n", saved_name(path), strerror(err));
    return fp;
}

// True, told on standard error, when the output file is one of the saved
// outputs: opening it for writing would empty it before it is read.
static bool output_is_input(const st_settings *set, FILE *const fp[2])
{
    struct stat out, in;
    if (!set->fil_path || stat(set->fil_path, &out) != 0 || !S_ISREG(out.st_mode))
        return false;
    for (int i = 0; i < 2; i++)
        if (fstat(fileno(fp[i]), &in) == 0 && in.st_dev == out.st_dev && in.st_ino == out.st_ino) {
            fprintf(stderr, "rundif: the output file %s is one of the compared files\n",
                    set->fil_path);
            return true;
        }
    return false;
}

// Reports the saved output NEW against OLD with the monitor's run: a
// silent run over OLD, then a reported one over NEW. 0 when nothing was
// reported, 1 when something was, 2 when a file cannot be read or is the
// output file, -1 when a run failed (the status word tells).
static int compare(st_tool *t)
{
    st_settings *set = t->set;
    const char *const *cmp = set->cmp;
    FILE *fp[2] = {open_saved(cmp[0]), nullptr};
    if (fp[0])
        fp[1] = open_saved(cmp[1]);
    int status = 2;
    if (fp[0] && fp[1] && !output_is_input(set, fp)) {
        settings_open_file(set, false);
        time_t now = time(nullptr);
        FILE *con = set->con, *fil = set->fil;
        const char *path = set->fil_path;
        set->con = set->fil = nullptr; // the run over OLD is silent
        set->fil_path = nullptr;
        int32_t rc = 0;
        for (int i = 0; i < 2 && rc == 0; i++) {
            set->src = fp[i];
            rc = monitor_run(set, &t->gen, now);
            if (rc != 0 && t->gen.err)
                fprintf(stderr, "rundif: cannot read %s: %s\n", saved_name(cmp[i]),
                        strerror(t->gen.err));
            set->con = con; // the run over NEW is reported
            set->fil = fil;
            set->fil_path = path;
        }
        set->src = nullptr;
        status = rc == 0 ? (t->gen.lines ? 1 : 0) : t->gen.err ? 2 : -1;
    }
    for (FILE *f : fp)
        if (f && f != stdin)
            fclose(f);
    return status;
}

// Runs the tool after the help check; returns the exit status.
int rundif_monitor(st_cmd_line *cl, st_settings *set)
{
    // A closed standard output is a write error, not a signal death.
    signal(SIGPIPE, SIG_IGN);
    os_stop_catch();
    static st_tool t; // zero-filled; maps and streams are owned records
    t.set = set;
    int status = -1;
    if (startup(&t, cl) == 0) {
        if (set->cmp[0]) {
            status = compare(&t);
        } else {
            const int32_t st = state_load(set, &t.gen); // 2: the state was refused (told)
            if (st == 2)
                status = 2;
            if (st == 0)
                settings_open_file(set, false);
            if (st == 0 && monitor_cycle(set, &t.gen) == 0) // a run limit or a change
                status = set->eoc && !t.gen.chg ? 1 : 0;
        }
    }
    if (status < 0 && mem_fail_cnt() > 0)
        fputs("rundif: out of memory\n", stderr);
    shutdown(&t, !set->nostats);
    if (os_stop_sig())
        return 128 + os_stop_sig();
    if (set->lost && status != -1) // lines lost in the file: trouble, as diff's 2
        return 2;
    if (t.gen.state_bad && status != -1) // the last run's rows are not in the state
        return 2;
    if (status >= 0)
        return status;
    return (int)((uint32_t)__rtn & 0xffu);
}
