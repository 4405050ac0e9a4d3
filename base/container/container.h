// Containers: the intrusive ordered map with its traversals, the buffer,
// the packed variant value with its order and equal chains, and the variant
// map built from them with its iteration.
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
//
// Balance. Always: the keys are ordered and each node is in the tree once.
// - Puts and searches (lock off) on a map that had no delete since it was
//   last empty or rebuilt by map_bal keep it red-black but for the red pairs that colour flips
//   leave: every path from the root to an empty link holds the same number
//   of black nodes, and no path holds three red nodes in a row; so the
//   height is at most 3*log2(n+1) for n nodes (in practice the searches
//   keep it within 2*log2(n+1)). A search lifts the red pairs on its path by rotation
//   and may leave new ones below by a flip; neither changes the black count
//   of a path (blackening a red root adds one to every path). The root is
//   black after a search; a put into an empty map leaves a red root.
// - While the lock is held, puts still keep black counts equal, but a new
//   red node may hang under a red one; unlocked searches lift such runs
//   where they pass.
// - A delete never rotates and never makes a node deeper, so it never makes
//   the tree taller. It does not keep black counts: unlinking a black node
//   takes one black from its paths, and the recolouring on the way up (the
//   first red node turns black, its children red) makes up for it only in
//   simple cases. Searches repair red pairs, not black counts, so after a
//   delete only order holds until the map is emptied; puts and deletes
//   interleaved let the height drift to several times log2(n+1).
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
    MAP_PUT_END = 8u,      // bit 3: hint that the key follows every key (sorted input):
                           //        it is compared with the greatest first and, when it
                           //        does follow it, put with no further compares
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

// Links nod, a node made by the map's make callback that no map holds,
// under its own key; of mode only MAP_PUT_END counts. 0; 1 when its key is
// present (nod stays unlinked, the caller's); -1 for no map or node.
int32_t map_put_nod(st_map *map, void *nod, uint32_t mode) noexcept;

// 0 when the node with an equal key was unlinked and released; 1 when there
// is none (nothing changed). Never rotates (see Balance above); no node may
// be deleted while an iterator is open.
int32_t map_del(st_map *map, const void *key) noexcept;

// Relinks every node into a tree of the least height that is red-black
// again (equal black counts, no red pair), in key order and in O(n) time:
// what puts and searches keep after map_del has worn the balance down.
// 0; -1 while the rotation lock is held or when the node list cannot be
// allocated (nothing changed).
int32_t map_bal(st_map *map) noexcept;

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
    __MAP_POS_END = 8u,   // bit 3: the key follows every node: go right, compare nothing
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

// ---------------------------------------------------------------------------
// Variant value: records and constants
//
// A variant value is one typed datum in a packed heap block whose optional
// parts are announced by its first bytes. Parts follow each other without
// gaps, in this order, each only when its condition holds (P is
// sizeof(void *); pointers and numbers are native-endian and unaligned):
//
//   part               bytes     present when
//   flag byte          1         always
//   extension byte     1         VTYP_EXT
//   third byte         1         VTYP_X_TRD
//   tree links 0, 1    2P        VTYP_MAP
//   links              P or 2P   VTYP_LNK (2P with VTYP_T_LNK2)
//   nest               P         VTYP_NST
//   order block        3P        VTYP_X_ODR: next, previous, first child
//   equal-chain ptr    P         VTYP_X_EQU
//   size               4         kind VTYP_UDF or VTYP_STR
//   datum              ...       always
//
// Datum, storage in the value: int 4, double 8, pointer P (the pointer
// itself), raw bytes and strings as many bytes as the size field says (a
// string's size is its capacity, terminator included). Storage in a
// buffer (VTYP_X_BUF): an st_buf record whose handle lies VTYP_BUF_HDL
// bytes into the datum; the size field, when present, holds the element size.
//
// Legal combinations (packed form):
//   flag: kind 1..5; VTYP_RED only with VTYP_MAP; any of EXT, LNK, NST, MAP.
//   ext:  present only when not 0 (a constructor drops an empty one);
//         storage 0 or 1; TRD, ODR, EQU in any mix; VTYP_X_PRM and bit 6 clear.
//   third byte: present only with VTYP_X_TRD; only VTYP_T_LNK2 may be set.
// Variant-map keys are MAP|LNK (+NST in nested maps, +EXT with ODR and/or
// EQU in ordered or equal-key maps); their values carry no map parts.
//
// A value owns its buffer, the values its links point at and the member its
// equal-chain pointer names (so the rest of the chain); not its nest nor
// its order-chain neighbours.
// ---------------------------------------------------------------------------

