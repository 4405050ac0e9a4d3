// The reader's one-pass lexer against the splitter and analyzers it stands
// in for: random texts of the format's marks read both ways give the same
// status and the same keys, values and nests.
#include "base/text/text_impl.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <random>
#include <string>

namespace
{

// Every key of map in walk order: its parent's key, its key and its value.
std::string keys(st_vmap *map)
{
    st_vmap_rng_itr itr;
    std::string s;
    void *nod = nullptr;
    vmap_rng_pop_set(map, nullptr, VMAP_RNG_DSC, &itr);
    while (vmap_rng_pop(&itr, &nod, 1) == 0) {
        char *k = nullptr, *v = nullptr, *pk = nullptr;
        void *par = nullptr;
        vtyp_get_str(nod, &k);
        if (vtyp_get_nst(nod, &par) == 0 && par)
            vtyp_get_str(par, &pk);
        s += std::string(pk ? pk : "-") + "/" + (k ? k : "?") + "=" +
             (vtyp_ref_lnk_val(nod, 0, &v) == 0 ? v : "(none)") + "\n";
    }
    vmap_rng_pop_end(&itr);
    return s;
}

// The status and the keys of text read with opt into a map of mode mod.
std::string read(const std::string &text, uint32_t opt, uint8_t mod)
{
    st_vmap m;
    vmap_set(&m, mod);
    FILE *fp = fmemopen(const_cast<char *>(text.data()), text.size(), "rb");
    st_stream src{};
    cstream_fil_set(&src, fp, 1);
    const int32_t st = _vmap_cstream(&m, nullptr, &src, opt);
    stream_end(&src);
    std::string r = std::to_string(st) + "|" + keys(&m);
    vmap_end(&m);
    return r;
}

TEST(VmapLexer, ReadsRandomTextsAsTheSplitterAndAnalyzersDo)
{
    // Pieces of the syntax and a Shift-JIS lead byte that takes the byte
    // after it (a quote too).
    const char *const piece[] = {"a",   "b1",   "_",      "=",      "\"",     "\\",   "\\\"",
                                 "\\n", "\\q",  " ",      "\t",     "\n",     "[",    "]",
                                 ";",   "/",    "#",      ".",      "\r",     "\\\\", "\\/",
                                 "\\t", "\x81", "\x81\"", "\xE0\\", "\\\x81", "a=b",  "a=\"x y\""};
    const size_t n_piece = sizeof piece / sizeof *piece;
    std::mt19937 rng(1207);
    for (int i = 0; i < 1000 && !HasFailure(); i++) {
        std::string text;
        for (int n = int(rng() % 14); n > 0; n--) {
            text += piece[rng() % n_piece];
        }
        for (uint32_t opt : {0u, uint32_t(VMAP_RD_LIN), uint32_t(VMAP_RD_VAL)})
            for (uint8_t mod : {uint8_t(VMAP_NST), uint8_t(0)})
                ASSERT_EQ(read(text, opt, mod), read(text, opt | VMAP_RD_ANR, mod))
                    << "opt " << opt << " mode " << int(mod) << " text:\n"
                    << testing::PrintToString(text);
    }
}

} // namespace
