// Variant-map text reader over any text: no crash, leak or hang, and what
// it stored, written in either layout and read back, gives the same map.
// The first byte picks the read options and whether the map nests keys.
#include "base/text/text.h"

#include <cstdlib>
#include <cstring>
#include <string>

// The map's text in path layout, the form compared.
static std::string dump(st_vmap *m)
{
    st_stream w{};
    char *s = nullptr;
    cstream_vmap(&w, m, nullptr, nullptr);
    if (cstream_to_vstr(&w, &s) != 0)
        std::abort();
    std::string r = s;
    _free(&s);
    return r;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;
    const uint32_t opt = data[0] & 3, mod = (data[0] & 4) ? 0 : VMAP_NST;
    std::string txt(reinterpret_cast<const char *>(data + 1), size - 1);
    st_vmap m, back;
    st_stream src{};
    vmap_set(&m, mod);
    cstream_str_set(&src, txt.c_str());
    _vmap_cstream(&m, nullptr, &src, opt);
    stream_end(&src);
    const std::string want = dump(&m);
    for (uint8_t lay : {uint8_t(0), uint8_t(VMAP_FMT_BLK)}) {
        st_cstream_vmap_opt o{0, 0, 0, lay};
        st_stream w{};
        vmap_set(&back, mod);
        cstream_vmap(&w, &m, nullptr, &o);
        if (vmap_cstream(&back, nullptr, &w) != 0 || dump(&back) != want)
            std::abort();
        stream_end(&w);
        vmap_end(&back);
    }
    vmap_end(&m);
    return 0;
}
