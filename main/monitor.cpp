// The monitor cycle: run the command, compare its rows with the previous
// run's, report the differences, wait, and again.
#include "main/rundif.h"

#include "base/os/os.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

namespace {

// A growing text: the current line or the current column. The cycle
// appends to it directly; its stream appends one character per push, for
// cstream_cpy_str. An append that cannot grow the text stops the stream,
// as a failed push stops any stream, until the text is emptied. Emptying
// keeps the memory, so a line costs no allocation once the texts are long
// enough.
struct st_text {
    st_stream stm; // pushes append one character
    char *txt;     // the text so far, always terminated
    size_t len;    // bytes before the terminator
    size_t cap;    // bytes allocated
};

constexpr size_t TEXT_CAP0 = 16; // bytes of a new text

// The columns of the current line: column n is the text at ara + ofs[n] for
// n below cnt. Emptying keeps the memory.
struct st_columns {
    char *ara;       // the column texts one after another, each terminated
    size_t len, cap; // bytes used and allocated in ara
    size_t *ofs;     // where each column's text starts in ara
    size_t ofs_cap;  // entries allocated in ofs
    int32_t cnt;     // columns stored
};

// The items of one run.
struct st_run {
    st_settings *set;
    st_vmap *cur;   // rows of this run
    st_vmap *prv;   // rows of the previous run not seen again yet
    char pfx[32];   // time prefix, or empty
    st_stream chr;  // characters of the command's output
    st_columns col; // columns of the current line, by number
    st_text lin;    // the current line
    st_text cln;    // the current column; also builds the row key
    int32_t col_no; // number of the next column to store
    bool sep_seen;  // the last character was a separator
};

} // namespace

// Appends one byte; -1 when the text cannot grow (it stays as it was).
static int32_t text_byte(st_text *t, char b)
{
    if (t->len + 2 > t->cap) {
        size_t cap = t->cap * 2 > t->len + 2 ? t->cap * 2 : t->len + 2;
        RTN_TRY(_realloc(&t->txt, cap));
        t->cap = cap;
    }
    t->txt[t->len++] = b;
    t->txt[t->len] = '\0';
    return 0;
}

// Appends the bytes of a character value as a character stream writes
// them: the low byte, then each next byte until one is zero.
static int32_t text_chr(st_text *t, int32_t chr)
{
    uint32_t c = static_cast<uint32_t>(chr);
    do {
        RTN_TRY(text_byte(t, static_cast<char>(c & 0xff)));
        c >>= 8;
    } while (c & 0xff);
    return 0;
}

static int32_t text_stm_psh(void *hdl, const void *unit)
{
    int32_t chr;
    std::memcpy(&chr, unit, sizeof chr);
    return text_chr(static_cast<st_text *>(hdl), chr);
}

static const st_stream_fnc text_fnclst = {nullptr, text_stm_psh, nullptr,
                                          nullptr, nullptr,      nullptr};

// The cycle's own append: a stopped text takes nothing more. A one-byte
// character that fits is stored at once, as every character of most lines.
static inline void text_add(st_text *t, int32_t chr)
{
    if ((chr & ~0xff) == 0 && t->len + 2 <= t->cap && !(t->stm.flg & STM_STP)) {
        t->txt[t->len++] = static_cast<char>(chr);
        t->txt[t->len] = '\0';
    } else if (!(t->stm.flg & STM_STP) && text_chr(t, chr) != 0) {
        t->stm.flg |= STM_STP;
    }
}

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
    t->txt = nullptr;
}

// Empties the text, keeping its memory; the stream takes pushes again.
static void text_clr(st_text *t)
{
    t->len = 0;
    t->txt[0] = '\0';
    t->stm.flg &= ~STM_STP;
}

// Grows a block of cnt elements of siz bytes to hold at least need.
static int32_t grow(void *slot, size_t *cnt, size_t need, size_t siz)
{
    if (need <= *cnt)
        return 0;
    size_t n = *cnt * 2 > need ? *cnt * 2 : need < 64 ? 64 : need;
    RTN_TRY(_realloc(slot, n * siz));
    *cnt = n;
    return 0;
}

