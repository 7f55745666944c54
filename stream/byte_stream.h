// One seek/read/write interface over a named file, a host's file handle or a memory image,
// so that every archive handler serves all three kinds of input with the same code.
#pragma once
#include <cstdint>

#include "platform/platform.h"

// Origins of seek, numbered as the Windows move methods.
enum SeekOrigin : int32_t { kFromStart = 0, kFromCurrent = 1, kFromEnd = 2 };

// Released through destroy(), never through delete: there is no virtual destructor.
class ByteStream {
public:
    virtual void destroy() = 0;
    // New position, or -1 for an origin the stream does not accept.
    virtual int32_t seek(int32_t distance, int32_t origin) = 0;
    // Bytes moved (possibly fewer than asked near the end), or -1. A read writes the
    // first n bytes of buffer and nothing beyond them.
    virtual int32_t read(void *buffer, int32_t count) = 0;
    virtual int32_t write(const void *buffer, int32_t count) = 0;

protected:
    ByteStream() = default;
    ~ByteStream() = default;
};

// A stream over the named file whose position 0 is byte `offset` (unsigned, so archives
// up to 4 GiB work); it closes the file when destroyed. Null when the file cannot be
// opened or memory runs out.
ByteStream *openFileStream(const char *name, uint32_t offset);
// A stream over the host's handle, which it never closes; null when memory runs out.
ByteStream *wrapFileHandle(HANDLE handle);
// A stream over size bytes at buffer, which stay the caller's; null when memory runs out.
ByteStream *wrapMemory(const void *buffer, int32_t size);
