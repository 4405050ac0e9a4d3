// Regular expressions: the compiler from a pattern stream to a term list,
// the one-shot searches over streams and strings, and the list's debug
// print and release.
//
// Alternatives are linked in two steps. While a group (or the top level)
// is read, its close nodes form a chain through val, starting at the
// group's open node: open -> close -> close -> 0. When the node after the
// group is known, chain_link turns that chain into the final links:
//
//   before:  O1.val=C1  C1.val=C2  C2.val=0     O1 a C1 O2 b C2 T
//   after:   O1.val=O2  O2.val=0   C1.val=T  C2.val=T
#include "base/text/text.h"

#include <cctype>
#include <cinttypes>

namespace
{

// Compiler state: the list being built, the last atom and the two chains
// of close nodes (the top level's and the open group's).
struct st_rcp {
    st_stream *pat;  // the pattern stream
    st_trm *top;     // the start node: the top level's open node
    st_trm *lst;     // the last node appended
    st_trm *atm;     // first node of the last atom, or none
    st_trm *atm_end; // last node of the last atom while nothing follows it
    st_trm *grp_opn; // open node of the group being read, none outside one
    st_trm *grp_lst; // that group's last close node (its open node at first)
    st_trm *top_lst; // the top level's last close node (the start node at first)
    st_trm *cls;     // the ")" just appended while nothing follows it
    st_trm *pnd;     // open node of a group whose links wait for the next node
    uint32_t chr;    // the current character
};

st_trm *trm_at(uintptr_t val)
{
    return reinterpret_cast<st_trm *>(val);
}

uintptr_t trm_val(const st_trm *nod)
{
    return reinterpret_cast<uintptr_t>(nod);
}

// Turns the chain of close nodes that starts at opn into jumps to tgt and
// the chain of open nodes of the alternatives (see the sketch above).
void chain_link(st_trm *opn, st_trm *tgt)
{
    st_trm *o = opn;
    for (st_trm *c = trm_at(o->val); c;) {
        st_trm *nxt = trm_at(c->val);
        o->val = c->nxt != tgt ? trm_val(c->nxt) : 0;
        c->val = trm_val(tgt);
        o = c->nxt;
        c = nxt;
    }
}

// Appends a new node; a group that just ended gets its links first.
int32_t node_add(st_rcp *r, uint8_t flg, uint8_t grp, uintptr_t val, st_trm **out = nullptr)
{
    st_trm *n;
    RTN_TRY(_malloc0(&n, sizeof *n));
    n->flg = flg;
    n->grp = grp;
    n->val = val;
    r->lst->nxt = n;
    r->lst = n;
    if (r->pnd) {
        chain_link(r->pnd, n);
        r->pnd = nullptr;
    }
    r->atm_end = nullptr;
    r->cls = nullptr;
    if (out)
        *out = n;
    return rtn_ok();
}

// Pops the next character inside a construct: the end of the pattern
// there is a malformed pattern (-1); another failure keeps its status.
int32_t pop_in(st_rcp *r)
{
    int32_t c;
    if (stream_pop(r->pat, &c) != 0)
        return __rtn == RTN_NONE ? rtn_fail() : rtn_keep();
    r->chr = static_cast<uint32_t>(c);
    return rtn_ok();
}

int32_t escape_in(st_rcp *r)
{
    if (__regexp_escape(r->pat, &r->chr) != 0)
        return __rtn == RTN_NONE ? rtn_fail() : rtn_keep();
    return rtn_ok();
}

bool is_space(uint32_t c)
{
    return c < 128 && std::isspace(static_cast<int>(c));
}

int32_t skip_space(st_rcp *r)
{
    while (is_space(r->chr))
        RTN_TRY(pop_in(r));
    return rtn_ok();
}

// Reads decimal digits into *num (0 when there are none); the character
// after them is current. -1 when the number does not fit in 32 bits.
int32_t read_num(st_rcp *r, uint32_t *num)
{
    uint64_t n = 0;
    while (r->chr >= '0' && r->chr <= '9') {
        n = n * 10 + ctoi(r->chr);
        if (n > TRM_INF)
            return rtn_fail();
        RTN_TRY(pop_in(r));
    }
    *num = static_cast<uint32_t>(n);
    return rtn_ok();
}

// "{n}", "{n,}" or "{n,m}" after "{": the count node(s).
int32_t count_add(st_rcp *r)
{
    uint32_t lo, hi = TRM_INF;
    RTN_TRY(pop_in(r));
    RTN_TRY(skip_space(r));
    RTN_TRY(read_num(r, &lo));
    RTN_TRY(skip_space(r));
    if (r->chr == '}') {
        if (lo == 0)
            return rtn_fail(); // an exact count of zero could never pass the atom
        return node_add(r, TRM_CNT, 0, lo);
    }
    if (r->chr != ',')
        return rtn_fail();
    RTN_TRY(pop_in(r));
    RTN_TRY(skip_space(r));
    if (r->chr != '}') {
        RTN_TRY(read_num(r, &hi));
        RTN_TRY(skip_space(r));
        if (r->chr != '}')
            return rtn_fail();
    }
    RTN_TRY(node_add(r, TRM_CNT | TRM_RNG, 0, lo));
    return node_add(r, TRM_CNT | TRM_RNG_END, 0, hi);
}

// "*", "+", "?" or "{": only right after an atom, or after ")" (kept as
// it was: the search fails when a thread reaches the count node).
int32_t quantifier_add(st_rcp *r)
{
    if (r->lst != r->atm_end && r->lst != r->cls)
        return rtn_fail();
    const uint32_t q = r->chr;
    if ((q == '*' || q == '?') && r->atm)
        r->atm->grp |= TRM_CNT0;
    if (q == '{')
        return count_add(r);
    RTN_TRY(node_add(r, TRM_CNT | TRM_RNG, 0, q == '+' ? 1 : 0));
    return node_add(r, TRM_CNT | TRM_RNG_END, 0, q == '?' ? 1 : TRM_INF);
}

// "[" ... "]": one node per member; a range is two members.
int32_t class_add(st_rcp *r)
{
    st_trm *fst = nullptr, *prv = nullptr;
    RTN_TRY(pop_in(r));
    const uint8_t neg = r->chr == '^' ? TRM_NOT : 0;
    if (neg)
        RTN_TRY(pop_in(r));
    for (;;) {
        uint8_t rng_end = 0;
        if (r->chr == ']') {
            if (!prv)
                return rtn_fail(); // an empty class
            prv->flg |= TRM_CHK_END;
            break;
        }
        if (r->chr == '-') {
            if (!prv || (prv->flg & TRM_RNG_END))
                return rtn_fail();
            prv->flg |= TRM_RNG;
            RTN_TRY(pop_in(r));
            if (r->chr == ']')
                return rtn_fail(); // a range with no end
            rng_end = TRM_RNG_END;
        }
        RTN_TRY(escape_in(r));
        RTN_TRY(node_add(r, TRM_CHK | neg | rng_end, 0, r->chr, &prv));
        if (!fst)
            fst = prv;
        RTN_TRY(pop_in(r));
    }
    r->atm = fst;
    r->atm_end = prv;
    return rtn_ok();
}

// "(": the group's open node, which starts its chain of close nodes.
int32_t group_open(st_rcp *r)
{
    st_trm *n;
    if (r->grp_opn)
        return rtn_fail(); // groups do not nest
    RTN_TRY(node_add(r, 0, TRM_OPN, 0, &n));
    r->grp_opn = r->grp_lst = n;
    return rtn_ok();
}

// ")": a close node ends the group's chain; the chain is linked when the
// node after the group is appended.
int32_t group_close(st_rcp *r)
{
    st_trm *n;
    if (!r->grp_opn)
        return rtn_fail();
    RTN_TRY(node_add(r, 0, TRM_CLS, 0, &n));
    r->grp_lst->val = trm_val(n);
    r->pnd = r->grp_opn;
    r->grp_opn = nullptr;
    r->cls = n;
    return rtn_ok();
}

// "|": a close node ends the alternative before it (chained in the open
// group, else at the top level), an open node starts the next.
int32_t alternative_add(st_rcp *r)
{
    st_trm *n;
    st_trm **lst = r->grp_opn ? &r->grp_lst : &r->top_lst;
    RTN_TRY(node_add(r, 0, TRM_CLS, 0, &n));
    (*lst)->val = trm_val(n);
    *lst = n;
    return node_add(r, 0, TRM_OPN, 0);
}

// "." or a literal character (an escape read through): a one-node atom.
int32_t atom_add(st_rcp *r)
{
    st_trm *n;
    if (r->chr == '.') {
        RTN_TRY(node_add(r, TRM_CHK | TRM_CHK_END | TRM_NOT, 0, '\n', &n));
    } else {
        RTN_TRY(escape_in(r));
        RTN_TRY(node_add(r, TRM_CHK | TRM_CHK_END, 0, r->chr, &n));
    }
    r->atm = r->atm_end = n;
    return rtn_ok();
}

// One character of the pattern (with what it pops itself).
int32_t char_add(st_rcp *r)
{
    switch (r->chr) {
    case '$':
        return node_add(r, 0, TRM_LIN_END, 0);
    case '^':
        return node_add(r, 0, TRM_LIN_TOP, 0);
    case '(':
        return group_open(r);
    case ')':
        return group_close(r);
    case '|':
        return alternative_add(r);
    case '*':
    case '+':
    case '?':
    case '{':
        return quantifier_add(r);
    case '[':
        return class_add(r);
    default:
        return atom_add(r);
    }
}

// Reads every character after the first; at the end appends the end node
// and links the top level. 0 or the failure.
int32_t pattern_read(st_rcp *r)
{
    for (;;) {
        RTN_TRY(char_add(r));
        int32_t c;
        if (stream_pop(r->pat, &c) != 0) {
            if (__rtn != RTN_NONE)
                return rtn_keep();
            break;
        }
        r->chr = static_cast<uint32_t>(c);
    }
    if (r->grp_opn)
        return rtn_fail(); // a group never closed
    st_trm *end;
    RTN_TRY(node_add(r, TRM_END, 0, 0, &end));
    chain_link(r->top, end);
    return rtn_ok();
}

} // namespace

