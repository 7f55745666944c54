// Every read a handler makes goes through here, so that a stream which ends early is
// handled in one place: a piece is either delivered whole or the caller is told it wasn't.
#pragma once
#include <cstdint>
#include <cstring>

#include "stream/byte_stream.h"

class ForwardReader {
public:
    // Reads exactly what is asked, piece by piece: for probes, whose reads a host can see
    // in where its file pointer is left.
    explicit ForwardReader(ByteStream &stream) : stream_(stream) {}
    // Reads ahead into the caller's buffer in large pieces: for directory walks, which own
    // a fresh stream and would otherwise make one system call per record.
    // The pieces start small and double: a lookup that stops after a record or two reads
    // little, a whole walk soon reads in full pieces.
    ForwardReader(ByteStream &stream, uint8_t *readAhead, int32_t capacity)
        : stream_(stream), buffer_(readAhead), capacity_(capacity), piece_(capacity < 512 ? capacity : 512)
    {
    }

    // Reads up to count bytes; answers how many were delivered. Bytes of `to` beyond
    // those keep what they held.
    int32_t takeUpTo(void *to, int32_t count)
    {
        if (const uint8_t *bytes = takeBuffered(count)) {
            std::memcpy(to, bytes, static_cast<size_t>(count));
            return count;
        }
        return takeSlowly(to, count);
    }
    // True when all count bytes were delivered.
    bool take(void *to, int32_t count) { return takeUpTo(to, count) == count; }
    // Like take, but answers where the bytes are: in the read-ahead when they lie whole
    // in it (no copy), else in scratch; null when they were not all delivered.
    const uint8_t *takeInPlace(void *scratch, int32_t count)
    {
        if (const uint8_t *bytes = takeBuffered(count))
            return bytes;
        return takeSlowly(scratch, count) == count ? static_cast<const uint8_t *>(scratch) : nullptr;
    }
    // Passes over count bytes; true when they were all there.
    bool skip(int32_t count);
    // Bytes handed out so far: where the next piece starts, counted from the stream's start.
    uint32_t consumed() const { return consumed_; }

private:
    // The count bytes when they lie whole in the read-ahead, the common case of every
    // walk, handed out; else null and nothing taken.
    const uint8_t *takeBuffered(int32_t count)
    {
        if (count <= 0 || end_ - begin_ < count)
            return nullptr;
        const uint8_t *bytes = buffer_ + begin_;
        begin_ += count;
        consumed_ += static_cast<uint32_t>(count);
        return bytes;
    }
    int32_t takeSlowly(void *to, int32_t count);
    int32_t readStream(uint8_t *to, int32_t count);
    bool refill();

    ByteStream &stream_;
    uint8_t *buffer_ = nullptr;
    int32_t capacity_ = 0;
    int32_t piece_ = 0;
    int32_t begin_ = 0;
    int32_t end_ = 0;
    bool ended_ = false;
    uint32_t consumed_ = 0;
};

// The read-ahead a walk puts on its stack: a directory of 100,000 records takes about a
// hundred reads instead of two hundred thousand.
constexpr int32_t kWalkReadAhead = 64 * 1024;
