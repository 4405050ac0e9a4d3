// Test-coverage recorder: expected points scanned from sources, pass points
// counted at run time, pairing and the report; and the test-file helpers.
#include "base/cover/cover.h"
#include "base/stream/stream.h"
#include "base/text/text.h"

#include <cstddef>
#include <cstring>

st_test_cvr __test_cvr_base;

namespace
{

// Raises the re-entrancy guard for the life of an operation.
struct st_dbg_busy {
    st_dbg_busy() { __dbg++; }
    ~st_dbg_busy() { __dbg--; }
};

st_test_cvr *rec(st_test_cvr *mng)
{
    return mng ? mng : &__test_cvr_base;
}

uint32_t bkt_of(int32_t lin)
{
    return static_cast<uint32_t>(lin) % TEST_CVR_BKT_NUM; // a negative line must not index below 0
}

bool same_fil(const char *a, const char *b)
{
    a = fil_nam(a);
    b = fil_nam(b);
    return a && b && std::strcmp(a, b) == 0;
}

size_t txt_siz(const char *s)
{
    return (s ? std::strlen(s) : 0) + 1;
}

// Copies s (absent: "") to *dst, advances *dst past it, returns the copy.
const char *txt_put(char **dst, const char *s)
{
    char *out = *dst;
    size_t n = txt_siz(s);
    std::memcpy(out, s ? s : "", n);
    *dst += n;
    return out;
}

static_assert(offsetof(st_test_cvr_exp, pos) == 0 && offsetof(st_test_cvr_pas, pos) == 0,
              "both records start with their source position");

// A zero-filled record of siz bytes followed by copies of the position's
// texts, which the returned position then names. None when out of memory.
void *rcd_new(size_t siz, const st_src_pos &pos, st_src_pos **cpy)
{
    void *blk;
    size_t all = siz + txt_siz(pos.abt) + txt_siz(pos.fil) + txt_siz(pos.fnc);
    if (_malloc0(&blk, all) != 0)
        return nullptr;
    char *txt = static_cast<char *>(blk) + siz;
    *cpy = static_cast<st_src_pos *>(blk); // both records start with the position
    (*cpy)->abt = txt_put(&txt, pos.abt);
    (*cpy)->fil = txt_put(&txt, pos.fil);
    (*cpy)->fnc = txt_put(&txt, pos.fnc);
    (*cpy)->lin = pos.lin;
    return blk;
}

st_test_cvr_exp *exp_new(const st_src_pos &pos, int32_t typ)
{
    st_src_pos *cpy;
    auto *e = static_cast<st_test_cvr_exp *>(rcd_new(sizeof(st_test_cvr_exp), pos, &cpy));
    if (e) {
        e->typ = typ;
        e->flg = TEST_CVR_DYN;
    }
    return e;
}

void exp_lnk(st_test_cvr *m, st_test_cvr_exp *e)
{
    e->nxt = m->exp;
    m->exp = e;
}

st_test_cvr_pas *pas_find(st_test_cvr *m, int32_t typ, const char *fil, int32_t lin)
{
    for (st_test_cvr_pas *p = m->bkt[bkt_of(lin)]; p; p = p->chn)
        if (p->pos.lin == lin && p->typ == typ && same_fil(p->pos.fil, fil))
            return p;
    return nullptr;
}

// ---------------------------------------------------------------------------
// Source scanner
// ---------------------------------------------------------------------------

// Token delimiters, in the scanner's order; letters, digits, "_" and
// bytes above 127 make up tokens.
constexpr uint32_t scan_dlm[] = {' ', '\t', '!', '"',  '#',  '$',  '%', '&', '\'', '(',
                                 ')', '-',  '=', '^',  '~',  '\\', '|', '@', '`',  '[',
                                 '{', ']',  '}', ':',  '*',  ';',  '+', ',', '<',  '.',
                                 '>', '/',  '?', '\r', '\n', '\t', 0};

constexpr size_t TOK_CMP = 15; // bytes of a token that are compared

// Token buffer: the first 15 bytes of the token and its character count.
struct st_cvr_tok {
    char txt[TOK_CMP + 1]; // leading bytes, terminated
    uint32_t len;          // bytes held
    uint32_t cnt;          // characters pushed
};

// Push slot: keeps the character's bytes (low byte first) while room lasts.
int32_t tok_psh(void *hdl, const void *unit)
{
    auto *t = static_cast<st_cvr_tok *>(hdl);
    int32_t c;
    char b[4];
    std::memcpy(&c, unit, sizeof c);
    for (uint32_t i = 0, n = cstream_chr_bytes(c, b); i < n && t->len < TOK_CMP; i++)
        t->txt[t->len++] = b[i];
    t->cnt++;
    return 0;
}

const st_stream_fnc tok_fnclst = {nullptr, tok_psh, nullptr, nullptr, nullptr, nullptr};

struct st_cvr_scan {
    st_test_cvr *mng; // the recorder
    st_stream *src;   // the source's characters
    const char *fil;  // file-name part given to the points
    int32_t lin;      // current line, from 1
    bool nc;          // no-coverage state: markers ignored up to the line's end
    bool end;         // the source has ended
};

bool scan_pop(st_cvr_scan &sc, uint32_t *c)
{
    *c = 0;
    if (stream_pop(sc.src, c) != 0)
        sc.end = true;
    return !sc.end;
}

// A line feed, wherever it is met: the next line starts and the
// no-coverage state of the line ends.
void scan_lf(st_cvr_scan &sc)
{
    sc.lin++;
    sc.nc = false;
}

// Skips past the next line feed.
void skip_line(st_cvr_scan &sc)
{
    uint32_t c;
    while (scan_pop(sc, &c))
        if (c == '\n')
            return scan_lf(sc);
}

// Skips past the next "*/", counting lines.
void skip_block(st_cvr_scan &sc)
{
    uint32_t c;
    uint32_t prv = 0;
    while (scan_pop(sc, &c)) {
        if (c == '\n')
            scan_lf(sc);
        else if (c == '/' && prv == '*')
            return;
        prv = c;
    }
}

// Skips past the closing quote q or the line's end. A backslash escapes the
// next character, so an escaped quote does not close the literal.
void skip_quoted(st_cvr_scan &sc, uint32_t q)
{
    uint32_t c;
    while (scan_pop(sc, &c)) {
        if (c == '\\') {
            if (scan_pop(sc, &c) && c == '\n')
                scan_lf(sc);
            continue;
        }
        if (c == '\n')
            return scan_lf(sc);
        if (c == q)
            return;
    }
}

int32_t scan_add(st_cvr_scan &sc, int32_t typ)
{
    st_test_cvr_exp *e = exp_new({TEST_CVR_ABT, sc.fil, sc.lin, ""}, typ);
    if (!e)
        return -1;
    exp_lnk(sc.mng, e);
    return 0;
}

// Both branch points of an "if", added together or not at all.
int32_t scan_add_if(st_cvr_scan &sc)
{
    st_test_cvr_exp *t = exp_new({TEST_CVR_ABT, sc.fil, sc.lin, ""}, 1);
    st_test_cvr_exp *f = t ? exp_new({TEST_CVR_ABT, sc.fil, sc.lin, ""}, 2) : nullptr;
    if (!f) {
        _free(&t);
        return -1;
    }
    exp_lnk(sc.mng, t);
    exp_lnk(sc.mng, f);
    return 0;
}

int32_t scan_marker(st_cvr_scan &sc, const st_cvr_tok &tok)
{
    if (sc.nc)
        return 0;
    if (std::strcmp(tok.txt, "_cv") == 0)
        return scan_add(sc, 0);
    if (std::strcmp(tok.txt, "_nc") == 0)
        sc.nc = true;
    else if (std::strcmp(tok.txt, "if") == 0)
        return scan_add_if(sc);
    return 0;
}

// Acts on the delimiter d that ended a token (prv: the one before it).
// Returns the delimiter that the next token sees as its previous one.
uint32_t scan_dlm_act(st_cvr_scan &sc, const st_cvr_tok &tok, uint32_t d, uint32_t prv)
{
    if (tok.cnt == 0 && prv == '/' && d == '/') {
        skip_line(sc);
        return '\n';
    }
    if (tok.cnt == 0 && prv == '/' && d == '*') {
        skip_block(sc);
        return 0; // the comment's closing "/" starts nothing
    }
    if (d == '#') {
        skip_line(sc);
        return '\n';
    }
    if (d == '"' || d == '\'')
        skip_quoted(sc, d);
    else if (d == '\n')
        scan_lf(sc);
    return d;
}

int32_t scan_run(st_cvr_scan &sc)
{
    static st_test_cvr_pas pt_tok = {
        {TEST_CVR_ABT, __FILE__, __LINE__, "test_cvr_rd"}, 0, 0, nullptr, nullptr, 0};
    st_cvr_tok tok;
    st_stream dst;
    stream_set(&dst, &tok, &tok_fnclst, nullptr);
    uint32_t prv = 0;
    int32_t r = 0;
    while (r == 0 && !sc.end) {
        tok = {};
        uint32_t d;
        if (stm_tok(sc.src, scan_dlm, &dst, &d) != 0)
            break;
        test_cvr_pas(sc.mng, &pt_tok);
        r = scan_marker(sc, tok);
        prv = scan_dlm_act(sc, tok, d, prv);
        if (d == 0)
            sc.end = true;
    }
    stream_end(&dst);
    return r;
}

// ---------------------------------------------------------------------------
// Test files
// ---------------------------------------------------------------------------

FILE *test_fp;  // the file of _test_fopen
char *test_txt; // the text of _test_fget

// Reads the rest of fp into one block that doubles as it fills. None when
// out of memory.
char *read_all(FILE *fp)
{
    size_t cap = 4096;
    size_t len = 0;
    char *buf;
    if (_malloc(&buf, cap) != 0)
        return nullptr;
    size_t n;
    while ((n = fread(buf + len, 1, cap - 1 - len, fp)) > 0) {
        len += n;
        if (len == cap - 1 && _realloc(&buf, cap *= 2) != 0) {
            _free(&buf);
            return nullptr;
        }
    }
    buf[len] = '\0';
    return buf;
}

} // namespace

