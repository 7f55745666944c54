#include "platform/object_heap.h"
#include "stream/byte_stream.h"

namespace {

// No position of its own: the position is the handle's file pointer minus base, so
// whatever moves the host's file pointer moves the stream too.
class FileStream final : public ByteStream {
public:
    FileStream(HANDLE handle, uint32_t base, bool ownsHandle)
        : handle_(handle), base_(base), ownsHandle_(ownsHandle)
    {
    }

    void destroy() override
    {
        if (ownsHandle_ && handle_ != INVALID_HANDLE_VALUE)
            CloseHandle(handle_);
        destroyObject(this);
    }

    // Positions are signed 32-bit and count from base. The file pointer is moved with a
    // high part, so that a base between 2 and 4 GiB works like any other.
    int32_t seek(int32_t distance, int32_t origin) override
    {
        if (origin < kFromStart || origin > kFromEnd)
            return -1;
        int64_t move = origin == kFromStart ? static_cast<int64_t>(base_) + distance : distance;
        LONG high = static_cast<LONG>(move >> 32);
        DWORD low = SetFilePointer(handle_, static_cast<LONG>(move), &high, static_cast<DWORD>(origin));
        int64_t position = low == INVALID_SET_FILE_POINTER && GetLastError() != 0
                               ? -1
                               : static_cast<int64_t>((static_cast<uint64_t>(static_cast<uint32_t>(high)) << 32) | low) -
                                     base_;
        // Before base, too far beyond it, or refused: the stream goes back to its start.
        if (position < 0 || position > INT32_MAX) {
            moveFilePointerTo(handle_, base_);
            return 0;
        }
        return static_cast<int32_t>(position);
    }

    int32_t read(void *buffer, int32_t count) override
    {
        if (count < 0)
            return -1;
        DWORD done = 0;
        if (!ReadFile(handle_, buffer, static_cast<DWORD>(count), &done, nullptr))
            return -1;
        return static_cast<int32_t>(done);
    }

    int32_t write(const void *buffer, int32_t count) override
    {
        if (count < 0)
            return -1;
        DWORD done = 0;
        if (!WriteFile(handle_, buffer, static_cast<DWORD>(count), &done, nullptr))
            return -1;
        return static_cast<int32_t>(done);
    }

private:
    HANDLE handle_;
    uint32_t base_;
    bool ownsHandle_;
};

} // namespace

ByteStream *wrapFileHandle(HANDLE handle) { return createObject<FileStream>(handle, 0u, false); }

// The file is opened before the object is made, so a file that cannot be opened leaves
// nothing allocated, and a stream that cannot be allocated leaves no handle open.
ByteStream *openFileStream(const char *name, uint32_t offset)
{
    HANDLE handle = CreateFileA(name, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return nullptr;
    ByteStream *stream = createObject<FileStream>(handle, offset, true);
    if (!stream) {
        CloseHandle(handle);
        return nullptr;
    }
    if (offset > 0)
        moveFilePointerTo(handle, offset);
    return stream;
}
