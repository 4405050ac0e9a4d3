// Variant map: the typed family. Each member fills a key parameter (and
// for puts the value half of a pair) on its stack and calls the parameter
// operation.
#include "base/container/container.h"

// A key parameter of kind knd with its datum at dat (siz: raw byte count).
static st_vtyp_prm vmap_key(void *nst, uint8_t knd, const void *dat, uint32_t siz = 0)
{
    st_vtyp_prm k = {};
    k.flg = knd;
    k.nst = nst;
    k.dat = dat;
    k.siz = siz;
    return k;
}

// Puts key with a value of kind knd at val (knd 0: no value).
static int32_t vmap_put2(st_vmap *map, const st_vtyp_prm &key, uint8_t knd, const void *val,
                         void **nod, uint32_t mode)
{
    st_vtyp_prm pr[2] = {key, {}};
    pr[1].flg = knd;
    pr[1].dat = val;
    return _vmap_put(map, pr, nod, mode);
}

// The value linked from key's node, none when the key or its value is missing.
static void *vmap_val(st_vmap *map, const st_vtyp_prm &key)
{
    void *nod, *val = nullptr;
    if (_vmap_get(map, &key, &nod) == 0)
        vtyp_get_lnk(nod, &val, 0);
    return val;
}

// The pointer stored in a pointer value.
static int32_t vmap_ptr_of(const void *val, void **out)
{
    void *at;
    RTN_TRY(vtyp_get_ptr(val, &at));
    std::memcpy(out, at, sizeof *out);
    return rtn_ok();
}

// ---------------------------------------------------------------------------
// Puts
// ---------------------------------------------------------------------------

int32_t vmap_put_int_str(st_vmap *map, void *nst, int32_t key, const char *val,
                         uint32_t mode) noexcept
{
    return vmap_put2(map, vmap_key(nst, VTYP_INT, &key), VTYP_STR, val, nullptr, mode);
}

int32_t vmap_put_flt_str(st_vmap *map, void *nst, double key, const char *val,
                         uint32_t mode) noexcept
{
    return vmap_put2(map, vmap_key(nst, VTYP_FLT, &key), VTYP_STR, val, nullptr, mode);
}

int32_t vmap_put_str_str(st_vmap *map, void *nst, const char *key, const char *val,
                         uint32_t mode) noexcept
{
    return vmap_put2(map, vmap_key(nst, VTYP_STR, key), VTYP_STR, val, nullptr, mode);
}

int32_t vmap_put_buf_str(st_vmap *map, void *nst, const void *key, uint32_t siz, const char *val,
                         uint32_t mode) noexcept
{
    return vmap_put2(map, vmap_key(nst, VTYP_UDF, key, siz), VTYP_STR, val, nullptr, mode);
}

int32_t vmap_put_int_int(st_vmap *map, void *nst, int32_t key, int32_t val, uint32_t mode) noexcept
{
    return vmap_put2(map, vmap_key(nst, VTYP_INT, &key), VTYP_INT, &val, nullptr, mode);
}

int32_t vmap_put_flt_int(st_vmap *map, void *nst, double key, int32_t val, uint32_t mode) noexcept
{
    return vmap_put2(map, vmap_key(nst, VTYP_FLT, &key), VTYP_INT, &val, nullptr, mode);
}

int32_t vmap_put_str_int(st_vmap *map, void *nst, const char *key, int32_t val,
                         uint32_t mode) noexcept
{
    return vmap_put2(map, vmap_key(nst, VTYP_STR, key), VTYP_INT, &val, nullptr, mode);
}

int32_t vmap_put_buf_int(st_vmap *map, void *nst, const void *key, uint32_t siz, int32_t val,
                         uint32_t mode) noexcept
{
    return vmap_put2(map, vmap_key(nst, VTYP_UDF, key, siz), VTYP_INT, &val, nullptr, mode);
}

int32_t vmap_put_str_ptr(st_vmap *map, void *nst, const char *key, void *val,
                         uint32_t mode) noexcept
{
    return vmap_put2(map, vmap_key(nst, VTYP_STR, key), VTYP_PTR, val, nullptr, mode);
}

int32_t vmap_put_int_nul(st_vmap *map, void *nst, int32_t key, uint32_t mode) noexcept
{
    return vmap_put2(map, vmap_key(nst, VTYP_INT, &key), 0, nullptr, nullptr, mode);
}

int32_t vmap_put_flt_nul(st_vmap *map, void *nst, double key, uint32_t mode) noexcept
{
    return vmap_put2(map, vmap_key(nst, VTYP_FLT, &key), 0, nullptr, nullptr, mode);
}

int32_t vmap_put_str_nul(st_vmap *map, void *nst, const char *key, uint32_t mode) noexcept
{
    return vmap_put2(map, vmap_key(nst, VTYP_STR, key), 0, nullptr, nullptr, mode);
}

int32_t vmap_put_buf_nul(st_vmap *map, void *nst, const void *key, uint32_t siz,
                         uint32_t mode) noexcept
{
    return vmap_put2(map, vmap_key(nst, VTYP_UDF, key, siz), 0, nullptr, nullptr, mode);
}

int32_t _vmap_put_str_str(st_vmap *map, void *nst, const char *key, const char *val, void **nod,
                          uint32_t mode) noexcept
{
    return vmap_put2(map, vmap_key(nst, VTYP_STR, key), VTYP_STR, val, nod, mode);
}

int32_t _vmap_put_str_int(st_vmap *map, void *nst, const char *key, int32_t val, void **nod,
                          uint32_t mode) noexcept
{
    return vmap_put2(map, vmap_key(nst, VTYP_STR, key), VTYP_INT, &val, nod, mode);
}

