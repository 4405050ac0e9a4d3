// Variant-map text writer: exact text of maps in both layouts, quoting,
// depth and level options, keys without value, failures.
#include "base/text/text.h"

#include <gtest/gtest.h>

#include <string>

namespace
{

// The whole text of the writer over map below stt; its status after "|".
std::string text(st_vmap *map, void *stt, uint32_t flg, uint32_t dpt = 0, uint32_t lvl = 0)
{
    st_cstream_vmap_opt opt{lvl, 0, dpt, static_cast<uint8_t>(flg)};
    st_stream stm{};
    EXPECT_EQ(cstream_vmap(&stm, map, stt, &opt), 0);
    char *out = nullptr;
    const int32_t st = cstream_to_vstr(&stm, &out);
    std::string s = out ? out : "";
    _free(&out);
    return st ? s + "|" + std::to_string(st) : s;
}

struct nested {
    st_vmap m;
    nested() { vmap_set(&m, VMAP_NST); }
    ~nested() { vmap_end(&m); }
    void *str(void *nst, const char *k, const char *v)
    {
        void *n = nullptr;
        EXPECT_EQ(_vmap_put_str_str(&m, nst, k, v, &n, 0), 0);
        return n;
    }
    void *num(void *nst, const char *k, int32_t v)
    {
        void *n = nullptr;
        EXPECT_EQ(_vmap_put_str_int(&m, nst, k, v, &n, 0), 0);
        return n;
    }
    void *nul(void *nst, const char *k)
    {
        void *n = nullptr;
        EXPECT_EQ(_vmap_put_str_nul(&m, nst, k, &n, 0), 0);
        return n;
    }
};

} // namespace

TEST(VmapWriter, LayoutsAndDepth)
{
    nested t;
    void *a = t.num(nullptr, "a", 1);
    t.str(a, "b", "x y");
    EXPECT_EQ(text(&t.m, nullptr, 0), "a=1\na/b=\"x y\"\n");
    EXPECT_EQ(text(&t.m, nullptr, VMAP_FMT_BLK), "a=1\n[\n\tb=\"x y\"\n]\n");
    // The initial depth puts tabs before every line and is closed at the end.
    EXPECT_EQ(text(&t.m, nullptr, 0, 1), "\ta=1\n\ta/b=\"x y\"\n]\n");

    // Two levels closed at once; siblings in key order; a start node.
    void *c = t.num(a, "c", -7);
    t.str(c, "d", "");
    t.num(nullptr, "0", 4);
    EXPECT_EQ(text(&t.m, nullptr, VMAP_FMT_BLK),
              "0=4\na=1\n[\n\tb=\"x y\"\n\tc=\"-7\"\n\t[\n\t\td=\"\"\n\t]\n]\n");
    EXPECT_EQ(text(&t.m, a, 0), "a/b=\"x y\"\na/c=\"-7\"\na/c/d=\"\"\n");
    EXPECT_EQ(text(&t.m, a, VMAP_FMT_BLK), "b=\"x y\"\nc=\"-7\"\n[\n\td=\"\"\n]\n");

    // A map without nests writes flat in block layout too.
    st_vmap f;
    vmap_set(&f, 0);
    vmap_put_str_str(&f, nullptr, "k", "v", 0);
    EXPECT_EQ(text(&f, nullptr, VMAP_FMT_BLK), "k=v\n");
    vmap_end(&f);
}

TEST(VmapWriter, QuotingKeepsEveryByte)
{
    nested t;
    t.str(nullptr, "q", "a\\b\"c\nd\te");
    t.str(nullptr, "w", "A_z9");
    t.str(nullptr, "x", "\xE3\x81\x82");     // ends in a Shift-JIS lead byte
    t.str(nullptr, "y", "\x83\x5C");         // a trail byte that is "\"
    t.str(nullptr, "z z", "[=/;#]");
    EXPECT_EQ(text(&t.m, nullptr, 0), "q=\"a\\\\b\\\"c\\nd\te\"\nw=A_z9\nx=\"\xE3\x81\x82\"\n"
                                      "y=\"\x83\x5C\"\n\"z z\"=\"[=/;#]\"\n");
}

TEST(VmapWriter, KeysWithoutValueAreCarriedByPaths)
{
    nested t;
    void *a = t.nul(nullptr, "a");
    t.num(a, "b", 1);
    t.nul(nullptr, "lone");
    EXPECT_EQ(text(&t.m, nullptr, 0), "a/b=1\n");
    EXPECT_EQ(text(&t.m, nullptr, VMAP_FMT_BLK), "a/b=1\n");

    void *k = t.num(nullptr, "k", 2);
    void *x = t.nul(k, "x");
    t.num(x, "y", 3);
    t.num(k, "z", 4);
    EXPECT_EQ(text(&t.m, nullptr, VMAP_FMT_BLK), "a/b=1\nk=2\n[\n\tx/y=3\n\tz=4\n]\n");
}

TEST(VmapWriter, FailuresAndPieces)
{
    nested t;
    void *a = t.num(nullptr, "a", 1);
    void *b = t.str(a, "b", "x y");
    EXPECT_EQ(text(&t.m, nullptr, 0, 0, 3), "|-1") << "level above 2";
    EXPECT_EQ(text(&t.m, nullptr, 0, 0, 2), "a=1\na/b=\"x y\"\n");
    vmap_put_flt_int(&t.m, nullptr, 0.5, 1, 0);
    EXPECT_EQ(text(&t.m, nullptr, 0), "|-1") << "a float key fails the first pop";
    EXPECT_EQ(cstream_vmap(nullptr, nullptr, nullptr, nullptr), -1);

    // The pieces pushed into a chain the caller owns, and a parked stream.
    st_stream out{};
    st_cstream_vmap_opt blk{0, 0, 1, VMAP_FMT_BLK};
    ASSERT_EQ(cstream_vtyp_pr(&out, b, nullptr), 0);
    ASSERT_EQ(cstream_vtyp_key(&out, b, &blk), 0);
    EXPECT_EQ(cstream_vtyp_pr(&out, t.nul(nullptr, "n"), nullptr), -1) << "no value";
    void *v = nullptr;
    ASSERT_EQ(vtyp_get_lnk(b, &v, 0), 0);
    ASSERT_EQ(cstream_vtyp(nullptr, v, nullptr), 0);
    st_stream *parked = stkptr(nullptr, nullptr);
    ASSERT_NE(parked, nullptr);
    ASSERT_EQ(stream_psh(&out, parked), 0);
    char *s = nullptr;
    ASSERT_EQ(cstream_to_vstr(&out, &s), 0);
    EXPECT_STREQ(s, "a/b=\"x y\"\tb\"x y\"");
    _free(&s);
}
