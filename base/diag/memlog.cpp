// Memory log: a ring of the latest error records, written to the log file,
// standard error and the light log, whose lines belong to call sites.
#include "base/diag/diag.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

st_mem_log_mng __mem_log_mng = {MEM_LOG_FLG_INIT, 0, {}, 0, 0, nullptr, nullptr, nullptr, 0};

static int32_t prt_running; // re-entrancy mark of mem_log_prt

static const char *txt(const char *s)
{
    return s ? s : "";
}

// The record line up to the event count: printed to fp, or formatted into
// buf (cut to n - 1 bytes) when fp is absent. Returns the full length.
static int rcd_head(FILE *fp, char *buf, size_t n, const st_mem_log_rcd *r)
{
    constexpr const char *fmt = "%s(%d) PRC:%s err_no:%d/0x%x prc_cnt:%lld";
    const char *fil = txt(r->fil);
    unsigned hex = static_cast<unsigned>(r->val);
    long long seq = static_cast<long long>(r->seq);
    const char *prc = program_invocation_short_name; // the running program
    if (fp)
        return fprintf(fp, fmt, fil, r->lin, prc, r->val, hex, seq);
    return snprintf(buf, n, fmt, fil, r->lin, prc, r->val, hex, seq);
}

void mem_log_rcd_prt(FILE *fp, const st_mem_log_rcd *rcd, int32_t sht) noexcept
{
    if (!fp || !rcd)
        return;
    rcd_head(fp, nullptr, 0, rcd);
    if (sht)
        return;
    fputc(' ', fp);
    if (rcd->prt)
        rcd->prt(fp, rcd->dat);
    fputc('\n', fp);
}

// Writes a blank light-log line (255 blanks and a line feed) for line id.
static void llg_prepare(FILE *fp, int32_t id)
{
    char line[MEM_LOG_LLG_LINE];
    std::memset(line, ' ', sizeof line - 1);
    line[sizeof line - 1] = '\n';
    fseek(fp, MEM_LOG_LLG_LINE * id, SEEK_SET);
    fwrite(line, 1, sizeof line, fp);
}

// Writes the short form of r at the start of light-log line id. The text is
// cut to 255 bytes so that it never runs into the next site's line.
static void llg_write(FILE *fp, int32_t id, const st_mem_log_rcd *r)
{
    char head[MEM_LOG_LLG_LINE];
    int k = rcd_head(nullptr, head, sizeof head, r);
    if (k < 0)
        return;
    size_t len = static_cast<size_t>(k) < sizeof head ? static_cast<size_t>(k) : sizeof head - 1;
    fseek(fp, MEM_LOG_LLG_LINE * id, SEEK_SET);
    fwrite(head, 1, len, fp);
    fflush(fp);
}

static void mem_log_atexit()
{
    mem_log_end();
}

// First push: register the end-of-program flush and open the outputs that
// write at push time.
static void outputs_open(st_mem_log_mng &m)
{
    if (!(m.flg & MEM_LOG_EXT) && std::atexit(mem_log_atexit) == 0)
        m.flg |= MEM_LOG_EXT;
    bool fil = (m.flg & MEM_LOG_FIL) && (m.flg & MEM_LOG_FIL_PSH);
    if (fil && !m.lgf)
        m.lgf = env_fopen("BAS_MEMLOG_PATH", "memlog.log", "w");
    if ((m.flg & MEM_LOG_ERR) && (m.flg & MEM_LOG_ERR_PSH))
        m.sef = stderr;
    if ((m.flg & MEM_LOG_LLG) && !m.llf) {
        m.llf = env_fopen("BAS_MEMLLOG_PATH", "memlightlog.log", "wb");
        if (m.llf)
            llg_prepare(m.llf, 0);
    }
    m.flg |= MEM_LOG_OPN;
}

// The light-log line of a call site: handed out on the site's first push.
static int32_t llg_id(st_mem_log_mng &m, int32_t *id)
{
    if (!id)
        return 0;
    if (*id == 0) {
        *id = ++m.llf_cnt;
        if (m.llf)
            llg_prepare(m.llf, *id);
    }
    return *id;
}

// Fills a ring slot. The payload is moved, not copied, so that a caller may
// build it in place in mem_log_nxt_buf().
static void rcd_fill(st_mem_log_rcd *r, int32_t val, const char *fil, int32_t lin, const void *dat,
                     size_t len, mem_log_prt_fn prt)
{
    r->seq = __prc_cnt(nullptr);
    r->prt = prt;
    if (!dat)
        len = 0;
    if (len)
        std::memmove(r->dat, dat, len);
    std::memset(r->dat + len, 0, MEM_LOG_DAT_SIZ - len);
    r->lin = lin;
    r->fil = fil;
    r->val = val;
}

int32_t mem_log_psh(int32_t *id, int32_t val, const char *fil, int32_t lin, const void *dat,
                    size_t len, mem_log_prt_fn prt) noexcept
{
    if (len > MEM_LOG_DAT_SIZ)
        return -1;
    st_mem_log_mng &m = __mem_log_mng;
    if (!(m.flg & (MEM_LOG_OPN | MEM_LOG_LCK)))
        outputs_open(m);
    int32_t line = llg_id(m, id);
    st_mem_log_rcd *r = &m.rcd[m.pos];
    m.pos = (m.pos + 1) % MEM_LOG_RCD_NUM;
    if (m.num < MEM_LOG_RCD_NUM)
        m.num++;
    rcd_fill(r, val, fil, lin, dat, len, prt);
    if ((m.flg & MEM_LOG_FIL_PSH) && m.lgf) {
        mem_log_rcd_prt(m.lgf, r, 0);
        fflush(m.lgf); // the trail must survive a crash
    }
    if ((m.flg & MEM_LOG_ERR_PSH) && m.sef)
        mem_log_rcd_prt(m.sef, r, 0);
    if ((m.flg & MEM_LOG_LLG) && m.llf && lin != 0)
        llg_write(m.llf, line, r);
    return 0;
}