int32_t _vmap_put_str_ptr(st_vmap *map, void *nst, const char *key, void *val, void **nod,
                          uint32_t mode) noexcept
{
    return vmap_put2(map, vmap_key(nst, VTYP_STR, key), VTYP_PTR, val, nod, mode);
}

int32_t _vmap_put_str_nul(st_vmap *map, void *nst, const char *key, void **nod,
                          uint32_t mode) noexcept
{
    return vmap_put2(map, vmap_key(nst, VTYP_STR, key), 0, nullptr, nod, mode);
}

// ---------------------------------------------------------------------------
// Key nodes
// ---------------------------------------------------------------------------

int32_t vmap_ref_int(st_vmap *map, void *nst, int32_t key, void **nod) noexcept
{
    st_vtyp_prm k = vmap_key(nst, VTYP_INT, &key);
    return _vmap_get(map, &k, nod);
}

int32_t vmap_ref_flt(st_vmap *map, void *nst, double key, void **nod) noexcept
{
    st_vtyp_prm k = vmap_key(nst, VTYP_FLT, &key);
    return _vmap_get(map, &k, nod);
}

int32_t vmap_ref_str(st_vmap *map, void *nst, const char *key, void **nod) noexcept
{
    st_vtyp_prm k = vmap_key(nst, VTYP_STR, key);
    return _vmap_get(map, &k, nod);
}

int32_t vmap_ref_buf(st_vmap *map, void *nst, const void *key, uint32_t siz, void **nod) noexcept
{
    st_vtyp_prm k = vmap_key(nst, VTYP_UDF, key, siz);
    return _vmap_get(map, &k, nod);
}

int32_t vmap_get_int(st_vmap *map, void *nst, int32_t key, void **nod) noexcept
{
    return vmap_ref_int(map, nst, key, nod);
}

int32_t vmap_get_flt(st_vmap *map, void *nst, double key, void **nod) noexcept
{
    return vmap_ref_flt(map, nst, key, nod);
}

int32_t vmap_get_str(st_vmap *map, void *nst, const char *key, void **nod) noexcept
{
    return vmap_ref_str(map, nst, key, nod);
}

int32_t vmap_get_buf(st_vmap *map, void *nst, const void *key, uint32_t siz, void **nod) noexcept
{
    return vmap_ref_buf(map, nst, key, siz, nod);
}

// ---------------------------------------------------------------------------
// Values
// ---------------------------------------------------------------------------

int32_t vmap_get_int_str(st_vmap *map, void *nst, int32_t key, char **out) noexcept
{
    return vtyp_get_str(vmap_val(map, vmap_key(nst, VTYP_INT, &key)), out);
}

int32_t vmap_get_flt_str(st_vmap *map, void *nst, double key, char **out) noexcept
{
    return vtyp_get_str(vmap_val(map, vmap_key(nst, VTYP_FLT, &key)), out);
}

int32_t vmap_get_str_str(st_vmap *map, void *nst, const char *key, char **out) noexcept
{
    return vtyp_get_str(vmap_val(map, vmap_key(nst, VTYP_STR, key)), out);
}

int32_t vmap_get_buf_str(st_vmap *map, void *nst, const void *key, uint32_t siz,
                         char **out) noexcept
{
    return vtyp_get_str(vmap_val(map, vmap_key(nst, VTYP_UDF, key, siz)), out);
}

int32_t vmap_get_int_int(st_vmap *map, void *nst, int32_t key, int32_t *out) noexcept
{
    return vtyp_get_int(vmap_val(map, vmap_key(nst, VTYP_INT, &key)), out);
}

int32_t vmap_get_flt_int(st_vmap *map, void *nst, double key, int32_t *out) noexcept
{
    return vtyp_get_int(vmap_val(map, vmap_key(nst, VTYP_FLT, &key)), out);
}

int32_t vmap_get_str_int(st_vmap *map, void *nst, const char *key, int32_t *out) noexcept
{
    return vtyp_get_int(vmap_val(map, vmap_key(nst, VTYP_STR, key)), out);
}

int32_t vmap_get_buf_int(st_vmap *map, void *nst, const void *key, uint32_t siz,
                         int32_t *out) noexcept
{
    return vtyp_get_int(vmap_val(map, vmap_key(nst, VTYP_UDF, key, siz)), out);
}

int32_t vmap_get_str_ptr(st_vmap *map, void *nst, const char *key, void **out) noexcept
{
    return vmap_ptr_of(vmap_val(map, vmap_key(nst, VTYP_STR, key)), out);
}

// ---------------------------------------------------------------------------
// Deletion
// ---------------------------------------------------------------------------

int32_t vmap_del_int(st_vmap *map, void *nst, int32_t key, int32_t rcs) noexcept
{
    st_vtyp_prm k = vmap_key(nst, VTYP_INT, &key);
    return _vmap_del(map, &k, rcs);
}

int32_t vmap_del_flt(st_vmap *map, void *nst, double key, int32_t rcs) noexcept
{
    st_vtyp_prm k = vmap_key(nst, VTYP_FLT, &key);
    return _vmap_del(map, &k, rcs);
}

int32_t vmap_del_str(st_vmap *map, void *nst, const char *key, int32_t rcs) noexcept
{
    st_vtyp_prm k = vmap_key(nst, VTYP_STR, key);
    return _vmap_del(map, &k, rcs);
}

int32_t vmap_del_buf(st_vmap *map, void *nst, const void *key, uint32_t siz, int32_t rcs) noexcept
{
    st_vtyp_prm k = vmap_key(nst, VTYP_UDF, key, siz);
    return _vmap_del(map, &k, rcs);
}
