// Interface manager: access statistics per interface and access name.
// The operations return plain values: the status word that the map
// operations and the allocation wrappers set is kept in an st_rtn_save.
#include "base/container/container.h"
#include "base/diag/diag.h"

#include <cstring>

st_itfmng __global_itfmng;

constexpr uint32_t ITF_KEY_SIZ = offsetof(st_itfmng_rcd, acs) + ITF_ACS_SIZ; // itf and acs

// Record order: itf (unsigned), then the 64 bytes of acs.
static int32_t itf_cmp(const void *key, const void *nod_key, uintptr_t)
{
    uint32_t a, b;
    std::memcpy(&a, key, sizeof a);
    std::memcpy(&b, nod_key, sizeof b);
    if (a != b)
        return a < b ? -1 : 1;
    return std::memcmp(static_cast<const char *>(key) + offsetof(st_itfmng_rcd, acs),
                       static_cast<const char *>(nod_key) + offsetof(st_itfmng_rcd, acs),
                       ITF_ACS_SIZ);
}

// One statistics line without the line feed.
static void itf_prt(FILE *fp, const void *nod, uintptr_t)
{
    st_itfmng_rcd r;
    std::memcpy(&r, nod, sizeof r);
    const char *nam = nullptr;
    itf_get_nam(r.itf, &nam);
    fprintf(fp, "interface-id=%d interface-name=\"%s\" access-name=\"", static_cast<int>(r.itf),
            nam ? nam : "");
    fwrite(r.acs, 1, strnlen(r.acs, ITF_ACS_SIZ), fp);
    fprintf(fp, "\" access-time=%lld access-count=%lld access-size=%lld",
            static_cast<long long>(r.tim.tot), static_cast<long long>(r.tim.cnt),
            static_cast<long long>(r.siz));
}

// Fixed-size records: the stock record callbacks with this compare and print.
static const st_map_fnc __global_itfmng_fnclst = {itf_cmp, st_map_cpy, st_map_mak, st_map_del,
                                                  itf_prt};

int32_t itf_get_id(const char *nam, uint32_t *id) noexcept
{
    if (id)
        *id = 0;
    if (!nam || !id)
        return -1;
    const char **tab = __global_itfmng.nam;
    uint32_t i = 0;
    while (i < ITF_NAM_NUM && tab[i] && std::strcmp(tab[i], nam) != 0)
        i++;
    if (i == ITF_NAM_NUM)
        return -1;
    if (!tab[i])
        tab[i] = nam;
    *id = i + 1;
    return 0;
}

int32_t itf_get_nam(uint32_t id, const char **nam) noexcept
{
    if (id == 0 || id > ITF_NAM_NUM || !nam)
        return -1;
    *nam = __global_itfmng.nam[id - 1];
    return 0;
}

// Creates the record map on first use. 0, or -1 when it cannot be made.
static int32_t itf_map()
{
    st_itfmng &m = __global_itfmng;
    if (m.map)
        return 0;
    if (_malloc0(&m.map, sizeof(st_map)) != 0)
        return -1;
    // The stock layout of fixed-size records, with this kind's function list.
    if (st_map_set(m.map, sizeof(st_itfmng_rcd), ITF_KEY_SIZ) != 0) {
        _free(&m.map);
        m.map = nullptr;
        return -1;
    }
    m.map->fnclst = &__global_itfmng_fnclst;
    return 0;
}

int32_t itfmng_get(uint32_t id, const void *acs, size_t len, st_itfmng_rcd **rcd) noexcept
{
    st_rtn_save kept;
    if (!rcd || (len && !acs) || itf_map() != 0 || len > ITF_ACS_SIZ)
        return -1;
    st_itfmng_rcd key{};
    key.itf = id;
    if (len)
        std::memcpy(key.acs, acs, len);
    void *nod;
    // A present record is handed out as it is; a new one starts from zero.
    if (map_put(__global_itfmng.map, &key, &nod, MAP_PUT_KEEP) < 0)
        return -1;
    *rcd = static_cast<st_itfmng_rcd *>(nod);
    return 0;
}

// The record of (itf, acs) for start and stop; none on any failure.
static st_itfmng_rcd *itf_rcd(const char *itf, const char *acs)
{
    uint32_t id;
    st_itfmng_rcd *r;
    if (!acs || itf_get_id(itf, &id) != 0)
        return nullptr;
    size_t len = std::strlen(acs);
    if (len >= ITF_ACS_SIZ || itfmng_get(id, acs, len, &r) != 0)
        return nullptr;
    return r;
}

int32_t itfmng_start(const char *itf, const char *acs) noexcept
{
    st_itfmng_rcd *r = itf_rcd(itf, acs);
    if (!r)
        return -1;
    simple_timer_start(&r->tim);
    return 0;
}

int32_t itfmng_stop(const char *itf, const char *acs, uint32_t siz) noexcept
{
    st_itfmng_rcd *r = itf_rcd(itf, acs);
    if (!r)
        return -1;
    simple_timer_stop(&r->tim);
    r->siz += siz;
    return 0;
}

static int32_t print_visit(void *nod, void *arg)
{
    FILE *fp = static_cast<FILE *>(arg);
    itf_prt(fp, nod, 0);
    fputc('\n', fp);
    return 0;
}

void itfmng_print(FILE *fp) noexcept
{
    st_rtn_save kept;
    if (fp && __global_itfmng.map)
        map_rng(__global_itfmng.map, nullptr, nullptr, print_visit, fp);
}

void itf_end() noexcept
{
    st_rtn_save kept;
    st_itfmng &m = __global_itfmng;
    if (!m.map)
        return;
    map_end(m.map);
    _free(&m.map);
    m.map = nullptr;
}
