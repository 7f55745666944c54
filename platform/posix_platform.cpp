// Our own implementation of the Windows calls the plug-in makes, for POSIX systems.
// A file handle is a file descriptor; a local-memory handle points just past a header
// that tells fixed blocks (handle == address) from moveable ones (handle != address).
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/abi.h"
#include "platform/platform.h"
#include "platform/test_hooks.h"

namespace {

thread_local DWORD lastError = 0;

long allocationCount = 0;
long failingAllocation = 0;
long liveBlocks = 0;
long liveObjects = 0;

// Every allocation passes here so that tests can make any one of them fail.
bool allocationAllowed()
{
    ++allocationCount;
    if (failingAllocation != 0 && allocationCount == failingAllocation) {
        failingAllocation = 0;
        lastError = ERROR_NOT_ENOUGH_MEMORY;
        return false;
    }
    return true;
}

int descriptorOf(HANDLE file)
{
    intptr_t value = reinterpret_cast<intptr_t>(file);
    return (value < 0 || value > 0x7FFFFFFF) ? -1 : static_cast<int>(value);
}

DWORD errorFromErrno(int error)
{
    switch (error) {
    case ENOENT:
    case ENOTDIR:
        return ERROR_FILE_NOT_FOUND;
    case EBADF:
        return ERROR_INVALID_HANDLE;
    case ENOMEM:
        return ERROR_NOT_ENOUGH_MEMORY;
    case EACCES:
    case EPERM:
    case EISDIR:
        return 5; // access denied
    default:
        return 31; // a device does not function
    }
}

constexpr uint32_t kFixedMagic = 0x4C464958;    // "XIFL"
constexpr uint32_t kMoveableMagic = 0x4C564F4D; // "MOVL"

struct alignas(16) BlockHeader {
    uint32_t magic;
    uint32_t lockCount; // moveable only
    size_t size;
    unsigned char *data; // moveable only: the block itself
};

// Large blocks (whole members, long entry lists) ask for huge pages where the system
// offers them only on request: a 512 MiB member then costs 256 page faults, not 131,072.
// calloc knows when its memory is fresh from the system and then skips the clearing.
void *allocateBytes(size_t bytes, bool zero)
{
    void *memory = zero ? std::calloc(1, bytes ? bytes : 1) : std::malloc(bytes ? bytes : 1);
    constexpr size_t kHuge = 2u << 20;
    if (memory && bytes >= 2 * kHuge) {
        uintptr_t first = (reinterpret_cast<uintptr_t>(memory) + kHuge - 1) & ~(kHuge - 1);
        uintptr_t last = (reinterpret_cast<uintptr_t>(memory) + bytes) & ~(kHuge - 1);
        if (last > first)
            ::madvise(reinterpret_cast<void *>(first), last - first, MADV_HUGEPAGE);
    }
    return memory;
}

BlockHeader *headerOf(HLOCAL mem)
{
    if (!mem)
        return nullptr;
    BlockHeader *header = static_cast<BlockHeader *>(mem) - 1;
    if (header->magic != kFixedMagic && header->magic != kMoveableMagic)
        return nullptr;
    return header;
}

HLOCAL newFixed(size_t bytes, bool zero)
{
    if (bytes > SIZE_MAX - sizeof(BlockHeader))
        return nullptr;
    auto *header = static_cast<BlockHeader *>(allocateBytes(sizeof(BlockHeader) + bytes, zero));
    if (!header)
        return nullptr;
    *header = BlockHeader{kFixedMagic, 0, bytes, nullptr};
    ++liveBlocks;
    return header + 1;
}

// A moveable block's data lives in an allocation of its own, which a resize may move
// (under AddressSanitizer it always does, so a pointer kept across LocalReAlloc shows).
HLOCAL newMoveable(size_t bytes, bool zero)
{
    auto *header = static_cast<BlockHeader *>(std::malloc(sizeof(BlockHeader)));
    if (!header)
        return nullptr;
    unsigned char *data = static_cast<unsigned char *>(allocateBytes(bytes, zero));
    if (!data) {
        std::free(header);
        return nullptr;
    }
    *header = BlockHeader{kMoveableMagic, 0, bytes, data};
    ++liveBlocks;
    return header + 1;
}

} // namespace

