// The monitor cycle: run the command, compare its rows with the previous
// run's, report the differences, wait, and again.
//
// Rows are matched as a multiset, as comm matches repeated lines: the k-th
// row of a key in this run is compared with the k-th row of that key in
// the previous run. The first row of every key lives in one map under its
// key; its value holds the number of the last run that saw the key, how
// many rows of the key that run has seen, its watched values and its last
// line. So a line costs one search: a key of the previous run is marked
// seen by this run and updated in place, a missing one is new. A hash
// index over the map's key nodes makes that search one probe. Rows after
// the first of a key (rare) live in a second map under the key and their
// number, and cost a second search. After the command has ended, the rows
// this run did not see are reported in key order and deleted: found in the
// index and sorted, or, while the second map holds rows, by a walk of the
// whole map in key order.
#include "main/rundif.h"

#include "base/os/os.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

namespace
{

// A growing text. The cycle appends to it directly; its stream appends one
// character per push, for cstream_cpy_str. Emptying keeps the memory, so a
// line costs no allocation once the texts are long enough.
struct st_text {
    st_stream stm; // pushes append one character
    char *txt;     // the text so far, always terminated
    size_t len;    // bytes before the terminator
    size_t cap;    // bytes allocated
};

// The line being read: its bytes and where its columns lie in them.
struct st_line {
    st_text txt;     // every character but the line feed (separators, CR too)
    size_t *col;     // column k is the bytes from col[2k] to col[2k + 1]
    size_t col_cap;  // entries allocated in col
    int32_t col_cnt; // columns stored
    size_t col_bgn;  // where the column being read starts
    bool sep_seen;   // the last character was a separator
};

// A key node in a list to be sorted by key: pfx holds the key's first
// eight bytes big-endian, so that most compares read no key.
struct st_keyed {
    uint64_t pfx;
    const char *key;
    void *nod;
};

// A growing list of key nodes.
struct st_keyed_lst {
    st_keyed *at;
    size_t n, cap;
};

// The items of one run.
struct st_run {
    st_settings *set;
    st_vmap *rows;     // the first row of every key, keyed by its row key
    st_vmap *dups;     // the k-th row of a key (k >= 2), keyed by dup_key
    st_row_index *idx; // the key nodes of rows by the hash of their key
    uint32_t no;       // this run's number, stored in the rows it sees
    char pfx[32];      // time prefix, or empty
    st_stream chr;     // characters of the command's output
    st_line lin;       // the current line
    st_text key;       // the current row key
    st_text val;       // the current row value's head
    size_t lin_n;      // bytes of the current line up to its NUL, the NUL included
    st_text dkey;      // the key of a row in dups
    st_keyed_lst gone; // rows found vanished, deleted after they are reported
    st_keyed_lst made; // first rows stored anew, linked into rows after the read
    time_t now;        // the run's time
    st_prc *prc;       // the command, or none (a saved output is read)
    uint32_t lines;    // report lines written
    bool tmo;          // the command was ended by the time limit
    int err;           // errno of a saved output's read error, or 0
    size_t kept;       // rows left after the walk of vanished rows
    size_t deleted;    // rows that walk deleted
    size_t dup_new;    // rows after the first of their key stored anew
    size_t dup_del;    // rows after the first of their key that walk deleted
};

using i128 = __int128;
constexpr i128 I128_MAX = static_cast<i128>(~static_cast<unsigned __int128>(0) >> 1);

} // namespace

constexpr uint32_t UNITS = 4096; // characters taken from the decoder at once
constexpr size_t TEXT_CAP0 = 64; // bytes of a new text

static size_t row_line(const st_settings *set)
{
    return ROW_WTC + WTC_SIZ * (size_t)set->wtc_cnt;
}

// Makes room for n more bytes; -1 when the text cannot grow (it stays).
static int32_t text_room(st_text *t, size_t n)
{
    if (t->len + n + 1 <= t->cap)
        return 0;
    size_t cap = t->cap * 2 > t->len + n + 1 ? t->cap * 2 : t->len + n + 1;
    RTN_TRY(_realloc(&t->txt, cap));
    t->cap = cap;
    return 0;
}