enum : uint8_t {   /* flag byte, bits 0-2: kind */
    VTYP_UDF = 1u, // raw bytes; the size field gives their count
    VTYP_INT = 2u, // signed 32-bit integer
    VTYP_FLT = 3u, // double
    VTYP_STR = 4u, // NUL-terminated string; the size field gives its capacity
    VTYP_PTR = 5u, // pointer; the pointer itself is the datum
    VTYP_KND = 7u, // the kind field
};

enum : uint8_t {     /* flag byte, bits 3-7 */
    VTYP_EXT = 0x08, // bit 3: an extension byte follows
    VTYP_LNK = 0x10, // bit 4: links to other values (owned)
    VTYP_NST = 0x20, // bit 5: a nest, the address of the parent value
    VTYP_MAP = 0x40, // bit 6: a node of an ordered map, with two tree links
    VTYP_RED = 0x80, // bit 7: the map's colour bit; the value never reads it
};

enum : uint8_t {       /* extension byte */
    VTYP_X_STG = 0x07, // bits 0-2: storage: 0 in the value, VTYP_X_BUF in a buffer
    VTYP_X_BUF = 0x01, // storage 1: the datum is an st_buf record
    VTYP_X_TRD = 0x08, // bit 3: a third byte follows
    VTYP_X_ODR = 0x10, // bit 4: an order block
    VTYP_X_EQU = 0x20, // bit 5: an equal-chain pointer
    VTYP_X_PRM = 0x80, // bit 7: the record is in parameter form, not packed
};

enum : uint8_t {        /* third byte */
    VTYP_T_LNK2 = 0x80, // bit 7: two links instead of one
};

// Byte offset of the buffer handle inside a buffer-held datum.
constexpr int32_t VTYP_BUF_HDL = offsetof(st_buf, dat);

// Buffer constructor held by a parameter of storage VTYP_X_BUF (as buf_var).
using vtyp_buf_fn = int32_t (*)(void *hdl, uint32_t siz);

// Parameter form: a fixed, unpacked record (usually on the caller's stack,
// every field it does not need zero) from which the constructor packs a
// value. Field order is that of the 32-bit original; pointers are pointer
// wide and aligned, so on 64-bit the positions are those asserted below.
// Two records back to back are a parameter pair: the key, then its value.
struct st_vtyp_prm {
    uint8_t flg;     // flag byte: kind and VTYP_* bits
    uint8_t ext;     // extension byte (VTYP_X_PRM marks the parameter form)
    uint8_t trd;     // third byte
    uint8_t rsv0;    // unused, 0
    void *lnk[2];    // links (one, or two with VTYP_T_LNK2)
    void *rsv1[2];   // unused, 0 (no tree links in this form)
    uint32_t siz;    // size: raw byte count, string capacity, buffer element size
    void *nst;       // nest: the parent value
    void *odr[3];    // order block: next, previous, first child
    void *equ;       // equal-chain pointer
    uint32_t rsv2;   // unused, 0
    const void *dat; // datum address (a string: the string); a pointer value:
                     // the pointer itself; storage VTYP_X_BUF: a vtyp_buf_fn
};
static_assert(std::is_standard_layout_v<st_vtyp_prm>);
static_assert(offsetof(st_vtyp_prm, lnk) == (sizeof(void *) == 8 ? 8 : 4));
static_assert(offsetof(st_vtyp_prm, siz) == 4 * sizeof(void *) + (sizeof(void *) == 8 ? 8 : 4));
static_assert(sizeof(void *) != 8 ||
                  (offsetof(st_vtyp_prm, siz) == 40 && offsetof(st_vtyp_prm, nst) == 48 &&
                   offsetof(st_vtyp_prm, odr) == 56 && offsetof(st_vtyp_prm, equ) == 80 &&
                   offsetof(st_vtyp_prm, dat) == 96 && sizeof(st_vtyp_prm) == 104),
              "64-bit parameter form: siz 40, nst 48, odr 56/64/72, equ 80, dat 96; 104 bytes");
static_assert(sizeof(void *) != 4 || sizeof(st_vtyp_prm) == 52, "the 32-bit form is 52 bytes");

