// Every read a handler makes goes through here, so that a stream which ends early is
// handled in one place: a piece is either delivered whole or the caller is told it wasn't.
#pragma once
#include <cstdint>

#include "stream/byte_stream.h"

class ForwardReader {
public:
    explicit ForwardReader(ByteStream &stream) : stream_(stream) {}

    // Reads up to count bytes; answers how many were delivered. Bytes of `to` beyond
    // those keep what they held.
    int32_t takeUpTo(void *to, int32_t count);
    // True when all count bytes were delivered.
    bool take(void *to, int32_t count) { return takeUpTo(to, count) == count; }
    // Passes over count bytes; true when they were all there.
    bool skip(int32_t count);

private:
    ByteStream &stream_;
};
