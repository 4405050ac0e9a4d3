// The run function: checked against a plain model of the keyed diff over
// random tables (every report line of every run, in order), and over real
// commands for memory, odd output, the key decoder and the row map's depth.
#include "main/rundif.h"
#include "base/diag/test_hook.h"
#include "tests/sjis_locale.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <clocale>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <malloc.h>
#include <map>
#include <random>
#include <string>
#include <utility>
#include <unistd.h>
#include <vector>

#if defined(__SANITIZE_ADDRESS__)
extern "C" size_t __sanitizer_get_current_allocated_bytes();
#define LIVE_BYTES() __sanitizer_get_current_allocated_bytes()
#else
#define LIVE_BYTES() mallinfo2().uordblks
#endif

namespace
{

using i128 = __int128;

struct Row {
    std::string line;            // the line
    std::map<int32_t, i128> val; // watched column -> value
};

// Leading white space, optional sign, digits, clamped to 128 bits (the
// digits compared as text with the bound).
i128 model_value(const std::string &t)
{
    size_t i = t.find_first_not_of(" \t\n\v\f\r");
    if (i == std::string::npos)
        return 0;
    const bool neg = t[i] == '-';
    i += t[i] == '-' || t[i] == '+';
    std::string d;
    for (; i < t.size() && isdigit((unsigned char)t[i]); i++)
        if (!d.empty() || t[i] != '0')
            d += t[i];
    const std::string lim =
        neg ? "170141183460469231731687303715884105728" : "170141183460469231731687303715884105727";
    if (d.size() > lim.size() || (d.size() == lim.size() && d > lim))
        d = lim;
    i128 v = 0;
    for (char c : d)
        v = v * 10 - (c - '0'); // toward minus: the negative bound fits
    return neg ? v : -v;
}

// value / scale, rounded toward minus infinity: a negative remainder means
// the quotient was rounded up.
i128 model_band(i128 v, int32_t scl)
{
    return v / scl - (v % scl < 0);
}

// Columns of a line: a run of separators is one, a leading separator gives
// an empty column 0, one before the line end adds no column.
std::map<int32_t, std::string> model_columns(const std::string &ln, char sep)
{
    std::map<int32_t, std::string> col;
    std::string txt;
    bool in_seps = false;
    for (char c : ln) {
        if (c != sep)
            txt += c;
        else if (!in_seps)
            col[int32_t(col.size())] = std::exchange(txt, "");
        in_seps = c == sep;
    }
    if (!txt.empty())
        col[int32_t(col.size())] = txt;
    return col;
}

// Reference of the diff: std::map generations of row lists, ordered by
// bytes; the k-th row of a key is matched with the k-th of the last run.
struct Model {
    const st_settings &set;
    std::map<std::string, std::vector<Row>> prv = {}, cur = {};
    std::string rep = {};

    void line(const std::string &ln)
    {
        const char sep = char(set.sep);
        std::map<int32_t, std::string> col = model_columns(ln, sep);
        auto text = [&](int32_t c) { return col.count(c) ? col[c] : std::string(); };
        for (int32_t i = 0; i < set.exc_cnt; i++)
            if (col.count(set.exc[i].col) && col[set.exc[i].col] == set.exc[i].txt)
                return;
        std::string key = set.key_cnt ? "" : ln;
        for (int32_t i = 0; i < set.key_cnt; i++)
            key += text(set.key[i]) + sep;
        std::vector<Row> &rows = cur[key];
        const size_t k = rows.size();
        Row *old = k < prv[key].size() ? &prv[key][k] : nullptr;
        Row &row = rows.emplace_back(Row{ln, {}});
        char mark = old ? 0 : '+';
        for (int32_t i = 0; i < set.wtc_cnt; i++) {
            const st_watch &w = set.wtc[i];
            i128 v = row.val[w.col] = model_value(text(w.col));
            if (old && !mark && model_band(v, w.scl) != model_band(old->val[w.col], w.scl))
                mark = '*';
        }
        if (mark)
            rep += std::string(1, mark) + " " + ln + "\n";
    }
    void run(const std::string &out)
    {
        size_t b = 0;
        for (size_t e; b < out.size(); b = e + 1) {
            e = std::min(out.find('\n', b), out.size()); // a last line needs no line feed
            line(out.substr(b, e - b));
        }
        for (auto &[key, rows] : prv)
            for (size_t k = cur.count(key) ? cur[key].size() : 0; k < rows.size(); k++)
                rep += "- " + rows[k].line + "\n";
        prv = std::move(cur);
        cur.clear();
    }
};

// Settings and generations for runs whose reports go to a memory file.
struct Rig {
    st_settings set = {};
    st_generations gen = {};
    char *buf = nullptr;
    size_t len = 0, seen = 0;
    std::string path = testing::TempDir() + "rundif-model-XXXXXX", cmd;
    int fd0 = dup(2); // the lowest free descriptor: the runs leave it free

