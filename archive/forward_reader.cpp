#include "archive/forward_reader.h"

#include <cstring>

// A stream may deliver less than asked before its end (a pipe, say); only a read that
// delivers nothing means the end.
int32_t ForwardReader::readStream(uint8_t *to, int32_t count)
{
    int32_t done = 0;
    while (done < count && !ended_) {
        int32_t got = stream_.read(to + done, count - done);
        if (got <= 0 || got > count - done)
            ended_ = true;
        else
            done += got;
    }
    return done;
}

bool ForwardReader::refill()
{
    begin_ = 0;
    end_ = ended_ ? 0 : readStream(buffer_, piece_);
    piece_ = piece_ <= capacity_ / 2 ? piece_ * 2 : capacity_;
    return end_ > 0;
}

int32_t ForwardReader::takeSlowly(void *to, int32_t count)
{
    uint8_t *bytes = static_cast<uint8_t *>(to);
    int32_t done = 0;
    if (!buffer_) {
        done = readStream(bytes, count);
    } else {
        while (done < count) {
            if (begin_ == end_ && !refill())
                break;
            int32_t piece = end_ - begin_ < count - done ? end_ - begin_ : count - done;
            std::memcpy(bytes + done, buffer_ + begin_, static_cast<size_t>(piece));
            begin_ += piece;
            done += piece;
        }
    }
    consumed_ += static_cast<uint32_t>(done);
    return done;
}

bool ForwardReader::skip(int32_t count)
{
    uint8_t scratch[64];
    while (count > 0) {
        int32_t piece = count < static_cast<int32_t>(sizeof scratch) ? count : static_cast<int32_t>(sizeof scratch);
        if (!take(scratch, piece))
            return false;
        count -= piece;
    }
    return true;
}
