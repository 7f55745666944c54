#include "archive/forward_reader.h"

int32_t ForwardReader::takeUpTo(void *to, int32_t count)
{
    uint8_t *bytes = static_cast<uint8_t *>(to);
    int32_t done = 0;
    // A stream may deliver less than asked before its end (a pipe, say); only a read
    // that delivers nothing means the end.
    while (done < count) {
        int32_t got = stream_.read(bytes + done, count - done);
        if (got <= 0 || got > count - done)
            break;
        done += got;
    }
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