// Stores a buffer constructor in a parameter's data pointer.
inline void vtyp_prm_buf(st_vtyp_prm *prm, vtyp_buf_fn fn) noexcept
{
    static_assert(sizeof fn == sizeof prm->dat);
    std::memcpy(&prm->dat, &fn, sizeof fn);
}

// ---------------------------------------------------------------------------
// Variant value: operations. Results are also left in __rtn. Out slots
// typed `void *slot` take the address of the caller's pointer of any type.
// ---------------------------------------------------------------------------

// Packs a new value into *out from a parameter, or copies a packed value (a
// record with VTYP_EXT and without VTYP_X_PRM). A record without VTYP_EXT is
// a parameter all the same. 0; 1 for an invalid kind; -1 for a storage it
// cannot make (a buffer without constructor) or when allocation or the
// buffer constructor fails (nothing allocated). A packed copy is
// standalone: no links, no equal member, an order chain of one.
int32_t vtyp_set(void **out, const void *src) noexcept;

// Makes a key value (from pair[0], given VTYP_LNK) whose link 0 points at a
// new value made from pair[1]; halves not both in parameter form are copied
// and marked first. 0; -1 on any failure (nothing allocated).
int32_t vtyp_set_pr(void **out, const st_vtyp_prm *pair) noexcept;

// As vtyp_set_pr for a marked pair (a value half with flag byte 0 means no
// value), or, given a packed key, a copy of it with a copy of its linked
// value. 0; -1 on failure (nothing allocated).
int32_t _vtyp_set_pr(void **out, const void *src) noexcept;

// Expands a packed value into a parameter record that views it: the data
// pointer is the datum's address (a pointer value: the pointer itself; a
// buffer-held value: none, as its constructor is not kept). 0; 1 for an
// invalid kind; -1 for none.
int32_t vtyp_get_prm(const void *val, st_vtyp_prm *out) noexcept;

// Releases a packed value (none allowed): its buffer, its linked values,
// its whole equal chain; cuts it out of its order chain.
void vtyp_end(void *val) noexcept;

// Total bytes of a packed value (header and datum); 0 for none.
uint32_t vtyp_len(const void *val) noexcept;

// Links: 0; 1 when the value has no link idx; -1 for no value. put stores
// the pointer (releasing nothing); del releases the linked value and
// clears the link; get hands out the linked value (possibly none).
int32_t vtyp_put_lnk(void *val, void *lnk, int32_t idx) noexcept;
int32_t vtyp_del_lnk(void *val, int32_t idx) noexcept;
int32_t vtyp_get_lnk(const void *val, void **out, int32_t idx) noexcept;

// 0 and *slot = the datum address of the value at link idx (a string value:
// the string); -1 when there is no such link or it is empty.
int32_t vtyp_ref_lnk_val(const void *val, int32_t idx, void *slot) noexcept;

// Nest: 0; -1 when the value has none or is none.
int32_t vtyp_put_nst(void *val, void *par) noexcept;
int32_t vtyp_get_nst(const void *val, void **out) noexcept;

// Kind tests: 0 when the value has that kind; -1 otherwise and for none.
int32_t vtyp_is_int(const void *val) noexcept;
int32_t vtyp_is_flt(const void *val) noexcept;
int32_t vtyp_is_str(const void *val) noexcept;
int32_t vtyp_is_ptr(const void *val) noexcept;

// 0 and *slot = the address of the datum (buffer-held: of the st_buf
// record); -1 for none.
int32_t vtyp_ref_val(const void *val, void *slot) noexcept;

// Typed reads of a datum held in the value: 0, or -1 for none, another kind
// or buffer storage (the target then stays as it was). get_str hands out
// the string inside the value; get_ptr the address of the pointer datum.
int32_t vtyp_get_int(const void *val, int32_t *out) noexcept;
int32_t vtyp_get_flt(const void *val, double *out) noexcept;
int32_t vtyp_get_str(const void *val, char **out) noexcept;
int32_t vtyp_get_ptr(const void *val, void **out) noexcept;

// 0 and the size field (raw bytes, strings), 4 (int) or 8 (double); -1 for
// pointers and for none.
int32_t vtyp_get_siz(const void *val, uint32_t *out) noexcept;