// ---------------------------------------------------------------------------
// Passing points
// ---------------------------------------------------------------------------

int32_t test_cvr_pas(st_test_cvr *mng, st_test_cvr_pas *pt) noexcept
{
    if (!pt)
        return -1;
    st_test_cvr *m = rec(mng);
    if (!(pt->flg & TEST_CVR_LST)) {
        pt->nxt = m->pas;
        m->pas = pt;
        pt->flg |= TEST_CVR_LST;
    }
    pt->cnt++;
    return 0;
}

int32_t _test_cvr_pas(st_test_cvr *mng, int32_t typ, const char *fil, int32_t lin, const char *fnc,
                      const char *abt) noexcept
{
    if (__dbg)
        return 0;
    st_dbg_busy busy;
    st_rtn_save keep; // instrumented code must find its status word as it left it
    st_test_cvr *m = rec(mng);
    st_test_cvr_pas *p = pas_find(m, typ, fil, lin);
    if (!p) {
        st_src_pos *cpy;
        p = static_cast<st_test_cvr_pas *>(
            rcd_new(sizeof(st_test_cvr_pas), {abt, fil, lin, fnc}, &cpy));
        if (!p)
            return -1;
        p->typ = typ;
        p->flg = TEST_CVR_DYN | TEST_CVR_LST;
        p->nxt = m->pas;
        m->pas = p;
        p->chn = m->bkt[bkt_of(lin)];
        m->bkt[bkt_of(lin)] = p;
    }
    p->cnt++;
    return 0;
}

