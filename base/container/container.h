// Containers: the intrusive ordered map with its traversals, and the buffer.
//
// The library is single-threaded by design: nothing here locks. The map's
// rotation lock is a re-entrancy counter, not a thread lock.
#pragma once

#include "base/diag/diag.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <type_traits>

// ---------------------------------------------------------------------------
// Ordered map: records and constants
//
// The map is a top-down red-black tree over caller-defined nodes. The map
// record says where, inside a node, the two links, the key and the colour bit
// lie; the function list compares keys and makes, overwrites, releases and
// prints nodes. Links are pointer-wide and may be unaligned.
//
// Compare sign convention (also for range compares): cmp(key, node key, prm)
// is negative when key sorts before the node, 0 when equal, positive after.
// A range compare returns 0 for a node inside the range, negative for a node
// above it and positive for a node below it.
// ---------------------------------------------------------------------------

using map_cmp_fn = int32_t (*)(const void *key, const void *nod_key, uintptr_t prm);
using map_cpy_fn = int32_t (*)(void *nod, const void *src, uintptr_t prm);  // 0 = done
using map_mak_fn = int32_t (*)(void **out, const void *src, uintptr_t prm); // 0 = made
using map_del_fn = void (*)(void *nod, uintptr_t prm);
using map_prt_fn = void (*)(FILE *fp, const void *nod, uintptr_t prm); // no line end

// Function list of one kind of node: five slots in this order.
struct st_map_fnc {
    map_cmp_fn cmp; // 0: compare a key with a node's key
    map_cpy_fn cpy; // 1: overwrite a node from a source record; may be empty
    map_mak_fn mak; // 2: make a node from a source record
    map_del_fn del; // 3: release a node
    map_prt_fn prt; // 4: print a node's payload
};

// Map record; the owner zero-fills it before map_set.
struct st_map {
    void *root;               // root node, none when empty
    const st_map_fnc *fnclst; // the kind's function list
    uintptr_t prm;            // passed as last argument of every callback
    int16_t lnk_ofs[2];       // node offsets of link 0 (smaller) and link 1 (larger)
    int16_t key_ofs;          // node offset of the key
    int16_t clr_ofs;          // node offset of the byte holding the colour bit
    uint16_t clr_bit;         // colour mask in that byte: set = red; other bits are the owner's
    uint32_t dpt_max;         // greatest search depth since map_set
    uint32_t dpt;             // key comparisons of the latest search
    int32_t rtt_lck;          // rotation lock: while non-zero, searches keep the shape
};
static_assert(std::is_standard_layout_v<st_map>);

enum : uint32_t {          /* mode of map_put */
    MAP_PUT_OLD_ONLY = 1u, // bit 0: a missing key is not added (result 1)
    MAP_PUT_KEEP = 2u,     // bit 1: a present key is kept as it is (result 1)
    MAP_PUT_RPL = 4u,      // bit 2: a present key's node is replaced by a new one
};

enum : uint32_t {      /* flags of map_prt */
    MAP_PRT_TREE = 1u, // bit 0: indented tree layout instead of in-order lines
    MAP_PRT_HDR = 2u,  // bit 1: link markers and node headers
};

// ---------------------------------------------------------------------------
// Ordered map: node access
// ---------------------------------------------------------------------------

// The key of a node (node-to-key step of every compare).
inline const void *map_nod_key(const st_map *map, const void *nod) noexcept
{
    return static_cast<const char *>(nod) + map->key_ofs;
}

// Link 0 or 1 of a node; links may be unaligned.
inline void *map_nod_lnk(const st_map *map, const void *nod, int side) noexcept
{
    void *p;
    std::memcpy(&p, static_cast<const char *>(nod) + map->lnk_ofs[side], sizeof p);
    return p;
}

// True when the node's colour bit says red.
inline bool map_nod_red(const st_map *map, const void *nod) noexcept
{
    return static_cast<const uint8_t *>(nod)[map->clr_ofs] & map->clr_bit;
}

// Sets or clears the colour bit; the other bits of the byte stay.
inline void map_clr_put(const st_map *map, void *nod, bool red) noexcept
{
    uint8_t *b = static_cast<uint8_t *>(nod) + map->clr_ofs;
    *b = red ? (*b | map->clr_bit) : (*b & ~map->clr_bit);
}

// A slot is the address of a link inside a node or of the map's root.
inline char *map_lnk_slot(const st_map *map, void *nod, int side) noexcept
{
    return static_cast<char *>(nod) + map->lnk_ofs[side];
}

