// Helpers of the variant map tests: an owning map, its node count and the
// text or integer behind a key node.
#pragma once

#include "base/container/container.h"

#include <gtest/gtest.h>

#include <string>

// A variant map of the given mode, ended on scope exit.
struct VMap {
    st_vmap m{};
    explicit VMap(uint32_t mod) { EXPECT_EQ(vmap_set(&m, mod), 0); }
    ~VMap() { vmap_end(&m); }
    uint32_t cnt()
    {
        uint32_t n = 0;
        map_cnt(&m.map, &n);
        return n;
    }
};

// The string value of a key node (or member), "<none>" when it has none.
inline std::string val_of(const void *nod)
{
    char *s = nullptr;
    return vtyp_ref_lnk_val(nod, 0, &s) == 0 ? s : "<none>";
}

// The datum of a key node read as a string, or as an integer.
inline std::string key_str(const void *nod)
{
    char *s = nullptr;
    vtyp_get_str(nod, &s);
    return s ? s : "";
}

inline int32_t key_int(const void *nod)
{
    int32_t i = -999;
    vtyp_get_int(nod, &i);
    return i;
}
