// Variant-map text: the writer's exact text in both layouts (quoting, depth
// and level options, keys without value, failures), the reader's
// statements, paths, blocks, quotes and options, failures with the keys
// stored before them, random maps written in both layouts and read back,
// and the reader's one-pass lexer against the splitter and analyzers it
// stands in for.
#include "base/diag/test_hook.h"
#include "base/text/text_impl.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

namespace
{

// The whole text of the writer over map below stt; its status after "|".
std::string text(st_vmap *map, void *stt = nullptr, uint32_t flg = 0, uint32_t dpt = 0,
                 uint32_t lvl = 0)
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

// A nested map; put() stores a string, an integer or (v none) no value
// under nst and hands out the key node.
struct nested {
    st_vmap m;
    nested() { vmap_set(&m, VMAP_NST); }
    ~nested() { vmap_end(&m); }
    void *put(void *nst, const char *k, const char *v = nullptr)
    {
        void *n = nullptr;
        EXPECT_EQ(
            v ? _vmap_put_str_str(&m, nst, k, v, &n, 0) : _vmap_put_str_nul(&m, nst, k, &n, 0), 0);
        return n;
    }
    void *put(void *nst, const char *k, int32_t v)
    {
        void *n = nullptr;
        EXPECT_EQ(_vmap_put_str_int(&m, nst, k, v, &n, 0), 0);
        return n;
    }
};

// Every key of map in walk order: its parent's key, its key and its value
// (keys without value too, which the writer leaves out).
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

// Reads txt into a fresh map, the allocation numbered fail failing (none
// for 0); the status, "|", the map's text (with all: every key, as keys()
// shows them).
std::string rd(const char *txt, uint32_t opt = VMAP_RD_VAL, uint32_t mod = VMAP_NST, int fail = 0,
               bool all = false)
{
    st_vmap m;
    vmap_set(&m, mod);
    st_stream src{};
    cstream_str_set(&src, txt);
    __mem_fail_at(fail);
    const int32_t st = _vmap_cstream(&m, nullptr, &src, opt);
    __mem_fail_at(0);
    stream_end(&src);
    std::string r = std::to_string(st) + "|" + (all ? keys(&m) : text(&m));
    vmap_end(&m);
    return r;
}

const std::string ERR1 = std::to_string(RTN_ERR1);

} // namespace

// The writer's exact text in both layouts, its options, pieces and failures.
TEST(VmapWriter, LayoutsDepthKeysWithoutValueQuotingPiecesAndFailures)
{
    nested t;
    void *a = t.put(nullptr, "a", 1);
    void *b = t.put(a, "b", "x y");
    // The initial depth puts tabs before every line and is closed at the end.
    EXPECT_EQ(text(&t.m, nullptr, 0, 1), "\ta=1\n\ta/b=\"x y\"\n]\n");
    EXPECT_EQ(text(&t.m, nullptr, 0, 0, 3), "|-1") << "level above 2";

    // Two levels closed at once; siblings in key order; a start node.
    // Negative integers and the empty string are quoted so that they read back; 0 is not.
    void *c = t.put(a, "c", -7);
    t.put(c, "d", "");
    t.put(nullptr, "0", 0);
    EXPECT_EQ(text(&t.m, nullptr, VMAP_FMT_BLK),
              "0=0\na=1\n[\n\tb=\"x y\"\n\tc=\"-7\"\n\t[\n\t\td=\"\"\n\t]\n]\n");
    EXPECT_EQ(text(&t.m, a, VMAP_FMT_BLK), "b=\"x y\"\nc=\"-7\"\n[\n\td=\"\"\n]\n");

    // Keys without value are carried by their nested keys' paths: a block
    // opens only after a key written without path.
    nested n;
    n.put(n.put(nullptr, "a"), "b", 1);
    n.put(nullptr, "lone");
    void *k = n.put(nullptr, "k", 2);
    n.put(n.put(k, "x"), "y", 3);
    n.put(k, "z", 4);
    EXPECT_EQ(text(&n.m), "a/b=1\nk=2\nk/x/y=3\nk/z=4\n");
    EXPECT_EQ(text(&n.m, nullptr, VMAP_FMT_BLK), "a/b=1\nk=2\n[\n\tx/y=3\n\tz=4\n]\n");

    // Quoting keeps every byte.
    nested q;
    q.put(nullptr, "q", "a\\b\"c\nd\te");
    q.put(nullptr, "w", "A_z9");
    q.put(nullptr, "x", "\xE3\x81\x82"); // ends in a Shift-JIS lead byte
    q.put(nullptr, "y", "\x83\x5C");     // a trail byte that is "\"
    q.put(nullptr, "z z", "[=/;#]");
    EXPECT_EQ(text(&q.m), "q=\"a\\\\b\\\"c\\nd\te\"\nw=A_z9\nx=\"\xE3\x81\x82\"\n"
                          "y=\"\x83\x5C\"\n\"z z\"=\"[=/;#]\"\n");

    // The pieces of "a/b" pushed into a chain the caller owns, and a parked stream.
    st_stream out{};
    st_cstream_vmap_opt blk{0, 0, 1, VMAP_FMT_BLK};
    ASSERT_EQ(cstream_vtyp_pr(&out, b, nullptr), 0);
    ASSERT_EQ(cstream_vtyp_key(&out, b, &blk), 0);
    EXPECT_EQ(cstream_vtyp_pr(&out, t.put(nullptr, "n"), nullptr), -1) << "no value";
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
    vmap_put_flt_int(&t.m, nullptr, 0.5, 1, 0);
    EXPECT_EQ(text(&t.m), "|-1") << "a float key fails the first pop";
    EXPECT_EQ(cstream_vmap(nullptr, nullptr, nullptr, nullptr), -1);
}

