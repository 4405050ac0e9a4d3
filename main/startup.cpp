// Start-up and shutdown of the tool around the monitor cycle, and the
// one-off comparison of two saved outputs.
#include "main/rundif.h"

#include "base/os/os.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <sys/stat.h>

namespace {

// Everything the tool owns between start-up and shutdown.
struct st_tool {
    st_vmap opt;        // parsed options (equal keys)
    st_settings set;    // settings read from them
    st_generations gen; // rows of the last two runs
};

} // namespace

static int32_t startup(st_tool *t, const st_cmd_line *cl)
{
    TOOL_TRY(vmap_set(&t->opt, VMAP_EQU));
    TOOL_TRY(vmap_args(&t->opt, nullptr, cl->opt_cnt, cl->opt, args_def, ARGS_DEF_CNT));
    if (!cl->lo.cmp[0]) // --compare runs no command
        TOOL_TRY(arg_to_vstr(cl->cmd_cnt, cl->cmd, &t->set.cmd));
    TOOL_TRY(settings_read(&t->opt, &t->set));
    t->set.cnt = cl->lo.cnt;
    t->set.tmo = cl->lo.tmo;
    t->set.eoc = cl->lo.eoc;
    t->set.jsn = cl->lo.jsn;
    t->set.clr = cl->lo.clr;
    settings_open_file(&t->set, false);
    RTN_TRY(generations_set(&t->gen));
    return rtn_ok();
}

// The shutdown sequence; the status word stays as the failure left it.
static void shutdown(st_tool *t)
{
    st_rtn_save keep;
    settings_close_file(&t->set);
    generations_end(&t->gen);
    vmap_end(&t->opt);
    _free(&t->set.cmd);
    fflush(stdout);
    itfmng_print(stderr);
    itf_end();
    mem_log_clr();
    rscmng_prt(nullptr, stderr, 0);
}

// Opens a saved output for --compare ("-": standard input); none, told on
// standard error, when it cannot be read.
static FILE *open_saved(const char *path)
{
    if (strcmp(path, "-") == 0)
        return stdin;
    FILE *fp = fopen(path, "rbe");
    struct stat st;
    int err = errno;
    if (fp && fstat(fileno(fp), &st) == 0 && S_ISDIR(st.st_mode)) {
        fclose(fp);
        fp = nullptr;
        err = EISDIR;
    }
    if (!fp)
        fprintf(stderr, "rundif: cannot read %s: %s\n", path, strerror(err));
    return fp;
}

// Reports the saved output NEW against OLD with the monitor's run: a
// silent run over OLD, then a reported one over NEW. 0 when nothing was
// reported, 1 when something was, 2 when a file cannot be read, -1 when a
// run failed (the status word tells).
static int compare(st_tool *t, const char *const cmp[2])
{
    st_settings *set = &t->set;
    FILE *fp[2] = {open_saved(cmp[0]), nullptr};
    if (fp[0])
        fp[1] = open_saved(cmp[1]);
    int status = -1;
    if (fp[0] && fp[1]) {
        time_t now = time(nullptr);
        FILE *con = set->con, *fil = set->fil;
        set->con = set->fil = nullptr;
        set->src = fp[0];
        int32_t rc = monitor_run(set, &t->gen, now);
        set->con = con;
        set->fil = fil;
        set->src = fp[1];
        if (rc == 0 && monitor_run(set, &t->gen, now) == 0)
            status = t->gen.lines ? 1 : 0;
        set->src = nullptr;
    } else {
        status = 2;
    }
    for (FILE *f : fp)
        if (f && f != stdin)
            fclose(f);
    return status;
}

// Runs the tool after the help check; returns the exit status.
int rundif_monitor(st_cmd_line *cl)
{
    // A closed standard output is a write error, not a signal death.
    signal(SIGPIPE, SIG_IGN);
    os_stop_catch();
    static st_tool t; // zero-filled; maps and streams are owned records
    int status = -1;
    if (startup(&t, cl) == 0) {
        if (cl->lo.cmp[0])
            status = compare(&t, cl->lo.cmp);
        else if (monitor_cycle(&t.set, &t.gen) == 0) // a run limit or a change
            status = t.set.eoc && !t.gen.chg ? 1 : 0;
    }
    shutdown(&t);
    if (os_stop_sig())
        return 128 + os_stop_sig();
    if (status >= 0)
        return status;
    return (int)((uint32_t)__rtn & 0xffu);
}