static int32_t text_bytes(st_text *t, const void *b, size_t n)
{
    RTN_TRY(text_room(t, n));
    std::memcpy(t->txt + t->len, b, n);
    t->len += n;
    t->txt[t->len] = '\0';
    return 0;
}

// Appends the bytes of a character value as a character stream writes
// them.
static int32_t text_chr(st_text *t, int32_t chr)
{
    char b[4];
    return text_bytes(t, b, cstream_chr_bytes(chr, b));
}

static int32_t text_stm_psh(void *hdl, const void *unit)
{
    int32_t chr;
    std::memcpy(&chr, unit, sizeof chr);
    return text_chr(static_cast<st_text *>(hdl), chr);
}

static const st_stream_fnc text_fnclst = {nullptr, text_stm_psh, nullptr,
                                          nullptr, nullptr,      nullptr};

static int32_t text_new(st_text *t)
{
    t->len = 0;
    t->cap = TEXT_CAP0;
    RTN_TRY(_malloc0(&t->txt, TEXT_CAP0));
    return stream_set(&t->stm, t, &text_fnclst, nullptr);
}

static void text_end(st_text *t)
{
    stream_end(&t->stm);
    _free(&t->txt);
}

static void text_clr(st_text *t)
{
    t->len = 0;
    t->txt[0] = '\0';
    t->stm.flg &= ~STM_STP;
}

// The escape sequence that colours a line with this mark.
static const char *mark_colour(int mark)
{
    return mark == '+' ? "\x1b[32m" : mark == '-' ? "\x1b[31m" : "\x1b[33m";
}

// Writes one report line to fp (the mark, the prefix and the text, coloured
// with clr) and flushes it; false when fp did not take it.
static bool put_line(FILE *fp, const st_run *r, int mark, const char *txt, bool clr)
{
    int n = 0;
    if (clr)
        n = fprintf(fp, "%s%c %s%s\x1b[0m\n", mark_colour(mark), mark, r->pfx, txt);
    else
        n = fprintf(fp, "%c %s%s\n", mark, r->pfx, txt);
    return fflush(fp) == 0 && n >= 0;
}

// Writes one report line to the console and the file: the mark, the line's
// text, and for JSON its key and (a "*" line) the old and new watched
// values' raw bytes. Fails when a stop was requested or the console cannot
// take the line (a closed standard output or a full disk, told); a file
// that cannot take it, or could not be opened, is told about, noted as a
// lost line and left.
static int32_t report(st_run *r, int mark, const char *txt, const char *key, const char *old,
                      const char *cur)
{
    st_settings *set = r->set;
    if (os_stop_sig())
        return rtn_fail();
    r->lines++;
    auto put = [&](FILE *fp, bool clr) {
        return set->jsn ? report_json(fp, set, r->no, r->now, mark, key, txt, old, cur)
                        : put_line(fp, r, mark, txt, clr);
    };
    bool con_ok = !set->con || put(set->con, set->clr);
    if (!con_ok && errno != EPIPE) // a reader that went away is no error to tell
        fprintf(stderr, "rundif: write error: %s\n", strerror(errno ? errno : EIO));
    if (set->fil) {
        bool ok = put(set->fil, false);
        settings_file_result(set, ok, errno);
        clearerr(set->fil);
        set->lost |= !ok;
    } else if (set->fil_path) {
        set->lost = 1; // the file could not be opened
    }
    return con_ok ? rtn_ok() : rtn_fail();
}

// Stores the column from col_bgn to end.
static int32_t line_column(st_line *l, size_t end)
{
    size_t need = 2 * (size_t)l->col_cnt + 2;
    if (need > l->col_cap) {
        size_t cap = l->col_cap * 2 > need ? l->col_cap * 2 : 64;
        RTN_TRY(_realloc(&l->col, cap * sizeof *l->col));
        l->col_cap = cap;
    }
    l->col[2 * l->col_cnt] = l->col_bgn;
    l->col[2 * l->col_cnt + 1] = end;
    l->col_cnt++;
    return 0;
}

static void line_clr(st_line *l)
{
    text_clr(&l->txt);
    l->col_cnt = 0;
    l->col_bgn = 0;
    l->sep_seen = false;
}

