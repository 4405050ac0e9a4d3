// Helpers of the stream tests: scoped streams, draining, the name a
// stream is counted under, and a scripted kind that counts its calls.
#pragma once

#include "base/diag/test_hook.h"
#include "base/stream/stream.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace stream_test
{

// A stream object ended at the end of the scope.
struct Stm : st_stream {
    Stm() : st_stream{} {}
    ~Stm() { stream_end(this); }
};

// Every unit a stream pops until it stops; *rtn gets the stopping status.
template <typename T>
std::vector<T> units(st_stream *s, int32_t *rtn = nullptr)
{
    std::vector<T> v;
    for (T u{}; stream_pop(s, &u) == 0;)
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

// The text a character stream yields, through cstream_to_vstr (which ends it).
inline std::string text(st_stream *s)
{
    char *t = nullptr;
    EXPECT_EQ(cstream_to_vstr(s, &t), 0);
    std::string r = t ? t : "<none>";
    _free(&t);
    return r;
}

// "interface/access name" of the statistics record a stream is counted in.
inline std::string counted_as(const st_stream *s)
{
    const char *itf = "?";
    itf_get_nam(s->itf_rec->itf, &itf);
    return std::string(itf) + "/" + s->itf_rec->acs;
}

// A kind that takes or gives `left` units ('x'), then fails, setting the
// status word to `fail` unless it is 0. Its rst and fls slots return `rst`.
struct Script {
    int32_t left = 0, fail = 0, rst = 0;
    int calls = 0, ends = 0, rsts = 0;

    static Script *of(void *h) { return static_cast<Script *>(h); }
    static int32_t unit(void *h)
    {
        Script *s = of(h);
        s->calls++;
        if (s->left-- > 0)
            return 0;
        if (s->fail)
            __rtn = s->fail;
        return 1;
    }
    static int32_t pop(void *h, void *u) { return *static_cast<char *>(u) = 'x', unit(h); }
    static int32_t psh(void *h, const void *) { return unit(h); }
    static int32_t end(void *h) { return of(h)->ends++; }
    static int32_t rew(void *h) { return of(h)->rsts++, of(h)->rst; }
    static int32_t acs(void *h, int32_t num, intptr_t a1, intptr_t, const char **dsc)
    {
        *dsc = "scripted";
        *reinterpret_cast<intptr_t *>(a1) = reinterpret_cast<intptr_t>(h) + num;
        return 0;
    }
};

inline const st_stream_fnc script_fnclst = {Script::pop, Script::psh, Script::end,
                                            Script::rew, Script::rew, Script::acs};

} // namespace stream_test
