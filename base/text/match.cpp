// Matching engine: runs a term list over a text one character at a time.
//
// A step takes the live threads as the current list, puts a new attempt in
// front of them and visits the list from its head. A visited thread dies,
// moves without a character (a jump, a fork, "^", "$", skipping an
// optional atom) and is visited again, or consumes the character and is
// appended to the next list. Visiting order: the new attempt first, forked
// copies before the thread that forked them, so the first match reached
// without MTC_LNG is always the same.
//
// The next list holds one thread per state (node, count): two threads in
// one state have the same future, so the later one is dropped, and with
// MTC_LNG the kept one takes the earlier start. This bounds the live set
// by the states of the pattern, whatever the pattern's forks.
//
// Dead threads go to the record's free list and the seen-state table stays
// with the record, so a warm search allocates nothing.
#include "base/text/text_impl.h"

#include <algorithm>
#include <bit>
#include <cstring>

namespace
{

using st_thr = st_txt_mtc_thr;

// The lists of one step.
struct st_stp {
    st_txt_mtc *mtc; // the record
    uint32_t chr;    // the character; 0 in the end-of-text step
    st_thr *cur;     // current list: threads still to visit
    st_thr *nxt;     // next list: threads that consumed chr
    st_thr **tal;    // the next list's last link
    uint32_t num;    // threads in the next list
    bool stp;        // a match without MTC_LNG ended the step
};

const st_trm *trm_at(uintptr_t val)
{
    return reinterpret_cast<const st_trm *>(val);
}

void thr_drop(st_txt_mtc *mtc, st_thr *t)
{
    st_txt_mtc_eng *e = txt_mtc_eng(mtc);
    t->nxt = e->fre;
    e->fre = t;
}

void lst_drop(st_txt_mtc *mtc, st_thr *lst)
{
    while (lst) {
        st_thr *n = lst->nxt;
        thr_drop(mtc, lst);
        lst = n;
    }
}

// A thread at (nod, cnt, top), reused or new; none when allocation fails.
st_thr *thr_new(st_txt_mtc *mtc, const st_trm *nod, uint32_t cnt, uint32_t top)
{
    st_txt_mtc_eng *e = txt_mtc_eng(mtc);
    st_thr *t = e->fre;
    if (t)
        e->fre = t->nxt;
    else if (_malloc(&t, sizeof *t) != 0)
        return nullptr;
    else
        mtc->alc_cnt++;
    *t = {nullptr, nod, cnt, top, 0};
    return t;
}

void cur_push(st_stp *s, st_thr *t)
{
    t->nxt = s->cur;
    s->cur = t;
}

// Records the match [top, end). With MTC_LNG only a better one replaces
// the recorded match: an earlier start, or the same start and a later end
// (threads of one attempt may end within one step in any order).
void rec(st_stp *s, uint32_t top, uint32_t end)
{
    st_txt_mtc *m = s->mtc;
    const bool lng = m->opt & MTC_LNG;
    if (!lng || !(m->stt & MTC_STT_MTC) || top < m->mtc_top ||
        (top == m->mtc_top && end > m->mtc_end)) {
        m->mtc_top = top;
        m->mtc_end = end;
    }
    m->stt |= MTC_STT_MTC;
    if (!lng)
        s->stp = true;
}

uint32_t tbl_slot(const st_trm *nod, uint32_t cnt, uint32_t msk)
{
    const uint64_t h =
        (reinterpret_cast<uintptr_t>(nod) ^ (uint64_t{cnt} << 40)) * 0x9E3779B97F4A7C15ull;
    return static_cast<uint32_t>(h >> 32) & msk;
}

// Doubles the seen-state table (64 slots at first), keeping this step's
// entries. 0 or the allocation's failure (the old table stays).
int32_t tbl_grow(st_txt_mtc *m)
{
    st_txt_mtc_eng *e = txt_mtc_eng(m);
    const uint32_t old = e->tbl ? e->tbl_msk + 1 : 0;
    const uint32_t siz = old ? old * 2 : 64;
    st_txt_mtc_ent *tbl;
    RTN_TRY(_calloc(&tbl, siz, sizeof *tbl));
    m->alc_cnt++;
    for (uint32_t i = 0; i < old; i++) {
        const st_txt_mtc_ent &x = e->tbl[i];
        if (x.gen != e->tbl_gen)
            continue;
        uint32_t j = tbl_slot(x.nod, x.cnt, siz - 1);
        while (tbl[j].gen == e->tbl_gen)
            j = (j + 1) & (siz - 1);
        tbl[j] = x;
    }
    _free(&e->tbl);
    e->tbl = tbl;
    e->tbl_msk = siz - 1;
    return rtn_ok();
}

// Starts a generation of seen states for the step.
void tbl_open(st_txt_mtc_eng *e)
{
    e->tbl_num = 0;
    if (++e->tbl_gen != 0)
        return;
    if (e->tbl) // the mark wrapped: old marks could pass for new ones
        std::memset(e->tbl, 0, (e->tbl_msk + 1) * sizeof *e->tbl);
    e->tbl_gen = 1;
}

// *dup = the thread in t's state already seen in this step, or none, in
// which case t is entered. 0 or the allocation's failure.
int32_t tbl_put(st_txt_mtc *m, st_thr *t, st_thr **dup)
{
    st_txt_mtc_eng *e = txt_mtc_eng(m);
    if ((!e->tbl || e->tbl_num * 2 >= e->tbl_msk))
        RTN_TRY(tbl_grow(m));
    for (uint32_t i = tbl_slot(t->nod, t->cnt, e->tbl_msk);; i = (i + 1) & e->tbl_msk) {
        st_txt_mtc_ent &x = e->tbl[i];
        if (x.gen != e->tbl_gen) {
            x = {t->nod, t->cnt, e->tbl_gen, t};
            e->tbl_num++;
            *dup = nullptr;
            return 0;
        }
        if (x.nod == t->nod && x.cnt == t->cnt) {
            *dup = x.thr;
            return 0;
        }
    }
}

constexpr uint32_t SHORT = 8; // a next list this long is searched as it is

// The thread at (nod, cnt) in the next list, or none.
st_thr *state_at(const st_stp *s, const st_trm *nod, uint32_t cnt)
{
    if (s->num <= SHORT) {
        for (st_thr *x = s->nxt; x; x = x->nxt)
            if (x->nod == nod && x->cnt == cnt)
                return x;
        return nullptr;
    }
    const st_txt_mtc_eng *e = txt_mtc_eng(s->mtc);
    for (uint32_t i = tbl_slot(nod, cnt, e->tbl_msk); e->tbl[i].gen == e->tbl_gen;
         i = (i + 1) & e->tbl_msk)
        if (e->tbl[i].nod == nod && e->tbl[i].cnt == cnt)
            return e->tbl[i].thr;
    return nullptr;
}

// The thread in t's state already in the next list, or none (t is then
// entered in the table once the list is long). A short list is searched
// as it is; from SHORT threads on the table takes over.
int32_t seen(st_stp *s, st_thr *t, st_thr **dup)
{
    *dup = nullptr;
    if (s->num < SHORT) {
        *dup = state_at(s, t->nod, t->cnt);
        return 0;
    }
    if (s->num == SHORT) {
        tbl_open(txt_mtc_eng(s->mtc));
        for (st_thr *x = s->nxt; x; x = x->nxt)
            RTN_TRY(tbl_put(s->mtc, x, dup));
    }
    return tbl_put(s->mtc, t, dup);
}

// Appends t (which consumed the character) to the next list, unless a
// thread in the same state is there already.
int32_t put(st_stp *s, st_thr *t)
{
    st_txt_mtc *m = s->mtc;
    st_thr *dup;
    if (seen(s, t, &dup) != 0) {
        thr_drop(m, t);
        return rtn_keep();
    }
    if (dup) {
        if ((m->opt & MTC_LNG) && t->top < dup->top)
            dup->top = t->top;
        thr_drop(m, t);
        return 0;
    }
    t->nxt = nullptr;
    *s->tal = t;
    s->tal = &t->nxt;
    s->num++;
    return 0;
}

// Where k leads once its jumps are followed (none for a jump to nowhere).
const st_trm *jumped(const st_trm *k)
{
    while (k && (k->grp & TRM_CLS))
        k = trm_at(k->val);
    return k;
}

// t consumed the character and moves to k: jumps are followed at once, so
// a match ending here is recorded now.
int32_t adv(st_stp *s, st_thr *t, const st_trm *k)
{
    k = jumped(k);
    if (!k) {
        thr_drop(s->mtc, t);
        return rtn_fail(); // a jump to no node
    }
    if (k->flg & TRM_END) {
        rec(s, t->top, s->mtc->pos + 1);
        thr_drop(s->mtc, t);
        return 0;
    }
    t->nod = k;
    t->cnt = 0;
    t->spl = 0;
    return put(s, t);
}

// Checks c against the atom at n: 1 hit, 0 miss, -1 malformed. *k is the
// node after the atom's last member.
int chk(const st_trm *n, uint32_t c, const st_trm **k)
{
    bool res = n->flg & TRM_NOT;
    for (const st_trm *m = n;;) {
        const bool neg = m->flg & TRM_NOT;
        bool hit;
        if (m->flg & TRM_RNG) {
            const st_trm *e = m->nxt;
            if (!e || !(e->flg & TRM_RNG_END))
                return -1;
            hit = m->val <= c && c <= e->val;
            m = e;
        } else {
            hit = m->val == c;
        }
        if (hit)
            res = !neg;
        if (m->flg & TRM_CHK_END) {
            *k = m->nxt;
            return *k ? res : -1;
        }
        if (!(m = m->nxt))
            return -1;
    }
}

// The node where a thread that skips the atom at n goes: past the atom's
// last member and its count node(s). None when the atom has no count.
const st_trm *skip_to(const st_trm *n)
{
    while (n && !(n->flg & TRM_CHK_END))
        n = n->nxt;
    const st_trm *k = n ? n->nxt : nullptr;
    if (!k || !(k->flg & TRM_CNT))
        return nullptr;
    if (k->flg & TRM_RNG) {
        k = k->nxt;
        if (!k || (k->flg & (TRM_CNT | TRM_RNG_END)) != (TRM_CNT | TRM_RNG_END))
            return nullptr;
    }
    return k->nxt;
}

// After a hit on an atom with an exact count k.
int32_t count_exact(st_stp *s, st_thr *t, const st_trm *k)
{
    if (k->val == 0) { // no way past a count of zero
        thr_drop(s->mtc, t);
        return 0;
    }
    if (++t->cnt == k->val)
        return adv(s, t, k->nxt);
    return put(s, t);
}

// After a hit on an atom with a count range lo..hi: a copy goes on when
// the count is in range; t stays at the atom while it is below hi.
int32_t count_range(st_stp *s, st_thr *t, const st_trm *lo)
{
    st_txt_mtc *m = s->mtc;
    const st_trm *hi = lo->nxt;
    if (!hi || (hi->flg & (TRM_CNT | TRM_RNG_END)) != (TRM_CNT | TRM_RNG_END)) {
        thr_drop(m, t);
        return rtn_fail();
    }
    const uint32_t cnt = ++t->cnt;
    const bool pass = lo->val <= cnt && cnt <= hi->val;
    if (cnt >= hi->val) {
        if (pass)
            return adv(s, t, hi->nxt);
        thr_drop(m, t);
        return 0;
    }
    // A copy goes on past the count, unless a thread is there already.
    const st_trm *k = pass ? jumped(hi->nxt) : nullptr;
    st_thr *x = k && !(k->flg & TRM_END) ? state_at(s, k, 0) : nullptr;
    if (x && (m->opt & MTC_LNG) && t->top < x->top)
        x->top = t->top;
    if (pass && !x) {
        st_thr *cp = thr_new(m, t->nod, 0, t->top);
        if (!cp || adv(s, cp, hi->nxt) != 0 || s->stp) {
            thr_drop(m, t);
            return s->stp ? 0 : rtn_keep();
        }
    }
    // Past the lower bound of an unbounded count the exact number no
    // longer matters; keeping it there lets equal states meet.
    const uint32_t cap = lo->val ? lo->val : 1;
    if (hi->val == TRM_INF && t->cnt > cap)
        t->cnt = cap;
    return put(s, t);
}

// t at the atom n tries the character.
int32_t atom(st_stp *s, st_thr *t, const st_trm *n)
{
    const st_trm *k;
    const int hit = chk(n, s->chr, &k);
    if (hit <= 0) {
        thr_drop(s->mtc, t);
        return hit < 0 ? rtn_fail() : 0;
    }
    t->spl = 0;
    if (!(k->flg & TRM_CNT))
        return adv(s, t, k);
    if (!(k->flg & TRM_RNG))
        return count_exact(s, t, k);
    return count_range(s, t, k);
}

// t moves to the node after the open node n; a copy for each further
// alternative goes in front of it.
int32_t fork(st_stp *s, st_thr *t, const st_trm *n)
{
    t->nod = n->nxt;
    cur_push(s, t);
    for (const st_trm *o = trm_at(n->val); o; o = trm_at(o->val)) {
        st_thr *cp = thr_new(s->mtc, o->nxt, t->cnt, t->top);
        if (!cp)
            return rtn_keep();
        cur_push(s, cp);
    }
    return 0;
}

// An optional atom at n with no repetition yet: t skips it, and (with a
// character) a copy that stays to try the character is visited after t.
int32_t split(st_stp *s, st_thr *t, const st_trm *n)
{
    const st_trm *x = skip_to(n);
    if (!x) {
        thr_drop(s->mtc, t);
        return rtn_fail();
    }
    if (s->chr) {
        st_thr *cp = thr_new(s->mtc, n, 0, t->top);
        if (!cp) {
            thr_drop(s->mtc, t);
            return rtn_keep();
        }
        cp->spl = 1;
        cur_push(s, cp);
    }
    t->nod = x;
    return 0;
}

// True when t can no longer give the answer: an anchored search needs a
// start at 0; a recorded match has the earlier start.
bool dead(const st_txt_mtc *m, const st_thr *t)
{
    return ((m->stt & MTC_STT_ANC) && t->top != 0) ||
           ((m->stt & MTC_STT_MTC) && t->top > m->mtc_top);
}

// Visits t until it dies, consumes the character or is put back into the
// current list. 0 or the failure (t is dropped either way).
int32_t visit(st_stp *s, st_thr *t)
{
    st_txt_mtc *m = s->mtc;
    for (;;) {
        const st_trm *n = t->nod;
        bool pass = true;
        if (dead(m, t) || !n) {
            thr_drop(m, t);
            return n ? 0 : rtn_fail(); // no node: a jump to nowhere
        }
        if (n->flg & TRM_END) {
            rec(s, t->top, m->pos);
            pass = false;
        } else if (n->grp & TRM_CLS) {
            t->nod = trm_at(n->val);
        } else if (n->grp & TRM_OPN) {
            return fork(s, t, n);
        } else if (n->grp & TRM_LIN_TOP) {
            pass = m->stt & MTC_STT_LIN;
            t->nod = n->nxt;
        } else if (n->grp & TRM_LIN_END) {
            pass = s->chr == '\n' || s->chr == 0;
            t->nod = n->nxt;
        } else if ((n->grp & TRM_CNT0) && t->cnt == 0 && !t->spl) {
            RTN_TRY(split(s, t, n));
        } else if (s->chr == 0) {
            pass = false; // the text has ended: an atom gets no character
        } else if (!(n->flg & TRM_CHK)) {
            thr_drop(m, t);
            return rtn_fail(); // a count node with no atom (after a group)
        } else {
            return atom(s, t, n);
        }
        if (!pass) {
            thr_drop(m, t);
            return 0;
        }
    }
}

// Visits the current list until it is empty or a match ends the step.
int32_t run(st_stp *s)
{
    while (s->cur && !s->stp) {
        st_thr *t = s->cur;
        s->cur = t->nxt;
        RTN_TRY(visit(s, t));
    }
    return 0;
}

// ---------------------------------------------------------------------------
// First characters: while no thread is live, a character that no match
// can start with would only start an attempt that dies at once, so the
// search steps over it without the engine.
// ---------------------------------------------------------------------------

// Character sets below 256 (fst) or 128 (req_set), a bit per character.
void set_add(uint32_t *set, uint32_t c)
{
    set[c >> 5] |= 1u << (c & 31);
}

bool set_has(const uint32_t *set, uint32_t c)
{
    return (set[c >> 5] >> (c & 31)) & 1;
}

// Adds to set the characters below 256 that the atom at n accepts; *k gets
// the node after it. -1 when the atom is malformed; 1 when it may also
// accept a character above 255; else 0.
int atom_set(const st_trm *n, uint32_t *set, const st_trm **k)
{
    for (uint32_t c = 0; c < 256; c++) {
        const int hit = chk(n, c, k);
        if (hit < 0)
            return -1;
        if (hit)
            set_add(set, c);
    }
    bool big = n->flg & TRM_NOT;
    for (const st_trm *x = n; x != *k; x = x->nxt)
        big = big || x->val > 255;
    return big;
}

// Adds the characters the atom at n accepts. False when it is malformed.
bool fst_atom(st_txt_mtc_eng *e, const st_trm *n)
{
    const st_trm *k;
    const int r = atom_set(n, e->fst, &k);
    if (r > 0)
        e->fst_flg |= MTC_FST_BIG;
    return r >= 0;
}

// Adds what can start a match from node n on. False when a match could
// start without a character or the walk meets what it cannot judge.
bool fst_walk(st_txt_mtc_eng *e, const st_trm *n, int *bud)
{
    while (n && --*bud > 0) {
        if (n->flg & TRM_END)
            return false;
        if (n->grp & TRM_CLS) {
            n = trm_at(n->val);
        } else if (n->grp & TRM_OPN) {
            for (const st_trm *o = trm_at(n->val); o; o = trm_at(o->val))
                if (!fst_walk(e, o->nxt, bud))
                    return false;
            n = n->nxt;
        } else if (n->grp & TRM_LIN_TOP) {
            n = n->nxt; // conservative: as if always at line start
        } else if (n->grp & TRM_LIN_END) {
            set_add(e->fst, '\n'); // what follows must take the line end as well
            return true;
        } else if (!(n->flg & TRM_CHK) || !fst_atom(e, n)) {
            return false;
        } else if (n->grp & TRM_CNT0) {
            n = skip_to(n);
        } else {
            return true;
        }
    }
    return false;
}

// The literal ASCII characters that every match starts with: after the
// start node (no alternatives) and any "^", single characters that are
// neither optional nor counted.
void pre_make(st_txt_mtc_eng *e, const st_trm *trm)
{
    e->pre_len = 0;
    const st_trm *n = trm;
    if (n->val)
        return;
    for (n = n->nxt; n && (n->grp & TRM_LIN_TOP);)
        n = n->nxt;
    for (; n && n->flg == (TRM_CHK | TRM_CHK_END) && !n->grp && n->val && n->val < 0x80 &&
           e->pre_len < sizeof e->pre;
         n = n->nxt) {
        if (n->nxt && (n->nxt->flg & TRM_CNT))
            break;
        e->pre[e->pre_len++] = static_cast<char>(n->val);
    }
}

// Whether the list starts with an atom counted lo..unbounded, lo <= 1
// and not optional: a new attempt there ends up as a thread at the atom
// with count 1 (capped) and a copy past the count, as a thread already at
// the atom with count 1 does.
bool dom_make(const st_trm *trm)
{
    const st_trm *n = trm->val ? nullptr : trm->nxt;
    if (!n || !(n->flg & TRM_CHK) || (n->grp & TRM_CNT0))
        return false;
    while (n && !(n->flg & TRM_CHK_END))
        n = n->nxt;
    const st_trm *lo = n ? n->nxt : nullptr;
    const st_trm *hi = lo ? lo->nxt : nullptr;
    return lo && hi && (lo->flg & (TRM_CNT | TRM_RNG)) == (TRM_CNT | TRM_RNG) &&
           (hi->flg & (TRM_CNT | TRM_RNG_END)) == (TRM_CNT | TRM_RNG_END) && lo->val <= 1 &&
           hi->val == TRM_INF;
}

// The required character: a literal ASCII character, neither optional nor
// counted, that every match holds after atoms that accept only ASCII
// characters (req_set). A match that starts before the next req starts in
// the run of req_set characters that ends there, so the skip can jump to
// the start of that run.
void req_make(st_txt_mtc_eng *e, const st_trm *trm)
{
    e->req = 0;
    std::memset(e->req_set, 0, sizeof e->req_set);
    if (trm->val)
        return; // alternatives at the top
    for (const st_trm *n = trm->nxt; n && (n->flg & TRM_CHK) && !(n->grp & ~TRM_CNT0);) {
        const bool cnt = n->nxt && (n->nxt->flg & TRM_CNT);
        if (n->flg == (TRM_CHK | TRM_CHK_END) && !n->grp && n->val && n->val < 0x80 && !cnt) {
            e->req = static_cast<uint8_t>(n->val);
            return;
        }
        const st_trm *k = nullptr;
        uint32_t set[8] = {};
        if (atom_set(n, set, &k) != 0 || set[4] | set[5] | set[6] | set[7])
            return; // malformed, or it may accept a character above 0x7F
        for (int i = 0; i < 4; i++)
            e->req_set[i] |= set[i];
        for (n = k; n && (n->flg & TRM_CNT);)
            n = n->nxt;
    }
}

// Makes the first-character set of the record's term list once.
void fst_make(st_txt_mtc *m)
{
    st_txt_mtc_eng *e = txt_mtc_eng(m);
    if (e->fst_trm == m->trm)
        return;
    std::memset(e->fst, 0, sizeof e->fst);
    e->fst_flg = 0;
    int bud = 4096;
    if (fst_walk(e, m->trm, &bud))
        e->fst_flg |= MTC_FST_USE;
    if (dom_make(m->trm))
        e->fst_flg |= MTC_FST_DOM;
    // One or two ASCII first characters: the skip looks for them eight
    // bytes at a time.
    int num = 0, got = 0;
    for (uint32_t w : e->fst)
        num += std::popcount(w);
    e->fst_run[0] = e->fst_run[1] = 0;
    for (uint32_t c = 1; num <= 2 && !(e->fst_flg & MTC_FST_BIG) && c < 0x80; c++)
        if (set_has(e->fst, c))
            e->fst_run[got++] = static_cast<uint8_t>(c);
    if (got != num)
        e->fst_run[0] = 0; // a member above 0x7F (or none)
    else if (num == 1)
        e->fst_run[1] = e->fst_run[0];
    pre_make(e, m->trm);
    req_make(e, m->trm);
    e->fst_trm = m->trm;
}

bool fst_has(const st_txt_mtc_eng *e, uint32_t c)
{
    return c < 256 ? set_has(e->fst, c) : (e->fst_flg & MTC_FST_BIG);
}

void line_set(st_txt_mtc *m, uint32_t c)
{
    m->stt = c == '\n' ? m->stt | MTC_STT_LIN : m->stt & ~MTC_STT_LIN;
}

// ---------------------------------------------------------------------------
// Direct reading: when the text is the Shift-JIS decoder over a string
// stream (as strregexp and cstream_str_set make it), the search decodes the
// string itself. That gives the same characters and leaves the cursor
// where single pops would, without two stream calls per character; the end
// of the string is still read through the stream, which reports it as
// usual. Any other stream is read one pop at a time.
// ---------------------------------------------------------------------------

// The string cursor under txt, or none when txt is another kind of stream
// (the decoder is known by its pop slot, which its block form shares), is
// counted, has an end pending or cannot be read.
const char **direct_cursor(st_stream *txt)
{
    if (stream_chk(txt) != 0 || txt->fnc_lst->pop != stream_btoc_sjis.pop ||
        (txt->flg & (STM_CNT | STM_PND | STM_PNE)))
        return nullptr;
    st_stream *b = static_cast<st_stream *>(txt->hdl);
    if (stream_chk(b) != 0 || (b->flg & (STM_CNT | STM_PND | STM_PNE)) ||
        (b->fnc_lst != &str_stream_fnclst && b->fnc_lst != &_str_stream_fnclst))
        return nullptr;
    const char **cur = static_cast<const char **>(b->hdl);
    return *cur ? cur : nullptr;
}

// The character at p and its length in bytes; 0 at the end of the string
// (a lead byte right before it included).
uint32_t direct_chr(const unsigned char *p, uint32_t *c)
{
    if (!cstream_sjis_lead(p[0])) {
        *c = p[0];
        return p[0] ? 1 : 0;
    }
    *c = p[0] | p[1] << 8;
    return p[1] ? 2 : 0;
}

// Steps over the bytes from p on that are below 0x80 and neither 0 nor
// b[0] nor b[1], eight at a time. [.., *end) holds no 0 and *end can be
// read: the string's end is found (by memchr, which stops at it) before
// any word around it is read.
template <bool TWO>
const unsigned char *ascii_run(const unsigned char *p, const uint8_t *b, const unsigned char **end)
{
    constexpr uint64_t ONE = 0x0101010101010101ull, HIGH = 0x8080808080808080ull;
    constexpr size_t CHUNK = 4096;
    static_assert(std::endian::native == std::endian::little, "the first byte is the lowest");
    for (;;) {
        for (; *end - p >= 8; p += 8) {
            uint64_t w;
            std::memcpy(&w, p, 8);
            const uint64_t x = w ^ (ONE * b[0]), y = w ^ (ONE * b[1]);
            // The lowest bit set marks the first byte that stops the run
            // (the borrow of x - ONE only spoils the bytes above it).
            if (const uint64_t hit =
                    ((x - ONE) & ~x & HIGH) | (TWO ? (y - ONE) & ~y & HIGH : 0) | (w & HIGH))
                return p + (std::countr_zero(hit) >> 3);
        }
        if (**end == 0)
            return p;
        const void *z = std::memchr(p, 0, CHUNK);
        *end = z ? static_cast<const unsigned char *>(z) : p + CHUNK;
    }
}

// With a required character: steps from p over the characters that lie
// before the run of req_set characters ending at the next req, or before
// the next non-ASCII byte or the end when no req comes first (a match
// cannot cross them). Where the scan stopped is kept for the next call, so
// the text is scanned forward once.
const unsigned char *req_skip(st_txt_mtc_eng *e, const unsigned char *p, const unsigned char **end)
{
    const unsigned char *x = reinterpret_cast<const unsigned char *>(e->req_at);
    if (!x || x < p) {
        const uint8_t b[2] = {e->req, e->req};
        x = ascii_run<false>(p, b, end); // eight bytes at a time, the rest one by one
        while (*x && *x < 0x80 && *x != e->req)
            x++;
        const unsigned char *s = x;
        while (*x == e->req && s > p && set_has(e->req_set, s[-1]))
            s--;
        e->req_at = reinterpret_cast<const char *>(x);
        e->req_run = reinterpret_cast<const char *>(s);
    }
    return std::max(p, reinterpret_cast<const unsigned char *>(e->req_run));
}

// Steps over the characters that cannot start a match (no thread is
// live): those not in the first set, and those not followed by the rest
// of the literal start. A byte below 0x80 is always a whole character
// here, so the literal start compares as bytes. The line state comes from
// the last character stepped over, not its last byte: a lead byte takes
// any byte as its trail, a line end included.
void direct_skip(st_txt_mtc *m, const char **cur)
{
    st_txt_mtc_eng *e = txt_mtc_eng(m);
    const unsigned char *p = reinterpret_cast<const unsigned char *>(*cur);
    uint32_t n = 0, lst = 0; // characters stepped over, the last of them
    const unsigned char *end = p;
    if (e->req) {
        const unsigned char *q = req_skip(e, p, &end);
        if (q != p) { // ASCII only: as many characters as bytes
            n = static_cast<uint32_t>(q - p);
            lst = q[-1];
            p = q;
        }
    }
    for (;;) {
        if (e->fst_run[0]) {
            const unsigned char *q = e->fst_run[0] == e->fst_run[1]
                                         ? ascii_run<false>(p, e->fst_run, &end)
                                         : ascii_run<true>(p, e->fst_run, &end);
            if (q != p) {
                n += static_cast<uint32_t>(q - p);
                lst = q[-1];
                p = q;
            }
        }
        const unsigned char b = *p;
        if (!cstream_sjis_lead(b)) {
            if (b == 0)
                break;
            if (set_has(e->fst, b) &&
                (e->pre_len < 2 ||
                 (p[1] == static_cast<unsigned char>(e->pre[1]) &&
                  !std::strncmp(reinterpret_cast<const char *>(p), e->pre, e->pre_len))))
                break;
            lst = b;
            p++;
        } else {
            if (!p[1] || (e->fst_flg & MTC_FST_BIG))
                break;
            lst = b | p[1] << 8;
            p += 2;
        }
        n++;
    }
    if (n) {
        m->pos += n;
        line_set(m, lst);
    }
    *cur = reinterpret_cast<const char *>(p);
}

// The next character of the text: 0 and *c, or non-zero at its end (a
// character 0 ends it as well). With skip, characters that cannot start a
// match are stepped over first while no thread is live.
int32_t text_pop(st_txt_mtc *m, st_stream *txt, const char **cur, bool skip, uint32_t *c)
{
    if (cur) {
        if (skip && !m->thr && !(m->opt & MTC_ONE))
            direct_skip(m, cur);
        const uint32_t n = direct_chr(reinterpret_cast<const unsigned char *>(*cur), c);
        if (n) {
            *cur += n;
            return 0;
        }
    }
    int32_t u;
    if (stream_pop(txt, &u) != 0)
        return 1;
    *c = static_cast<uint32_t>(u);
    return *c ? 0 : 1;
}

// One step with chr; fresh: a new attempt starts at pos.
int32_t step(st_txt_mtc *mtc, uint32_t chr, bool fresh)
{
    st_stp s = {mtc, chr, mtc->thr, nullptr, nullptr, 0, false};
    s.tal = &s.nxt;
    mtc->thr = nullptr;
    int32_t st = 0;
    if (chr) {
        if (fresh) {
            // With no alternatives the start node only leads on.
            const st_trm *n = mtc->trm->val ? mtc->trm : mtc->trm->nxt;
            st_thr *t = thr_new(mtc, n, 0, mtc->pos);
            if (t)
                cur_push(&s, t);
            else
                st = rtn_keep();
        }
    }
    if (st == 0)
        st = run(&s);
    if (st != 0 || s.stp || chr == 0) {
        // A failure, a match that ends the search, or the end of the text:
        // no thread lives on.
        lst_drop(mtc, s.cur);
        lst_drop(mtc, s.nxt);
        return st ? (__rtn = st) : rtn_ok();
    }
    mtc->thr = s.nxt;
    if ((mtc->stt & MTC_STT_ANC) && !s.nxt && !(mtc->stt & MTC_STT_MTC))
        return rtn_fail(); // an anchored search with nothing left
    line_set(mtc, chr);
    mtc->pos++;
    return rtn_ok();
}

// Whether a new attempt at the next character c could change the outcome.
// It cannot when it dies at once (a match is recorded and it starts later;
// c cannot start a match; "^" away from a line start), nor, with MTC_LNG,
// when a live thread already sits where the attempt would be after c with
// an earlier start (MTC_FST_DOM): the attempt's states would all merge
// into that thread's, which keep the earlier start.
bool fresh_needed(const st_txt_mtc *m, uint32_t c, bool skip)
{
    const st_txt_mtc_eng *e = txt_mtc_eng(m);
    if ((m->opt & MTC_ONE) || (m->stt & MTC_STT_MTC) || (skip && !fst_has(e, c)))
        return false;
    if (m->trm->val)
        return true; // alternatives: the start node forks
    const st_trm *n0 = m->trm->nxt;
    if (n0 && (n0->grp & TRM_LIN_TOP) && !(m->stt & MTC_STT_LIN))
        return false;
    if ((e->fst_flg & MTC_FST_DOM) && (m->opt & MTC_LNG))
        for (const st_thr *t = m->thr; t; t = t->nxt)
            if (t->nod == n0 && t->cnt == 1)
                return false;
    return true;
}

} // namespace

