// --state=FILE: the rows of the last completed run, kept in a file so that
// the first run after a restart compares against them.
//
// The file is a variant map in the library's text format, block layout,
// written and read by the format's own writer and reader (siblings come in
// key order, so "total" is always the last line):
//
//   format=rundif_state_1
//   rows=2                      keys of the run, one line each
//   [
//           "a 1 "="17 a 1 17 x"      row key = each watched value and a
//           "b 2 "="5 b 2 5 y"        blank, then the line (left out when
//           [                         the key is the whole line)
//                   2="6 b 2 6 z"     the key's 2nd, 3rd ... row
//           ]
//   ]
//   run=42                      the run that saw these rows
//   settings=5                  what shapes the rows: compared at load
//   [
//           columns="0:1"       key columns, or line
//           exclusions=1        and below them 1="column:text" ...
//           [
//                   1="0:x"
//           ]
//           locale=UTF-8        the console's decoding: UTF-8 or Shift-JIS
//           separator=32        the separator's byte value
//           watches="3:100"     column:scale ..., or none
//   ]
//   total=3                     rows, the further rows of a key included
//
// The format's writer pairs a Shift-JIS lead byte with the byte after it,
// and its reader does the same; a lead byte that ends a text would take
// the closing quote with it. So a text that ends in an unpaired lead byte
// or in DEL (0x7F) is stored with one DEL more, which the load drops.
#include "main/rundif.h"