// ---------------------------------------------------------------------------
// Variant value: map callbacks, order chains and equal chains
//
// Key order of vtyp_map_cmp, first difference decides: nest (a value
// without one first, else signed pointer-wide compare); storage; kind;
// then the datum: buffers equal, raw bytes shorter first then memcmp,
// integers signed, doubles numeric (NaN equal), strings strcmp, pointers
// equal. The keys of one parent are thus one contiguous stretch.
// ---------------------------------------------------------------------------

int32_t vtyp_map_cmp(const void *key, const void *nod_key, uintptr_t prm) noexcept;

// Range compare over the children of par: 0 when the node's nest is par,
// -1 when it is greater (node above), 1 when smaller or absent (below).
int32_t vtyp_map_cmp_rng_nst(const void *par, const void *nod_key, uintptr_t prm) noexcept;

// Overwrite: gives the key node a new linked value from src (a marked pair,
// or a packed key whose link 0 is copied); src none or an empty value half
// leave the key without value. 0; -1 (node unchanged) on failure.
int32_t vtyp_map_cpy(void *nod, const void *src, uintptr_t prm) noexcept;
int32_t vtyp_map_mak(void **out, const void *src, uintptr_t prm) noexcept; // _vtyp_set_pr
void vtyp_map_del(void *nod, uintptr_t prm) noexcept;                      // vtyp_end
void vtyp_map_prt(FILE *fp, const void *val, uintptr_t prm) noexcept;      // debug print

extern const st_map_fnc vtyp_map_fnclst; // the five vtyp_map_* callbacks

// Order block: 0 and next, previous and first child (each out may be
// none); -1 for none or a value without order block.
int32_t vtyp_get_odr(const void *val, void **nxt, void **prv, void **cld) noexcept;

// Sets the parent's first child; nothing else changes. 0; -1 as above.
int32_t vtyp_put_odr_cld_top(void *par, void *val) noexcept;

// Links nval into val's circular chain after / before val. 0; -1 for none
// or a missing order block.
int32_t vtyp_ins_odr_nxt(void *val, void *nval) noexcept;
int32_t vtyp_ins_odr_bck(void *val, void *nval) noexcept;

// Unlinks val from its chain, leaving it a chain of one. A parent's first
// child or a map's head naming it is not moved. 0; -1 as above.
int32_t vtyp_cut_odr(void *val) noexcept;

// Equal chain: 0 and the next member (none at the end) / sets the pointer
// (the caller walks to the end first). -1 for none or no equal pointer.
int32_t vtyp_get_equ(const void *val, void **out) noexcept;
int32_t vtyp_put_equ(void *val, void *mem) noexcept;

// Library-internal: the layout of a value from its first bytes, shared by
// the value, order and map code; inline, as every compare decodes two.
// Offsets are -1 for absent parts.
struct __vtyp_lay {
    uint8_t flg, ext, trd;                // header bytes; ext and trd 0 when absent
    uint8_t nlnk;                         // links: 0, 1 or 2
    bool prm;                             // parameter form
    int16_t tre, lnk, nst, odr, equ, siz; // part offsets
    int16_t dat;                          // packed: datum offset; parameter form: -1
};

constexpr int16_t __VTYP_P = sizeof(void *); // bytes of a pointer part

inline bool __vtyp_has_siz(uint8_t flg) noexcept
{
    uint8_t k = flg & VTYP_KND;
    return k == VTYP_UDF || k == VTYP_STR;
}

// Offsets of the packed parts, in their fixed order, from the three bytes.
inline void __vtyp_lay_pck(__vtyp_lay *l) noexcept
{
    int16_t o = 1 + ((l->flg & VTYP_EXT) ? 1 : 0) + ((l->ext & VTYP_X_TRD) ? 1 : 0);
    auto part = [&o](bool on, int16_t w) -> int16_t {
        int16_t at = on ? o : int16_t(-1);
        o += on ? w : 0;
        return at;
    };
    l->tre = part(l->flg & VTYP_MAP, 2 * __VTYP_P);
    l->lnk = part(l->nlnk, int16_t(l->nlnk * __VTYP_P));
    l->nst = part(l->flg & VTYP_NST, __VTYP_P);
    l->odr = part(l->ext & VTYP_X_ODR, 3 * __VTYP_P);
    l->equ = part(l->ext & VTYP_X_EQU, __VTYP_P);
    l->siz = part(__vtyp_has_siz(l->flg), 4);
    l->dat = o;
}

