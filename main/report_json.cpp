// Report lines as JSON objects (JSON Lines) for --json.
#include "main/rundif.h"

#include <nlohmann/json.hpp>

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <iconv.h>
#include <string>

namespace
{

using json = nlohmann::ordered_json; // fields in the order written

} // namespace

// The text as UTF-8. A UTF-8 console's text is taken as it is (the writer
// replaces each invalid byte); a Shift-JIS one is converted from code page
// 932, each byte that does not convert becoming U+FFFD.
static std::string to_utf8(const char *txt)
{
    size_t left = strlen(txt);
    if (cstream_console_utf8())
        return std::string(txt, left);
    static iconv_t cd = iconv_open("UTF-8", "CP932"); // kept for the program's life
    if (cd == (iconv_t)-1)
        return std::string(txt, left);
    std::string out;
    char buf[256];
    char *in = const_cast<char *>(txt);
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
    while (left > 0) {
        char *op = buf;
        size_t room = sizeof buf;
        size_t r = iconv(cd, &in, &left, &op, &room);
        out.append(buf, (size_t)(op - buf));
        if (r == (size_t)-1 && errno != E2BIG) {
            out += "\xEF\xBF\xBD"; // an invalid or cut character: one byte replaced
            in++;
            left--;
        }
    }
    return out;
}

// The run's local time in ISO 8601 with the UTC offset: 2026-12-07T09:15:02+09:00.
static std::string iso_time(time_t now)
{
    struct tm tm;
    char s[40], z[8];
    localtime_r(&now, &tm);
    strftime(s, sizeof s, "%Y-%m-%dT%H:%M:%S", &tm);
    strftime(z, sizeof z, "%z", &tm); // +0900
    size_t n = strlen(z);
    if (n == 5)
        snprintf(s + strlen(s), sizeof s - strlen(s), "%.3s:%s", z, z + 3);
    return s;
}

// The row key without the separator that follows each key column.
static std::string key_text(const st_settings *set, const char *key)
{
    std::string k = to_utf8(key);
    if (set->key_cnt == 0)
        return k;
    char b[5] = {};
    b[cstream_chr_bytes(set->sep, b)] = '\0';
    std::string sep = to_utf8(b);
    if (!sep.empty() && k.size() >= sep.size() &&
        k.compare(k.size() - sep.size(), sep.size(), sep) == 0)
        k.resize(k.size() - sep.size());
    return k;
}

// Watched value i of the raw bytes (signed 128-bit each) as a JSON
// number; one beyond 64 bits, which JSON readers seldom take exactly, as
// its decimal text.
static json raw_value(const char *wtc, int32_t i)
{
    __int128 v;
    std::memcpy(&v, wtc + sizeof v * (size_t)i, sizeof v);
    if (v >= INT64_MIN && v <= INT64_MAX)
        return static_cast<int64_t>(v);
    if (v > 0 && v <= UINT64_MAX)
        return static_cast<uint64_t>(v);
    char d[48], *p = d + sizeof d;
    unsigned __int128 u = v < 0 ? 0 - static_cast<unsigned __int128>(v) : v;
    *--p = '\0';
    do
        *--p = static_cast<char>('0' + u % 10);
    while (u /= 10);
    if (v < 0)
        *--p = '-';
    return std::string(p);
}

int32_t report_json(const st_settings *set, uint32_t run, time_t now, int mark, const char *key,
                    const char *txt, const char *old, const char *cur, char **out,
                    size_t *len) noexcept
{
    if (!set || !key || !txt || !out || !len)
        return rtn_fail();
    try {
        json j;
        j["run"] = run;
        j["time"] = iso_time(now);
        j["mark"] = std::string(1, static_cast<char>(mark));
        j["key"] = key_text(set, key);
        j["line"] = to_utf8(txt);
        if (old && cur) {
            json w = json::array();
            for (int32_t i = 0; i < set->wtc_cnt; i++)
                w.push_back({{"column", set->wtc[i].col},
                             {"old", raw_value(old, i)},
                             {"new", raw_value(cur, i)}});
            j["watch"] = w;
        }
        std::string s = j.dump(-1, ' ', false, json::error_handler_t::replace) + "\n";
        *out = static_cast<char *>(malloc(s.size() + 1));
        if (!*out)
            return rtn_fail();
        std::memcpy(*out, s.c_str(), s.size() + 1);
        *len = s.size();
        return rtn_ok();
    } catch (...) {
        return rtn_fail(); // memory ran out
    }
}
