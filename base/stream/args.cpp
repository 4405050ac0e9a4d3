// Argument joining: a character stream that yields an argument array as one
// command line, which cmdline_split turns back into the same arguments.
//
// Arguments are separated by one blank. An argument that is empty or holds
// a blank, tab, quote or line feed is enclosed in quotes. Inside, a quote
// becomes \" and the backslashes right before it are doubled; backslashes
// right before the closing quote are doubled too; other backslashes stay
// single; every other byte, a line feed included, stays as it is (a
// multi-line script given to sh -c runs as written). The arguments are
// decoded as UTF-8, which delivers every byte and never hides a quote or
// backslash inside a character, as the splitter (which works on bytes)
// expects.
#include "base/stream/stream.h"

#include <cstring>

namespace
{

// The stream's handle.
struct st_args {
    st_stream ary; // the argument array: one string pointer per unit
    st_stream bst; // the current argument's bytes
    st_stream cst; // the current argument's characters
    int32_t hld;   // a character to deliver next, 0 for none
    int32_t pnd;   // a character of the argument read ahead (with ARG_PND)
    uint32_t bsl;  // backslashes still to deliver
    uint8_t flg;   // ARG_* bits
};

enum : uint8_t {    /* st_args.flg */
    ARG_OPN = 0x01, // the opening quote has been delivered
    ARG_NXT = 0x02, // the next argument is due
    ARG_QUO = 0x04, // the current argument is quoted
    ARG_BLK = 0x08, // a separating blank is due
    ARG_PND = 0x10, // pnd holds a character read ahead
    ARG_EOA = 0x20, // the current argument is exhausted
};

} // namespace

// Opens the next argument. 1 after the last one; a failure to set up its
// streams is passed on.
static int32_t args_next(st_args *a)
{
    stream_end(&a->cst);
    stream_end(&a->bst);
    const char *arg;
    if (stream_pop(&a->ary, &arg) != 0)
        return __rtn;
    if (!arg)
        arg = "";
    RTN_TRY(bstream_str_set(&a->bst, arg));
    RTN_TRY(cstream_utf8_btoc_set(&a->cst, &a->bst));
    a->flg &= ~(ARG_OPN | ARG_NXT | ARG_QUO | ARG_PND | ARG_EOA);
    if (!*arg || std::strpbrk(arg, " \t\"\n"))
        a->flg |= ARG_QUO;
    return rtn_ok();
}

// The next character of the current argument; false once it is exhausted.
static bool args_get(st_args *a, int32_t *c)
{
    if (a->flg & ARG_PND) {
        a->flg &= ~ARG_PND;
        *c = a->pnd;
        return true;
    }
    if (!(a->flg & ARG_EOA) && stream_pop(&a->cst, c) == 0)
        return true;
    a->flg |= ARG_EOA;
    return false;
}

// A backslash was read: reads the rest of the run and what follows it.
// The run is doubled when a quote follows (it then becomes \") or when the
// closing quote does; the first backslash goes out now.
static int32_t args_bsl(st_args *a)
{
    uint32_t run = 1;
    int32_t c = 0;
    bool more;
    while ((more = args_get(a, &c)) && c == '\\')
        run++;
    if (more) {
        a->pnd = c;
        a->flg |= ARG_PND;
    }
    const bool dbl = more ? c == '"' : (a->flg & ARG_QUO) != 0;
    a->bsl = (dbl ? 2 * run : run) - 1;
    return '\\';
}

// One step of the joining; the character delivered, or 0 when the step
// delivered nothing (the end of an unquoted argument).
static int32_t args_step(st_args *a)
{
    if (a->flg & ARG_BLK) {
        a->flg &= ~ARG_BLK;
        return ' ';
    }
    if ((a->flg & (ARG_QUO | ARG_OPN)) == ARG_QUO) {
        a->flg |= ARG_OPN;
        return '"';
    }
    if (a->bsl) {
        a->bsl--;
        return '\\';
    }
    if (a->hld) {
        const int32_t c = a->hld;
        a->hld = 0;
        return c;
    }
    int32_t c;
    if (!args_get(a, &c)) {
        a->flg |= ARG_NXT | ARG_BLK;
        return (a->flg & ARG_QUO) ? '"' : 0;
    }
    if (c == '\\')
        return args_bsl(a);
    if (c == '"') {
        a->hld = '"';
        return '\\';
    }
    return c;
}

static int32_t cstream_args_pop(void *hdl, void *unit)
{
    st_args *a = static_cast<st_args *>(hdl);
    int32_t c = 0;
    while (c == 0) {
        if (a->flg & ARG_NXT)
            RTN_TRY(args_next(a));
        c = args_step(a);
    }
    std::memcpy(unit, &c, sizeof c);
    return rtn_ok();
}

static int32_t cstream_args_end(void *hdl)
{
    st_args *a = static_cast<st_args *>(hdl);
    stream_end(&a->cst);
    stream_end(&a->bst);
    stream_end(&a->ary);
    return stream_end_fnc_only_free(hdl);
}

static const st_stream_fnc __cstream_args_fnclst = {cstream_args_pop, nullptr, cstream_args_end,
                                                    nullptr,          nullptr, nullptr};

int32_t cstream_args_set(st_stream *stm, int32_t cnt, const char *const *args) noexcept
{
    if (cnt <= 0 || !args)
        return rtn_fail();
    st_args *a;
    RTN_TRY(_malloc0(&a, sizeof *a));
    a->flg = ARG_NXT;
    if (stream_stc_ary_set(&a->ary, const_cast<char **>(args), sizeof *args,
                           static_cast<uint32_t>(cnt)) != 0 ||
        stream_set(stm, a, &__cstream_args_fnclst, nullptr) != 0) {
        rtn_keep();
        cstream_args_end(a);
        return __rtn;
    }
    return rtn_ok();
}

int32_t arg_to_vstr(int32_t cnt, const char *const *args, char **out) noexcept
{
    if (!out)
        return rtn_fail();
    *out = nullptr;
    st_stream stm;
    RTN_TRY(cstream_args_set(&stm, cnt, args));
    return cstream_to_vstr(&stm, out);
}