// Stores a copy of txt as the next column; -1 when memory runs out.
static int32_t columns_add(st_columns *c, const char *txt)
{
    size_t n = std::strlen(txt) + 1;
    RTN_TRY(grow(&c->ara, &c->cap, c->len + n, 1));
    RTN_TRY(grow(&c->ofs, &c->ofs_cap, static_cast<size_t>(c->cnt) + 1, sizeof *c->ofs));
    std::memcpy(c->ara + c->len, txt, n);
    c->ofs[c->cnt++] = c->len;
    c->len += n;
    return 0;
}

static void columns_clr(st_columns *c)
{
    c->len = 0;
    c->cnt = 0;
}

static void columns_end(st_columns *c)
{
    _free(&c->ara);
    _free(&c->ofs);
    *c = {};
}

// Writes one report line to fp and flushes it; false when fp did not take it.
static bool put_line(FILE *fp, const char *fmt, int mark, const char *pfx, const char *txt)
{
    int n = mark ? fprintf(fp, fmt, mark, pfx, txt) : fprintf(fp, fmt, pfx, txt);
    return fflush(fp) == 0 && n >= 0;
}

// Writes one report line to the console and the file. Fails when a stop
// was requested or the console cannot take the line (a closed standard
// output); a file that cannot take it is told about and left.
static int32_t report(st_run *r, const char *fmt, int mark, const char *txt)
{
    st_settings *set = r->set;
    if (os_stop_sig())
        return rtn_fail();
    bool con_ok = !set->con || put_line(set->con, fmt, mark, r->pfx, txt);
    if (set->fil) {
        bool ok = put_line(set->fil, fmt, mark, r->pfx, txt);
        settings_file_result(set, ok, errno);
        clearerr(set->fil);
    }
    return con_ok ? rtn_ok() : rtn_fail();
}

// Text of column n of the current line, or none when the line has none.
static const char *column(const st_run *r, int32_t n)
{
    return n >= 0 && n < r->col.cnt ? r->col.ara + r->col.ofs[n] : nullptr;
}

// Stores the column text under the next column number and starts a new one.
static int32_t store_column(st_run *r)
{
    RTN_TRY(columns_add(&r->col, r->cln.txt));
    r->col_no++;
    text_clr(&r->cln);
    return rtn_ok();
}

static bool excluded(st_run *r)
{
    for (int32_t i = 0; i < r->set->exc_cnt; i++) {
        const char *t = column(r, r->set->exc[i].col);
        if (t && strcmp(t, r->set->exc[i].txt) == 0)
            return true;
    }
    return false;
}

// Appends a column text to the row key as a character copy would. Bytes
// below 0x80 decode to themselves in every console decoding, so an ASCII
// text is appended byte by byte; any other goes through the decoder.
static void key_add(st_text *t, const char *s)
{
    size_t n = 0;
    while (s[n] && !(s[n] & 0x80))
        n++;
    if (s[n]) {
        cstream_cpy_str(&t->stm, s);
        return;
    }
    for (size_t i = 0; i < n; i++)
        text_add(t, static_cast<uint8_t>(s[i]));
}

// The row key: the whole line, or the key columns each followed by the
// separator, built in the (empty) column text.
static const char *row_key(st_run *r)
{
    if (r->set->key_cnt == 0)
        return r->lin.txt;
    int32_t sep = r->set->sep;
    for (int32_t i = 0; i < r->set->key_cnt; i++) {
        const char *t = column(r, r->set->key[i]);
        key_add(&r->cln, t ? t : "");
        text_add(&r->cln, sep);
    }
    return r->cln.txt;
}

// Stores the watched values under the new row and compares them with the
// previous row's; returns the mark ('*' on a band change, else mark).
static int32_t watch(st_run *r, void *row, void *old_row, int *mark)
{
    for (int32_t i = 0; i < r->set->wtc_cnt; i++) {
        const st_watch *w = &r->set->wtc[i];
        const char *t = column(r, w->col);
        int32_t v = settings_dec(t ? t : "");
        TOOL_TRY(vmap_put_int_int(r->cur, row, w->col, v, 0));
        if (!old_row || *mark)
            continue;
        int32_t old = 0;
        if (vmap_get_int_int(r->prv, old_row, w->col, &old) != 0)
            old = 0;
        if (v / w->scl != old / w->scl)
            *mark = '*';
    }
    return rtn_ok();
}