inline void *map_slot_get(const char *slot) noexcept
{
    void *p;
    std::memcpy(&p, slot, sizeof p);
    return p;
}

inline void map_slot_put(char *slot, void *nod) noexcept
{
    std::memcpy(slot, &nod, sizeof nod);
}

inline void map_lnk_put(const st_map *map, void *nod, int side, void *to) noexcept
{
    map_slot_put(map_lnk_slot(map, nod, side), to);
}

// ---------------------------------------------------------------------------
// Ordered map: operations. Status results are also left in __rtn.
// ---------------------------------------------------------------------------

// Sets every field but rtt_lck; the map starts empty. Returns 0.
int32_t map_set(st_map *map, const st_map_fnc *fnclst, uintptr_t prm, int16_t lnk0_ofs,
                int16_t lnk1_ofs, int16_t key_ofs, int16_t clr_ofs, uint16_t clr_bit) noexcept;

// 0 and *out = the node with an equal key; 1 when there is none (*out not
// written). Like every search it may recolour and rotate (unless locked).
int32_t map_get(st_map *map, const void *key, void **out) noexcept;

// Puts the source record (its key at key_ofs) by mode (MAP_PUT_*): 0 and the
// node stored in *out (out may be null); 1 when the mode refused (*out gets
// the present node, or nothing when the key is missing); -1 when the make or
// overwrite callback failed, the tree keeping the nodes it had.
int32_t map_put(st_map *map, const void *src, void **out, uint32_t mode) noexcept;

// 0 when the node with an equal key was unlinked and released; 1 when there
// is none (nothing changed). Never rotates; no node may be deleted while an
// iterator is open.
int32_t map_del(st_map *map, const void *key) noexcept;

// Adds one to the rotation lock (on non-zero) or subtracts one. Returns 0.
int32_t map_rtt_lck(st_map *map, int32_t on) noexcept;

// Releases every node with slot 3 and empties the map; returns the map.
// Statistics and the lock stay, so the map can be used again at once.
st_map *map_end(st_map *map) noexcept;

// Report callback of map_chk: a child that is not ordered against its parent.
using map_chk_fn = void (*)(const void *nod, const void *cld, void *arg);

// 0 when every parent/child pair is ordered, 1 otherwise; each bad pair is
// reported through rpt (may be null). Colours and whole subtrees are not checked.
int32_t map_chk(st_map *map, map_chk_fn rpt, void *arg) noexcept;

// Prints the tree (flags MAP_PRT_*) with slot 4 printing each node. Returns 0.
int32_t map_prt(st_map *map, FILE *fp, uint32_t flg) noexcept;

// Library-internal: a search position and the rebalancing search shared by
// the map operations and the traversals.
enum : uint32_t {         /* __st_map_pos.flg */
    __MAP_POS_FOUND = 1u, // bit 0: cur holds the node with an equal key
    __MAP_POS_FROM = 4u,  // bit 2: start at cur instead of the root
};

struct __st_map_pos {
    char *cur;      // slot reached: the equal key's node or the empty slot
    map_cmp_fn cmp; // range compare replacing slot 0, or none
    uintptr_t prm;  // third argument of cmp (slot 0 gets the map's prm)
    uint32_t flg;   // __MAP_POS_* bits
};

// Searches for key and leaves the result in pos. Unless the map is locked,
// it recolours and rotates the nodes on its path. Never fails.
void __map_srch(st_map *map, const void *key, __st_map_pos *pos) noexcept;

// ---------------------------------------------------------------------------
// Fixed-size record maps: nodes are a record of R bytes whose first K bytes
// are the key, then link 0 (at R), link 1 (at R + 8) and a 32-bit word whose
// lowest bit is the colour (at R + 16). prm holds R << 16 | K.
// ---------------------------------------------------------------------------

constexpr int32_t ST_MAP_TAIL = 2 * sizeof(void *) + sizeof(uint32_t); // bytes after the record

// Sets a map of R-byte records keyed by their first K bytes. 0; -1 when K
// exceeds R or the node would not fit 16-bit offsets (map unchanged).
int32_t st_map_set(st_map *map, uint32_t rec_siz, uint32_t key_siz) noexcept;

int32_t st_map_cmp(const void *key, const void *nod_key, uintptr_t prm) noexcept; // memcmp of K
int32_t st_map_cpy(void *nod, const void *src, uintptr_t prm) noexcept;           // copies R; 0
int32_t st_map_mak(void **out, const void *src, uintptr_t prm) noexcept;          // malloc R + tail
void st_map_del(void *nod, uintptr_t prm) noexcept;                               // free
void st_map_prt(FILE *fp, const void *nod, uintptr_t prm) noexcept;               // "%02X" bytes

