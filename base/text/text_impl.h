// Text processing: the engine and parser state behind the public records.
// Not part of the installed interface: included by the files of base/text
// and their tests only.
#pragma once

#include "base/text/text.h"

#include <cstddef>
#include <cstdint>
#include <type_traits>

// ---------------------------------------------------------------------------
// Matching engine: the state kept in st_txt_mtc::eng
// ---------------------------------------------------------------------------

// Seen-state slot of a step: one per (node, count) put into the next list.
struct st_txt_mtc_ent {
    const st_trm *nod;   // the node
    uint32_t cnt;        // the count
    uint32_t gen;        // the step that filled the slot
    st_txt_mtc_thr *thr; // the thread kept for that state
};

enum : uint8_t {        /* st_txt_mtc_eng.fst_flg */
    MTC_FST_USE = 0x01, // fst is exact enough to skip characters with no thread live
    MTC_FST_BIG = 0x02, // a character above 255 may start a match
    MTC_FST_DOM = 0x04, // the first node is an atom counted lo..inf with lo <= 1:
                        // a thread there with count 1 covers a new attempt
};

// All zero in a fresh or ended record.
struct st_txt_mtc_eng {
    st_txt_mtc_thr *fre;   // dead threads kept for reuse
    st_txt_mtc_ent *tbl;   // seen states of the step (open addressing), or none
    uint32_t tbl_msk;      // slots - 1 (a power of two minus one)
    uint32_t tbl_gen;      // the current step's mark in tbl
    uint32_t tbl_num;      // slots filled in this step
    const st_trm *fst_trm; // the list fst was made for, or none
    uint32_t fst[8];       // characters 0..255 that can start a match (bit set)
    uint8_t fst_flg;       // MTC_FST_* bits
    uint8_t pre_len;       // length of pre
    char pre[8];           // ASCII characters every match starts with, or fewer
    uint8_t fst_run[2];    // fst when it is one or two ASCII characters (one: twice),
                           // else 0
    uint8_t req;           // an ASCII character every match holds after a run of
                           // req_set characters, or 0
    uint32_t req_set[4];   // the ASCII characters that may come before req
    const char *req_at;    // the search's next req, non-ASCII byte or end, or none
    const char *req_run;   // where the run of req_set characters before req_at starts
};
static_assert(std::is_trivially_copyable_v<st_txt_mtc_eng> &&
              std::is_trivially_default_constructible_v<st_txt_mtc_eng>);
static_assert(sizeof(st_txt_mtc_eng) <= MTC_ENG_SIZ && alignof(st_txt_mtc_eng) <= 8 &&
              offsetof(st_txt_mtc, eng) % alignof(st_txt_mtc_eng) == 0);

// The engine state of a record: eng is its storage, used through this
// pointer as aligned storage is (std::launder here made a search take 0.6%
// more instructions with GCC 12, for no change in meaning).
inline st_txt_mtc_eng *txt_mtc_eng(st_txt_mtc *mtc) noexcept
{
    return reinterpret_cast<st_txt_mtc_eng *>(mtc->eng);
}

inline const st_txt_mtc_eng *txt_mtc_eng(const st_txt_mtc *mtc) noexcept
{
    return reinterpret_cast<const st_txt_mtc_eng *>(mtc->eng);
}

// ---------------------------------------------------------------------------
// Variant-map text reader: the statement parser
// ---------------------------------------------------------------------------

// Read option of _vmap_cstream: tokens through the splitter and the
// analyzers, which the one-pass lexer stands in for (kept as its reference).
constexpr uint32_t VMAP_RD_ANR = 0x80000000u;

// Parse state of the statement parser.
struct st_vmap_frmm {
    void *rut;          // the root parent given to the reader
    void *par;          // the current parent (block)
    void *lst;          // the key node created last
    uint32_t opt;       // VMAP_RD_* bits
    st_txt_anr_tkn stp; // the token the parser stopped on
    bool end;           // the parser met the end of the tokens instead
};

// The statement starting at the word tok (its text is the key), reading
// further tokens from stm. 0 with st->stp the token it stopped on, or
// st->end; the failures of _vmap_cstream.
int32_t _vmap_frmm_cstm_fnc_wrd(st_vmap *map, st_stream *stm, const st_txt_anr_tkn *tok,
                                st_vmap_frmm *st) noexcept;
