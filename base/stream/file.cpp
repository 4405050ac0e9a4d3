// File and console streams: one byte per unit through the runtime's files,
// counted in the access statistics. A file stream also hands out blocks:
// what one read of the file gives, never waiting to fill the block.
#include "base/stream/stream.h"

#include <algorithm>

constexpr size_t FIL_ACS_LEN = 6; // bytes of every access name ("stdin" with its zero)

static int32_t stream_pop_file(void *hdl, void *unit)
{
    int c = hdl ? std::fgetc(static_cast<FILE *>(hdl)) : EOF;
    if (c == EOF)
        return rtn_fail(); // the end of the file too: it is not "no more data"
    *static_cast<char *>(unit) = static_cast<char>(c);
    return rtn_ok();
}

// Bytes the file's buffer holds beyond its read position (0 where the
// runtime does not tell).
static size_t file_buffered(FILE *fp)
{
#if defined(__GLIBC__)
    return static_cast<size_t>(fp->_IO_read_end - fp->_IO_read_ptr);
#else
    (void)fp;
    return 0;
#endif
}

// One byte as a single pop takes it (which may wait for it and fills the
// buffer), then what the buffer already holds, up to max.
static int32_t stream_pop_blk_file(void *hdl, void *units, uint32_t max, uint32_t *got)
{
    auto *b = static_cast<unsigned char *>(units);
    *got = 0;
    if (stream_pop_file(hdl, b) != 0)
        return __rtn;
    FILE *fp = static_cast<FILE *>(hdl);
    const size_t more = std::min<size_t>(max - 1, file_buffered(fp));
    *got = 1 + static_cast<uint32_t>(more ? std::fread(b + 1, 1, more, fp) : 0);
    return rtn_ok();
}

static int32_t stream_psh_file(void *hdl, const void *unit)
{
    if (!hdl ||
        std::fputc(*static_cast<const unsigned char *>(unit), static_cast<FILE *>(hdl)) == EOF)
        return rtn_fail();
    return rtn_ok();
}

static int32_t stream_rst_file(void *hdl)
{
    if (!hdl)
        return rtn_fail();
    std::rewind(static_cast<FILE *>(hdl));
    return rtn_ok();
}

static int32_t stream_end_file(void *hdl)
{
    std::fclose(static_cast<FILE *>(hdl));
    return 0;
}

static int32_t stream_pop_stdio(void *, void *unit)
{
    return stream_pop_file(stdin, unit);
}

static int32_t stream_psh_stdio(void *, const void *unit)
{
    return stream_psh_file(stdout, unit);
}

static constexpr st_stream_fnc_blk file_fnc_blk = {
    {stream_pop_file, stream_psh_file, stream_end_file, stream_rst_file, nullptr, nullptr},
    stream_pop_blk_file};
static constexpr st_stream_fnc_blk _file_fnc_blk = {
    {stream_pop_file, stream_psh_file, nullptr, stream_rst_file, nullptr, nullptr},
    stream_pop_blk_file};
const st_stream_fnc file_stream_fnclst = file_fnc_blk.fnc;
const st_stream_fnc _file_stream_fnclst = _file_fnc_blk.fnc;
const st_stream_fnc stdio_stream_fnclst = {stream_pop_stdio, stream_psh_stdio, nullptr,
                                           nullptr,          nullptr,          nullptr};

// The statistics record of (itf, acs); the interface id is looked up once
// into *id. None when the interface manager cannot give one: the stream is
// then simply not counted.
static st_itfmng_rcd *stream_itf_rcd(const char *itf, uint32_t *id, const char *acs)
{
    st_itfmng_rcd *rcd = nullptr;
    if (*id == 0)
        itf_get_id(itf, id);
    if (*id != 0)
        itfmng_get(*id, acs, FIL_ACS_LEN, &rcd);
    return rcd;
}

// The access name of a file: which standard stream it is, if any.
static const char *file_acs(const FILE *fp)
{
    if (fp == stdin)
        return "stdin";
    if (fp == stdout)
        return "stdout";
    if (fp == stderr)
        return "stderr";
    return "unkown";
}

int32_t bstream_fil_set(st_stream *stm, FILE *fp, int32_t cls) noexcept
{
    static uint32_t itf_id;
    st_itfmng_rcd *rcd = stream_itf_rcd("file", &itf_id, file_acs(fp));
    return stream_set_blk(stm, fp, cls ? &file_fnc_blk : &_file_fnc_blk, rcd, 0);
}

int32_t bstream_stdio_set(st_stream *stm) noexcept
{
    static uint32_t itf_id;
    st_itfmng_rcd *rcd = stream_itf_rcd("stdio", &itf_id, "unkown");
    return stream_set(stm, nullptr, &stdio_stream_fnclst, rcd);
}
