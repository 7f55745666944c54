#include <cstring>

#include "platform/object_heap.h"
#include "stream/byte_stream.h"

namespace {

// Invariant for a size of 0 or more: 0 <= cursor <= size after every operation. The block
// never grows and stays the caller's.
class MemoryStream final : public ByteStream {
public:
    MemoryStream(const void *data, int32_t size)
        : data_(static_cast<unsigned char *>(const_cast<void *>(data))), size_(size)
    {
    }

    void destroy() override { destroyObject(this); }

    int32_t seek(int32_t distance, int32_t origin) override
    {
        int32_t from;
        switch (origin) {
        case kFromStart:
            from = 0;
            break;
        case kFromCurrent:
            from = cursor_;
            break;
        case kFromEnd:
            from = size_;
            break;
        default:
            return -1;
        }
        int32_t target = static_cast<int32_t>(static_cast<uint32_t>(from) + static_cast<uint32_t>(distance));
        if (target < 0)
            cursor_ = 0;
        else
            cursor_ = target > size_ ? size_ : target;
        return cursor_;
    }

    int32_t read(void *buffer, int32_t count) override
    {
        int32_t n = room(count);
        if (n > 0)
            std::memcpy(buffer, data_ + cursor_, static_cast<size_t>(n));
        cursor_ += n;
        return n;
    }

    int32_t write(const void *buffer, int32_t count) override
    {
        int32_t n = room(count);
        if (n > 0)
            std::memcpy(data_ + cursor_, buffer, static_cast<size_t>(n));
        cursor_ += n;
        return n;
    }

private:
    // Bytes that may move: never a negative count, and nothing when a negative size was
    // given, so that no byte outside the block is ever touched.
    int32_t room(int32_t count) const
    {
        int64_t left = static_cast<int64_t>(size_) - cursor_;
        if (count <= 0 || left <= 0)
            return 0;
        return count < left ? count : static_cast<int32_t>(left);
    }

    unsigned char *data_;
    int32_t size_;
    int32_t cursor_ = 0;
};

} // namespace

ByteStream *wrapMemory(const void *buffer, int32_t size) { return createObject<MemoryStream>(buffer, size); }