    Rig()
    {
        close(fd0);
        set.sep = ' ';
        set.spn = 1;
        set.fil = open_memstream(&buf, &len);
        EXPECT_EQ(close(mkstemp(path.data())), 0);
        EXPECT_EQ(generations_set(&gen), 0);
    }
    ~Rig()
    {
        uint32_t cnt = 99;
        rscmng_cnt(nullptr, &cnt);
        EXPECT_EQ(cnt, 0u) << "resources left registered";
        const int fd = dup(2);
        EXPECT_EQ(fd, fd0) << "descriptors left open";
        close(fd);
        generations_end(&gen);
        unlink(path.c_str());
        fclose(set.fil);
        free(buf);
    }
    // The report of one run of command.
    std::string run(const std::string &command)
    {
        cmd = command;
        set.cmd = cmd.data();
        EXPECT_EQ(monitor_run(&set, &gen, 0), 0) << command;
        fflush(set.fil);
        std::string rep(buf + seen, len - seen);
        seen = len;
        return rep;
    }
    // Runs every output (written to a file that cat prints) against both
    // the run function and the model.
    void check(const std::vector<std::string> &outs)
    {
        Model m{set};
        for (size_t i = 0; i < outs.size(); i++) {
            SCOPED_TRACE("run " + std::to_string(i) + " over:\n" + outs[i]);
            std::ofstream(path, std::ios::binary) << outs[i];
            m.rep.clear();
            m.run(outs[i]);
            ASSERT_EQ(run("cat " + path), m.rep);
            if (restarts)
                restart();
        }
    }
    // A restart: the rows go through the state file into new generations.
    bool restarts = false;
    void restart()
    {
        set.state = path.c_str(); // the outputs' file is free between runs
        ASSERT_EQ(state_save(&set, &gen), 0);
        generations_end(&gen);
        ASSERT_EQ(generations_set(&gen), 0);
        ASSERT_EQ(state_load(&set, &gen), 0);
        set.state = nullptr;
    }
};

const char *const kWords[] = {"a", "b", "\xC3\x84", "\xE6\x97\xA5\xE6\x9C\xAC", "x"};
// Bytes that the state's text format quotes, escapes or pairs: a lead byte
// that ends a text, DEL, quotes, backslashes, brackets, invalid UTF-8.
const char *const kOdd[] = {"q\"\\", "\x93", "\x7f", "[#/=;]", "\x1f\xff\x81\"\t"};
// clang-format off
const char *const kNums[] = {"0", "5", "-5", "9", "10", "19", "20", "-19", "12abc", "abc", "+7",
                             " 12", "-1", "1", "2147483648", "4294967296", "-4294967297",
                             "9223372036854775807", "9223372036854775808", "18446744073709551615",
                             "18446744073709551616", "99999999999999999999",
                             "170141183460469231731687303715884105727",
                             "170141183460469231731687303715884105728",
                             "-170141183460469231731687303715884105729"};
// clang-format on
const int kNumCnt = int(std::size(kNums));
const char kSeps[] = {' ', ';', ','};
const int32_t kScales[] = {1, 2, 10, 1000, 2147483647};

// Random tables: a small alphabet so keys repeat within and across runs;
// in a duplicate-heavy scenario rows come in runs of equal lines and keys.

struct Tables {
    std::mt19937 rng{20261207};
    bool dups = false; // rows repeat, lines too
    bool odd = false;  // the words are kOdd
    int pick(int n) { return int(rng() % unsigned(n)); }
    bool pct(int p) { return pick(100) < p; }

