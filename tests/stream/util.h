// Helpers of the stream tests: draining streams, a scripted kind that
// counts its calls, and scoped streams.
#pragma once

#include "base/stream/stream.h"

#include <gtest/gtest.h>

#include <clocale>
#include <string>
#include <vector>

namespace stream_test
{

// Sets the character-type locale for the scope; ok tells whether it exists.
struct Locale {
    std::string old = setlocale(LC_CTYPE, nullptr);
    bool ok;
    explicit Locale(const char *nam) : ok(setlocale(LC_CTYPE, nam) != nullptr) {}
    ~Locale() { setlocale(LC_CTYPE, old.c_str()); }
};

// A stream object ended at the end of the scope.
struct Stm : st_stream {
    Stm() : st_stream{} {}
    ~Stm() { stream_end(this); }
};

// Every unit of type T a stream pops until it stops; *rtn gets the status
// that stopped it.
template <typename T>
std::vector<T> units(st_stream *s, int32_t *rtn = nullptr)
{
    std::vector<T> v;
    T u{};
    while (stream_pop(s, &u) == 0)
        v.push_back(u);
    if (rtn)
        *rtn = __rtn;
    return v;
}

inline std::string bytes(st_stream *s, int32_t *rtn = nullptr)
{
    std::vector<char> v = units<char>(s, rtn);
    return std::string(v.begin(), v.end());
}

inline std::vector<int32_t> chars(st_stream *s, int32_t *rtn = nullptr)
{
    return units<int32_t>(s, rtn);
}

// The text a character stream yields, through cstream_to_vstr (which ends it).
inline std::string text(st_stream *s)
{
    char *t = nullptr;
    EXPECT_EQ(cstream_to_vstr(s, &t), 0);
    std::string r = t ? t : "<none>";
    _free(&t);
    return r;
}

// A kind that pops `left` bytes 'x' and then fails, leaving `fail` in the
// status word (0: leaves it alone); pushes fail the same way once `left`
// is used up. It counts every call.
struct Script {
    int32_t left = 0; // units still delivered or taken
    int32_t fail = 0; // status set when failing, 0 for none
    int32_t rst = 0;  // result of the rst slot
    int pops = 0, pshs = 0, ends = 0, rsts = 0;
};

inline int32_t script_unit(Script *s)
{
    if (s->left > 0) {
        s->left--;
        return 0;
    }
    if (s->fail)
        __rtn = s->fail;
    return 1;
}

inline int32_t script_pop(void *h, void *u)
{
    Script *s = static_cast<Script *>(h);
    s->pops++;
    *static_cast<char *>(u) = 'x';
    return script_unit(s);
}

inline int32_t script_psh(void *h, const void *)
{
    Script *s = static_cast<Script *>(h);
    s->pshs++;
    return script_unit(s);
}

inline int32_t script_end(void *h)
{
    static_cast<Script *>(h)->ends++;
    return 0;
}

inline int32_t script_rst(void *h)
{
    Script *s = static_cast<Script *>(h);
    s->rsts++;
    return s->rst;
}

inline int32_t script_acs(void *h, int32_t num, intptr_t a1, intptr_t, const char **dsc)
{
    *dsc = "scripted";
    *reinterpret_cast<intptr_t *>(a1) = reinterpret_cast<intptr_t>(h) + num;
    return 0;
}

inline const st_stream_fnc script_fnclst = {script_pop, script_psh, script_end,
                                            script_rst, script_rst, script_acs};

} // namespace stream_test