#include "base/text/text.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace
{

constexpr char FORMAT[] = "rundif_state_1";
constexpr char DEL = 0x7f;
constexpr int SET_CNT = 5; // keys under "settings"

using i128 = __int128;

// A growing text.
struct st_txt {
    char *p;
    size_t len, cap;
};

int32_t txt_add(st_txt *t, const char *b, size_t n)
{
    if (t->len + n + 1 > t->cap) {
        size_t cap = t->cap * 2 > t->len + n + 1 ? t->cap * 2 : t->len + n + 64;
        RTN_TRY(_realloc(&t->p, cap));
        t->cap = cap;
    }
    std::memcpy(t->p + t->len, b, n);
    t->len += n;
    t->p[t->len] = '\0';
    return rtn_ok();
}

int32_t txt_str(st_txt *t, const char *s)
{
    return txt_add(t, s, strlen(s));
}

void txt_clr(st_txt *t)
{
    t->len = 0;
    if (t->p)
        t->p[0] = '\0';
}

// Appends the decimal text of v.
int32_t txt_i128(st_txt *t, i128 v)
{
    char d[48], *p = d + sizeof d;
    unsigned __int128 u = v < 0 ? 0 - static_cast<unsigned __int128>(v) : v;
    do
        *--p = static_cast<char>('0' + u % 10);
    while (u /= 10);
    if (v < 0)
        *--p = '-';
    return txt_add(t, p, static_cast<size_t>(d + sizeof d - p));
}

int32_t txt_u32(st_txt *t, uint32_t v)
{
    return txt_i128(t, v);
}

// True when the writer would leave the last byte of s an unpaired lead
// byte (it pairs a lead byte with any byte after it).
bool lone_lead_end(const char *s, size_t n)
{
    size_t i = 0;
    while (i + 1 < n)
        i += cstream_sjis_lead(static_cast<uint8_t>(s[i])) ? 2 : 1;
    return i + 1 == n && cstream_sjis_lead(static_cast<uint8_t>(s[i]));
}

// Makes t a text the format carries: one DEL more after an unpaired lead
// byte or a DEL at its end.
int32_t txt_seal(st_txt *t)
{
    if (t->len > 0 && (t->p[t->len - 1] == DEL || lone_lead_end(t->p, t->len)))
        return txt_add(t, &DEL, 1);
    return rtn_ok();
}

// The text as stored, unsealed into t.
int32_t txt_unseal(st_txt *t, const char *s)
{
    txt_clr(t);
    size_t n = strlen(s);
    return txt_add(t, s, n > 0 && s[n - 1] == DEL ? n - 1 : n);
}

// ---------------------------------------------------------------------------
// The settings that shape the rows, as texts
// ---------------------------------------------------------------------------

const char *const SET_KEY[SET_CNT] = {"columns", "exclusions", "locale", "separator", "watches"};
const char *const SET_NAME[SET_CNT] = {"key columns", "exclusions", "locale", "separator",
                                       "watches"};

// Setting i of set as its text (the exclusions: their count).
int32_t set_text(const st_settings *set, int i, st_txt *t)
{
    txt_clr(t);
    RTN_TRY(txt_str(t, ""));
    switch (i) {
    case 0:
        for (int32_t k = 0; k < set->key_cnt; k++) {
            RTN_TRY(txt_str(t, k ? ":" : ""));
            RTN_TRY(txt_i128(t, set->key[k]));
        }
        return set->key_cnt ? rtn_ok() : txt_str(t, "line");
    case 1:
        return txt_i128(t, set->exc_cnt);
    case 2:
        return txt_str(t, cstream_console_utf8() ? "UTF-8" : "Shift-JIS");
    case 3:
        return txt_i128(t, set->sep);
    default:
        for (int32_t k = 0; k < set->wtc_cnt; k++) {
            RTN_TRY(txt_str(t, k ? " " : ""));
            RTN_TRY(txt_i128(t, set->wtc[k].col));
            RTN_TRY(txt_str(t, ":"));
            RTN_TRY(txt_i128(t, set->wtc[k].scl));
        }
        return set->wtc_cnt ? rtn_ok() : txt_str(t, "none");
    }
}

// Exclusion k as "column:text".
int32_t exc_text(const st_settings *set, int32_t k, st_txt *t)
{
    txt_clr(t);
    RTN_TRY(txt_i128(t, set->exc[k].col));
    RTN_TRY(txt_str(t, ":"));
    RTN_TRY(txt_str(t, set->exc[k].txt));
    return txt_seal(t);
}

// ---------------------------------------------------------------------------
// Save
// ---------------------------------------------------------------------------

// Puts key = the text of t under par in m; *nod (when given) gets its node.
// The rows come in the map's order, so each is put at the end.
int32_t put(st_vmap *m, void *par, const char *key, const st_txt *t, void **nod = nullptr)
{
    return _vmap_put_str_str(m, par, key, t->p, nod, MAP_PUT_END);
}

// The value text of a row: each watched value and a blank, then the line
// unless the key is the whole line.
int32_t row_text(const st_settings *set, const char *dat, st_txt *t)
{
    txt_clr(t);
    RTN_TRY(txt_str(t, ""));
    for (int32_t i = 0; i < set->wtc_cnt; i++) {
        i128 v;
        std::memcpy(&v, dat + ROW_WTC + WTC_SIZ * (size_t)i, sizeof v);
        RTN_TRY(txt_i128(t, v));
        RTN_TRY(txt_str(t, " "));
    }
    if (set->key_cnt)
        RTN_TRY(txt_str(t, dat + ROW_WTC + WTC_SIZ * (size_t)set->wtc_cnt));
    return txt_seal(t);
}

// The key's rows after the first (k = 2 .. cnt) under its node nod.
int32_t save_dups(const st_settings *set, st_generations *gen, const char *key, uint32_t cnt,
                  st_vmap *m, void *nod, st_txt *t, uint64_t *total)
{
    st_txt dk = {}, num = {};
    int32_t rc = 0;
    for (uint32_t k = 2; rc == 0 && k <= cnt; k++) {
        char *dat = nullptr;
        void *row = nullptr;
        txt_clr(&dk);
        txt_clr(&num);
        rc = txt_str(&dk, key) || txt_add(&dk, &ROW_DUP_SEP, 1) || txt_u32(&dk, k) ||
             txt_u32(&num, k);
        if (rc == 0 && (vmap_ref_str(&gen->dups, nullptr, dk.p, &row) != 0 ||
                        vtyp_ref_lnk_val(row, 0, &dat) != 0))
            rc = rtn_fail(); // a row the count promises is missing
        rc = rc ? rc : row_text(set, dat, t) || put(m, nod, num.p, t);
        (*total)++;
    }
    _free(&dk.p);
    _free(&num.p);
    return rc ? rtn_keep() : rtn_ok();
}

// The rows of the last run under par in m.
int32_t save_rows(const st_settings *set, st_generations *gen, st_vmap *m, void *par,
                  uint64_t *keys, uint64_t *total)
{
    st_vmap_rng_itr itr;
    st_txt t = {}, k = {};
    void *row = nullptr;
    int32_t rc = vmap_rng_pop_set(&gen->rows, nullptr, 0, &itr);
    while (rc == 0 && vmap_rng_pop(&itr, &row, 0) == 0) {
        char *dat = nullptr, *key = nullptr;
        uint32_t no, cnt;
        void *nod = nullptr;
        if (vtyp_ref_lnk_val(row, 0, &dat) != 0 || vtyp_get_str(row, &key) != 0)
            continue;
        std::memcpy(&no, dat + ROW_NO, sizeof no);
        std::memcpy(&cnt, dat + ROW_CNT, sizeof cnt);
        if (no != gen->run)
            continue; // not seen by the last run (none after a completed one)
        txt_clr(&k);
        rc = txt_str(&k, key) || txt_seal(&k) || row_text(set, dat, &t) ||
             put(m, par, k.p, &t, &nod);
        (*keys)++;
        (*total)++;
        if (rc == 0 && (cnt & ROW_DUP))
            rc = save_dups(set, gen, key, cnt & ~ROW_DUP, m, nod, &t, total);
    }
    vmap_rng_pop_end(&itr);
    _free(&t.p);
    _free(&k.p);
    return rc ? rtn_keep() : rtn_ok();
}

// The whole state as a map.
int32_t state_map(const st_settings *set, st_generations *gen, st_vmap *m)
{
    st_txt t = {};
    void *rows = nullptr, *sets = nullptr, *exc = nullptr;
    uint64_t keys = 0, total = 0;
    int32_t rc = txt_str(&t, FORMAT) || put(m, nullptr, "format", &t) ||
                 put(m, nullptr, "rows", &t, &rows) || save_rows(set, gen, m, rows, &keys, &total);
    txt_clr(&t);
    rc = rc ? rc : txt_i128(&t, keys) || put(m, nullptr, "rows", &t);
    txt_clr(&t);
    rc = rc ? rc : txt_u32(&t, gen->run) || put(m, nullptr, "run", &t);
    txt_clr(&t);
    rc = rc ? rc : txt_i128(&t, SET_CNT) || put(m, nullptr, "settings", &t, &sets);
    for (int i = 0; rc == 0 && i < SET_CNT; i++)
        rc = set_text(set, i, &t) || txt_seal(&t) ||
             put(m, sets, SET_KEY[i], &t, i == 1 ? &exc : nullptr);
    for (int32_t k = 0; rc == 0 && k < set->exc_cnt; k++) {
        char num[16];
        snprintf(num, sizeof num, "%d", (int)k + 1);
        rc = exc_text(set, k, &t) || put(m, exc, num, &t);
    }
    txt_clr(&t);
    rc = rc ? rc : txt_i128(&t, total) || put(m, nullptr, "total", &t);
    _free(&t.p);
    return rc ? rtn_keep() : rtn_ok();
}

// The directory of path, for its sync ("." when path names none).
int dir_open(const char *path)
{
    const char *sl = strrchr(path, '/');
    if (!sl)
        return open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    st_txt d = {};
    if (txt_add(&d, path, sl == path ? 1 : static_cast<size_t>(sl - path)) != 0)
        return -1;
    int fd = open(d.p, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    _free(&d.p);
    return fd;
}

// Writes the text of m (block layout) to fp: 0 or an errno.
int write_text(st_vmap *m, FILE *fp)
{
    st_stream w = {};
    const st_cstream_vmap_opt opt = {0, 0, 0, VMAP_FMT_BLK};
    if (cstream_vmap(&w, m, nullptr, &opt) != 0)
        return ENOMEM;
    int32_t chr[1024], rc;
    char b[4 * 1024];
    uint32_t got = 0;
    int err = 0;
    while (!err && (rc = stream_pop_blk(&w, chr, 1024, &got)) == 0) {
        size_t n = 0;
        for (uint32_t i = 0; i < got; i++)
            n += cstream_chr_bytes(chr[i], b + n);
        if (fwrite(b, 1, n, fp) != n)
            err = errno ? errno : EIO;
    }
    stream_end(&w);
    return err ? err : rc == 1 ? 0 : ENOMEM; // the writer fails only for memory
}

// Writes the text of m to a new file beside path and renames it over
// path. 0, or the errno of the step that failed (the new file removed).
int write_file(const char *path, st_vmap *m)
{
    st_txt tmp = {};
    if (txt_str(&tmp, path) != 0 || txt_str(&tmp, ".XXXXXX") != 0)
        return ENOMEM;
    int fd = mkostemp(tmp.p, O_CLOEXEC);
    if (fd < 0) {
        const int err = errno;
        _free(&tmp.p);
        return err;
    }
    FILE *fp = fdopen(fd, "wb");
    int err = fp ? 0 : errno;
    if (!err)
        err = write_text(m, fp);
    if (!err && (fflush(fp) != 0 || fsync(fd) != 0))
        err = errno;
    if (fp ? fclose(fp) != 0 : close(fd) != 0)
        err = err ? err : errno;
    if (!err && rename(tmp.p, path) != 0)
        err = errno;
    if (err)
        unlink(tmp.p);
    _free(&tmp.p);
    if (err)
        return err;
    // The rename reaches the disk with the directory. A file system that
    // cannot sync a directory (EINVAL) keeps it as its own rules say.
    fd = dir_open(path);
    if (fd < 0 || (fsync(fd) != 0 && errno != EINVAL))
        err = errno;
    if (fd >= 0)
        close(fd);
    return err;
}

// ---------------------------------------------------------------------------
// Load
// ---------------------------------------------------------------------------

// True when fp's last line is "total=" and digits: the writer ends every
// state with it, so a file without it was cut short. fp is rewound.
bool ends_whole(FILE *fp)
{
    char b[32];
    size_t n = 0;
    if (fseek(fp, 0, SEEK_END) == 0) {
        long siz = ftell(fp);
        long off = siz < (long)sizeof b ? siz : (long)sizeof b;
        if (siz > 0 && fseek(fp, -off, SEEK_END) == 0)
            n = fread(b, 1, (size_t)off, fp);
    }
    rewind(fp);
    if (n < 2 || b[n - 1] != '\n')
        return false;
    size_t i = n - 1;
    while (i > 0 && b[i - 1] >= '0' && b[i - 1] <= '9')
        i--;
    return i < n - 1 && i >= 7 && std::memcmp(b + i - 7, "\ntotal=", 7) == 0;
}

// A whole number of at most 32 bits, the whole text.
bool dec_u32(const char *s, uint32_t *v)
{
    uint64_t n = 0;
    if (!*s)
        return false;
    for (; *s >= '0' && *s <= '9' && n <= UINT32_MAX; s++)
        n = n * 10 + (uint64_t)(*s - '0');
    *v = (uint32_t)n;
    return !*s && n <= UINT32_MAX;
}

// A signed decimal followed by a blank; *s moves past the blank.
bool dec_i128(const char **s, i128 *v)
{
    const char *p = *s;
    const bool neg = *p == '-';
    p += neg;
    const unsigned __int128 lim = (~static_cast<unsigned __int128>(0) >> 1) + neg;
    unsigned __int128 u = 0;
    const char *d = p;
    for (; *p >= '0' && *p <= '9'; p++) {
        const unsigned k = static_cast<unsigned>(*p - '0');
        if (u > (lim - k) / 10)
            return false;
        u = u * 10 + k;
    }
    if (p == d || *p != ' ')
        return false;
    *v = static_cast<i128>(neg ? 0 - u : u);
    *s = p + 1;
    return true;
}

// What load reads into the generations.
struct st_load {
    const st_settings *set;
    st_generations *gen;
    st_vmap m;               // the file as read
    st_txt key;              // the row key being loaded
    st_txt val;              // a row's value text, unsealed
    st_txt dat;              // the row value being built
    void *cur;               // the node in m of the key loaded last
    char *first;             // the datum of its first row in gen->rows
    size_t klen;             // the length of its row key
    uint32_t dup_n, dup_max; // its further rows so far, the highest number among them
};

// The string under key below par, or none.
const char *get(st_load *l, void *par, const char *key)
{
    char *s = nullptr;
    return vmap_get_str_str(&l->m, par, key, &s) == 0 ? s : nullptr;
}

// Builds the row value of text s (sealed) for a row whose key is l->key:
// run number, cnt, the watched values, the line. False when s is not a
// row of these settings.
bool row_value(st_load *l, const char *s, uint32_t cnt)
{
    if (txt_unseal(&l->val, s) != 0)
        return false;
    const char *p = l->val.p;
    txt_clr(&l->dat);
    if (txt_add(&l->dat, (const char *)&l->gen->run, sizeof(uint32_t)) != 0 ||
        txt_add(&l->dat, (const char *)&cnt, sizeof cnt) != 0)
        return false;
    for (int32_t i = 0; i < l->set->wtc_cnt; i++) {
        i128 v;
        if (!dec_i128(&p, &v) || txt_add(&l->dat, (const char *)&v, sizeof v) != 0)
            return false;
    }
    if (!l->set->key_cnt && *p)
        return false; // the line is the key
    return txt_str(&l->dat, l->set->key_cnt ? p : l->key.p) == 0 &&
           txt_add(&l->dat, "", 1) == 0; // the terminator is part of the value
}

// Stores l->dat under key in map; *dat (when given) gets the stored datum.
// The file holds the keys in the map's order, so each one is put at the end.
int32_t put_row(st_vmap *map, const char *key, const st_txt *dat, char **stored = nullptr)
{
    st_vtyp_prm pr[2] = {};
    void *nod = nullptr;
    pr[0].flg = VTYP_STR;
    pr[0].dat = key;
    pr[1].flg = VTYP_UDF;
    pr[1].dat = dat->p;
    pr[1].siz = (uint32_t)dat->len;
    RTN_TRY(_vmap_put(map, pr, &nod, MAP_PUT_END));
    return stored ? vtyp_ref_lnk_val(nod, 0, stored) : rtn_ok();
}

// The row count of the key loaded last, once its further rows are in:
// they must be numbered 2 to count without a gap. False when they are not.
bool end_key(st_load *l)
{
    const uint32_t cnt = 1 + l->dup_n;
    if (l->dup_n > 0) {
        const uint32_t word = cnt | ROW_DUP;
        std::memcpy(l->first + ROW_CNT, &word, sizeof word);
    }
    l->gen->dups_n += l->dup_n;
    l->dup_n = 0;
    return l->dup_max < 2 || l->dup_max == cnt;
}

// Loads a row of the file: a key's first row (its node nod lies in the
// rows block) or its k-th, below the key's node. 0; 1 when the file is
// damaged; -1 when a put fails.
int32_t load_row(st_load *l, void *nod, void *par)
{
    char *key = nullptr, *s = nullptr, num[16];
    void *nst = nullptr;
    uint32_t k = 0;
    if (vtyp_get_str(nod, &key) != 0 || vtyp_ref_lnk_val(nod, 0, &s) != 0 ||
        vtyp_get_nst(nod, &nst) != 0)
        return rtn_none();
    if (nst == par) { // a key's first row
        if (l->cur && !end_key(l))
            return rtn_none();
        l->cur = nod;
        l->dup_max = 0;
        if (txt_unseal(&l->key, key) != 0 || !row_value(l, s, 1))
            return rtn_none();
        l->klen = l->key.len;
        return put_row(&l->gen->rows, l->key.p, &l->dat, &l->first);
    }
    // Its k-th row: k written as the writer writes it, at most one per k.
    if (nst != l->cur || !dec_u32(key, &k) || k < 2 || k == UINT32_MAX ||
        snprintf(num, sizeof num, "%u", k) < 0 || strcmp(num, key) != 0)
        return rtn_none();
    l->dup_n++;
    l->dup_max = k > l->dup_max ? k : l->dup_max;
    l->key.len = l->klen; // the row key again, the line of a whole-line key
    l->key.p[l->klen] = '\0';
    if (!row_value(l, s, 0) || txt_add(&l->key, &ROW_DUP_SEP, 1) != 0 || txt_str(&l->key, num) != 0)
        return rtn_none();
    return put_row(&l->gen->dups, l->key.p, &l->dat);
}

// The names of the settings that differ, ", " between them, in t (empty
// when none does); false when the file has no such settings at all.
bool settings_differ(st_load *l, st_txt *t)
{
    st_txt cur = {}, ex = {};
    void *sets = nullptr, *exc = nullptr;
    bool ok = vmap_ref_str(&l->m, nullptr, "settings", &sets) == 0 &&
              vmap_ref_str(&l->m, sets, "exclusions", &exc) == 0;
    for (int i = 0; ok && i < SET_CNT; i++) {
        const char *s = get(l, sets, SET_KEY[i]);
        ok = s && set_text(l->set, i, &cur) == 0 && txt_seal(&cur) == 0;
        bool same = ok && strcmp(s, cur.p) == 0;
        for (int32_t k = 0; same && i == 1 && k < l->set->exc_cnt; k++) {
            char num[16];
            snprintf(num, sizeof num, "%d", (int)k + 1);
            const char *e = get(l, exc, num);
            same = e && exc_text(l->set, k, &ex) == 0 && strcmp(e, ex.p) == 0;
        }
        if (ok && !same)
            ok = txt_str(t, t->len ? ", " : "") == 0 && txt_str(t, SET_NAME[i]) == 0;
    }
    _free(&cur.p);
    _free(&ex.p);
    return ok;
}

// Checks the file as read and loads its rows. 0 when loaded; 1 with the
// reason in why when the file is refused; -1 when memory runs out.
int32_t load_rows(st_load *l, st_txt *why)
{
    const char *fmt = get(l, nullptr, "format"), *run = get(l, nullptr, "run"),
               *rows = get(l, nullptr, "rows"), *total = get(l, nullptr, "total");
    uint32_t keys = 0, tot = 0, cnt = 0;
    if (!fmt || strcmp(fmt, FORMAT) != 0)
        return txt_str(why, "format") == 0 ? rtn_none() : rtn_fail();
    if (!settings_differ(l, why) || !run || !dec_u32(run, &l->gen->run) || !rows ||
        !dec_u32(rows, &keys) || !total || !dec_u32(total, &tot))
        return txt_str(why, why->len ? "" : "damaged") == 0 ? rtn_none() : rtn_fail();
    if (why->len)
        return rtn_none();
    void *par = nullptr, *nod = nullptr;
    uint64_t n = 0, got = 0;
    st_vmap_rng_itr itr = {};
    // Depth first: each key's first row, then its further rows; without
    // further rows the descent is left out. The read map does not change
    // while it is walked, so the walk goes over a list of its keys.
    const int32_t dsc = tot != keys;
    const uint32_t flg = VMAP_RNG_FIX | (dsc ? uint32_t{VMAP_RNG_DSC} : 0u);
    int32_t rc = vmap_ref_str(&l->m, nullptr, "rows", &par) != 0 ? 1
                 : vmap_rng_pop_set(&l->m, par, flg, &itr) != 0  ? -1
                                                                 : 0;
    while (rc == 0 && vmap_rng_pop(&itr, &nod, dsc) == 0) {
        rc = load_row(l, nod, par);
        n++;
        got += l->cur == nod;
    }
    vmap_rng_pop_end(&itr);
    if (rc == 0 && l->cur && !end_key(l))
        rc = 1;
    // Every key of the file has been used: the header's, the settings',
    // the exclusions', the rows'.
    if (rc == 0 && map_cnt(&l->m.map, &cnt) == 0 &&
        (got != keys || n != tot || cnt != 5 + SET_CNT + l->set->exc_cnt + tot))
        rc = 1;
    if (rc == 1)
        return txt_str(why, "damaged") == 0 ? rtn_none() : rtn_fail();
    return rc ? rtn_keep() : rtn_ok();
}

} // namespace

int32_t state_save(const st_settings *set, st_generations *gen) noexcept
{
    if (!set->state)
        return rtn_ok();
    st_vmap m;
    int err = ENOMEM;
    if (vmap_set(&m, VMAP_NST) == 0) {
        err = state_map(set, gen, &m) != 0 ? ENOMEM : write_file(set->state, &m);
        vmap_end(&m);
    }
    if (err && !gen->state_bad)
        fprintf(stderr, "rundif: cannot save the state to %s: %s\n", set->state, strerror(err));
    else if (!err && gen->state_bad)
        fprintf(stderr, "rundif: saving the state to %s again\n", set->state);
    gen->state_bad = err != 0;
    return err ? rtn_fail() : rtn_ok();
}

int32_t state_load(const st_settings *set, st_generations *gen) noexcept
{
    if (!set->state)
        return rtn_ok();
    int err;
    FILE *fp = settings_open_read(set->state, &err);
    if (!fp && err == ENOENT)
        return rtn_ok(); // no state yet: the first run starts afresh
    if (!fp) {
        fprintf(stderr, "rundif: cannot read %s: %s\n", set->state, strerror(err));
        return 2;
    }
    st_load l = {set, gen, {}, {}, {}, {}, nullptr, nullptr, 0, 0, 0};
    st_txt why = {};
    int32_t rc = vmap_set(&l.m, VMAP_NST);
    if (rc == 0) {
        if (!ends_whole(fp)) {
            rc = txt_str(&why, "truncated") == 0 ? 1 : -1;
            fclose(fp);
        } else {
            st_stream src = {};
            rc = cstream_fil_set(&src, fp, 1); // ending the stream closes fp
            if (rc == 0 && vmap_cstream(&l.m, nullptr, &src) != 0)
                rc = txt_str(&why, "damaged") == 0 ? 1 : -1;
            stream_end(&src);
            rc = rc ? rc : load_rows(&l, &why);
        }
        vmap_end(&l.m);
    } else {
        fclose(fp);
    }
    _free(&l.key.p);
    _free(&l.val.p);
    _free(&l.dat.p);
    if (rc != 0) { // nothing of a refused state stays
        generations_end(gen);
        if (generations_set(gen) != 0)
            rc = -1;
    }
    if (rc == 1 && !set->state_reset)
        fprintf(stderr, "rundif: %s was written with other settings (%s)\n", set->state, why.p);
    _free(&why.p);
    gen->run0 = gen->run;
    if (rc == 1)
        return set->state_reset ? rtn_ok() : 2;
    return rc ? rtn_fail() : rtn_ok();
}