int32_t txt_mtc_chk_set(st_txt_mtc *mtc, st_trm *trm, const uint32_t *opt) noexcept
{
    if (!mtc)
        return rtn_fail();
    *mtc = {};
    mtc->opt = opt ? *opt : MTC_OPT_DEF;
    mtc->trm = trm;
    return rtn_ok();
}

int32_t txt_mtc_chk_rst(st_txt_mtc *mtc) noexcept
{
    if (!mtc)
        return rtn_fail();
    lst_drop(mtc, mtc->thr);
    mtc->thr = nullptr;
    mtc->stt &= ~MTC_STT_MTC;
    mtc->mtc_top = mtc->mtc_end = 0;
    mtc->opt &= ~MTC_ONE;
    return rtn_ok();
}

void __txt_mtc_chk_end(st_txt_mtc_thr *lst) noexcept
{
    while (lst) {
        st_txt_mtc_thr *n = lst->nxt;
        _free(&lst);
        lst = n;
    }
}

int32_t txt_mtc_chk_end(st_txt_mtc *mtc) noexcept
{
    if (!mtc)
        return rtn_fail();
    txt_mtc_chk_rst(mtc);
    st_txt_mtc_eng *e = txt_mtc_eng(mtc);
    __txt_mtc_chk_end(e->fre);
    _free(&e->tbl);
    if (mtc->opt & MTC_OWN)
        txt_mtc_trm_end(mtc->trm);
    *mtc = {};
    return rtn_ok();
}

