// Turning the parsed options into the tool's settings.
#include "main/rundif.h"

#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <sys/stat.h>

int32_t settings_dec(const char *s) noexcept
{
    long long v = strtoll(s, nullptr, 10);
    if (v > INT32_MAX)
        return INT32_MAX;
    if (v < INT32_MIN)
        return INT32_MIN;
    return (int32_t)v;
}

// A list option given more entries than a list holds: told, and -1.
static int32_t too_many(const char *opt)
{
    fprintf(stderr, "rundif: /%s takes at most %d entries\n", opt, SET_LST_MAX);
    return rtn_fail();
}

// "0:1:4" gives 0, 1, 4. -1 beyond SET_LST_MAX entries.
static int32_t read_keys(const char *txt, st_settings *set)
{
    for (const char *p = txt; p; p = strchr(p, ':'), p = p ? p + 1 : p) {
        if (set->key_cnt == SET_LST_MAX)
            return too_many("key");
        set->key[set->key_cnt++] = settings_dec(p);
    }
    return rtn_ok();
}

// Calls add(value text) for every value of the multiple option key, in the
// order given. Absent key: nothing.
template <typename F>
static int32_t each_value(st_vmap *opt, const char *key, F add)
{
    void *node = nullptr;
    if (vmap_ref_str(opt, nullptr, key, &node) != 0)
        return rtn_ok();
    for (; node;) {
        char *txt = nullptr;
        if (vtyp_ref_lnk_val(node, 0, &txt) == 0)
            RTN_TRY(add(txt));
        RTN_TRY(vtyp_get_equ(node, &node));
    }
    return rtn_ok();
}

static int32_t add_watch(st_settings *set, const char *txt)
{
    const char *colon = strchr(txt, ':');
    if (!colon)
        return 0;
    if (set->wtc_cnt == SET_LST_MAX)
        return too_many("watch");
    int32_t scl = settings_dec(colon + 1);
    if (scl < 1)
        fprintf(stderr, "rundif: /watch=%s: a scale below 1 counts as 1\n", txt);
    set->wtc[set->wtc_cnt++] = {settings_dec(txt), scl > 0 ? scl : 1};
    return 0;
}

static int32_t add_exclude(st_settings *set, const char *txt)
{
    const char *colon = strchr(txt, ':');
    if (!colon)
        return 0;
    if (set->exc_cnt == SET_LST_MAX)
        return too_many("exclude");
    set->exc[set->exc_cnt++] = {settings_dec(txt), colon + 1};
    return 0;
}

// The first character of txt as the console decodes the command's output,
// so that a multi-byte separator compares with the decoded characters; 0
// for the empty text.
static int32_t first_char(const char *txt, int32_t *out)
{
    st_stream bytes = {}, chars = {};
    int32_t c = 0;
    RTN_TRY(bstream_str_set(&bytes, txt));
    if (cstream_console_btoc_set(&chars, &bytes) != 0) {
        stream_end(&bytes);
        return rtn_keep();
    }
    *out = stream_pop(&chars, &c) == 0 ? c : 0;
    stream_end(&chars);
    return rtn_ok();
}

int32_t settings_read(st_vmap *opt, st_settings *set) noexcept
{
    char *txt = nullptr;
    if (vmap_get_str_str(opt, nullptr, "key", &txt) == 0)
        RTN_TRY(read_keys(txt, set));
    RTN_TRY(each_value(opt, "wtc", [set](const char *t) { return add_watch(set, t); }));
    RTN_TRY(each_value(opt, "exc", [set](const char *t) { return add_exclude(set, t); }));
    RTN_TRY(vmap_get_str_str(opt, nullptr, "spn", &txt));
    set->spn = settings_dec(txt) > 0 ? settings_dec(txt) : 1;
    RTN_TRY(vmap_get_str_str(opt, nullptr, "sep", &txt));
    RTN_TRY(first_char(txt, &set->sep));
    void *node;
    set->tim = vmap_ref_str(opt, nullptr, "time", &node) == 0;
    set->con = vmap_ref_str(opt, nullptr, "hide", &node) == 0 ? nullptr : stdout;
    set->fil_path = vmap_get_str_str(opt, nullptr, "filout", &txt) == 0 ? txt : nullptr;
    return rtn_ok();
}

// The output file's trouble is told once on standard error when it starts
// (an open, a write or a close failed; err is its errno) and once when a
// line reaches the file again, never once per line.
void settings_file_result(st_settings *set, bool ok, int err) noexcept
{
    if (ok && set->fil_bad)
        fprintf(stderr, "rundif: writing %s again\n", set->fil_path);
    else if (!ok && !set->fil_bad)
        fprintf(stderr, "rundif: cannot write %s: %s\n", set->fil_path, strerror(err));
    set->fil_bad = !ok;
}

void settings_open_file(st_settings *set, bool append) noexcept
{
    if (!set->fil_path)
        return;
    set->fil = (FILE *)rscmng_psh(nullptr, fopen(set->fil_path, append ? "abe" : "wbe"), 0, 0,
                                  __FILE__, __LINE__, __func__, "fopen");
    if (!set->fil)
        settings_file_result(set, false, errno);
}

void settings_close_file(st_settings *set) noexcept
{
    if (!set->fil)
        return;
    rscmng_del(nullptr, set->fil, 0, __FILE__, __LINE__, __func__, "fclose");
    if (fclose(set->fil) != 0)
        settings_file_result(set, false, errno);
    set->fil = nullptr;
}

FILE *settings_open_read(const char *path, int *err) noexcept
{
    FILE *fp = fopen(path, "rbe");
    struct stat st;
    *err = errno;
    if (fp && fstat(fileno(fp), &st) == 0 && S_ISDIR(st.st_mode)) {
        fclose(fp);
        fp = nullptr;
        *err = EISDIR;
    }
    return fp;
}
