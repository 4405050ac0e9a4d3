// cstream_replace against a plain replacement on character arrays: the
// first two bytes give the pattern and replacement lengths (0 to 7), then
// come the pattern, the replacement and the source. Zero bytes become 'a'
// so that all three are strings; 'a', 'b' and lead bytes dominate to make
// matches likely.
#include "base/stream/stream.h"

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

using chars = std::vector<int32_t>;

// Every character of a character stream, which is ended.
static chars drain(st_stream *s)
{
    int32_t *v = nullptr;
    if (cstream_to_vcstr(s, &v) != 0)
        std::abort();
    chars r;
    for (int32_t *p = v; *p; p++)
        r.push_back(*p);
    _free(&v);
    return r;
}

// The characters the Shift-JIS decoder finds in txt.
static chars decode(const std::string &txt)
{
    st_stream s;
    cstream_str_set(&s, txt.c_str());
    return drain(&s);
}

// Left to right, without overlap; an empty pattern replaces nothing.
static chars model(const chars &src, const chars &pat, const chars &rpl)
{
    chars out;
    for (size_t i = 0; i < src.size();) {
        if (!pat.empty() && src.size() - i >= pat.size() &&
            std::equal(pat.begin(), pat.end(), src.begin() + i)) {
            out.insert(out.end(), rpl.begin(), rpl.end());
            i += pat.size();
        } else {
            out.push_back(src[i++]);
        }
    }
    return out;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 2)
        return 0;
    size_t np = data[0] % 8, nr = data[1] % 8;
    std::string all;
    for (size_t i = 2; i < size; i++)
        all += data[i] ? static_cast<char>(data[i]) : 'a';
    np = std::min(np, all.size());
    nr = std::min(nr, all.size() - np);
    const std::string pat = all.substr(0, np), rpl = all.substr(np, nr), src = all.substr(np + nr);

    st_stream s, p, r, out;
    cstream_str_set(&s, src.c_str());
    cstream_str_set(&p, pat.c_str());
    cstream_str_set(&r, rpl.c_str());
    if (cstream_replace(&out, &s, &p, &r) != 0)
        std::abort();
    if (drain(&out) != model(decode(src), decode(pat), decode(rpl)))
        std::abort();
    return 0;
}