int32_t mem_log_prt() noexcept
{
    if (prt_running)
        return -1;
    prt_running = 1;
    st_mem_log_mng &m = __mem_log_mng;
    bool to_fil = (m.flg & MEM_LOG_FIL) && !(m.flg & MEM_LOG_FIL_PSH);
    bool to_err = (m.flg & MEM_LOG_ERR) && !(m.flg & MEM_LOG_ERR_PSH);
    // The log file is opened (and so truncated) only when a record is to be
    // written to it: a print after mem_log_clr must not wipe the trail.
    if (to_fil && m.num && !m.lgf)
        m.lgf = env_fopen("BAS_MEMLOG_PATH", "memlog.log", "w");
    if (m.flg & MEM_LOG_ERR)
        m.sef = stderr;
    if (to_err)
        fputs("##memlog##\n", m.sef);
    uint32_t old = m.num < MEM_LOG_RCD_NUM ? 0 : m.pos; // oldest record
    for (uint32_t i = 0; i < m.num; i++) {
        const st_mem_log_rcd *r = &m.rcd[(old + i) % MEM_LOG_RCD_NUM];
        if (to_fil)
            mem_log_rcd_prt(m.lgf, r, 0);
        if (to_err)
            mem_log_rcd_prt(m.sef, r, 0);
    }
    if (to_fil && m.lgf)
        fflush(m.lgf);
    prt_running = 0;
    return static_cast<int32_t>(m.num);
}

// Closes and forgets both files; returns the light-log close result.
static int32_t files_close(st_mem_log_mng &m)
{
    int32_t rc = 0;
    if (m.lgf)
        fclose(m.lgf);
    if (m.llf)
        rc = fclose(m.llf);
    m.lgf = m.llf = nullptr;
    return rc;
}

int32_t mem_log_end() noexcept
{
    mem_log_prt();
    return files_close(__mem_log_mng);
}

int32_t mem_log_clr() noexcept
{
    st_mem_log_mng &m = __mem_log_mng;
    m.flg &= static_cast<uint8_t>(~MEM_LOG_OPN);
    m.pos = m.num = 0;
    std::memset(m.rcd, 0, sizeof m.rcd);
    m.llf_cnt = 0;
    m.sef = nullptr; // standard error is let go, not closed
    return files_close(m);
}

void *mem_log_nxt_buf() noexcept
{
    return __mem_log_mng.rcd[__mem_log_mng.pos].dat;
}

void mem_log_lck(int32_t sw) noexcept
{
    st_mem_log_mng &m = __mem_log_mng;
    bool locked = m.flg & MEM_LOG_LCK;
    if (sw && !locked) {
        m.lck_sav = m.flg & (MEM_LOG_OUT | MEM_LOG_OPN);
        m.flg = static_cast<uint8_t>((m.flg & ~MEM_LOG_OUT) | MEM_LOG_LCK);
    } else if (!sw && locked) {
        // The opened bit keeps its current value: a mem_log_clr while locked
        // cleared it, and the next push must open the files again.
        uint8_t keep = m.flg & static_cast<uint8_t>(~(MEM_LOG_OUT | MEM_LOG_LCK));
        m.flg = static_cast<uint8_t>(keep | (m.lck_sav & MEM_LOG_OUT));
    }
}

void mem_log_prt_str(FILE *fp, const void *dat) noexcept
{
    if (fp && dat)
        fprintf(fp, "%.255s", static_cast<const char *>(dat));
}

// ---------------------------------------------------------------------------
// Printers for test values: name reference at byte 0, value at byte 8.
// ---------------------------------------------------------------------------

static const char *test_name(const void *dat)
{
    const char *nam;
    std::memcpy(&nam, dat, sizeof nam);
    return txt(nam);
}

template <typename T>
static T test_value(const void *dat)
{
    T v;
    std::memcpy(&v, static_cast<const unsigned char *>(dat) + 8, sizeof v);
    return v;
}

void __test_mem_log_prt_str(FILE *fp, const void *dat) noexcept
{
    if (fp && dat)
        fprintf(fp, "[TS] %s = %s", test_name(dat), txt(test_value<const char *>(dat)));
}

void __test_mem_log_prt__str(FILE *fp, const void *dat) noexcept
{
    // The text fills at most the rest of the payload.
    if (fp && dat)
        fprintf(fp, "[TS] %s = %.*s", test_name(dat), static_cast<int>(MEM_LOG_DAT_SIZ - 8),
                static_cast<const char *>(dat) + 8);
}

void __test_mem_log_prt_int(FILE *fp, const void *dat) noexcept
{
    if (fp && dat)
        fprintf(fp, "[TI] %s = %d", test_name(dat), test_value<int32_t>(dat));
}

void __test_mem_log_prt_uint(FILE *fp, const void *dat) noexcept
{
    if (fp && dat)
        fprintf(fp, "[TU] %s = %u", test_name(dat), test_value<uint32_t>(dat));
}

void __test_mem_log_prt_hex(FILE *fp, const void *dat) noexcept
{
    if (fp && dat)
        fprintf(fp, "[TX] %s = 0x%08X", test_name(dat), test_value<uint32_t>(dat));
}

void __test_mem_log_prt_flt(FILE *fp, const void *dat) noexcept
{
    if (fp && dat)
        fprintf(fp, "[TF] %s = %f", test_name(dat), test_value<double>(dat));
}