extern "C" {

TESSIK_EXPORT DWORD GetLastError(void) { return lastError; }

// Opens an existing file for reading, or creates one for writing; a folder is refused as
// Windows refuses it without backup semantics.
TESSIK_EXPORT HANDLE CreateFileA(LPCSTR name, DWORD access, DWORD, void *, DWORD disposition, DWORD,
                                 HANDLE)
{
    int flags = (access & GENERIC_WRITE) ? ((access & GENERIC_READ) ? O_RDWR : O_WRONLY) : O_RDONLY;
    if (disposition == CREATE_ALWAYS)
        flags |= O_CREAT | O_TRUNC;
    int fd = ::open(name, flags | O_CLOEXEC, 0644);
    if (fd < 0) {
        lastError = errorFromErrno(errno);
        return INVALID_HANDLE_VALUE;
    }
    struct stat info;
    if (::fstat(fd, &info) == 0 && S_ISDIR(info.st_mode)) {
        ::close(fd);
        lastError = 5;
        return INVALID_HANDLE_VALUE;
    }
    return reinterpret_cast<HANDLE>(static_cast<intptr_t>(fd));
}

// Without a high part the distance is a signed 32-bit number and the result must fit in
// 32 bits; with one, the two form a signed 64-bit distance. A move before the start of
// the file is refused; a move past the end is allowed.
TESSIK_EXPORT DWORD SetFilePointer(HANDLE file, LONG distance, LONG *distanceHigh, DWORD method)
{
    int fd = descriptorOf(file);
    if (fd < 0) {
        lastError = ERROR_INVALID_HANDLE;
        return INVALID_SET_FILE_POINTER;
    }
    int64_t move = distanceHigh ? static_cast<int64_t>((static_cast<uint64_t>(static_cast<uint32_t>(*distanceHigh)) << 32) |
                                                       static_cast<uint32_t>(distance))
                                : static_cast<int64_t>(distance);
    off_t from;
    switch (method) {
    case FILE_BEGIN:
        from = 0;
        break;
    case FILE_CURRENT:
        from = ::lseek(fd, 0, SEEK_CUR);
        break;
    case FILE_END: {
        // Measured without moving: a refused move must leave the pointer where it was.
        struct stat info;
        from = ::fstat(fd, &info) == 0 ? info.st_size : -1;
        break;
    }
    default:
        lastError = 87; // invalid parameter
        return INVALID_SET_FILE_POINTER;
    }
    if (from < 0) {
        lastError = errorFromErrno(errno);
        return INVALID_SET_FILE_POINTER;
    }
    int64_t target = static_cast<int64_t>(from) + move;
    if (target < 0) {
        lastError = ERROR_NEGATIVE_SEEK;
        return INVALID_SET_FILE_POINTER;
    }
    if (!distanceHigh && target > 0xFFFFFFFFLL) {
        lastError = 87;
        return INVALID_SET_FILE_POINTER;
    }
    if (::lseek(fd, static_cast<off_t>(target), SEEK_SET) < 0) {
        lastError = errorFromErrno(errno);
        return INVALID_SET_FILE_POINTER;
    }
    if (distanceHigh)
        *distanceHigh = static_cast<LONG>(static_cast<uint64_t>(target) >> 32);
    lastError = 0;
    return static_cast<DWORD>(target);
}

// Like ReadFile on a disk file: everything asked for, unless the end of the file comes first.
TESSIK_EXPORT BOOL ReadFile(HANDLE file, void *buffer, DWORD count, DWORD *done, void *)
{
    int fd = descriptorOf(file);
    DWORD total = 0;
    if (done)
        *done = 0;
    if (fd < 0) {
        lastError = ERROR_INVALID_HANDLE;
        return 0;
    }
    while (total < count) {
        ssize_t got = ::read(fd, static_cast<char *>(buffer) + total, count - total);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0) {
            lastError = errorFromErrno(errno);
            return 0;
        }
        if (got == 0)
            break;
        total += static_cast<DWORD>(got);
    }
    if (done)
        *done = total;
    return 1;
}

TESSIK_EXPORT BOOL WriteFile(HANDLE file, const void *buffer, DWORD count, DWORD *done, void *)
{
    int fd = descriptorOf(file);
    DWORD total = 0;
    if (done)
        *done = 0;
    if (fd < 0) {
        lastError = ERROR_INVALID_HANDLE;
        return 0;
    }
    while (total < count) {
        ssize_t put = ::write(fd, static_cast<const char *>(buffer) + total, count - total);
        if (put < 0 && errno == EINTR)
            continue;
        if (put <= 0) {
            lastError = errorFromErrno(errno);
            return 0;
        }
        total += static_cast<DWORD>(put);
    }
    if (done)
        *done = total;
    return 1;
}

TESSIK_EXPORT BOOL CloseHandle(HANDLE object)
{
    int fd = descriptorOf(object);
    if (fd < 0 || ::close(fd) != 0) {
        lastError = ERROR_INVALID_HANDLE;
        return 0;
    }
    return 1;
}

TESSIK_EXPORT HLOCAL LocalAlloc(UINT flags, size_t bytes)
{
    if (!allocationAllowed())
        return nullptr;
    bool zero = (flags & LMEM_ZEROINIT) != 0;
    HLOCAL mem = (flags & LMEM_MOVEABLE) ? newMoveable(bytes, zero) : newFixed(bytes, zero);
    if (!mem)
        lastError = ERROR_NOT_ENOUGH_MEMORY;
    return mem;
}