// Column n of the current line as a text: its bytes up to the first NUL
// (texts end there); none when the line has no column n. *len gets the
// text's length.
static char *column(const st_run *r, int32_t n, size_t *len)
{
    if (n < 0 || n >= r->lin.col_cnt)
        return nullptr;
    char *b = r->lin.txt.txt + r->lin.col[2 * n];
    *len = strnlen(b, r->lin.col[2 * n + 1] - r->lin.col[2 * n]);
    return b;
}

static bool excluded(const st_run *r)
{
    for (int32_t i = 0; i < r->set->exc_cnt; i++) {
        size_t n;
        const char *t = column(r, r->set->exc[i].col, &n);
        if (t && n == strlen(r->set->exc[i].txt) && memcmp(t, r->set->exc[i].txt, n) == 0)
            return true;
    }
    return false;
}

// Appends a column text to the row key as a character copy would. Bytes
// below 0x80 decode to themselves in every console decoding, so an ASCII
// text is appended as it is; any other goes through the decoder.
static int32_t key_add(st_text *k, char *s, size_t n)
{
    size_t i = 0;
    while (i < n && !(s[i] & 0x80))
        i++;
    if (i == n)
        return text_bytes(k, s, n);
    char keep = s[n];
    s[n] = '\0';
    cstream_cpy_str(&k->stm, s);
    s[n] = keep;
    return (k->stm.flg & STM_STP) ? rtn_fail() : rtn_ok();
}

// The row key: the whole line, or the key columns each followed by the
// separator.
static int32_t row_key(st_run *r, const char **key)
{
    *key = r->lin.txt.txt;
    if (r->set->key_cnt == 0)
        return rtn_ok();
    text_clr(&r->key);
    for (int32_t i = 0; i < r->set->key_cnt; i++) {
        size_t n = 0;
        char *t = column(r, r->set->key[i], &n);
        if (t)
            RTN_TRY(key_add(&r->key, t, n));
        RTN_TRY(text_chr(&r->key, r->set->sep));
    }
    *key = r->key.txt;
    return rtn_ok();
}

// Decimal value of a column: leading white space, optional sign, digits;
// no digits gives 0; clamped to the signed 128-bit range (wide enough for
// every 64-bit counter a system prints).
static i128 column_value(const st_run *r, int32_t n)
{
    size_t len = 0, i = 0;
    const char *t = column(r, n, &len);
    if (!t)
        return 0;
    while (i < len && (t[i] == ' ' || (t[i] >= '\t' && t[i] <= '\r')))
        i++;
    const bool neg = i < len && t[i] == '-';
    if (i < len && (t[i] == '-' || t[i] == '+'))
        i++;
    const unsigned __int128 lim = static_cast<unsigned __int128>(I128_MAX) + neg;
    unsigned __int128 v = 0;
    for (; i < len && t[i] >= '0' && t[i] <= '9'; i++) {
        const unsigned d = static_cast<unsigned>(t[i] - '0');
        if (v > (lim - d) / 10) {
            v = lim;
            break;
        }
        v = v * 10 + d;
    }
    return static_cast<i128>(neg ? 0 - v : v);
}

// The band of a value: value / scale rounded toward minus infinity, so
// every band is exactly scale wide (the one around 0 too).
static i128 band(i128 v, int32_t scl)
{
    const i128 q = v / scl;
    return v % scl != 0 && v < 0 ? q - 1 : q;
}

// The head of the current line's row value, built in r->val: this run's
// number, one row seen and the watched values. The line follows it only in
// the stored value, copied there from the line itself (no copy between).
static int32_t row_value(st_run *r)
{
    const uint32_t cnt = 1;
    text_clr(&r->val);
    RTN_TRY(text_bytes(&r->val, &r->no, sizeof r->no));
    RTN_TRY(text_bytes(&r->val, &cnt, sizeof cnt));
    for (int32_t i = 0; i < r->set->wtc_cnt; i++) {
        const i128 v = column_value(r, r->set->wtc[i].col);
        RTN_TRY(text_bytes(&r->val, &v, sizeof v));
    }
    r->lin_n = strlen(r->lin.txt.txt) + 1;
    return rtn_ok();
}

// Bytes of the current line's row value: the head and the line, terminated.
static size_t row_size(const st_run *r)
{
    return r->val.len + r->lin_n;
}