// The three bytes as they apply: ext only with VTYP_EXT, trd only with VTYP_X_TRD.
inline void __vtyp_lay_hdr(__vtyp_lay *l, uint8_t flg, uint8_t ext, uint8_t trd) noexcept
{
    l->flg = flg;
    l->ext = (flg & VTYP_EXT) ? ext : 0;
    l->trd = (l->ext & VTYP_X_TRD) ? trd : 0;
    l->nlnk = (flg & VTYP_LNK) ? ((l->trd & VTYP_T_LNK2) ? 2 : 1) : 0;
}

// The layout of a record read as a parameter.
inline void __vtyp_lay_prm(const st_vtyp_prm *prm, __vtyp_lay *l) noexcept
{
    __vtyp_lay_hdr(l, prm->flg, prm->ext, prm->trd);
    l->prm = true;
    l->tre = -1;
    l->lnk = l->nlnk ? offsetof(st_vtyp_prm, lnk) : -1;
    l->nst = (l->flg & VTYP_NST) ? offsetof(st_vtyp_prm, nst) : -1;
    l->odr = (l->ext & VTYP_X_ODR) ? offsetof(st_vtyp_prm, odr) : -1;
    l->equ = (l->ext & VTYP_X_EQU) ? offsetof(st_vtyp_prm, equ) : -1;
    l->siz = offsetof(st_vtyp_prm, siz);
    l->dat = -1;
}

// The layout of a value by its own bytes, in either form.
inline void __vtyp_lay_get(const void *val, __vtyp_lay *l) noexcept
{
    const uint8_t *b = static_cast<const uint8_t *>(val);
    if ((b[0] & VTYP_EXT) && (b[1] & VTYP_X_PRM))
        return __vtyp_lay_prm(static_cast<const st_vtyp_prm *>(val), l);
    uint8_t ext = (b[0] & VTYP_EXT) ? b[1] : 0;
    __vtyp_lay_hdr(l, b[0], ext, (ext & VTYP_X_TRD) ? b[2] : 0);
    l->prm = false;
    __vtyp_lay_pck(l);
}

// The datum address of a value of that layout.
inline const void *__vtyp_dat(const void *val, const __vtyp_lay *l) noexcept
{
    if (!l->prm)
        return static_cast<const char *>(val) + l->dat;
    const st_vtyp_prm *prm = static_cast<const st_vtyp_prm *>(val);
    return (l->flg & VTYP_KND) == VTYP_PTR ? static_cast<const void *>(&prm->dat) : prm->dat;
}

// Packs a copy of a packed value (as vtyp_set, for values without VTYP_EXT too).
int32_t __vtyp_cpy(void **out, const void *val) noexcept;

// Pointer part at byte ofs of a value (unaligned).
inline void *__vtyp_ptr(const void *val, int32_t ofs) noexcept
{
    void *p;
    std::memcpy(&p, static_cast<const char *>(val) + ofs, sizeof p);
    return p;
}

inline void __vtyp_ptr_put(void *val, int32_t ofs, const void *p) noexcept
{
    std::memcpy(static_cast<char *>(val) + ofs, &p, sizeof p);
}

// Debug-only validator: true when a packed value's header bytes form a
// legal combination (block above). Called from assertions.
bool __vtyp_chk(const void *val) noexcept;

// ---------------------------------------------------------------------------
// Variant map
//
// An ordered map whose nodes are packed key values; link 0 of each key
// points at the entry's value. Modes add keys nested under other keys of
// the same map, insertion order and several values under one key.
// Operations take parameter records (never changed) or typed arguments,
// and return 0 or -1 (also left in __rtn).
// ---------------------------------------------------------------------------

enum : uint32_t {  /* st_vmap.mod */
    VMAP_NST = 1u, // bit 0: nested; every key has a nest, 0 at top level
    VMAP_ODR = 2u, // bit 1: ordered; siblings chained in insertion order
    VMAP_EQU = 4u, // bit 2: equal keys; further values chained under a key
};

// Map callback on a key node: non-zero refuses (bef_del) or fails the call.
using vmap_fnc = int32_t (*)(void *nod, uintptr_t arg);