extern const st_map_fnc st_map_fnclst; // the five st_map_* callbacks

// ---------------------------------------------------------------------------
// Ordered map traversal
// ---------------------------------------------------------------------------

// Visitor of map_rng: 0 goes on, anything else stops the walk.
using map_rng_fn = int32_t (*)(void *nod, void *arg);

// Visits in ascending order every node (rng null) or every node for which
// rng(key, node key, map prm) is 0. 0 when the walk completed; 1 when the
// visitor stopped it or no node lies in the range. Rebalances below the
// visited node unless locked; nodes must not be deleted from the visitor.
int32_t map_rng(st_map *map, const void *key, map_cmp_fn rng, map_rng_fn fnc, void *arg) noexcept;

// 0 and *cnt = the number of nodes.
int32_t map_cnt(st_map *map, uint32_t *cnt) noexcept;

// One entry of an iterator's stack.
struct st_map_rng_ent {
    st_map_rng_ent *nxt; // entry below, none at the bottom
    void *nod;           // node still to hand out
};

// Range iterator; map_rng_pop_set fills it, the caller reserves it.
struct st_map_rng_itr {
    st_map *map;         // the map walked, none once ended
    const void *key;     // key handed to the range compare
    map_cmp_fn rng;      // range compare, none for the whole map
    uintptr_t rng_prm;   // third argument of the range compare
    st_map_rng_ent *stk; // stacked nodes, top first
};

// Opens an iterator and takes the rotation lock (held until map_rng_pop_end,
// also when this fails). 0; -1 when a stack entry cannot be allocated. An
// empty map without range leaves one empty entry: the first pop gives -1.
int32_t map_rng_pop_set(st_map *map, const void *key, map_cmp_fn rng, uintptr_t rng_prm,
                        st_map_rng_itr *itr) noexcept;

// As map_rng_pop_set; with rpt set, a range that matches nothing gives 1.
int32_t _map_rng_pop_set(st_map *map, const void *key, map_cmp_fn rng, uintptr_t rng_prm,
                         st_map_rng_itr *itr, int32_t rpt) noexcept;

// 0 and *out = the next node in ascending order; 1 at the end; -1 when a
// stack entry cannot be allocated (the node is still handed out) or the map
// was empty at set-up.
int32_t map_rng_pop(st_map_rng_itr *itr, void **out) noexcept;

// Releases the remaining entries and the rotation lock. Returns 0.
int32_t map_rng_pop_end(st_map_rng_itr *itr) noexcept;

// ---------------------------------------------------------------------------
// Buffer: records and constants
//
// A buffer is addressed through its data field: the handle is the address
// of dat, and the four 32-bit header words lie immediately before it. The
// record may sit unaligned inside a packed value, so every header word and
// dat are read and written through memcpy (the accessors below).
//
// Legal flg combinations (end bit 0 may be added to each):
//   0              inline: elements lie in the record from dat on
//   BUF_EXT        fixed array or string view in caller memory
//   BUF_EXT|VAR|e  growable array of 2^e elements (e in bits 8..13)
//   BUF_EXT|LNK    linked stack;  BUF_EXT|LNK|QUE  linked queue
// A list element is a block of its own: its next link lies right before it.
// A queue keeps its tail in a word before the head's next link (the 32-bit
// cursor cannot hold a pointer); pos stays 0 for lists.
// ---------------------------------------------------------------------------

struct st_buf {
    uint32_t flg; // mode and state, BUF_* bits
    uint32_t pos; // cursor of buf_pop and buf_psh (array modes)
    uint32_t cnt; // elements in use / in the list
    uint32_t siz; // element size in bytes
    void *dat;    // first element / head element; inline elements start here
};
static_assert(std::is_standard_layout_v<st_buf>);
static_assert(offsetof(st_buf, dat) == 4 * sizeof(uint32_t), "header words lie right before dat");

enum : uint32_t {          /* st_buf.flg */
    BUF_EOP = 1u,          // bit 0: end of pop/push reached (sticky until buf_rst)
    BUF_EXT = 2u,          // bit 1: elements outside the record (clear: inline)
    BUF_VAR = 4u,          // bit 2: growable array
    BUF_LNK = 8u,          // bit 3: linked list
    BUF_QUE = 1024u,       // bit 10, linked lists only: queue (else stack)
    BUF_EXP_SHF = 8u,      // growable arrays only: capacity exponent in bits 8..13
    BUF_EXP_MSK = 0x3f00u, // the exponent field
};