// Writes the current line's row value into dat (row_size bytes).
static void row_write(const st_run *r, char *dat)
{
    std::memcpy(dat, r->val.txt, r->val.len);
    std::memcpy(dat + r->val.len, r->lin.txt.txt, r->lin_n);
}

// The mark of a row seen in the previous run: '*' when a watched value
// moved into another band, else none.
static int watch_mark(const st_run *r, const char *old)
{
    for (int32_t i = 0; i < r->set->wtc_cnt; i++) {
        i128 v, o;
        std::memcpy(&v, r->val.txt + ROW_WTC + WTC_SIZ * (size_t)i, sizeof v);
        std::memcpy(&o, old + ROW_WTC + WTC_SIZ * (size_t)i, sizeof o);
        if (band(v, r->set->wtc[i].scl) != band(o, r->set->wtc[i].scl))
            return '*';
    }
    return 0;
}

// Adds a key node with its key to a list.
static int32_t keyed_add(st_keyed_lst *l, void *nod, const char *key)
{
    if (l->n == l->cap) {
        size_t cap = l->cap ? 2 * l->cap : 256;
        RTN_TRY(_realloc(&l->at, cap * sizeof *l->at));
        l->cap = cap;
    }
    uint64_t pfx = 0;
    for (size_t i = 0; i < 8 && key[i]; i++)
        pfx |= (uint64_t)(unsigned char)key[i] << (56 - 8 * i);
    l->at[l->n++] = {pfx, key, nod};
    return rtn_ok();
}

// Sorts a list by key as strcmp orders keys, which is the row map's order.
static void keyed_sort(st_keyed_lst *l)
{
    std::sort(l->at, l->at + l->n, [](const st_keyed &a, const st_keyed &b) {
        return a.pfx != b.pfx ? a.pfx < b.pfx : strcmp(a.key, b.key) < 0;
    });
}

// The key and value of the current row stored under key.
static void row_pair(const st_run *r, const char *key, st_vtyp_prm *pr)
{
    pr[0].flg = VTYP_STR;
    pr[0].dat = key;
    pr[1].flg = VTYP_UDF;
    pr[1].siz = (uint32_t)row_size(r); // no data: made zero-filled, written after
}

// Stores the row value under key in map (replacing the value of a present
// key); its key node in *nod.
static int32_t put_row(st_run *r, st_vmap *map, const char *key, void **nod)
{
    st_vtyp_prm pr[2] = {};
    char *dat = nullptr;
    row_pair(r, key, pr);
    RTN_TRY(_vmap_put(map, pr, nod, 0));
    RTN_TRY(vtyp_ref_lnk_val(*nod, 0, &dat));
    row_write(r, dat);
    return rtn_ok();
}

// Makes the key node of a new first row, linked into rows after the read
// (link_made); the node in *nod.
static int32_t make_row(st_run *r, const char *key, void **nod)
{
    st_vtyp_prm pr[2] = {};
    char *dat = nullptr, *k = nullptr;
    row_pair(r, key, pr);
    RTN_TRY(_vmap_mak(r->rows, pr, nod));
    if (vtyp_ref_lnk_val(*nod, 0, &dat) != 0 || vtyp_get_str(*nod, &k) != 0 ||
        keyed_add(&r->made, *nod, k) != 0) {
        vtyp_end(*nod);
        return rtn_fail();
    }
    row_write(r, dat);
    return rtn_ok();
}

// The value's bytes and size of the stored row at key node row.
static bool row_data(void *row, char **dat, uint32_t *siz)
{
    void *val = nullptr;
    return vtyp_get_lnk(row, &val, 0) == 0 && vtyp_ref_lnk_val(row, 0, dat) == 0 &&
           vtyp_get_siz(val, siz) == 0;
}

// The stored row under key in map: its node and its value's bytes and size;
// false when the key is absent.
static bool find_row(st_vmap *map, const char *key, void **row, char **dat, uint32_t *siz)
{
    return vmap_ref_str(map, nullptr, key, row) == 0 && row_data(*row, dat, siz);
}