// Variant map record; the owner reserves it, vmap_set fills it.
struct st_vmap {
    st_map map;       // the ordered map of key nodes; prm is this record
    void *head;       // first top-level key in insertion order (VMAP_ODR)
    vmap_fnc bef_del; // before a deletion; non-zero refuses it
    vmap_fnc aft_get; // after a successful lookup; non-zero fails it
    vmap_fnc aft_put; // after a successful put; non-zero turns it into -1
    uintptr_t bef_del_arg, aft_get_arg, aft_put_arg; // the callbacks' arguments
    uint32_t mod;                                    // VMAP_* bits
};
static_assert(std::is_standard_layout_v<st_vmap> && offsetof(st_vmap, map) == 0);

// Zero-fills the record and sets an empty map of mode mod. 0; -1 for
// unknown mode bits.
int32_t vmap_set(st_vmap *map, uint32_t mod) noexcept;

// Releases every key with its value, equal chain and nested keys and
// zero-fills the record. Returns 0.
int32_t vmap_end(st_vmap *map) noexcept;

// Install a callback and its argument. Return 0.
int32_t vmap_lkg_fnc_bef_del(st_vmap *map, vmap_fnc fnc, uintptr_t arg) noexcept;
int32_t vmap_lkg_fnc_aft_get(st_vmap *map, vmap_fnc fnc, uintptr_t arg) noexcept;
int32_t vmap_lkg_fnc_aft_put(st_vmap *map, vmap_fnc fnc, uintptr_t arg) noexcept;

// Puts a parameter pair (key, value) by map_put mode (MAP_PUT_*); in an
// equal-key map MAP_PUT_KEEP on a present key appends a member to its
// chain. 0 and the key node (or new member) in *nod (may be none); -1 on
// any refusal or failure, nothing changed (but a put that aft_put fails
// stays). A key with buffer storage or a third byte is refused, and so is
// a replace (MAP_PUT_RPL) of a key that has nested keys.
int32_t _vmap_put(st_vmap *map, const st_vtyp_prm *pair, void **nod, uint32_t mode) noexcept;

// Equal-key maps: links a new member made from the pair (whose key equals
// mem's) right after mem, a key node or member of an equal chain, without
// walking the chain: appending many values costs one step each. 0 and the
// member in *out (may be none); -1 for another map mode or a failed
// allocation, nothing changed (a member that aft_put refuses stays).
int32_t _vmap_put_equ(st_vmap *map, void *mem, const st_vtyp_prm *pair, void **out) noexcept;

// Maps of mode 0: makes the key node of a pair as _vmap_put would, but
// links it nowhere. A caller that gathers new keys and links them in key
// order (vmap_put_nod) finds each insertion path still in the cache. The
// node is the caller's until it is linked (vtyp_end releases it). 0, or
// -1 for another mode or a refused pair or failed allocation.
int32_t _vmap_mak(st_vmap *map, const st_vtyp_prm *pair, void **nod) noexcept;

// Links a node from _vmap_mak of this map by map_put_nod. 0; 1 when its key
// is present (the node stays the caller's); -1 for another map mode, or
// when aft_put refuses (the node stays linked).
int32_t vmap_put_nod(st_vmap *map, void *nod, uint32_t mode) noexcept;

// As _vmap_put for a key without value; -1 when key->ext is not 0.
int32_t _vmap_put_no_val(st_vmap *map, const st_vtyp_prm *key, void **nod, uint32_t mode) noexcept;

// 0 and the key node; -1 when missing, refused by aft_get, or key->ext is
// not 0. Like every search it may rebalance the tree.
int32_t _vmap_get(st_vmap *map, const st_vtyp_prm *key, void **nod) noexcept;

// 0 and *slot = the datum address of the key's value; -1 when missing or
// without value.
int32_t _vmap_get_val(st_vmap *map, const st_vtyp_prm *key, void *slot) noexcept;

// Deletes the key with its value and equal chain; its nested keys too when
// rcs is non-zero (else a key with nested keys gives -1). -1 when missing,
// refused by bef_del (for it or a nested key) or key->ext is not 0; nested
// keys deleted before a refusal stay deleted.
int32_t _vmap_del(st_vmap *map, const st_vtyp_prm *key, int32_t rcs) noexcept;

// As _vmap_del for a key node of map that the caller holds (from a lookup
// or a put), without searching for it first. -1 for none or a refusal.
int32_t _vmap_del_nod(st_vmap *map, void *nod, int32_t rcs) noexcept;