int32_t __regexp_escape(st_stream *pat, uint32_t *chr) noexcept
{
    if (*chr != '\\')
        return 0;
    int32_t c;
    if (stream_pop(pat, &c) != 0)
        return 1;
    switch (c) {
    case 'r':
        *chr = 13;
        break;
    case 't':
        *chr = 9;
        break;
    case 'n':
        *chr = 10;
        break;
    default:
        *chr = static_cast<uint32_t>(c);
    }
    return 0;
}

int32_t regexp_trm(st_txt_mtc *mtc, st_stream *pat) noexcept
{
    if (!mtc || !pat)
        return rtn_fail();
    st_rcp r = {};
    r.pat = pat;
    RTN_TRY(_malloc0(&r.top, sizeof *r.top));
    r.top->grp = TRM_OPN;
    r.lst = r.top_lst = r.top;
    int32_t c;
    if (stream_pop(pat, &c) != 0) {
        txt_mtc_trm_end(r.top);
        return rtn_keep(); // an empty pattern: the pop's own status
    }
    r.chr = static_cast<uint32_t>(c);
    if (pattern_read(&r) != 0) {
        const int32_t st = __rtn;
        txt_mtc_trm_end(r.top);
        return __rtn = st;
    }
    mtc->trm = r.top;
    return rtn_ok();
}