constexpr int32_t BUF_HDR_SIZ = 4 * sizeof(uint32_t); // header bytes before the handle

// ---------------------------------------------------------------------------
// Buffer: header access through the handle (memcpy-safe, any alignment)
// ---------------------------------------------------------------------------

// The handle of a buffer record.
inline void *buf_hdl(st_buf *buf) noexcept
{
    return &buf->dat;
}

// Header word i (0 flg, 1 pos, 2 cnt, 3 siz) of the buffer at hdl.
inline uint32_t buf_hdr(const void *hdl, int i) noexcept
{
    uint32_t w;
    std::memcpy(&w, static_cast<const char *>(hdl) - BUF_HDR_SIZ + 4 * i, sizeof w);
    return w;
}

inline uint32_t buf_flg(const void *hdl) noexcept
{
    return buf_hdr(hdl, 0);
}
inline uint32_t buf_pos(const void *hdl) noexcept
{
    return buf_hdr(hdl, 1);
}
inline uint32_t buf_cnt(const void *hdl) noexcept
{
    return buf_hdr(hdl, 2);
}
inline uint32_t buf_siz(const void *hdl) noexcept
{
    return buf_hdr(hdl, 3);
}

// The data pointer (array start or head element).
inline void *buf_dat(const void *hdl) noexcept
{
    void *p;
    std::memcpy(&p, hdl, sizeof p);
    return p;
}

// Writes the four header words; how an owner sets up an inline buffer.
inline void buf_hdr_put(void *hdl, uint32_t flg, uint32_t pos, uint32_t cnt, uint32_t siz) noexcept
{
    const uint32_t w[4] = {flg, pos, cnt, siz};
    std::memcpy(static_cast<char *>(hdl) - BUF_HDR_SIZ, w, sizeof w);
}

// ---------------------------------------------------------------------------
// Buffer: operations. Status results are also left in __rtn; the end status
// is RTN_ERR1 (0x80000001): the buffer can no longer give or take.
// ---------------------------------------------------------------------------

// Constructors: set all five words, pos 0. Each returns 0.
int32_t buf_ptr(void *hdl, void *mem, uint32_t siz, uint32_t cnt) noexcept; // fixed array
int32_t buf_str(void *hdl, const char *txt) noexcept; // bytes of txt; pushes write into it
int32_t buf_var(void *hdl, uint32_t siz) noexcept;    // growable array
int32_t buf_lnks(void *hdl, uint32_t siz) noexcept;   // linked stack
int32_t buf_lnkq(void *hdl, uint32_t siz) noexcept;   // linked queue

// Makes elements idx .. idx + n - 1 exist (a growable array grows) and sets
// *out to element idx. 0; -1 when out of range, on an empty list or when the
// array cannot grow (buffer unchanged). Lists: idx UINT32_MAX is the tail;
// walking off the end sets the end bit and gives 0 with *out none.
int32_t buf_ref(void *hdl, uint32_t idx, uint32_t n, void **out) noexcept;

// Copies element idx out to dst. 0; -1 when there is no such element.
int32_t buf_get(void *hdl, uint32_t idx, void *dst) noexcept;

// Copies src into element idx (a growable array grows). 0; -1 as buf_get.
int32_t buf_put(void *hdl, uint32_t idx, const void *src) noexcept;

// Reads the next element (a list gives up its head). 0; the end status when
// there is none or the end bit is set; -1 on failure.
int32_t buf_pop(void *hdl, void *dst) noexcept;

// Writes the next element (a list adds a block). 0; the end status when the
// end bit is set; -1 at the end of a fixed array or when allocation fails.
int32_t buf_psh(void *hdl, const void *src) noexcept;

// Clears the end bit and, except for lists, rewinds pos. Returns 0.
int32_t buf_rst(void *hdl) noexcept;

// buf_rst, and an inline buffer's elements are zero-filled. Returns 0.
int32_t buf_clr(void *hdl) noexcept;

// 1 when the end bit is set, else 0 (__rtn untouched).
int32_t buf_eop(const void *hdl) noexcept;

// Releases what the buffer owns (array or list blocks) and empties dat;
// returns hdl when it released, none for modes that own nothing. cnt, pos
// and the exponent stay; the constructor makes a buffer fresh.
void *buf_end(void *hdl) noexcept;

// Hands the array over (*out; the caller frees it) and empties dat. 0; -1
// when dat was empty or the buffer is a list (nothing changed).
int32_t _buf_vptr(void *hdl, void **out) noexcept;
