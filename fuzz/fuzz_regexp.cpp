// Differential: the engine against the backtracking reference. The input
// is an options byte, then the pattern up to the first zero byte, then the
// text (each byte one character). Any difference, leak or fault aborts.
#include "fuzz/regexp_ref.h"

#include <cstdio>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;
    static const uint32_t opts[] = {MTC_OPT_DEF, MTC_DEF, MTC_OPT_DEF | MTC_ANC, MTC_DEF | MTC_ANC};
    const uint32_t opt = opts[data[0] % 4];
    regexp_ref::Text pat, txt;
    size_t i = 1;
    // Lengths stay small: the reference tries every start and end.
    for (; i < size && data[i] && pat.size() < 64; i++)
        pat.push_back(data[i]);
    for (i++; i < size && data[i] && txt.size() < 64; i++)
        txt.push_back(data[i]);
    const std::string d = regexp_ref::check(pat, txt, opt);
    if (!d.empty()) {
        std::fprintf(stderr, "%s\n", d.c_str());
        std::abort();
    }
    return 0;
}