int32_t txt_mtc_wrd(st_txt_mtc *mtc, uint32_t chr) noexcept
{
    if (!mtc || !mtc->trm)
        return rtn_fail();
    return step(mtc, chr, !(mtc->opt & MTC_ONE));
}

int32_t txt_mtc(st_txt_mtc *mtc, st_stream *txt) noexcept
{
    if (!mtc || !mtc->trm || !txt)
        return rtn_fail();
    mtc->stt &= ~MTC_STT_ANC;
    mtc->stt |= MTC_STT_LIN | (mtc->opt & MTC_ANC ? MTC_STT_ANC : 0);
    fst_make(mtc);
    const st_txt_mtc_eng *e = txt_mtc_eng(mtc);
    const bool skip = (e->fst_flg & MTC_FST_USE) && !(mtc->stt & MTC_STT_ANC);
    const char **cur = direct_cursor(txt);
    txt_mtc_eng(mtc)->req_at = nullptr; // a new text
    for (uint32_t c; text_pop(mtc, txt, cur, skip, &c) == 0;) {
        if (skip && !mtc->thr && ((mtc->opt & MTC_ONE) || !fst_has(e, c))) {
            line_set(mtc, c);
            mtc->pos++;
            continue;
        }
        RTN_TRY(step(mtc, c, fresh_needed(mtc, c, skip)));
        if ((mtc->stt & MTC_STT_MTC) && (!mtc->thr || !(mtc->opt & MTC_LNG)))
            return rtn_ok();
    }
    // Threads still live may end without a character ("$", optional atoms).
    RTN_TRY(txt_mtc_wrd(mtc, 0));
    return (mtc->stt & MTC_STT_MTC) ? rtn_ok() : rtn_fail1();
}
