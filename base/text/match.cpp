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
#include "base/text/text.h"

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
    bool stp;        // a match without MTC_LNG ended the step
};

const st_trm *trm_at(uintptr_t val)
{
    return reinterpret_cast<const st_trm *>(val);
}

void thr_drop(st_txt_mtc *mtc, st_thr *t)
{
    t->nxt = mtc->fre;
    mtc->fre = t;
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
    st_thr *t = mtc->fre;
    if (t)
        mtc->fre = t->nxt;
    else if (_malloc(&t, sizeof *t) != 0)
        return nullptr;
    else
        mtc->thr_alc++;
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
    const uint64_t h = (reinterpret_cast<uintptr_t>(nod) ^ (uint64_t{cnt} << 40)) * 0x9E3779B97F4A7C15ull;
    return static_cast<uint32_t>(h >> 32) & msk;
}

// Doubles the seen-state table (64 slots at first), keeping this step's
// entries. 0 or the allocation's failure (the old table stays).
int32_t tbl_grow(st_txt_mtc *m)
{
    const uint32_t old = m->tbl ? m->tbl_msk + 1 : 0;
    const uint32_t siz = old ? old * 2 : 64;
    st_txt_mtc_ent *tbl;
    RTN_TRY(_calloc(&tbl, siz, sizeof *tbl));
    for (uint32_t i = 0; i < old; i++) {
        const st_txt_mtc_ent &e = m->tbl[i];
        if (e.gen != m->tbl_gen)
            continue;
        uint32_t j = tbl_slot(e.nod, e.cnt, siz - 1);
        while (tbl[j].gen == m->tbl_gen)
            j = (j + 1) & (siz - 1);
        tbl[j] = e;
    }
    _free(&m->tbl);
    m->tbl = tbl;
    m->tbl_msk = siz - 1;
    return rtn_ok();
}

// Starts a step's generation of seen states.
void tbl_open(st_txt_mtc *m)
{
    m->tbl_num = 0;
    if (++m->tbl_gen != 0)
        return;
    if (m->tbl) // the mark wrapped: old marks could pass for new ones
        std::memset(m->tbl, 0, (m->tbl_msk + 1) * sizeof *m->tbl);
    m->tbl_gen = 1;
}

// Appends t (which consumed the character) to the next list, unless a
// thread in the same state is there already.
int32_t put(st_stp *s, st_thr *t)
{
    st_txt_mtc *m = s->mtc;
    if ((!m->tbl || m->tbl_num * 2 >= m->tbl_msk) && tbl_grow(m) != 0) {
        thr_drop(m, t);
        return rtn_keep();
    }
    for (uint32_t i = tbl_slot(t->nod, t->cnt, m->tbl_msk);; i = (i + 1) & m->tbl_msk) {
        st_txt_mtc_ent &e = m->tbl[i];
        if (e.gen != m->tbl_gen) {
            e = {t->nod, t->cnt, m->tbl_gen, t};
            m->tbl_num++;
            break;
        }
        if (e.nod == t->nod && e.cnt == t->cnt) {
            if ((m->opt & MTC_LNG) && t->top < e.thr->top)
                e.thr->top = t->top;
            thr_drop(m, t);
            return 0;
        }
    }
    t->nxt = nullptr;
    *s->tal = t;
    s->tal = &t->nxt;
    return 0;
}

