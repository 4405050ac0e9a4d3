// The hash index over the row map: a line finds the row of its key with
// one probe instead of a tree search, whose nodes lie scattered through a
// large map and miss the cache on nearly every level. The tree keeps the
// key order for the state file and the "-" lines.
//
// Open addressing with linear probing, at most three quarters full. A slot
// keeps the key's hash, so a probe compares keys only on equal hashes, and
// the number of the last run that saw the row, so finding the rows a run
// did not see reads the slots alone.
#include "main/rundif.h"

#include <cstring>
#include <ctime>
#include <sys/random.h>

constexpr size_t IDX_CAP0 = 1024; // slots of a new index

// The hash's seed, random for every process: output crafted to make the
// keys collide cannot be made without knowing it.
static uint64_t hash_seed()
{
    uint64_t s = 0;
    if (getrandom(&s, sizeof s, GRND_NONBLOCK) != sizeof s)
        s = reinterpret_cast<uintptr_t>(&s) ^ static_cast<uint64_t>(time(nullptr));
    return s;
}
static const uint64_t seed = hash_seed();

// A 64-bit hash of len bytes: eight at a time, each word mixed by a
// multiply and a rotate, the whole finished with a 64-bit avalanche.
uint64_t row_hash(const char *key, size_t len) noexcept
{
    constexpr uint64_t K = 0x9e3779b97f4a7c15ull;
    uint64_t h = seed ^ len * K;
    for (; len >= 8; key += 8, len -= 8) {
        uint64_t w;
        std::memcpy(&w, key, 8);
        h = ((h ^ w) * K);
        h = h << 29 | h >> 35;
    }
    uint64_t w = 0;
    std::memcpy(&w, key, len);
    h = (h ^ w) * K;
    h ^= h >> 33;
    h *= 0xff51afd7ed558ccdull;
    h ^= h >> 33;
    h *= 0xc4ceb9fe1a85ec53ull;
    return h ^ h >> 33;
}

static const char *node_key(void *nod)
{
    char *key = nullptr;
    return vtyp_get_str(nod, &key) == 0 ? key : "";
}

st_row_slot *row_index_find(st_row_index *idx, const char *key, uint64_t hsh) noexcept
{
    if (!idx->cap)
        return nullptr;
    const size_t mask = idx->cap - 1;
    for (size_t i = hsh & mask; idx->slt[i].nod; i = (i + 1) & mask) {
        st_row_slot *s = &idx->slt[i];
        if (s->hsh == (uint32_t)hsh && std::strcmp(node_key(s->nod), key) == 0)
            return s;
    }
    return nullptr;
}

// Puts nod into the first free slot of its probe sequence.
static void slot_put(st_row_index *idx, void *nod, uint64_t hsh, uint32_t no)
{
    const size_t mask = idx->cap - 1;
    size_t i = hsh & mask;
    while (idx->slt[i].nod)
        i = (i + 1) & mask;
    idx->slt[i] = {nod, (uint32_t)hsh, no};
}

// Rehashes into cap slots, more or fewer; a failed allocation leaves the
// index as it was. Slots keep the hash's lower 32 bits only, enough to place
// a slot in up to 2^32 slots.
static int32_t index_resize(st_row_index *idx, size_t cap)
{
    st_row_slot *old = idx->slt, *slt = nullptr;
    const size_t old_cap = idx->cap;
    RTN_TRY(_calloc(&slt, cap, sizeof *slt));
    idx->slt = slt;
    idx->cap = cap;
    for (size_t i = 0; i < old_cap; i++)
        if (old[i].nod)
            slot_put(idx, old[i].nod, old[i].hsh, old[i].no);
    _free(&old);
    return rtn_ok();
}

int32_t row_index_add(st_row_index *idx, void *nod, uint64_t hsh, uint32_t no) noexcept
{
    if (4 * (idx->cnt + 1) > 3 * idx->cap)
        RTN_TRY(index_resize(idx, idx->cap ? 2 * idx->cap : IDX_CAP0));
    slot_put(idx, nod, hsh, no);
    idx->cnt++;
    return rtn_ok();
}

void row_index_fit(st_row_index *idx) noexcept
{
    size_t cap = idx->cap;
    while (cap > IDX_CAP0 && 8 * idx->cnt < cap)
        cap /= 2;
    if (cap < idx->cap)
        index_resize(idx, cap); // a failed shrink changes nothing
}

void row_index_del(st_row_index *idx, void *nod) noexcept
{
    if (!idx->cap)
        return;
    const char *key = node_key(nod);
    const size_t mask = idx->cap - 1;
    size_t i = row_hash(key, strlen(key)) & mask;
    while (idx->slt[i].nod != nod) {
        if (!idx->slt[i].nod)
            return; // not indexed
        i = (i + 1) & mask;
    }
    // Backward shift: each later slot of the cluster that may live at i
    // (its home is not between the hole and it) moves into the hole.
    for (size_t j = (i + 1) & mask; idx->slt[j].nod; j = (j + 1) & mask) {
        const size_t home = idx->slt[j].hsh & mask;
        if (((j - home) & mask) >= ((j - i) & mask)) {
            idx->slt[i] = idx->slt[j];
            i = j;
        }
    }
    idx->slt[i].nod = nullptr;
    idx->cnt--;
}

int32_t row_index_build(st_row_index *idx, st_vmap *rows) noexcept
{
    idx->cnt = 0;
    if (idx->slt)
        std::memset(idx->slt, 0, idx->cap * sizeof *idx->slt);
    st_vmap_rng_itr itr;
    void *nod = nullptr;
    int32_t rc = vmap_rng_pop_set(rows, nullptr, 0, &itr);
    while (rc == 0 && vmap_rng_pop(&itr, &nod, 0) == 0) {
        char *dat = nullptr;
        uint32_t no = 0;
        if (vtyp_ref_lnk_val(nod, 0, &dat) == 0)
            std::memcpy(&no, dat + ROW_NO, sizeof no);
        const char *key = node_key(nod);
        rc = row_index_add(idx, nod, row_hash(key, strlen(key)), no);
    }
    vmap_rng_pop_end(&itr);
    return rc ? rtn_keep() : rtn_ok();
}

void row_index_end(st_row_index *idx) noexcept
{
    _free(&idx->slt);
    idx->cap = idx->cnt = 0;
}