    std::vector<std::string> fresh()
    {
        std::vector<std::string> tok(pct(8) ? pick(2) : 2 + pick(5));
        for (size_t i = 0; i < tok.size(); i++)
            tok[i] = pct(i < 2 ? 80 : 20) ? (odd ? kOdd : kWords)[pick(5)] : kNums[pick(kNumCnt)];
        return tok;
    }
    std::string join(const std::vector<std::string> &tok, char sep)
    {
        std::string s = pct(10) ? std::string(1, sep) : "";
        for (size_t i = 0; i < tok.size(); i++)
            s += (i ? std::string(pct(10) ? 2 : 1, sep) : "") + tok[i];
        if (pct(8))
            s += sep; // adds no column
        return pct(10) ? s + "\r" : s;
    }
    // 2 to 6 outputs; rows of a run are copied, changed in one column or new.
    std::vector<std::string> outputs(char sep)
    {
        std::vector<std::string> outs;
        std::vector<std::vector<std::string>> prv, cur;
        for (int r = 2 + pick(5); r > 0; r--, prv = std::move(cur), cur.clear()) {
            std::string out;
            for (int n = pick(26); n > 0; n--) {
                int how = prv.empty() ? 2 : pick(3);
                cur.push_back(how == 2 ? fresh() : prv[pick(int(prv.size()))]);
                std::vector<std::string> &tok = cur.back();
                if (how == 1 && tok.size() > 2) // mostly a watched column
                    tok[2 + pick(int(tok.size()) - 2)] = kNums[pick(kNumCnt)];
                for (int copies = dups ? 1 + pick(4) : 1; copies > 0; copies--)
                    out += join(tok, sep) + "\n";
            }
            outs.push_back(out + (pct(10) ? join(fresh(), sep) : ""));
        }
        return outs;
    }
    void settings(st_settings &set)
    {
        set.sep = kSeps[pick(3)];
        set.key_cnt = pct(30) ? 0 : 1 + pick(3);
        for (int32_t i = 0; i < set.key_cnt; i++)
            set.key[i] = pick(pct(80) ? 2 : 5);
        set.wtc_cnt = pct(15) ? 0 : 1 + pick(3);
        for (int32_t i = 0; i < set.wtc_cnt; i++)
            set.wtc[i] = {1 + pick(5), kScales[pick(5)]};
        set.exc_cnt = pct(60) ? 0 : 1 + pick(2);
        for (int32_t i = 0; i < set.exc_cnt; i++)
            set.exc[i] = {pick(4), pct(20) ? "" : kWords[pick(5)]};
    }
};

// Run on, and restarted through the state file after every run: the
// rows, repeated ones in their order, watched values and lines come back
// as they were, whatever their bytes, and the reports stay the model's.
TEST(MonitorModel, RandomTablesReportLikeTheModelAlsoThroughRestarts)
{
    // The console decoder reads UTF-8 meanwhile; the locale comes back after.
    const std::string old = setlocale(LC_CTYPE, nullptr);
    setlocale(LC_CTYPE, "C.UTF-8");
    EXPECT_TRUE(cstream_console_utf8());
    for (bool restarts : {false, true}) {
        Tables t;
        for (int sc = 0; sc < (restarts ? 40 : 80) && !HasFatalFailure(); sc++) {
            SCOPED_TRACE("scenario " + std::to_string(sc) + (restarts ? " with restarts" : ""));
            Rig rig;
            rig.restarts = restarts;
            t.dups = sc % 2;
            t.odd = restarts && sc % 4 >= 2;
            t.settings(rig.set);
            rig.check(t.outputs(char(rig.set.sep)));
        }
    }
    setlocale(LC_CTYPE, old.c_str());
}

// 64-bit counters move bands up to their last value (a 64-bit reading
// clamped them), and every band is scale wide, the one around 0 too: -1
// and 1 lie in different bands of 10, -10 and -1 in one.
TEST(MonitorModel, WatchedValuesAtTheEdges)
{
    Rig rig;
    rig.set.key[rig.set.key_cnt++] = 0;
    rig.set.wtc[rig.set.wtc_cnt++] = {1, 1};
    rig.set.wtc[rig.set.wtc_cnt++] = {2, 10};
    rig.check({"p 9223372036854775807 -1\n", "p 9223372036854775808 -1\n",
               "p 18446744073709551615 -1\n", "p 18446744073709551615 1\n",
               "p 18446744073709551615 -10\n", "p 18446744073709551615 -1\n",
               "p 18446744073709551615 -11\n"});
    EXPECT_EQ(std::string(rig.buf, rig.len),
              "+ p 9223372036854775807 -1\n* p 9223372036854775808 -1\n"
              "* p 18446744073709551615 -1\n* p 18446744073709551615 1\n"
              "* p 18446744073709551615 -10\n* p 18446744073709551615 -11\n");
}

TEST(MonitorRun, BinaryHugeAndEmptyOutputsThenRepeatedRunsLeakNothing)
{
    Rig r;
    r.set.key[r.set.key_cnt++] = 0;
    r.set.wtc[r.set.wtc_cnt++] = {1, 10};
    // NUL bytes and no line feed at all: one line, empty up to its NUL.
    EXPECT_EQ(r.run("head -c 300000 /dev/zero"), "+ \n");
    // One 1 MB line, then a short one; a command that prints nothing: the
    // previous rows vanish.
    const std::string mb(1000000, 'a');
    EXPECT_EQ(r.run("sh -c \"head -c 1000000 /dev/zero | tr '\\000' a; echo; echo b\""),
              "+ " + mb + "\n+ b\n- \n");
    EXPECT_EQ(r.run("true"), "- " + mb + "\n- b\n");
    // A key of exactly twice a new text's room grows it with room for the NUL.
    EXPECT_EQ(r.run("awk \"BEGIN { print sprintf(\\\"%0128d\\\", 0) }\""),
              "+ " + std::string(128, '0') + "\n");

    const std::string cmd = "awk \"BEGIN { for (i = 0; i < 1000; i++) print i, i * 7 }\"";
    ASSERT_NE(r.run(cmd), "") << "the first run reports its rows";
    const size_t before = LIVE_BYTES();
    for (int i = 0; i < 50; i++)
        ASSERT_EQ(r.run(cmd), "");
    EXPECT_LE(LIVE_BYTES(), before + 4096); // slack for stdio's own buffers
}

TEST(MonitorRun, NonAsciiKeyColumnGoesThroughTheDecoder)
{
    if (sjis_locpath().empty())
        GTEST_SKIP() << "localedef cannot make a Shift-JIS locale";
    setenv("LOCPATH", sjis_locpath().c_str(), 1);
    const std::string old = setlocale(LC_CTYPE, nullptr);
    ASSERT_NE(setlocale(LC_CTYPE, "ja_JP.SJIS"), nullptr);
    Rig r;
    r.set.key[r.set.key_cnt++] = 1;
    // 0x81 then a zero byte is one character that writes back as 0x81 alone;
    // as the last byte of a key column it has no trail byte and leaves the
    // key, which then equals that of the line "b" (no column 1).
    const std::string cmd = "printf \"a \\201\\000 x\\nb\\n\"";
    EXPECT_EQ(r.run(cmd), "+ a \x81 x\n+ b\n");
    EXPECT_EQ(r.run(cmd), "") << "the same two rows of one key";
    // Under UTF-8 the lone 0x81 is a character of its own: the keys differ.
    setlocale(LC_CTYPE, "C.UTF-8");
    EXPECT_EQ(r.run(cmd), "+ a \x81\n- b\n"); // the line ends at its NUL
    setlocale(LC_CTYPE, old.c_str());
    unsetenv("LOCPATH");
}

// Keys enough that probes run through long clusters as the index grows
// (once refused by a failed allocation), then half deleted at random: each
// key kept is found with its run number, no key deleted is, and deleting
// one twice changes nothing.
TEST(RowIndex, FindsExactlyTheKeysKeptThroughGrowthAndDeletes)
{
    st_vmap rows;
    ASSERT_EQ(vmap_set(&rows, 0), 0);
    st_row_index idx = {};
    std::vector<std::string> key(6000);
    std::vector<void *> nod(key.size());
    std::vector<bool> kept(key.size(), true);
    for (uint32_t i = 0; i < key.size(); i++) {
        key[i] = "k" + std::to_string(i * 7919);
        ASSERT_EQ(_vmap_put_str_nul(&rows, nullptr, key[i].c_str(), &nod[i], 0), 0);
        const uint64_t hsh = row_hash(key[i].data(), key[i].size());
        if (i == 768) { // three quarters of the first 1024 slots: the index must grow
            __mem_fail_at(1);
            ASSERT_EQ(row_index_add(&idx, nod[i], hsh, i), -1);
            ASSERT_TRUE(idx.cnt == i && row_index_find(&idx, key[0].c_str(), row_hash("k0", 2)));
        }
        ASSERT_EQ(row_index_add(&idx, nod[i], hsh, i), 0);
    }
    std::mt19937 rng(5);
    for (uint32_t i = 0; i < key.size(); i++)
        if (rng() % 2)
            for (int twice = 0; twice < 2; twice++)
                row_index_del(&idx, nod[i]), kept[i] = false;
    size_t n = 0;
    for (uint32_t i = 0; i < key.size(); i++) {
        const st_row_slot *s =
            row_index_find(&idx, key[i].c_str(), row_hash(key[i].data(), key[i].size()));
        ASSERT_EQ(s != nullptr, kept[i]) << key[i];
        ASSERT_TRUE(!s || (s->nod == nod[i] && s->no == i)) << key[i];
        n += kept[i];
    }
    EXPECT_EQ(idx.cnt, n);
    // Nearly all deleted: the slots shrink and the keys left stay found.
    for (uint32_t i = 0; i + 50 < key.size(); i++)
        row_index_del(&idx, nod[i]);
    const size_t cap = idx.cap;
    row_index_fit(&idx);
    EXPECT_TRUE(idx.cap < cap && 4 * idx.cnt <= idx.cap) << idx.cap;
    for (uint32_t i = 0; i < key.size(); i++)
        ASSERT_EQ(row_index_find(&idx, key[i].c_str(), row_hash(key[i].data(), key[i].size())) !=
                      nullptr,
                  i + 50 >= key.size() && kept[i]);
    row_index_end(&idx);
    vmap_end(&rows);
}

TEST(MonitorRun, RowMapStaysShallowUnderChurn)
{
    // Each run a third of the 3000 rows is new and the last run's new rows
    // vanish; deletes alone would let the tree grow ever deeper.
    Rig r;
    std::function<int(const void *)> height = [&](const void *n) {
        const st_map *m = &r.gen.rows.map;
        return n ? 1 + std::max(height(map_nod_lnk(m, n, 0)), height(map_nod_lnk(m, n, 1))) : 0;
    };
    for (int run = 1; run <= 30; run++)
        r.run("awk \"BEGIN { srand(" + std::to_string(run) +
              "); for (i = 0; i < 3000; i++) print (rand() < 0.33 ? \\\"n\\\" " +
              std::to_string(run) + " : \\\"k\\\") i }\"");
    uint32_t n = 0;
    map_cnt(&r.gen.rows.map, &n);
    EXPECT_GT(n, 2500u);
    EXPECT_LE(height(r.gen.rows.map.root), 2 * std::log2(n + 1.0) + 2) << n << " rows";
}

} // namespace
