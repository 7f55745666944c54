// Calling the exports as a host does, from inside the test program.
#pragma once
#include <cstring>
#include <memory>
#include <string>

#include "platform/test_hooks.h"
#include "plugin/exports.h"
#include "tests/archive/archive_test_support.h"

inline ArgHandleOrAddress addressOf(const void *p) { return reinterpret_cast<ArgHandleOrAddress>(p); }
inline ArgHandleOrAddress handleOf(int fd) { return static_cast<ArgHandleOrAddress>(fd); }
inline char *destinationOf(HLOCAL *out) { return reinterpret_cast<char *>(out); }

// The host's copy of the first 2048 bytes, zero-padded, in a heap block of exactly that
// size so that the sanitizers catch a read past it.
inline std::unique_ptr<char[]> headBuffer(const Bytes &file, size_t from = 0)
{
    std::unique_ptr<char[]> head(new char[2048]);
    std::memset(head.get(), 0, 2048);
    for (size_t i = 0; i < 2048 && from + i < file.size(); ++i)
        head[i] = static_cast<char>(file[from + i]);
    return head;
}

inline int32_t isSupportedMemory(const Bytes &file, size_t from = 0)
{
    std::unique_ptr<char[]> head = headBuffer(file, from);
    return IsSupported("archive.bin", addressOf(head.get()));
}

// Leaves the module without a current handler, as it is when loaded: an IsSupported
// whose first factory cannot allocate its handler keeps none.
inline void dropCurrentHandler()
{
    std::unique_ptr<char[]> head = headBuffer(bytesOf("UK"));
    platformFailAllocation(2); // the stream is made; the first handler is not
    IsSupported("archive.bin", addressOf(head.get()));
    platformFailAllocation(0);
}
