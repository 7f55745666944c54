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
    size_t mapped;       // length of the bytes' own mapping; 0 when they are on the heap
};

// Very large blocks (whole members, long entry lists) get a mapping of their own, as the
// Windows heap gives large blocks their own virtual memory: fresh pages are zero at no
// cost, so a zeroed list or a member padded far past its file costs nothing to clear;
// they go back to the system when freed; and the bytes start on a huge-page boundary,
// so a 512 MiB member costs 256 page faults rather than 131,072 and a read into it
// copies between addresses whose low bits do not collide (a copy whose destination runs
// a few bytes ahead of its source in the page runs at a third of the speed). Below
// 32 MiB, the most the C heap recycles, the heap is faster: a block it hands out again
// is often still in the cache, where fresh pages must first be cleared by the system.
// Under AddressSanitizer every block stays on the heap, where overruns are caught.
#if defined(__SANITIZE_ADDRESS__)
#define TESSIK_HEAP_ONLY 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define TESSIK_HEAP_ONLY 1
#endif
#endif
#ifdef TESSIK_HEAP_ONLY
constexpr size_t kOwnMappingFrom = SIZE_MAX;
#else
constexpr size_t kOwnMappingFrom = 32u << 20;
#endif
constexpr size_t kPage = 4096;
constexpr size_t kHugePage = 2u << 20;

size_t pagesFor(size_t bytes) { return (bytes + kPage - 1) & ~(kPage - 1); }

// A block's bytes: where they start and, when they have a mapping of their own, its length.
struct Storage {
    unsigned char *bytes;
    size_t mapped;
};

// lead bytes (at most a page: a fixed block's header) lie just below the returned bytes.
Storage mapStorage(size_t bytes, size_t lead)
{
    size_t leadSpan = lead ? kPage : 0;
    if (bytes > SIZE_MAX - 2 * kHugePage - kPage)
        return Storage{nullptr, 0};
    size_t span = leadSpan + pagesFor(bytes ? bytes : 1);
    size_t asked = span + kHugePage;
    void *raw = ::mmap(nullptr, asked, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (raw == MAP_FAILED)
        return Storage{nullptr, 0};
    uintptr_t first = reinterpret_cast<uintptr_t>(raw);
    uintptr_t data = (first + leadSpan + kHugePage - 1) & ~(kHugePage - 1);
    uintptr_t start = data - leadSpan;
    if (start > first)
        ::munmap(raw, start - first);
    if (first + asked > start + span)
        ::munmap(reinterpret_cast<void *>(start + span), first + asked - (start + span));
    ::madvise(reinterpret_cast<void *>(data), span - leadSpan, MADV_HUGEPAGE);
    return Storage{reinterpret_cast<unsigned char *>(data), span};
}

Storage allocateStorage(size_t bytes, size_t lead, bool zero)
{
    if (bytes >= kOwnMappingFrom)
        return mapStorage(bytes, lead);
    if (bytes > SIZE_MAX - lead)
        return Storage{nullptr, 0};
    size_t total = lead + bytes ? lead + bytes : 1;
    // calloc knows when its memory is fresh from the system and then skips the clearing.
    void *memory = zero ? std::calloc(1, total) : std::malloc(total);
    if (!memory)
        return Storage{nullptr, 0};
    // A heap block of several MiB is often fresh pages too: huge ones where they fit.
    if (total >= 2 * kHugePage) {
        uintptr_t first = (reinterpret_cast<uintptr_t>(memory) + kHugePage - 1) & ~(kHugePage - 1);
        uintptr_t last = (reinterpret_cast<uintptr_t>(memory) + total) & ~(kHugePage - 1);
        if (last > first)
            ::madvise(reinterpret_cast<void *>(first), last - first, MADV_HUGEPAGE);
    }
    return Storage{static_cast<unsigned char *>(memory) + lead, 0};
}

void releaseStorage(unsigned char *bytes, size_t lead, size_t mapped)
{
    if (mapped)
        ::munmap(bytes - (lead ? kPage : 0), mapped);
    else
        std::free(bytes - lead);
}

// A moveable block's bytes change size; the first min(old, new) bytes stay and, when
// asked, the rest are zero.
bool resizeStorage(BlockHeader &header, size_t bytes, bool zero)
{
    size_t kept = header.size < bytes ? header.size : bytes;
    size_t staleUpTo = bytes; // past this the bytes are fresh pages, zero already
    if (header.mapped == 0 && bytes < kOwnMappingFrom) {
        void *data = std::realloc(header.data, bytes ? bytes : 1);
        if (!data)
            return false;
        header.data = static_cast<unsigned char *>(data);
    } else if (header.mapped == 0) {
        Storage moved = mapStorage(bytes, 0);
        if (!moved.bytes)
            return false;
        std::memcpy(moved.bytes, header.data, kept);
        std::free(header.data);
        header.data = moved.bytes;
        header.mapped = moved.mapped;
        staleUpTo = kept;
    } else {
        size_t span = pagesFor(bytes ? bytes : 1);
        void *moved = ::mremap(header.data, header.mapped, span, MREMAP_MAYMOVE);
        if (moved == MAP_FAILED)
            return false;
        if (staleUpTo > header.mapped)
            staleUpTo = header.mapped;
        header.data = static_cast<unsigned char *>(moved);
        header.mapped = span;
    }
    if (zero && staleUpTo > kept)
        std::memset(header.data + kept, 0, staleUpTo - kept);
    header.size = bytes;
    return true;
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
    Storage storage = allocateStorage(bytes, sizeof(BlockHeader), zero);
    if (!storage.bytes)
        return nullptr;
    auto *header = reinterpret_cast<BlockHeader *>(storage.bytes) - 1;
    *header = BlockHeader{kFixedMagic, 0, bytes, nullptr, storage.mapped};
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
    Storage storage = allocateStorage(bytes, 0, zero);
    if (!storage.bytes) {
        std::free(header);
        return nullptr;
    }
    *header = BlockHeader{kMoveableMagic, 0, bytes, storage.bytes, storage.mapped};
    ++liveBlocks;
    return header + 1;
}

void freeBlock(BlockHeader *header)
{
    if (header->magic == kMoveableMagic) {
        releaseStorage(header->data, 0, header->mapped);
        header->magic = 0;
        std::free(header);
    } else {
        header->magic = 0;
        releaseStorage(reinterpret_cast<unsigned char *>(header + 1), sizeof(BlockHeader), header->mapped);
    }
    --liveBlocks;
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
        if (!resizeStorage(*header, bytes, zero)) {
            lastError = ERROR_NOT_ENOUGH_MEMORY;
            return nullptr;
        }
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
    HLOCAL moved = newFixed(bytes, zero);
    if (!moved) {
        lastError = ERROR_NOT_ENOUGH_MEMORY;
        return nullptr;
    }
    std::memcpy(moved, mem, header->size);
    freeBlock(header);
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
    freeBlock(header);
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
