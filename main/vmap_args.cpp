// Command-line parser for option tables: stores what it finds in a
// variant map, one key per option.
#include "main/args.h"

#include "base/container/container.h"

#include <cstring>

// Stores val (none: the key alone) under the record's key; several values
// of a multiple record are kept in the order given.
static int32_t store(st_vmap *map, void *par, const st_args *d, const char *val)
{
    int32_t mode = (d->flg & ARGS_MULTIPLE) ? 2 : 0;
    return val ? vmap_put_str_str(map, par, d->key, val, mode)
               : vmap_put_str_nul(map, par, d->key, mode);
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
// arguments; returns the index of the last argument consumed.
static int32_t take_values(st_vmap *map, void *par, st_args *d, int32_t b, int32_t argc,
                           char **argv, const st_args *def, int32_t n, bool *failed)
{
    int32_t last = b;
    for (int32_t i = (d->flg & ARGS_TAKES) ? b + 1 : b; i < argc; i++) {
        if (is_prefix((unsigned char)argv[i][0], def, n))
            break;
        if (store(map, par, d, argv[i]) != 0) {
            *failed = true;
            break;
        }
        last = i;
        if (!(d->flg & ARGS_MULTIPLE))
            break;
    }
    d->flg |= ARGS_DEFINED;
    return last;
}

int32_t vmap_args(st_vmap *map, void *par, int32_t argc, char **argv, st_args *def,
                  int32_t n) noexcept
{
    for (int32_t i = 0; i < n; i++) {
        def[i].nam_len = def[i].nam ? (int32_t)strlen(def[i].nam) : 0;
        def[i].flg &= (uint8_t)~ARGS_DEFINED;
    }
    for (int32_t b = 0; b < argc; b++) {
        const char *sep;
        st_args *d = match(argv[b], def, n, &sep);
        if (!d)
            return rtn_fail();
        if (sep) {
            RTN_TRY(store(map, par, d, sep + 1));
            d->flg |= ARGS_DEFINED;
        }
        if (!d->pre || (d->flg & ARGS_TAKES)) {
            bool failed = false;
            b = take_values(map, par, d, b, argc, argv, def, n, &failed);
            if (failed)
                return rtn_keep();
        }
        if ((d->flg & ARGS_SWITCH) && !(d->flg & ARGS_DEFINED)) {
            RTN_TRY(store(map, par, d, nullptr));
            d->flg |= ARGS_DEFINED;
        }
        if (!(d->flg & ARGS_DEFINED))
            return rtn_fail();
    }
    for (int32_t i = 0; i < n; i++) {
        st_args *d = &def[i];
        if (d->flg & ARGS_DEFINED)
            continue;
        if (d->flg & ARGS_REQUIRED)
            return rtn_fail();
        if (d->dfl)
            RTN_TRY(store(map, par, d, d->dfl));
    }
    return rtn_ok();
}
