// Start-up and shutdown of the tool around the monitor cycle.
#include "main/rundif.h"

#include "base/os/os.h"

#include <csignal>
#include <cstring>

// Index of the first argument (from 1) that does not start with the prefix
// of the table's first record; argc when there is none.
static int command_start(int argc, char **argv)
{
    int i = 1;
    while (i < argc && argv[i][0] == (char)args_def[0].pre)
        i++;
    return i;
}

namespace {

// Everything the tool owns between start-up and shutdown.
struct st_tool {
    st_vmap opt;        // parsed options (equal keys)
    st_settings set;    // settings read from them
    st_generations gen; // rows of the last two runs
};

} // namespace

static int32_t startup(st_tool *t, int argc, char **argv)
{
    TOOL_TRY(vmap_set(&t->opt, VMAP_EQU));
    TOOL_TRY(vmap_args(&t->opt, nullptr, argc - 1, argv + 1, args_def, ARGS_DEF_CNT));
    int cs = command_start(argc, argv);
    TOOL_TRY(arg_to_vstr(argc - cs, argv + cs, &t->set.cmd));
    TOOL_TRY(settings_read(&t->opt, &t->set));
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

// Runs the tool after the help check; returns the exit status.
int rundif_monitor(int argc, char **argv)
{
    // A closed standard output is a write error, not a signal death.
    signal(SIGPIPE, SIG_IGN);
    os_stop_catch();
    static st_tool t; // zero-filled; maps and streams are owned records
    if (startup(&t, argc, argv) == 0)
        monitor_cycle(&t.set, &t.gen);
    shutdown(&t);
    if (os_stop_sig())
        return 128 + os_stop_sig();
    return (int)((uint32_t)__rtn & 0xffu);
}
