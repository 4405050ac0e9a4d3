// Streams: helpers the stream kinds share. Not part of the installed
// interface: included by the files of base/stream and their tests only.
#pragma once

#include "base/stream/stream.h"

#include <cstddef>
#include <cstdint>

// Sets stm up over a new copy of the siz bytes at rcd, the kind's handle
// (its end slot frees it); on failure nothing is left.
int32_t __stream_set_cpy(st_stream *stm, const void *rcd, size_t siz,
                         const st_stream_fnc *lst) noexcept;

// Releases a byte stream taken from the hand-off slot that a decoder could
// not keep (also the console's, whose handle is empty).
void __cstream_src_drop(st_stream *in) noexcept;

// Pushes the cstream_chr_bytes of chr to dst, as both decoders and every
// character stream that writes do. 0; 0x80000001 when a push fails.
int32_t __cstream_psh_bytes(st_stream *dst, int32_t chr) noexcept;