// Ordered maps: 0 and head (nod none) or the first child of nod; -1 for a
// map that is not ordered.
int32_t vmap_get_odr(st_vmap *map, const void *nod, void **out) noexcept;

// map_prt with every key printed by vtyp_map_prt. Returns 0.
int32_t vmap_prt(st_vmap *map, FILE *fp, uint32_t flg) noexcept;

// map_bal on the variant map's tree (nested keys and orders stay as they are).
int32_t vmap_bal(st_vmap *map) noexcept;

// Puts every key of src with its value into dst (put mode 0); nested keys
// under the copies of their parents, top-level keys under nst. 0; -1 on the
// first failure (keys merged so far stay), also for dst == src.
int32_t vmap_mrg(st_vmap *dst, void *nst, st_vmap *src) noexcept;

// ---------------------------------------------------------------------------
// Variant map: typed family. Arguments: map, nest (the parent key node;
// none at top level and in maps that are not nested), the key (int, double,
// string, or data address and byte count), then the rest. Each returns 0 or
// -1; getters give -1 when the key is missing, has no value or a value of
// another kind, and then leave the target alone.
// ---------------------------------------------------------------------------

int32_t vmap_put_int_str(st_vmap *map, void *nst, int32_t key, const char *val,
                         uint32_t mode) noexcept;
int32_t vmap_put_flt_str(st_vmap *map, void *nst, double key, const char *val,
                         uint32_t mode) noexcept;
int32_t vmap_put_str_str(st_vmap *map, void *nst, const char *key, const char *val,
                         uint32_t mode) noexcept;
int32_t vmap_put_buf_str(st_vmap *map, void *nst, const void *key, uint32_t siz, const char *val,
                         uint32_t mode) noexcept;
int32_t vmap_put_int_int(st_vmap *map, void *nst, int32_t key, int32_t val, uint32_t mode) noexcept;
int32_t vmap_put_flt_int(st_vmap *map, void *nst, double key, int32_t val, uint32_t mode) noexcept;
int32_t vmap_put_str_int(st_vmap *map, void *nst, const char *key, int32_t val,
                         uint32_t mode) noexcept;
int32_t vmap_put_buf_int(st_vmap *map, void *nst, const void *key, uint32_t siz, int32_t val,
                         uint32_t mode) noexcept;
int32_t vmap_put_str_ptr(st_vmap *map, void *nst, const char *key, void *val,
                         uint32_t mode) noexcept;
int32_t vmap_put_int_nul(st_vmap *map, void *nst, int32_t key, uint32_t mode) noexcept;
int32_t vmap_put_flt_nul(st_vmap *map, void *nst, double key, uint32_t mode) noexcept;
int32_t vmap_put_str_nul(st_vmap *map, void *nst, const char *key, uint32_t mode) noexcept;
int32_t vmap_put_buf_nul(st_vmap *map, void *nst, const void *key, uint32_t siz,
                         uint32_t mode) noexcept;

// As the members without underscore, handing out the key node in *nod.
int32_t _vmap_put_str_str(st_vmap *map, void *nst, const char *key, const char *val, void **nod,
                          uint32_t mode) noexcept;
int32_t _vmap_put_str_int(st_vmap *map, void *nst, const char *key, int32_t val, void **nod,
                          uint32_t mode) noexcept;
int32_t _vmap_put_str_ptr(st_vmap *map, void *nst, const char *key, void *val, void **nod,
                          uint32_t mode) noexcept;
int32_t _vmap_put_str_nul(st_vmap *map, void *nst, const char *key, void **nod,
                          uint32_t mode) noexcept;

// 0 and the key node; ref_ and get_ are the same.
int32_t vmap_ref_int(st_vmap *map, void *nst, int32_t key, void **nod) noexcept;
int32_t vmap_ref_flt(st_vmap *map, void *nst, double key, void **nod) noexcept;
int32_t vmap_ref_str(st_vmap *map, void *nst, const char *key, void **nod) noexcept;
int32_t vmap_ref_buf(st_vmap *map, void *nst, const void *key, uint32_t siz, void **nod) noexcept;
int32_t vmap_get_int(st_vmap *map, void *nst, int32_t key, void **nod) noexcept;
int32_t vmap_get_flt(st_vmap *map, void *nst, double key, void **nod) noexcept;
int32_t vmap_get_str(st_vmap *map, void *nst, const char *key, void **nod) noexcept;
int32_t vmap_get_buf(st_vmap *map, void *nst, const void *key, uint32_t siz, void **nod) noexcept;