// The reader's statements, options and failures, which keep the keys
// stored before them.
TEST(VmapReader, StatementsPathsBlocksAndFailures)
{
    EXPECT_EQ(rd("a=1;b=2\n#\nx/y/z=3"), "0|a=1\nb=2\nx/y/z=3\n");
    EXPECT_EQ(rd("a=1 [ b=2"), "0|a=1\na/b=2\n") << "open brackets at the end are accepted";
    EXPECT_EQ(rd("a=-1"), "0|a=1\n") << "unmatched text is dropped";
    EXPECT_EQ(rd("q=\"x\\\"y\\\\z\tw\\n\\/\\t\""), "0|q=\"x\\\"y\\\\z\tw\\n/\t\"\n");
    // Read option 0: line ends end reading at an empty line.
    EXPECT_EQ(rd("a=1\nb=2", VMAP_RD_LIN), "0|a=1\nb=2\n");
    EXPECT_EQ(rd("a=1\n\nb=2", VMAP_RD_LIN), "0|a=1\n");
    // A map without nests: "/" is no path.
    EXPECT_EQ(rd("a=1;k", 0, 0), "1|a=1\n") << "a key at the end is not stored";
    // A bare key is stored without value when allowed; its nested keys show it.
    EXPECT_EQ(rd("a; a [ b=1 ]", 0), "0|a/b=1\n");
    // Failures keep what was stored before them.
    EXPECT_EQ(rd("a=1 ]"), "-1|a=1\n");
    EXPECT_EQ(rd("a=1 b=2"), "-1|a=1\n") << "a statement not ended";
    EXPECT_EQ(rd("a=1;b;"), "-1|a=1\n") << "a bare key with the default option";
    EXPECT_EQ(rd("a=1;= 2"), ERR1 + "|a=1\n");
    EXPECT_EQ(rd("a=1;b="), "1|a=1\n");
    EXPECT_EQ(rd("a=1;b/"), "-1|a=1\n");
    EXPECT_EQ(rd("a=1;\"b"), ERR1 + "|a=1\n") << "an unclosed quote";
    // Every allocation of a read failing in turn: a failure, or the whole map.
    const char *full = "a=1 [ b=\"x y\" ]; c=abcdefghijklmnopqrstuvwxyz0123456789";
    std::string got;
    int n = 0;
    do {
        got = rd(full, VMAP_RD_VAL, VMAP_NST, ++n);
        EXPECT_TRUE(got[0] != '0' ||
                    got == "0|a=1\na/b=\"x y\"\nc=abcdefghijklmnopqrstuvwxyz0123456789\n")
            << "allocation " << n;
    } while (got[0] != '0' && n < 2000);
    EXPECT_GT(n, 20) << "the reader did allocate";
}