// Compares and stores a complete line.
static int32_t compare_line(st_run *r)
{
    const char *key = row_key(r);
    void *old_row = nullptr, *row = nullptr;
    int mark = 0;
    if (vmap_ref_str(r->prv, nullptr, key, &old_row) != 0) {
        old_row = nullptr;
        mark = '+';
    }
    TOOL_TRY(_vmap_put_str_str(r->cur, nullptr, key, r->lin.txt, &row, 0));
    RTN_TRY(watch(r, row, old_row, &mark));
    if (old_row)
        TOOL_TRY(_vmap_del_nod(r->prv, old_row, 1));
    if (mark)
        RTN_TRY(report(r, "%c %s%s\n", mark, r->lin.txt));
    return rtn_ok();
}

static int32_t end_line(st_run *r)
{
    if (r->cln.txt[0])
        RTN_TRY(store_column(r));
    if (!excluded(r))
        RTN_TRY(compare_line(r));
    text_clr(&r->lin);
    text_clr(&r->cln);
    r->sep_seen = false;
    r->col_no = 0;
    columns_clr(&r->col);
    return rtn_ok();
}

static int32_t add_char(st_run *r, int32_t c)
{
    text_add(&r->lin, c);
    if (c != r->set->sep) {
        r->sep_seen = false;
        text_add(&r->cln, c);
        return 0;
    }
    if (r->sep_seen)
        return 0;
    r->sep_seen = true;
    return store_column(r);
}

// Reads the command's output to its end; 0 at the end of the output or on a
// read error, else the failure that ends monitoring.
static int32_t read_output(st_run *r)
{
    int32_t c = 0;
    while (stream_pop(&r->chr, &c) == 0) {
        if (c == '\n' ? end_line(r) != 0 : add_char(r, c) != 0)
            return __rtn;
        c = 0;
    }
    return os_stop_sig() ? rtn_fail() : rtn_ok();
}

// Writes "-" lines for the rows of the previous run that were not seen.
static int32_t report_vanished(st_run *r)
{
    st_vmap_rng_itr itr;
    void *row = nullptr;
    int32_t rc = 0;
    vmap_rng_pop_set(r->prv, nullptr, 0, &itr);
    while (rc == 0 && vmap_rng_pop(&itr, &row, 0) == 0) {
        char *txt = nullptr;
        if (vtyp_ref_lnk_val(row, 0, &txt) != 0)
            continue;
        rc = report(r, "- %s%s\n", 0, txt);
    }
    vmap_rng_pop_end(&itr);
    return rc ? rtn_fail() : rtn_ok();
}

static int32_t start_run(st_run *r)
{
    TOOL_TRY(stream_prc_set(nullptr, r->set->cmd, PRC_STDOUT));
    TOOL_TRY(cstream_console_btoc_set(&r->chr, nullptr));
    TOOL_TRY(text_new(&r->lin));
    TOOL_TRY(text_new(&r->cln));
    return rtn_ok();
}

static void end_run(st_run *r)
{
    text_end(&r->cln);
    text_end(&r->lin);
    columns_end(&r->col);
    stream_end(&r->chr);
}

int32_t monitor_run(st_settings *set, st_generations *gen, time_t now) noexcept
{
    st_run r = {};
    r.set = set;
    r.cur = &gen->map[gen->idx % 2];
    r.prv = &gen->map[(gen->idx + 1) % 2];
    if (set->tim) {
        struct tm tm;
        strftime(r.pfx, sizeof r.pfx, "%Y/%m/%d %H:%M:%S ", localtime_r(&now, &tm));
    }
    int32_t rc = start_run(&r);
    if (rc == 0)
        rc = read_output(&r);
    end_run(&r);
    if (rc != 0)
        return rc;
    RTN_TRY(report_vanished(&r));
    vmap_end(r.prv);
    TOOL_TRY(vmap_set(r.prv, VMAP_NST));
    gen->idx = (gen->idx + 1) % 2;
    return rtn_ok();
}

int32_t generations_set(st_generations *gen) noexcept
{
    gen->idx = 0;
    TOOL_TRY(vmap_set(&gen->map[0], VMAP_NST));
    TOOL_TRY(vmap_set(&gen->map[1], VMAP_NST));
    return rtn_ok();
}

void generations_end(st_generations *gen) noexcept
{
    vmap_end(&gen->map[0]);
    vmap_end(&gen->map[1]);
}

int32_t monitor_cycle(st_settings *set, st_generations *gen) noexcept
{
    for (;;) {
        RTN_TRY(monitor_run(set, gen, time(nullptr)));
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
