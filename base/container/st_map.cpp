// Fixed-size record maps: R-byte records keyed by their first K bytes,
// followed in each node by link 0, link 1 and a 32-bit colour word.
#include "base/container/container.h"

#include <bit>
#include <cstdlib>

constexpr int32_t ST_MAP_LNK1 = sizeof(void *);    // link 1, from the end of the record
constexpr int32_t ST_MAP_CLR = 2 * sizeof(void *); // colour word, from the end of the record
static_assert(ST_MAP_CLR + sizeof(uint32_t) == ST_MAP_TAIL);

static uint32_t st_rec_siz(uintptr_t prm)
{
    return static_cast<uint32_t>(prm >> 16) & 0xffffu;
}

static uint32_t st_key_siz(uintptr_t prm)
{
    return static_cast<uint32_t>(prm) & 0xffffu;
}

const st_map_fnc st_map_fnclst = {st_map_cmp, st_map_cpy, st_map_mak, st_map_del, st_map_prt};

int32_t st_map_set(st_map *map, uint32_t rec_siz, uint32_t key_siz) noexcept
{
    if (key_siz > rec_siz || rec_siz > INT16_MAX - ST_MAP_CLR)
        return rtn_fail();
    int16_t r = static_cast<int16_t>(rec_siz);
    return map_set(map, &st_map_fnclst, uintptr_t{rec_siz} << 16 | key_siz, r,
                   static_cast<int16_t>(r + ST_MAP_LNK1), 0, static_cast<int16_t>(r + ST_MAP_CLR),
                   1);
}

// Unsigned byte order, as memcmp; 8-byte keys compare as big-endian words.
int32_t st_map_cmp(const void *key, const void *nod_key, uintptr_t prm) noexcept
{
    uint32_t k = st_key_siz(prm);
    if (k != sizeof(uint64_t))
        return std::memcmp(key, nod_key, k);
    uint64_t a, b;
    std::memcpy(&a, key, sizeof a);
    std::memcpy(&b, nod_key, sizeof b);
    if constexpr (std::endian::native == std::endian::little) {
        a = __builtin_bswap64(a);
        b = __builtin_bswap64(b);
    }
    return (a > b) - (a < b);
}

int32_t st_map_cpy(void *nod, const void *src, uintptr_t prm) noexcept
{
    std::memcpy(nod, src, st_rec_siz(prm));
    return 0;
}

int32_t st_map_mak(void **out, const void *src, uintptr_t prm) noexcept
{
    uint32_t r = st_rec_siz(prm);
    char *nod = static_cast<char *>(std::malloc(r + ST_MAP_TAIL));
    *out = nod;
    if (!nod)
        return -1;
    std::memcpy(nod, src, r);
    std::memset(nod + r + ST_MAP_CLR, 0, sizeof(uint32_t)); // the colour word's spare bits
    return 0;
}

void st_map_del(void *nod, uintptr_t) noexcept
{
    std::free(nod);
}

void st_map_prt(FILE *fp, const void *nod, uintptr_t prm) noexcept
{
    const uint8_t *b = static_cast<const uint8_t *>(nod);
    for (uint32_t i = 0, r = st_rec_siz(prm); i < r; i++)
        fprintf(fp, i ? " %02X" : "%02X", b[i]);
}
