// The run function checked against a plain model of the keyed diff over
// random tables: every report line of every run, in order.
#include "main/rundif.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <clocale>
#include <cstdint>
#include <cstdio>
#include <map>
#include <random>
#include <string>
#include <utility>
#include <unistd.h>
#include <vector>

namespace
{

// Decimal value of a column: leading blanks, optional sign, digits, clamped
// to the signed 64-bit range.
int64_t model_dec(const std::string &s)
{
    const uint64_t top = uint64_t(INT64_MAX);
    size_t i = s.find_first_not_of(' ');
    if (i == std::string::npos)
        return 0;
    bool neg = s[i] == '-';
    if (s[i] == '-' || s[i] == '+')
        i++;
    uint64_t mag = 0; // saturates just above the largest magnitude
    for (; i < s.size() && s[i] >= '0' && s[i] <= '9'; i++) {
        uint64_t d = uint64_t(s[i] - '0');
        mag = mag > (top - d) / 10 ? top + 1 : mag * 10 + d;
    }
    if (!neg)
        return int64_t(std::min(mag, top));
    return mag > top ? -int64_t(top) - 1 : -int64_t(mag);
}

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
            int64_t v = row.val[w.col] = model_dec(text(w.col));
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

// The run function over a file that `cat` prints, reports in a memory file.
struct Rig {
    st_settings set = {};
    st_generations gen = {};
    char *buf = nullptr;
    size_t len = 0, seen = 0;
    std::string dir, path, cmd;

    Rig()
    {
        set.spn = 1;
        set.fil = open_memstream(&buf, &len);
        dir = testing::TempDir() + "rundif-model-XXXXXX";
        EXPECT_NE(mkdtemp(dir.data()), nullptr);
        path = dir + "/out";
        cmd = "cat " + path;
        set.cmd = cmd.data();
        EXPECT_EQ(generations_set(&gen), 0);
    }
    ~Rig()
    {
        generations_end(&gen);
        unlink(path.c_str());
        rmdir(dir.c_str());
        fclose(set.fil);
        free(buf);
    }
    // Report of one run of a command that prints out.
    std::string run(const std::string &out)
    {
        FILE *f = fopen(path.c_str(), "wb");
        bool ok = f && fwrite(out.data(), 1, out.size(), f) == out.size();
        if (!f || fclose(f) != 0 || !ok)
            return "(the output file could not be written)";
        EXPECT_EQ(monitor_run(&set, &gen, 0), 0);
        fflush(set.fil);
        std::string rep(buf + seen, len - seen);
        seen = len;
        return rep;
    }
    // Runs every output against both the run function and the model.
    void check(const std::vector<std::string> &outs)
    {
        Model m{set};
        for (size_t i = 0; i < outs.size(); i++) {
            SCOPED_TRACE("run " + std::to_string(i) + " over:\n" + outs[i]);
            m.rep.clear();
            m.run(outs[i]);
            ASSERT_EQ(run(outs[i]), m.rep);
        }
        uint32_t cnt = 99;
        rscmng_cnt(nullptr, &cnt);
        EXPECT_EQ(cnt, 0u) << "resources left registered";
    }
};

// The console decoder reads UTF-8 while a test runs; the caller's locale
// comes back afterwards.
struct Utf8Locale {
    std::string old = setlocale(LC_CTYPE, nullptr);
    Utf8Locale() { setlocale(LC_CTYPE, "C.UTF-8"); }
    ~Utf8Locale() { setlocale(LC_CTYPE, old.c_str()); }
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
    Utf8Locale loc;
    ASSERT_TRUE(cstream_console_utf8());
    Tables t;
    for (int sc = 0; sc < 60; sc++) {
        SCOPED_TRACE("scenario " + std::to_string(sc));
        Rig rig;
        t.settings(rig.set);
        rig.check(t.outputs(char(rig.set.sep)));
        if (HasFatalFailure())
            return;
    }
}

TEST(MonitorModel, WatchedValuesBeyond32Bits)
{
    Utf8Locale loc;
    Rig rig;
    rig.set.sep = ' ';
    rig.set.key[rig.set.key_cnt++] = 0;
    rig.set.wtc[rig.set.wtc_cnt++] = {1, 1};
    const std::vector<std::string> outs = {"p 2147483648\n", "p 4294967296\n", "p 4294967297\n",
                                           "p -4294967297\n"};
    rig.check(outs);
    // The model itself: byte counts above 2^31 still move bands (a 32-bit
    // reading clamped them all to one value).
    Model m{rig.set};
    for (const std::string &o : outs)
        m.run(o);
    EXPECT_EQ(m.rep, "+ p 2147483648\n* p 4294967296\n* p 4294967297\n* p -4294967297\n");
}

} // namespace