// The key in dups of the k-th row of key: the key, 0x1F, k in decimal.
// The digits after the last 0x1F give k back, so no two rows share one.
static int32_t dup_key(st_run *r, const char *key, uint32_t k)
{
    char num[16];
    int n = snprintf(num, sizeof num, "%c%u", ROW_DUP_SEP, k);
    text_clr(&r->dkey);
    RTN_TRY(text_bytes(&r->dkey, key, strlen(key)));
    return text_bytes(&r->dkey, num, (size_t)n);
}

// Compares the current row (r->val) with old, the same row of the previous
// run (size siz) stored under key in map, or none; stores the row under key
// and reports it: "+" when there was none, "*" when a watch changed band.
// cnt is the first row's count word to keep (the first row only). A row
// stored anew leaves its key node in *nod.
static int32_t match_row(st_run *r, st_vmap *map, const char *key, const char *rkey, char *old,
                         uint32_t siz, uint32_t cnt, void **nod)
{
    const int mark = old ? watch_mark(r, old) : '+';
    char was[WTC_SIZ * SET_LST_MAX]; // the old watched values, for a JSON "*" line
    if (mark == '*')
        std::memcpy(was, old + ROW_WTC, WTC_SIZ * (size_t)r->set->wtc_cnt);
    std::memcpy(r->val.txt + ROW_CNT, &cnt, sizeof cnt);
    if (old && siz == row_size(r))
        row_write(r, old); // same size: updated in place
    else if (!old && map == r->rows)
        TOOL_TRY(make_row(r, key, nod));
    else
        TOOL_TRY(put_row(r, map, key, nod));
    if (!old && map == r->dups)
        r->dup_new++;
    if (mark)
        RTN_TRY(report(r, mark, r->lin.txt.txt, rkey, mark == '*' ? was : nullptr,
                       r->val.txt + ROW_WTC));
    return rtn_ok();
}

// Compares and stores a complete line: the first row of its key in this
// run against the key's first row of the previous run, the k-th against
// the k-th (present in dups when the previous run had k rows of the key).
static int32_t compare_line(st_run *r)
{
    const char *key;
    void *row = nullptr;
    char *old = nullptr;
    uint32_t siz = 0, cnt = 0;
    RTN_TRY(row_key(r, &key));
    RTN_TRY(row_value(r));
    const uint64_t hsh = row_hash(key, strlen(key));
    st_row_slot *slt = row_index_find(r->idx, key, hsh);
    if (!slt) {
        RTN_TRY(match_row(r, r->rows, key, key, nullptr, 0, 1, &row));
        return row_index_add(r->idx, row, hsh, r->no);
    }
    if (!row_data(slt->nod, &old, &siz))
        return rtn_fail();
    std::memcpy(&cnt, old + ROW_CNT, sizeof cnt);
    if (slt->no != r->no) { // the key's first row in this run
        slt->no = r->no;
        return match_row(r, r->rows, key, key, old, siz, 1 | (cnt & ROW_DUP), &row);
    }
    // A further row of a key this run has seen: counted in the first row.
    const uint32_t k = (cnt & ~ROW_DUP) + 1;
    if (k == ROW_DUP)
        return rtn_fail(); // 2^31 rows of one key: the count is full
    cnt = k | ROW_DUP;
    std::memcpy(old + ROW_CNT, &cnt, sizeof cnt);
    RTN_TRY(dup_key(r, key, k));
    if (!find_row(r->dups, r->dkey.txt, &row, &old, &siz))
        old = nullptr;
    return match_row(r, r->dups, r->dkey.txt, key, old, siz, 0, &row);
}

static int32_t end_line(st_run *r)
{
    st_line *l = &r->lin;
    if (l->txt.len > l->col_bgn)
        RTN_TRY(line_column(l, l->txt.len));
    if (!excluded(r))
        RTN_TRY(compare_line(r));
    line_clr(l);
    return rtn_ok();
}

// Takes one character of the line: a separator ends the column being read
// (a run of separators counts as one; an empty column 0 is kept).
static int32_t add_char(st_run *r, int32_t c)
{
    st_line *l = &r->lin;
    size_t end = l->txt.len;
    if ((c & ~0x7f) == 0 && end + 2 <= l->txt.cap) {
        l->txt.txt[end] = static_cast<char>(c);
        l->txt.txt[++l->txt.len] = '\0';
    } else {
        RTN_TRY(text_chr(&l->txt, c));
    }
    if (c != r->set->sep) {
        l->sep_seen = false;
        return 0;
    }
    if (!l->sep_seen)
        RTN_TRY(line_column(l, end));
    l->sep_seen = true;
    l->col_bgn = l->txt.len;
    return 0;
}

