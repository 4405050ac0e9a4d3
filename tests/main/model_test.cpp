// The run function: checked against a plain model of the keyed diff over
// random tables (every report line of every run, in order), and over real
// commands for memory, odd output, the key decoder and the row map's depth.
#include "main/rundif.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <clocale>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
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

struct Row {
    std::string line;               // last line stored under the key
    std::map<int32_t, int64_t> val; // watched column -> value
};

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

// Reference of the diff: std::map generations, ordered by bytes.
struct Model {
    const st_settings &set;
    std::map<std::string, Row> prv = {}, cur = {};
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
        auto old = prv.find(key);
        char mark = old == prv.end() ? '+' : 0;
        Row &row = cur[key];
        row.line = ln;
        for (int32_t i = 0; i < set.wtc_cnt; i++) {
            const st_watch &w = set.wtc[i];
            // Leading blanks, optional sign, digits, clamped to 64 bits.
            int64_t v = row.val[w.col] = std::strtoll(text(w.col).c_str(), nullptr, 10);
            if (old != prv.end() && !mark && v / w.scl != old->second.val[w.col] / w.scl)
                mark = '*';
        }
        if (old != prv.end())
            prv.erase(old);
        if (mark)
            rep += std::string(1, mark) + " " + ln + "\n";
    }
    void run(const std::string &out)
    {
        size_t b = 0;
        for (size_t e; (e = out.find('\n', b)) != std::string::npos; b = e + 1)
            line(out.substr(b, e - b)); // an unterminated last line is dropped
        for (auto &[key, row] : prv)
            rep += "- " + row.line + "\n";
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

    Rig()
    {
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
            FILE *f = fopen(path.c_str(), "wb");
            ASSERT_NE(f, nullptr);
            const size_t put = fwrite(outs[i].data(), 1, outs[i].size(), f);
            ASSERT_EQ(fclose(f), 0);
            ASSERT_EQ(put, outs[i].size());
            m.rep.clear();
            m.run(outs[i]);
            ASSERT_EQ(run("cat " + path), m.rep);
        }
    }
};

const char *const kWords[] = {"a", "b", "\xC3\x84", "\xE6\x97\xA5\xE6\x9C\xAC", "x"};
// clang-format off
const char *const kNums[] = {"0", "5", "-5", "9", "10", "19", "20", "-19", "12abc", "abc", "+7",
                             " 12", "2147483647", "2147483648", "4294967296", "4294967297",
                             "-4294967297", "-2147483649", "99999999999999999999"};
// clang-format on
const char kSeps[] = {' ', ';', ','};
const int32_t kScales[] = {1, 2, 10, 1000, 2147483647};

// Random tables: a small alphabet so keys repeat within and across runs.
struct Tables {
    std::mt19937 rng{20261207};
    int pick(int n) { return int(rng() % unsigned(n)); }
    bool pct(int p) { return pick(100) < p; }

    std::vector<std::string> fresh()
    {
        std::vector<std::string> tok(pct(8) ? pick(2) : 2 + pick(5));
        for (size_t i = 0; i < tok.size(); i++)
            tok[i] = pct(i < 2 ? 80 : 20) ? kWords[pick(5)] : kNums[pick(19)];
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
                    tok[2 + pick(int(tok.size()) - 2)] = kNums[pick(19)];
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

TEST(MonitorModel, RandomTablesReportLikeTheModel)
{
    // The console decoder reads UTF-8 meanwhile; the locale comes back after.
    const std::string old = setlocale(LC_CTYPE, nullptr);
    setlocale(LC_CTYPE, "C.UTF-8");
    EXPECT_TRUE(cstream_console_utf8());
    Tables t;
    for (int sc = 0; sc < 60 && !HasFatalFailure(); sc++) {
        SCOPED_TRACE("scenario " + std::to_string(sc));
        Rig rig;
        t.settings(rig.set);
        rig.check(t.outputs(char(rig.set.sep)));
    }
    setlocale(LC_CTYPE, old.c_str());
}

// Byte counts above 2^31 still move bands (a 32-bit reading clamped them
// all to one value), in the run function and in the model.
TEST(MonitorModel, WatchedValuesBeyond32Bits)
{
    Rig rig;
    rig.set.key[rig.set.key_cnt++] = 0;
    rig.set.wtc[rig.set.wtc_cnt++] = {1, 1};
    rig.check({"p 2147483648\n", "p 4294967296\n", "p 4294967297\n", "p -4294967297\n"});
    EXPECT_EQ(std::string(rig.buf, rig.len),
              "+ p 2147483648\n* p 4294967296\n* p 4294967297\n* p -4294967297\n");
}

TEST(MonitorRun, BinaryHugeAndEmptyOutputsThenRepeatedRunsLeakNothing)
{
    Rig r;
    r.set.key[r.set.key_cnt++] = 0;
    r.set.wtc[r.set.wtc_cnt++] = {1, 10};
    // NUL bytes and no line feed at all: nothing is compared.
    EXPECT_EQ(r.run("head -c 300000 /dev/zero"), "");
    // One 1 MB line, then a short one; a command that prints nothing: the
    // previous rows vanish.
    const std::string mb(1000000, 'a');
    EXPECT_EQ(r.run("sh -c \"head -c 1000000 /dev/zero | tr '\\000' a; echo; echo b\""),
              "+ " + mb + "\n+ b\n");
    EXPECT_EQ(r.run("true"), "- " + mb + "\n- b\n");

    const std::string cmd = "awk \"BEGIN { for (i = 0; i < 1000; i++) print i, i * 7 }\"";
    ASSERT_NE(r.run(cmd), "") << "the first run reports its rows";
    const size_t before = LIVE_BYTES();
    for (int i = 0; i < 50; i++)
        ASSERT_EQ(r.run(cmd), "");
    EXPECT_LE(LIVE_BYTES(), before + 4096); // slack for stdio's own buffers
}

TEST(MonitorRun, NonAsciiKeyColumnGoesThroughTheDecoder)
{
    Rig r; // C locale: Shift-JIS
    r.set.key[r.set.key_cnt++] = 1;
    // 0x81 then a zero byte is one character that writes back as 0x81 alone;
    // as the last byte of a key column it has no trail byte and leaves the
    // key, which then equals that of the line "b" (no column 1).
    const std::string cmd = "printf \"a \\201\\000 x\\nb\\n\"";
    EXPECT_EQ(r.run(cmd), "+ a \x81 x\n+ b\n");
    EXPECT_EQ(r.run(cmd), "+ b\n");
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
