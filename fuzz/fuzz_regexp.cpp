// Differential: the engine against the backtracking reference. The input
// is an options byte, then the pattern up to the first zero byte, then the
// text. Both are read as Shift-JIS strings (as strregexp reads them) and
// the engine runs twice: over the decoded characters one pop at a time,
// and through strregexp, which decodes the string in place and steps over
// what cannot start a match. Any difference, leak or fault aborts.
#include "tests/text/regexp_ref.h"

#include <cstdio>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;
    static const uint32_t opts[] = {MTC_OPT_DEF, MTC_DEF, MTC_OPT_DEF | MTC_ANC, MTC_DEF | MTC_ANC};
    const uint32_t opt = opts[data[0] % 4];
    std::string pat, txt;
    size_t i = 1;
    // Lengths stay small: the reference tries every start and end.
    for (; i < size && data[i] && pat.size() < 64; i++)
        pat += static_cast<char>(data[i]);
    for (i++; i < size && data[i] && txt.size() < 64; i++)
        txt += static_cast<char>(data[i]);
    const regexp_ref::Text pc = regexp_ref::codes(pat), tc = regexp_ref::codes(txt);
    std::string d = regexp_ref::check(pc, tc, opt);
    uint32_t a[2] = {0, 0}, b[2] = {0, 0};
    const int32_t sa = regexp_ref::engine(pc, tc, opt, a),
                  sb = strregexp(txt.c_str(), pat.c_str(), b, &opt);
    if (d.empty() && (sa != sb || (sa == 0 && (a[0] != b[0] || a[1] != b[1]))))
        d = "the string search differs";
    if (!d.empty()) {
        std::fprintf(stderr, "%s\n", d.c_str());
        std::abort();
    }
    return 0;
}
