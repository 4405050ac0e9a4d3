// Chain: a queue of member streams popped one after the other. Pushing a
// stream object moves it into the chain as its last member.
#include "base/stream/stream_impl.h"

#include <cstring>

// A member: the stream object moved in, and the link to the next member.
struct st_chain_nod {
    st_stream stm;     // the member
    st_chain_nod *nxt; // next member, none for the last
};

// The stream's handle.
struct st_chain {
    st_chain_nod *fst;  // first member, none when empty
    st_chain_nod **lst; // the link to fill on the next push
};

// Ends the first member and unlinks it.
static void chain_drop(st_chain *c)
{
    st_chain_nod *n = c->fst;
    c->fst = n->nxt;
    stream_end(&n->stm);
    _free(&n);
}

static int32_t stream_chain_pop(void *hdl, void *unit)
{
    st_chain *c = static_cast<st_chain *>(hdl);
    while (c->fst) {
        if (stream_pop(&c->fst->stm, unit) == 0)
            return 0;
        chain_drop(c); // its end of data and its failure alike go to the next member
    }
    return rtn_none();
}

static int32_t stream_chain_psh(void *hdl, const void *unit)
{
    st_chain *c = static_cast<st_chain *>(hdl);
    st_chain_nod *n;
    RTN_TRY(_malloc0(&n, sizeof *n));
    // The unit is the caller's stream object; it is moved, so clear it.
    st_stream *in = static_cast<st_stream *>(const_cast<void *>(unit));
    n->stm = *in;
    std::memset(in, 0, sizeof *in);
    if (n->stm.flg & STM_SLF) {
        n->stm.flg &= ~STM_SLF;
        _free(&in);
    }
    if (!c->fst)
        c->lst = &c->fst;
    *c->lst = n;
    c->lst = &n->nxt;
    return rtn_ok();
}

static int32_t stream_chain_end(void *hdl)
{
    st_chain *c = static_cast<st_chain *>(hdl);
    while (c->fst)
        chain_drop(c);
    return stream_end_fnc_only_free(hdl);
}

static const st_stream_fnc stream_chain_fnclst = {
    stream_chain_pop, stream_chain_psh, stream_chain_end, nullptr, nullptr, nullptr};

int32_t stream_chain(st_stream *stm) noexcept
{
    const st_chain c = {nullptr, nullptr};
    return __stream_set_cpy(stm, &c, sizeof c, &stream_chain_fnclst);
}