int32_t regexp_chk(st_txt_mtc *mtc, st_stream *pat, const uint32_t *opt) noexcept
{
    if (!mtc)
        return rtn_fail();
    mtc->opt = (opt ? *opt : MTC_OPT_DEF) | MTC_OWN;
    if (regexp_trm(mtc, pat) != 0) {
        const int32_t st = __rtn;
        txt_mtc_chk_end(mtc);
        return __rtn = st;
    }
    return rtn_ok();
}

int32_t regexp(st_stream *txt, st_stream *pat, uint32_t *rng, const uint32_t *opt) noexcept
{
    if (!txt || !rng)
        return rtn_fail();
    st_txt_mtc mtc = {};
    RTN_TRY(regexp_chk(&mtc, pat, opt));
    const int32_t st = txt_mtc(&mtc, txt);
    if (st == 0) {
        rng[0] = mtc.mtc_top;
        rng[1] = mtc.mtc_end;
    }
    txt_mtc_chk_end(&mtc);
    return __rtn = st;
}

int32_t strregexp(const char *txt, const char *pat, uint32_t *rng, const uint32_t *opt) noexcept
{
    if (!txt || !pat || !rng)
        return rtn_fail();
    st_stream t = {}, p = {};
    if (cstream_str_set(&t, txt) != 0)
        return rtn_keep();
    int32_t st = cstream_str_set(&p, pat);
    if (st == 0)
        st = regexp(&t, &p, rng, opt);
    stream_end(&p);
    stream_end(&t);
    return __rtn = st;
}

int32_t txt_mtc_trm_prt(const st_trm *lst, FILE *fp) noexcept
{
    if (!fp)
        return rtn_fail();
    for (const st_trm *n = lst; n; n = n->nxt) {
        const uintptr_t v = n->val;
        const int chr = v == 0 ? ' ' : v > 127 ? 0xFF : static_cast<int>(v);
        // A count or character prints as the 32-bit word it is; a node
        // pointer needs the whole width.
        const intptr_t dec = v <= 0xFFFFFFFFu ? static_cast<int32_t>(static_cast<uint32_t>(v))
                                              : static_cast<intptr_t>(v);
        const uint8_t f = n->flg, g = n->grp;
        std::fprintf(fp,
                     "[%08" PRIXPTR "][v:%c/%10" PRIdPTR "/%08" PRIXPTR "]Flg[rng:%d%d not:%d "
                     "chk:%d%d cnt:%d end:%d jmp:%d grp:%d%d cnt0:%d line:%d%d \n",
                     reinterpret_cast<uintptr_t>(n), chr, dec, v, !!(f & TRM_RNG),
                     !!(f & TRM_RNG_END), !!(f & TRM_NOT), !!(f & TRM_CHK), !!(f & TRM_CHK_END),
                     !!(f & TRM_CNT), !!(f & TRM_END), !!(f & TRM_JMP), !!(g & TRM_OPN),
                     !!(g & TRM_CLS), !!(g & TRM_CNT0), !!(g & TRM_LIN_TOP), !!(g & TRM_LIN_END));
    }
    return rtn_ok();
}

void txt_mtc_trm_end(st_trm *lst) noexcept
{
    while (lst) {
        st_trm *n = lst->nxt;
        _free(&lst);
        lst = n;
    }
}