// A moveable block may move (its handle stays); a fixed block moves only when the caller
// allows it with LMEM_MOVEABLE, and then gets a new handle.
TESSIK_EXPORT HLOCAL LocalReAlloc(HLOCAL mem, size_t bytes, UINT flags)
{
    BlockHeader *header = headerOf(mem);
    if (!header) {
        lastError = ERROR_INVALID_HANDLE;
        return nullptr;
    }
    if (!allocationAllowed())
        return nullptr;
    bool zero = (flags & LMEM_ZEROINIT) != 0;
    if (header->magic == kMoveableMagic) {
        unsigned char *data = static_cast<unsigned char *>(std::realloc(header->data, bytes ? bytes : 1));
        if (!data) {
            lastError = ERROR_NOT_ENOUGH_MEMORY;
            return nullptr;
        }
        size_t kept = header->size < bytes ? header->size : bytes;
        if (zero && bytes > kept)
            std::memset(data + kept, 0, bytes - kept);
        header->data = data;
        header->size = bytes;
        return mem;
    }
    if (bytes <= header->size) {
        header->size = bytes;
        return mem;
    }
    if (!(flags & LMEM_MOVEABLE)) {
        lastError = ERROR_NOT_ENOUGH_MEMORY;
        return nullptr;
    }
    HLOCAL moved = newFixed(bytes, false);
    if (!moved) {
        lastError = ERROR_NOT_ENOUGH_MEMORY;
        return nullptr;
    }
    std::memcpy(moved, mem, header->size);
    if (zero)
        std::memset(static_cast<unsigned char *>(moved) + header->size, 0, bytes - header->size);
    header->magic = 0;
    std::free(header);
    --liveBlocks;
    return moved;
}

TESSIK_EXPORT void *LocalLock(HLOCAL mem)
{
    BlockHeader *header = headerOf(mem);
    if (!header) {
        lastError = ERROR_INVALID_HANDLE;
        return nullptr;
    }
    if (header->magic == kFixedMagic)
        return mem;
    if (header->lockCount < LMEM_LOCKCOUNT)
        ++header->lockCount;
    return header->data;
}

TESSIK_EXPORT BOOL LocalUnlock(HLOCAL mem)
{
    BlockHeader *header = headerOf(mem);
    if (!header) {
        lastError = ERROR_INVALID_HANDLE;
        return 0;
    }
    if (header->magic == kFixedMagic || header->lockCount == 0) {
        lastError = 158; // not locked
        return 0;
    }
    --header->lockCount;
    lastError = 0;
    return header->lockCount != 0;
}

TESSIK_EXPORT HLOCAL LocalFree(HLOCAL mem)
{
    if (!mem)
        return nullptr;
    BlockHeader *header = headerOf(mem);
    if (!header) {
        lastError = ERROR_INVALID_HANDLE;
        return mem;
    }
    if (header->magic == kMoveableMagic)
        std::free(header->data);
    header->magic = 0;
    std::free(header);
    --liveBlocks;
    return nullptr;
}

TESSIK_EXPORT size_t LocalSize(HLOCAL mem)
{
    BlockHeader *header = headerOf(mem);
    if (!header) {
        lastError = ERROR_INVALID_HANDLE;
        return 0;
    }
    return header->size;
}

TESSIK_EXPORT UINT LocalFlags(HLOCAL mem)
{
    BlockHeader *header = headerOf(mem);
    if (!header)
        return LMEM_INVALID_HANDLE;
    return header->magic == kMoveableMagic ? header->lockCount : 0;
}

int lstrlenA(LPCSTR text) { return text ? static_cast<int>(std::strlen(text)) : 0; }

LPSTR lstrcpyA(LPSTR to, LPCSTR from) { return std::strcpy(to, from); }

// At most room - 1 bytes of the text, then a zero byte.
LPSTR lstrcpynA(LPSTR to, LPCSTR from, int room)
{
    if (room <= 0)
        return to;
    int i = 0;
    for (; i < room - 1 && from[i] != '\0'; ++i)
        to[i] = from[i];
    to[i] = '\0';
    return to;
}

// Byte order: POSIX has no user locale that the hosts' names were written in.
int lstrcmpA(LPCSTR a, LPCSTR b)
{
    int order = std::strcmp(a, b);
    return order < 0 ? -1 : (order > 0 ? 1 : 0);
}

// No window system to ask: the message goes to standard error as one line, and the
// answer is that of a user who pressed OK.
int MessageBoxA(HWND, LPCSTR text, LPCSTR caption, UINT)
{
    std::fprintf(stderr, "%s: %s\n", caption ? caption : "", text ? text : "");
    return 1;
}

} // extern "C"

void *allocateObject(size_t bytes)
{
    if (!allocationAllowed())
        return nullptr;
    void *object = std::malloc(bytes);
    if (object)
        ++liveObjects;
    return object;
}

void releaseObject(void *object)
{
    if (!object)
        return;
    --liveObjects;
    std::free(object);
}

DWORD moveFilePointerTo(HANDLE file, uint32_t offset)
{
    LONG high = 0;
    return SetFilePointer(file, static_cast<LONG>(offset), &high, FILE_BEGIN);
}

void platformFailAllocation(long nth) { failingAllocation = nth > 0 ? allocationCount + nth : 0; }
long platformAllocationCount() { return allocationCount; }
long platformLiveBlocks() { return liveBlocks; }
long platformLiveObjects() { return liveObjects; }
