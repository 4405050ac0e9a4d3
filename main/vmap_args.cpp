// Command-line parser for option tables: stores what it finds in a
// variant map, one key per option.
#include "main/args.h"

#include "base/container/container.h"

#include <cstring>

// Put mode of a record's values: a multiple record chains every value
// given under its key, any other keeps the last one.
static uint32_t put_mode(const st_args *d)
{
    return (d->flg & ARGS_MULTIPLE) ? uint32_t{MAP_PUT_KEEP} : 0u;
}

// Stores val (none: the key alone) under the record's key; several values
// of a multiple record are kept in the order given. *nod (may be none) gets
// the key node or the new chain member.
static int32_t store(st_vmap *map, void *par, const st_args *d, const char *val, void **nod)
{
    return val ? _vmap_put_str_str(map, par, d->key, val, nod, put_mode(d))
               : _vmap_put_str_nul(map, par, d->key, nod, put_mode(d));
}

// Appends val after the chain member last (from the previous store of the
// same record) in one step, so that a long run of values costs linear time.
static int32_t store_next(st_vmap *map, void *par, const st_args *d, const char *val, void **last)
{
    if (!*last || !(d->flg & ARGS_MULTIPLE) || !(map->mod & VMAP_EQU))
        return store(map, par, d, val, last);
    st_vtyp_prm pr[2] = {};
    pr[0].flg = VTYP_STR;
    pr[0].nst = par;
    pr[0].dat = d->key;
    pr[1].flg = VTYP_STR;
    pr[1].dat = val;
    return _vmap_put_equ(map, *last, pr, last);
}

// True when c is the prefix character of some record of the table.
static bool is_prefix(int c, const st_args *def, int32_t n)
{
    for (int32_t i = 0; i < n; i++)
        if (def[i].pre == c)
            return true;
    return false;
}

// The first record matching argument a. *sep gets the separator position
// found for the argument (kept across records that have no separator
// character of their own).
static st_args *match(const char *a, st_args *def, int32_t n, const char **sep)
{
    *sep = nullptr;
    for (int32_t i = 0; i < n; i++) {
        st_args *d = &def[i];
        if (!d->pre) {
            if (!(d->flg & ARGS_DEFINED) || (d->flg & ARGS_MULTIPLE))
                return d;
            continue;
        }
        if (!d->nam || a[0] != (char)d->pre)
            continue;
        if (d->dlm)
            *sep = strchr(a + 1, (char)d->dlm);
        size_t len = *sep ? (size_t)(*sep - (a + 1)) : strlen(a + 1);
        if (len == (size_t)d->nam_len && memcmp(a + 1, d->nam, len) == 0)
            return d;
    }
    return nullptr;
}

// Stores the arguments that follow a positional record or one that takes
// arguments, up to the next option word. *b gets the index of the last
// argument consumed (the record's own when none was stored).
static int32_t take_values(st_vmap *map, void *par, st_args *d, int32_t *b, int32_t argc,
                           char **argv, const st_args *def, int32_t n)
{
    void *last = nullptr;
    d->flg |= ARGS_DEFINED;
    for (int32_t i = (d->flg & ARGS_TAKES) ? *b + 1 : *b; i < argc; i++) {
        if (is_prefix((unsigned char)argv[i][0], def, n))
            break;
        RTN_TRY(store_next(map, par, d, argv[i], &last));
        *b = i;
        if (!(d->flg & ARGS_MULTIPLE))
            break;
    }
    return rtn_ok();
}

// Reads argument b (and, for a record that takes values, those after it);
// *b gets the last argument consumed. -1 when no record matches or the
// matched record stays undefined (an inline value is missing).
static int32_t parse_arg(st_vmap *map, void *par, int32_t *b, int32_t argc, char **argv,
                         st_args *def, int32_t n)
{
    const char *sep;
    st_args *d = match(argv[*b], def, n, &sep);
    if (!d)
        return rtn_fail();
    if (sep) {
        RTN_TRY(store(map, par, d, sep + 1, nullptr));
        d->flg |= ARGS_DEFINED;
    }
    if (!d->pre || (d->flg & ARGS_TAKES))
        RTN_TRY(take_values(map, par, d, b, argc, argv, def, n));
    if ((d->flg & ARGS_SWITCH) && !(d->flg & ARGS_DEFINED)) {
        RTN_TRY(store(map, par, d, nullptr, nullptr));
        d->flg |= ARGS_DEFINED;
    }
    return (d->flg & ARGS_DEFINED) ? rtn_ok() : rtn_fail();
}

// After the last argument: a required record not defined fails at once;
// a record not defined gets its default.
static int32_t finish(st_vmap *map, void *par, st_args *def, int32_t n)
{
    for (int32_t i = 0; i < n; i++) {
        st_args *d = &def[i];
        if (d->flg & ARGS_DEFINED)
            continue;
        if (d->flg & ARGS_REQUIRED)
            return rtn_fail();
        if (d->dfl)
            RTN_TRY(store(map, par, d, d->dfl, nullptr));
    }
    return rtn_ok();
}

int32_t vmap_args(st_vmap *map, void *par, int32_t argc, char **argv, st_args *def,
                  int32_t n) noexcept
{
    if (!map || argc < 0 || n < 0 || (argc > 0 && !argv) || (n > 0 && !def))
        return rtn_fail();
    for (int32_t i = 0; i < argc; i++)
        if (!argv[i])
            return rtn_fail();
    for (int32_t i = 0; i < n; i++) {
        def[i].nam_len = def[i].nam ? (int32_t)strlen(def[i].nam) : 0;
        def[i].flg &= (uint8_t)~ARGS_DEFINED;
    }
    for (int32_t b = 0; b < argc; b++)
        RTN_TRY(parse_arg(map, par, &b, argc, argv, def, n));
    RTN_TRY(finish(map, par, def, n));
    return rtn_ok();
}