// Random maps written in both layouts and read back: first through bytes,
// decoded as Shift-JIS again; in odd rounds the writer's characters go
// straight into the reader, so every byte survives (strings may end in a
// lone lead byte). In block layout a "]" must return the reader to the key
// without value that the path of the block's key went through.
TEST(VmapReader, RandomMapsRoundTrip)
{
    std::mt19937 rng(14);
    const char *parts[] = {"\"",       "\\",   "\n",   "\t",       " ", "=",  "/",
                           "[",        "]",    ";",    "#",        "a", "Z9", "_",
                           "\x82\xA0", "\xA0", "\xFF", "\xE3\x81", "-", "."};
    auto str = [&](bool lone) {
        std::string s;
        for (int n = rng() % 5; n > 0; n--)
            s += parts[rng() % (sizeof parts / sizeof *parts)];
        if (lone && rng() % 4 == 0)
            s += "\x82"; // a lead byte that ends the string
        return s;
    };
    for (int round = 0; round < 60; round++) {
        const bool lone = round % 2;
        nested t;
        void *par[5] = {};
        for (int k = 0; k < 30; k++) {
            const int d = rng() % 4; // parent depth 0..3: keys up to depth 4
            void *nst = d && par[d] ? par[d] : nullptr;
            const std::string key = str(lone);
            void *nod;
            if (rng() % 6 == 0) // without value: its nested keys carry it
                nod = t.put(nst, key.c_str());
            else if (rng() % 3 == 0)
                nod = t.put(nst, key.c_str(), int32_t(rng()));
            else
                nod = t.put(nst, key.c_str(), str(lone).c_str());
            par[(nst ? d : 0) + 1] = nod;
        }
        const std::string want = text(&t.m);
        for (uint8_t lay : {uint8_t(0), uint8_t(VMAP_FMT_BLK)}) {
            st_cstream_vmap_opt opt{0, 0, 0, lay};
            st_stream w{}, src{}, *in = &w;
            nested back;
            cstream_vmap(&w, &t.m, nullptr, &opt);
            char *txt = nullptr;
            if (!lone) {
                ASSERT_EQ(cstream_to_vstr(&w, &txt), 0);
                cstream_str_set(in = &src, txt);
            }
            EXPECT_EQ(vmap_cstream(&back.m, nullptr, in), 0) << (txt ? txt : "");
            stream_end(in);
            EXPECT_EQ(text(&back.m), want) << "round " << round << " layout " << int(lay);
            _free(&txt);
        }
    }
}

// Random texts of the format's marks read by the lexer and by the splitter
// and analyzers give the same status and the same keys, values and nests.
TEST(VmapLexer, ReadsRandomTextsAsTheSplitterAndAnalyzersDo)
{
    // Pieces of the syntax and a Shift-JIS lead byte that takes the byte
    // after it (a quote too).
    const char *const piece[] = {"a",   "b1",   "_",      "=",      "\"",     "\\",   "\\\"",
                                 "\\n", "\\q",  " ",      "\t",     "\n",     "[",    "]",
                                 ";",   "/",    "#",      ".",      "\r",     "\\\\", "\\/",
                                 "\\t", "\x81", "\x81\"", "\xE0\\", "\\\x81", "a=b",  "a=\"x y\""};
    std::mt19937 rng(1207);
    for (int i = 0; i < 1000 && !HasFailure(); i++) {
        std::string t;
        for (int n = int(rng() % 14); n > 0; n--)
            t += piece[rng() % (sizeof piece / sizeof *piece)];
        for (uint32_t opt : {0u, uint32_t(VMAP_RD_LIN), uint32_t(VMAP_RD_VAL)})
            for (uint8_t mod : {uint8_t(VMAP_NST), uint8_t(0)})
                ASSERT_EQ(rd(t.c_str(), opt, mod, 0, true),
                          rd(t.c_str(), opt | VMAP_RD_ANR, mod, 0, true))
                    << "opt " << opt << " mode " << int(mod) << " text:\n"
                    << testing::PrintToString(t);
    }
}