// t consumed the character and moves to k: jumps are followed at once, so
// a match ending here is recorded now.
int32_t adv(st_stp *s, st_thr *t, const st_trm *k)
{
    while (k && (k->grp & TRM_CLS))
        k = trm_at(k->val);
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
    if (pass) {
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

void fst_add(st_txt_mtc *m, uint32_t c)
{
    m->fst[c >> 5] |= 1u << (c & 31);
}

// Adds the characters the atom at n accepts. False when it is malformed.
bool fst_atom(st_txt_mtc *m, const st_trm *n)
{
    const st_trm *k;
    for (uint32_t c = 0; c < 256; c++) {
        const int hit = chk(n, c, &k);
        if (hit < 0)
            return false;
        if (hit)
            fst_add(m, c);
    }
    bool big = n->flg & TRM_NOT;
    for (const st_trm *x = n; x != k; x = x->nxt)
        big = big || x->val > 255;
    if (big)
        m->fst_flg |= MTC_FST_BIG;
    return true;
}

// Adds what can start a match from node n on. False when a match could
// start without a character or the walk meets what it cannot judge.
bool fst_walk(st_txt_mtc *m, const st_trm *n, int *bud)
{
    while (n && --*bud > 0) {
        if (n->flg & TRM_END)
            return false;
        if (n->grp & TRM_CLS) {
            n = trm_at(n->val);
        } else if (n->grp & TRM_OPN) {
            for (const st_trm *o = trm_at(n->val); o; o = trm_at(o->val))
                if (!fst_walk(m, o->nxt, bud))
                    return false;
            n = n->nxt;
        } else if (n->grp & TRM_LIN_TOP) {
            n = n->nxt; // conservative: as if always at line start
        } else if (n->grp & TRM_LIN_END) {
            fst_add(m, '\n'); // what follows must take the line end as well
            return true;
        } else if (!(n->flg & TRM_CHK) || !fst_atom(m, n)) {
            return false;
        } else if (n->grp & TRM_CNT0) {
            n = skip_to(n);
        } else {
            return true;
        }
    }
    return false;
}

// Makes the first-character set of the record's term list once.
void fst_make(st_txt_mtc *m)
{
    if (m->fst_trm == m->trm)
        return;
    std::memset(m->fst, 0, sizeof m->fst);
    m->fst_flg = 0;
    int bud = 4096;
    if (fst_walk(m, m->trm, &bud))
        m->fst_flg |= MTC_FST_USE;
    m->fst_trm = m->trm;
}

bool fst_has(const st_txt_mtc *m, uint32_t c)
{
    return c < 256 ? (m->fst[c >> 5] >> (c & 31)) & 1 : (m->fst_flg & MTC_FST_BIG);
}

void line_set(st_txt_mtc *m, uint32_t c)
{
    m->stt = c == '\n' ? m->stt | MTC_STT_LIN : m->stt & ~MTC_STT_LIN;
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
    __txt_mtc_chk_end(mtc->fre);
    _free(&mtc->tbl);
    if (mtc->opt & MTC_OWN)
        txt_mtc_trm_end(mtc->trm);
    *mtc = {};
    return rtn_ok();
}

int32_t txt_mtc_wrd(st_txt_mtc *mtc, uint32_t chr) noexcept
{
    if (!mtc || !mtc->trm)
        return rtn_fail();
    st_stp s = {mtc, chr, mtc->thr, nullptr, nullptr, false};
    s.tal = &s.nxt;
    mtc->thr = nullptr;
    int32_t st = 0;
    if (chr) {
        tbl_open(mtc);
        if (!(mtc->opt & MTC_ONE)) {
            st_thr *t = thr_new(mtc, mtc->trm, 0, mtc->pos);
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

int32_t txt_mtc(st_txt_mtc *mtc, st_stream *txt) noexcept
{
    if (!mtc || !mtc->trm || !txt)
        return rtn_fail();
    mtc->stt &= ~MTC_STT_ANC;
    mtc->stt |= MTC_STT_LIN | (mtc->opt & MTC_ANC ? MTC_STT_ANC : 0);
    fst_make(mtc);
    const bool skip = (mtc->fst_flg & MTC_FST_USE) && !(mtc->stt & MTC_STT_ANC);
    for (;;) {
        int32_t c;
        if (stream_pop(txt, &c) != 0 || c == 0)
            break;
        const uint32_t u = static_cast<uint32_t>(c);
        if (!mtc->thr && skip && ((mtc->opt & MTC_ONE) || !fst_has(mtc, u))) {
            line_set(mtc, u);
            mtc->pos++;
            continue;
        }
        RTN_TRY(txt_mtc_wrd(mtc, u));
        if ((mtc->stt & MTC_STT_MTC) && (!mtc->thr || !(mtc->opt & MTC_LNG)))
            return rtn_ok();
    }
    // Threads still live may end without a character ("$", optional atoms).
    RTN_TRY(txt_mtc_wrd(mtc, 0));
    return (mtc->stt & MTC_STT_MTC) ? rtn_ok() : rtn_fail1();
}
