// The run function over real commands: reports, memory and odd output.
#include "main/rundif.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <cstdlib>
#include <malloc.h>
#include <string>

#if defined(__SANITIZE_ADDRESS__)
extern "C" size_t __sanitizer_get_current_allocated_bytes();
static size_t live_bytes()
{
    return __sanitizer_get_current_allocated_bytes();
}
#else
static size_t live_bytes()
{
    return mallinfo2().uordblks;
}
#endif

namespace
{

// Settings and generations for runs whose reports go to a memory file.
struct Runner {
    st_settings set = {};
    st_generations gen = {};
    char *buf = nullptr;
    size_t len = 0;
    std::string cmd;

    Runner()
    {
        set.sep = ' ';
        set.spn = 1;
        set.fil = open_memstream(&buf, &len);
        EXPECT_EQ(generations_set(&gen), 0);
    }
    ~Runner()
    {
        generations_end(&gen);
        fclose(set.fil);
        free(buf);
    }
    int32_t run(const std::string &command)
    {
        cmd = command;
        set.cmd = cmd.data();
        return monitor_run(&set, &gen, 0);
    }
    std::string report()
    {
        fflush(set.fil);
        return std::string(buf, len);
    }
};

TEST(MonitorRun, RepeatedRunsLeakNothingAndRegisterNothing)
{
    Runner r;
    r.set.key[r.set.key_cnt++] = 0;
    r.set.wtc[r.set.wtc_cnt++] = {1, 10};
    const std::string cmd = "awk \"BEGIN { for (i = 0; i < 1000; i++) print i, i * 7 }\"";
    ASSERT_EQ(r.run(cmd), 0);
    ASSERT_EQ(r.run(cmd), 0);
    size_t before = live_bytes();
    for (int i = 0; i < 50; i++)
        ASSERT_EQ(r.run(cmd), 0);
    EXPECT_LE(live_bytes(), before + 4096); // slack for stdio's own buffers
    uint32_t cnt = 99;
    rscmng_cnt(nullptr, &cnt);
    EXPECT_EQ(cnt, 0u);
    std::string rep = r.report();
    EXPECT_EQ(std::count(rep.begin(), rep.end(), '\n'), 1000);
}

TEST(MonitorRun, BinaryHugeAndEmptyOutputs)
{
    Runner r;
    // NUL bytes and no line feed at all: nothing is compared.
    EXPECT_EQ(r.run("head -c 300000 /dev/zero"), 0);
    EXPECT_EQ(r.report(), "");
    // One 1 MB line, then a short one.
    EXPECT_EQ(r.run("sh -c \"head -c 1000000 /dev/zero | tr '\\000' a; echo; echo b\""), 0);
    std::string rep = r.report();
    EXPECT_EQ(rep.size(), 2 + 1000000 + 1 + 4u);
    EXPECT_EQ(rep.substr(rep.size() - 4), "+ b\n");
    // A command that prints nothing: the previous rows vanish.
    EXPECT_EQ(r.run("true"), 0);
    EXPECT_EQ(r.report().substr(rep.size(), 4), "- aa");
    // A command that cannot be started ends monitoring.
    EXPECT_EQ(r.run("no-such-command-rundif"), -1);
}

TEST(MonitorRun, NonAsciiKeyColumnGoesThroughTheDecoder)
{
    Runner r; // C locale: Shift-JIS
    r.set.key[r.set.key_cnt++] = 1;
    // 0x81 then a zero byte is one character that writes back as 0x81 alone;
    // as the last byte of a key column it has no trail byte and leaves the
    // key, which then equals that of the line "b" (no column 1).
    const std::string cmd = "printf \"a \\201\\000 x\\nb\\n\"";
    ASSERT_EQ(r.run(cmd), 0);
    EXPECT_EQ(r.report(), "+ a \x81 x\n+ b\n");
    ASSERT_EQ(r.run(cmd), 0);
    EXPECT_EQ(r.report(), "+ a \x81 x\n+ b\n+ b\n");
}

TEST(MonitorRun, RowMapStaysShallowUnderChurn)
{
    // Each run a third of the 3000 rows is new and the last run's new rows
    // vanish; deletes alone would let the tree grow ever deeper.
    Runner r;
    std::function<int(const void *)> height = [&](const void *n) {
        const st_map *m = &r.gen.rows.map;
        return n ? 1 + std::max(height(map_nod_lnk(m, n, 0)), height(map_nod_lnk(m, n, 1))) : 0;
    };
    for (int run = 1; run <= 30; run++) {
        std::string awk = "awk \"BEGIN { srand(" + std::to_string(run) +
                          "); for (i = 0; i < 3000; i++) print (rand() < 0.33 ? \\\"n\\\" " +
                          std::to_string(run) + " : \\\"k\\\") i }\"";
        ASSERT_EQ(r.run(awk), 0);
    }
    uint32_t n = 0;
    map_cnt(&r.gen.rows.map, &n);
    EXPECT_GT(n, 2500u);
    EXPECT_LE(height(r.gen.rows.map.root), 2 * std::log2(n + 1.0) + 2) << n << " rows";
}

} // namespace