// Reads the command's output to its end; 0 at the end of the output, on a
// read error or at the time limit (noted in r->tmo; a saved output's read
// error in r->err), else the failure that ends monitoring. A last line
// without a line feed is a line, as sort and diff take it, unless the time
// limit cut it short.
static int32_t read_output(st_run *r)
{
    int32_t units[UNITS];
    uint32_t got = 0;
    int32_t rc;
    do {
        rc = stream_pop_blk(&r->chr, units, UNITS, &got);
        for (uint32_t i = 0; i < got; i++)
            if (units[i] == '\n' ? end_line(r) != 0 : add_char(r, units[i]) != 0)
                return __rtn;
        if (os_stop_sig()) // a long output without reports still stops soon
            return rtn_fail();
    } while (rc == 0);
    if (r->set->src && ferror(r->set->src))
        r->err = errno ? errno : EIO;
    r->tmo = rc < 0 && r->prc && r->prc->dln && tick_get() >= r->prc->dln;
    if (!r->tmo && !r->err && r->lin.txt.len > 0 && end_line(r) != 0)
        return __rtn;
    return os_stop_sig() ? rtn_fail() : rtn_ok();
}

// Links the first rows stored anew by this run into rows, in key order:
// each insertion then walks the path of the one before it, in the cache.
// Into an empty map every key goes at the end. A key already present (the
// index missed it) loses its new row.
static int32_t link_made(st_run *r)
{
    const uint32_t mode = r->rows->map.root ? 0u : uint32_t{MAP_PUT_END};
    int32_t rc = 0;
    keyed_sort(&r->made);
    for (size_t i = 0; i < r->made.n; i++) {
        void *nod = r->made.at[i].nod;
        const int32_t put = vmap_put_nod(r->rows, nod, mode);
        if (put == 1) {
            row_index_del(r->idx, nod);
            vtyp_end(nod);
        }
        rc = rc ? rc : put;
    }
    r->made.n = 0;
    return rc ? rtn_fail() : rtn_ok();
}

// Reports the rows after the first of key from the k-th on as "-" and
// deletes them; they are numbered without gaps, so the first absent one
// ends them.
static int32_t vanish_dups(st_run *r, const char *key, uint32_t k)
{
    void *row = nullptr;
    char *dat = nullptr;
    uint32_t siz = 0;
    for (;; k++) {
        RTN_TRY(dup_key(r, key, k));
        if (!find_row(r->dups, r->dkey.txt, &row, &dat, &siz))
            return rtn_ok();
        RTN_TRY(report(r, '-', dat + row_line(r->set), key, nullptr, nullptr));
        RTN_TRY(_vmap_del_nod(r->dups, row, 0));
        r->dup_del++;
    }
}

// Deletes the rows noted vanished from the map and the index.
static int32_t delete_gone(st_run *r)
{
    for (size_t i = 0; i < r->gone.n; i++, r->kept--) {
        row_index_del(r->idx, r->gone.at[i].nod);
        RTN_TRY(_vmap_del_nod(r->rows, r->gone.at[i].nod, 0));
    }
    r->deleted = r->gone.n;
    return rtn_ok();
}

// report_vanished while no key has rows in dups: the rows this run did not
// see are the index slots of another run. Sorted by key (string keys
// compare as the map compares them), they are reported in the map's order.
static int32_t report_unseen(st_run *r)
{
    const st_row_index *idx = r->idx;
    for (size_t i = 0; i < idx->cap; i++) {
        const st_row_slot *s = &idx->slt[i];
        char *key = nullptr;
        if (s->nod && s->no != r->no && vtyp_get_str(s->nod, &key) == 0)
            RTN_TRY(keyed_add(&r->gone, s->nod, key));
    }
    keyed_sort(&r->gone);
    r->kept = idx->cnt;
    for (size_t i = 0; i < r->gone.n; i++) {
        const st_keyed *g = &r->gone.at[i];
        char *dat = nullptr;
        RTN_TRY(vtyp_ref_lnk_val(g->nod, 0, &dat));
        RTN_TRY(report(r, '-', dat + row_line(r->set), g->key, nullptr, nullptr));
    }
    return delete_gone(r);
}