// ---------------------------------------------------------------------------
// Expected points and reports
// ---------------------------------------------------------------------------

int32_t test_cvr_psh(st_test_cvr *mng, int32_t typ) noexcept
{
    st_dbg_busy busy;
    st_test_cvr_exp *e = exp_new(*__src_pos(nullptr, nullptr, 0, nullptr, nullptr), typ);
    if (!e)
        return rtn_fail();
    exp_lnk(rec(mng), e);
    return rtn_ok();
}

int32_t test_cvr_rd(st_test_cvr *mng, const char *path) noexcept
{
    static st_test_cvr_pas pt_in = {
        {TEST_CVR_ABT, __FILE__, __LINE__, "test_cvr_rd"}, 0, 0, nullptr, nullptr, 0};
    static st_test_cvr_pas pt_out = {
        {TEST_CVR_ABT, __FILE__, __LINE__, "test_cvr_rd"}, 0, 0, nullptr, nullptr, 0};
    st_dbg_busy busy;
    st_test_cvr *m = rec(mng);
    test_cvr_pas(m, &pt_in);
    FILE *fp = path ? fopen(path, "re") : nullptr;
    if (!fp)
        return rtn_fail();
    st_stream bytes;
    st_stream chars;
    if (bstream_fil_set(&bytes, fp, 1) != 0) {
        fclose(fp);
        return rtn_fail();
    }
    if (cstream_default_btoc_set(&chars, &bytes) != 0) {
        stream_end(&bytes);
        return rtn_fail();
    }
    st_cvr_scan sc = {m, &chars, fil_nam(path), 1, false, false};
    int32_t r = scan_run(sc);
    stream_end(&chars); // ends the byte stream and closes the file
    test_cvr_pas(m, &pt_out);
    return r == 0 ? rtn_ok() : rtn_fail();
}

