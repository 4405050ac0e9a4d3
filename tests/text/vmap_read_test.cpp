// Variant-map text reader: statements, paths, blocks, quotes, the read
// options, failures with the keys stored before them, and random maps
// written in both layouts and read back.
#include "base/text/text.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

namespace
{

// The map in path layout (the writer is checked on its own).
std::string dump(st_vmap *m)
{
    st_stream w{};
    char *s = nullptr;
    cstream_vmap(&w, m, nullptr, nullptr);
    EXPECT_EQ(cstream_to_vstr(&w, &s), 0);
    std::string r = s ? s : "";
    _free(&s);
    return r;
}

// Reads txt into a fresh map; the status, "|", the map's text.
std::string rd(const char *txt, uint32_t opt = VMAP_RD_VAL, uint32_t mod = VMAP_NST)
{
    st_vmap m;
    vmap_set(&m, mod);
    st_stream src{};
    cstream_str_set(&src, txt);
    const int32_t st = _vmap_cstream(&m, nullptr, &src, opt);
    stream_end(&src);
    std::string r = std::to_string(st) + "|" + dump(&m);
    vmap_end(&m);
    return r;
}

const std::string ERR1 = std::to_string(RTN_ERR1);

} // namespace

TEST(VmapReader, StatementsPathsAndBlocks)
{
    EXPECT_EQ(rd("a = b [ c = d ]"), "0|a=b\na/c=d\n");
    EXPECT_EQ(rd("a=1;b=2\n#\nx/y/z=3"), "0|a=1\nb=2\nx/y/z=3\n");
    EXPECT_EQ(rd("a=1 [ b=2 [ c=3 ] d=4 ] e=5"), "0|a=1\na/b=2\na/b/c=3\na/d=4\ne=5\n");
    EXPECT_EQ(rd("a=1 [ b=2"), "0|a=1\na/b=2\n") << "open brackets at the end are accepted";
    EXPECT_EQ(rd("a=-1"), "0|a=1\n") << "unmatched text is dropped";
    EXPECT_EQ(rd("a=\"-1.5\"; b=\"\""), "0|a=\"-1.5\"\nb=\"\"\n");
    EXPECT_EQ(rd("q=\"x\\\"y\\\\z\tw\\n\\/\""), "0|q=\"x\\\"y\\\\z\tw\\n/\"\n");
    // Read option 0: line ends end reading at an empty line.
    EXPECT_EQ(rd("a=1\nb=2", VMAP_RD_LIN), "0|a=1\nb=2\n");
    EXPECT_EQ(rd("a=1\n\nb=2", VMAP_RD_LIN), "0|a=1\n");
    // A map without nests: "/" is no path.
    EXPECT_EQ(rd("a=1;k", 0, 0), "1|a=1\n") << "a key at the end is not stored";
}

TEST(VmapReader, FailuresKeepWhatWasStored)
{
    EXPECT_EQ(rd("a = 1.5"), "-1|a=1\n");
    EXPECT_EQ(rd("a=1 ]"), "-1|a=1\n");
    EXPECT_EQ(rd("a=1 b=2"), "-1|a=1\n") << "a statement not ended";
    EXPECT_EQ(rd("a=1;b;"), "-1|a=1\n") << "a bare key with the default option";
    EXPECT_EQ(rd("a=1;= 2"), ERR1 + "|a=1\n");
    EXPECT_EQ(rd("a=1;b=/"), ERR1 + "|a=1\n");
    EXPECT_EQ(rd("a=1;b="), "1|a=1\n");
    EXPECT_EQ(rd("a=1;b/"), "-1|a=1\n");
    EXPECT_EQ(rd("a=1;\"b"), ERR1 + "|a=1\n") << "an unclosed quote";
    // A bare key is stored without value when allowed; its nested keys show it.
    EXPECT_EQ(rd("a; a [ b=1 ]", 0), "0|a/b=1\n");
    // Read back from block layout: a "]" returns to the key without value
    // that the path of the block's key went through.
    st_vmap m, back;
    st_stream src{}, w{};
    vmap_set(&m, VMAP_NST);
    vmap_set(&back, VMAP_NST);
    cstream_str_set(&src, "q [ c=1; b=\"x y\" [ c=d ] ] z=2");
    EXPECT_EQ(_vmap_cstream(&m, nullptr, &src, 0), 0);
    st_cstream_vmap_opt blk{0, 0, 0, VMAP_FMT_BLK};
    cstream_vmap(&w, &m, nullptr, &blk);
    EXPECT_EQ(vmap_cstream(&back, nullptr, &w), 0);
    EXPECT_EQ(dump(&back), "q/b=\"x y\"\nq/b/c=d\nq/c=1\nz=2\n");
    EXPECT_EQ(dump(&back), dump(&m));
    stream_end(&w);
    stream_end(&src);
    vmap_end(&m);
    vmap_end(&back);
}

TEST(VmapReader, RandomMapsRoundTrip)
{
    std::mt19937 rng(14);
    const char *parts[] = {"\"", "\\", "\n", "\t", " ", "=", "/", "[", "]", ";", "#", "a",
                           "Z9", "_", "\x82\xA0", "\xA0", "\xFF", "\xE3\x81", "-", "."};
    auto str = [&](bool lone) {
        std::string s;
        for (int n = rng() % 5; n > 0; n--)
            s += parts[rng() % (sizeof parts / sizeof *parts)];
        if (lone && rng() % 4 == 0)
            s += "\x82"; // a lead byte that ends the string
        return s;
    };
    for (int round = 0; round < 60; round++) {
        const bool lone = round % 2; // odd rounds: piped, every byte survives
        st_vmap m;
        vmap_set(&m, VMAP_NST);
        void *par[5] = {};
        for (int k = 0; k < 30; k++) {
            const int d = rng() % 4; // parent depth 0..3: keys up to depth 4
            void *nst = d && par[d] ? par[d] : nullptr;
            const std::string key = str(lone);
            void *nod = nullptr;
            if (rng() % 6 == 0) // without value: its nested keys carry it
                _vmap_put_str_nul(&m, nst, key.c_str(), &nod, 0);
            else if (rng() % 3 == 0)
                _vmap_put_str_int(&m, nst, key.c_str(), int32_t(rng()), &nod, 0);
            else
                _vmap_put_str_str(&m, nst, key.c_str(), str(lone).c_str(), &nod, 0);
            par[(nst ? d : 0) + 1] = nod;
        }
        const std::string want = dump(&m);
        for (uint8_t lay : {uint8_t(0), uint8_t(VMAP_FMT_BLK)}) {
            st_cstream_vmap_opt opt{0, 0, 0, lay};
            st_stream w{}, src{};
            st_vmap back;
            vmap_set(&back, VMAP_NST);
            cstream_vmap(&w, &m, nullptr, &opt);
            char *txt = nullptr;
            if (lone) { // the writer's characters straight into the reader
                EXPECT_EQ(vmap_cstream(&back, nullptr, &w), 0);
                stream_end(&w);
            } else {    // through bytes, decoded as Shift-JIS again
                ASSERT_EQ(cstream_to_vstr(&w, &txt), 0);
                cstream_str_set(&src, txt);
                EXPECT_EQ(vmap_cstream(&back, nullptr, &src), 0) << txt;
                stream_end(&src);
            }
            EXPECT_EQ(dump(&back), want) << "round " << round << " layout " << int(lay);
            _free(&txt);
            vmap_end(&back);
        }
        vmap_end(&m);
    }
}