// Writes "-" lines, in key order, for the rows this run did not see, then
// deletes them: a key this run did not see loses all its rows, one it saw
// fewer times than the previous run its rows beyond this run's count.
static int32_t report_vanished(st_run *r)
{
    if (!r->dups->map.root)
        return report_unseen(r);
    st_vmap_rng_itr itr;
    void *row = nullptr;
    int32_t rc = 0;
    vmap_rng_pop_set(r->rows, nullptr, 0, &itr);
    while (rc == 0 && vmap_rng_pop(&itr, &row, 0) == 0) {
        char *dat = nullptr, *key = nullptr;
        uint32_t no, cnt;
        r->kept++;
        if (vtyp_ref_lnk_val(row, 0, &dat) != 0)
            continue;
        std::memcpy(&no, dat + ROW_NO, sizeof no);
        std::memcpy(&cnt, dat + ROW_CNT, sizeof cnt);
        if (no == r->no && !(cnt & ROW_DUP))
            continue; // seen, and no row of it left in dups: the common case
        if (vtyp_get_str(row, &key) != 0)
            key = dat + row_line(r->set);
        if (no != r->no) {
            rc = keyed_add(&r->gone, row, key);
            if (rc == 0)
                rc = report(r, '-', dat + row_line(r->set), key, nullptr, nullptr);
            if (rc == 0 && (cnt & ROW_DUP))
                rc = vanish_dups(r, key, 2);
        } else {
            rc = vanish_dups(r, key, (cnt & ~ROW_DUP) + 1);
            if (rc == 0 && cnt == (1 | ROW_DUP)) { // no row left in dups
                cnt = 1;
                std::memcpy(dat + ROW_CNT, &cnt, sizeof cnt);
            }
        }
    }
    vmap_rng_pop_end(&itr);
    return rc ? rtn_keep() : delete_gone(r);
}

// The byte stream of the run: the command's output, its deadline set, or
// the saved output being compared.
static int32_t start_source(st_run *r)
{
    st_settings *set = r->set;
    if (set->src) {
        TOOL_TRY(bstream_fil_set(nullptr, set->src, 0));
        TOOL_TRY(cstream_console_btoc_set(&r->chr, nullptr));
        return rtn_ok();
    }
    rscmng_nst_in(nullptr);
    if (stream_prc_set(nullptr, set->cmd, PRC_STDOUT) != 0) {
        const int err = errno;
        rtn_keep();
        rscmng_nst_out(nullptr);
        fprintf(stderr, "rundif: cannot run '%s': %s\n", set->prog ? set->prog : set->cmd,
                strerror(err));
        return __rtn;
    }
    rscmng_nst_out(nullptr);
    st_stream *bytes = stkptr(nullptr, nullptr);
    r->prc = static_cast<st_prc *>(bytes->hdl);
    if (set->tmo)
        r->prc->dln = tick_get() + (uint64_t)set->tmo * 1000;
    if (cstream_console_btoc_set(&r->chr, bytes) != 0) {
        rtn_keep();
        stream_end(bytes);
        return __rtn;
    }
    return rtn_ok();
}

static int32_t start_run(st_run *r)
{
    RTN_TRY(start_source(r));
    TOOL_TRY(text_new(&r->lin.txt));
    TOOL_TRY(text_new(&r->key));
    TOOL_TRY(text_new(&r->val));
    TOOL_TRY(text_new(&r->dkey));
    return rtn_ok();
}

static void end_run(st_run *r)
{
    text_end(&r->dkey);
    text_end(&r->val);
    text_end(&r->key);
    text_end(&r->lin.txt);
    _free(&r->lin.col);
    _free(&r->gone.at);
    _free(&r->made.at);
    stream_end(&r->chr);
}