int32_t test_cvr_pir(st_test_cvr *mng) noexcept
{
    st_dbg_busy busy;
    st_test_cvr *m = rec(mng);
    for (st_test_cvr_exp *e = m->exp; e; e = e->nxt) {
        e->mtc = nullptr;
        e->pos.fil = fil_nam(e->pos.fil);
    }
    for (st_test_cvr_pas *p = m->pas; p; p = p->nxt) {
        p->flg &= ~TEST_CVR_MTC;
        p->pos.fil = fil_nam(p->pos.fil);
    }
    for (st_test_cvr_pas *p = m->pas; p; p = p->nxt) {
        for (st_test_cvr_exp *e = m->exp; e; e = e->nxt) {
            if (!e->mtc && e->typ == p->typ && e->pos.lin == p->pos.lin &&
                same_fil(e->pos.fil, p->pos.fil)) {
                e->mtc = p;
                p->flg |= TEST_CVR_MTC;
                break;
            }
        }
    }
    return rtn_ok();
}

int32_t test_cvr_prt(st_test_cvr *mng, FILE *fp, int32_t all) noexcept
{
    st_dbg_busy busy;
    st_test_cvr *m = rec(mng);
    test_cvr_pir(m);
    if (!fp)
        return rtn_fail();
    bool hdr = false;
    for (const st_test_cvr_exp *e = m->exp; e; e = e->nxt) {
        const st_src_pos *pos = e->mtc ? &e->mtc->pos : &e->pos;
        int32_t typ = e->mtc ? e->mtc->typ : e->typ;
        uint32_t cnt = e->mtc ? e->mtc->cnt : 0;
        if (cnt != 0 && !all)
            continue;
        if (!hdr)
            fputs(TEST_CVR_HDR, fp);
        hdr = true;
        __src_pos_fprint(fp, pos);
        fprintf(fp, ",%d,%u\n", typ, cnt);
    }
    return rtn_ok();
}

// The buckets index the pass list, so they are emptied with it and not here.
void test_cvr_clr(st_test_cvr *mng) noexcept
{
    st_dbg_busy busy;
    st_test_cvr *m = rec(mng);
    while (st_test_cvr_exp *e = m->exp) {
        m->exp = e->nxt;
        if (e->flg & TEST_CVR_DYN)
            _free(&e);
    }
}

void test_cvr_clr_st(st_test_cvr *mng) noexcept
{
    st_dbg_busy busy;
    st_test_cvr *m = rec(mng);
    while (st_test_cvr_pas *p = m->pas) {
        m->pas = p->nxt;
        if (p->flg & TEST_CVR_DYN) {
            _free(&p);
            continue;
        }
        p->cnt = 0;
        p->nxt = nullptr;
        p->flg &= ~(TEST_CVR_MTC | TEST_CVR_LST);
    }
    std::memset(m->bkt, 0, sizeof m->bkt);
    for (st_test_cvr_exp *e = m->exp; e; e = e->nxt)
        e->mtc = nullptr; // no pairing may outlive the points it names
}

void test_cvr_clr_all(st_test_cvr *mng, int32_t mod) noexcept
{
    (void)mod;
    test_cvr_clr(mng);
    test_cvr_clr_st(mng);
}

// ---------------------------------------------------------------------------
// Test files
// ---------------------------------------------------------------------------

FILE *_test_fopen(const char *path, const char *mode) noexcept
{
    st_dbg_busy busy;
    if (test_fp)
        fclose(test_fp);
    test_fp = nullptr;
    char mod[16];
    if (!path || !mode || std::strlen(mode) + 2 > sizeof mod)
        return nullptr;
    std::strcpy(mod, mode);
    std::strcat(mod, "e"); // close-on-exec
    test_fp = fopen(path, mod);
    return test_fp;
}

char *_test_fget(const char *path) noexcept
{
    st_dbg_busy busy;
    st_rtn_save keep;
    _free(&test_txt);
    test_txt = nullptr;
    FILE *fp = _test_fopen(path, "r");
    if (fp)
        test_txt = read_all(fp);
    _test_fopen(nullptr, nullptr); // closes fp
    return test_txt;
}