// The string inside the stored value (no copy).
int32_t vmap_get_int_str(st_vmap *map, void *nst, int32_t key, char **out) noexcept;
int32_t vmap_get_flt_str(st_vmap *map, void *nst, double key, char **out) noexcept;
int32_t vmap_get_str_str(st_vmap *map, void *nst, const char *key, char **out) noexcept;
int32_t vmap_get_buf_str(st_vmap *map, void *nst, const void *key, uint32_t siz,
                         char **out) noexcept;

// The stored integer / pointer.
int32_t vmap_get_int_int(st_vmap *map, void *nst, int32_t key, int32_t *out) noexcept;
int32_t vmap_get_flt_int(st_vmap *map, void *nst, double key, int32_t *out) noexcept;
int32_t vmap_get_str_int(st_vmap *map, void *nst, const char *key, int32_t *out) noexcept;
int32_t vmap_get_buf_int(st_vmap *map, void *nst, const void *key, uint32_t siz,
                         int32_t *out) noexcept;
int32_t vmap_get_str_ptr(st_vmap *map, void *nst, const char *key, void **out) noexcept;

// _vmap_del: rcs non-zero deletes nested keys too.
int32_t vmap_del_int(st_vmap *map, void *nst, int32_t key, int32_t rcs) noexcept;
int32_t vmap_del_flt(st_vmap *map, void *nst, double key, int32_t rcs) noexcept;
int32_t vmap_del_str(st_vmap *map, void *nst, const char *key, int32_t rcs) noexcept;
int32_t vmap_del_buf(st_vmap *map, void *nst, const void *key, uint32_t siz, int32_t rcs) noexcept;

// ---------------------------------------------------------------------------
// Variant map iteration: one key node per step, in key order (through range
// iterators, holding the map's rotation lock while a level is open) or in
// insertion order (ordered maps), with descent steered by the caller.
// Keys must not be deleted while an iterator is open.
// ---------------------------------------------------------------------------

enum : uint32_t {      /* flags of vmap_rng_pop_set */
    VMAP_RNG_DSC = 1u, // bit 0: steered descent into nested keys
    VMAP_RNG_ODR = 2u, // bit 1: insertion order (ordered maps only)
    VMAP_RNG_FIX = 4u, // bit 2: the map does not change while the walk runs: a key-order
                       //        walk of a nested map goes over a list of its keys taken at
                       //        set-up, each level a stretch of it (no search per key)
};

// One level of the iterator's stack.
struct st_vmap_rng_lvl {
    st_map_rng_itr rng;   // key-order level: its range iterator
    void *pos;            // insertion-order level: next key, none when used up;
                          // listed walk: next entry
    void *fst;            // insertion-order level: first key of its ring;
                          // listed walk: the entry after the level's last
    st_vmap_rng_lvl *nxt; // enclosing level
};

// Iterator record; the caller reserves it, vmap_rng_pop_set fills it.
struct st_vmap_rng_itr {
    st_vmap *map;         // the map walked
    st_vmap_rng_lvl *lvl; // levels, innermost first
    uint32_t flg;         // VMAP_RNG_* bits
    void *lst;            // VMAP_RNG_FIX: the keys listed at set-up (internal); none
                          // when the walk searches the map instead
};

// Opens an iterator over the keys nested under stt (none: the top level;
// key order in a map that is not nested: the whole map). 0; -1 when a level
// cannot be had or insertion order is asked of a map that is not ordered.
// vmap_rng_pop_end must follow whatever the result.
int32_t vmap_rng_pop_set(st_vmap *map, void *stt, uint32_t flg, st_vmap_rng_itr *itr) noexcept;

// 0 and the next key node; 1 at the end (also of an empty map). With
// steered descent, dsc 1 walks into the keys nested under the key handed
// out last, dsc 0 skips them. -1 when an allocation fails (a key already
// taken from the walk is still handed out); the iterator stays valid.
int32_t vmap_rng_pop(st_vmap_rng_itr *itr, void **nod, int32_t dsc) noexcept;

// Releases every level and the rotation locks they hold. Returns 0.
int32_t vmap_rng_pop_end(st_vmap_rng_itr *itr) noexcept;