int32_t monitor_run(st_settings *set, st_generations *gen, time_t now) noexcept
{
    st_run r = {};
    r.set = set;
    r.rows = &gen->rows;
    r.dups = &gen->dups;
    r.idx = &gen->idx;
    // The index is rebuilt after a load of the state or a failed run.
    if (!gen->idx_ok)
        RTN_TRY(row_index_build(&gen->idx, &gen->rows));
    gen->idx_ok = 0;
    r.no = gen->run + 1;
    r.now = now;
    if (set->tim) {
        struct tm tm;
        strftime(r.pfx, sizeof r.pfx, "%Y/%m/%d %H:%M:%S ", localtime_r(&now, &tm));
    }
    int32_t rc = start_run(&r);
    if (rc == 0)
        rc = read_output(&r);
    // Every row made is linked, also when the run failed: the map owns it.
    if (link_made(&r) != 0 && rc == 0)
        rc = __rtn;
    stream_end(&r.chr); // the command has ended: its process is gone
    r.prc = nullptr;
    if (rc == 0 && r.tmo)
        fprintf(stderr, "rundif: the command ran for %u s and was ended (--timeout)\n", set->tmo);
    if (rc == 0 && r.err) {
        gen->err = r.err;
        rc = rtn_fail();
    }
    // A command ended by the time limit was not seen to the end: rows it
    // did not print are not reported gone.
    if (rc == 0 && !r.tmo)
        rc = report_vanished(&r);
    end_run(&r);
    if (rc != 0)
        return rc;
    gen->run = r.no;
    gen->idx_ok = 1;
    row_index_fit(&gen->idx); // after a run with far fewer rows
    // Deletes wear the map's balance down: once the rows deleted since the
    // last rebuild reach half of those kept, the map is rebuilt (O(n), so
    // each delete pays a constant share). A failed rebuild changes nothing.
    gen->del += r.deleted;
    if (gen->del > 0 && 2 * gen->del >= r.kept && vmap_bal(&gen->rows) == 0)
        gen->del = 0;
    gen->dups_n += r.dup_new - r.dup_del;
    gen->dup_del += r.dup_del;
    if (gen->dup_del > 0 && 2 * gen->dup_del >= gen->dups_n && vmap_bal(&gen->dups) == 0)
        gen->dup_del = 0;
    gen->lines = r.lines;
    gen->tmo = r.tmo;
    if (r.no > 1 && r.lines > 0)
        gen->chg = 1;
    return rtn_ok();
}

int32_t generations_set(st_generations *gen) noexcept
{
    gen->run = 0;
    gen->del = gen->dup_del = gen->dups_n = 0;
    gen->idx = {};
    gen->idx_ok = 0;
    TOOL_TRY(vmap_set(&gen->rows, 0));
    if (vmap_set(&gen->dups, 0) != 0) {
        rtn_keep();
        vmap_end(&gen->rows);
        return __rtn;
    }
    return rtn_ok();
}

void generations_end(st_generations *gen) noexcept
{
    row_index_end(&gen->idx);
    vmap_end(&gen->dups);
    vmap_end(&gen->rows);
}

int32_t monitor_cycle(st_settings *set, st_generations *gen) noexcept
{
    for (;;) {
        RTN_TRY(monitor_run(set, gen, time(nullptr)));
        // A run that the time limit cut short did not see all its rows:
        // the state keeps the run before it.
        if (!gen->tmo)
            state_save(set, gen); // a failure is told and noted; monitoring goes on
        if ((set->cnt && gen->run - gen->run0 >= set->cnt) || (set->eoc && gen->chg))
            return rtn_ok(); // the file is closed by the shutdown
        settings_close_file(set);
        // The wait is computed in 32 bits of milliseconds.
        uint32_t ms =
            set->spn > (int32_t)(UINT32_MAX / 1000) ? UINT32_MAX : (uint32_t)set->spn * 1000;
        uint64_t t0 = tick_get();
        itfmng_start("system", "sleep");
        if (os_sleep_ms(ms) != 0) {
            // Cut short by a stop: count the time actually slept.
            uint64_t slept = tick_get() - t0;
            itfmng_stop("system", "sleep", slept < ms ? (uint32_t)slept : ms);
            return rtn_fail();
        }
        itfmng_stop("system", "sleep", ms);
        settings_open_file(set, true);
    }
}
