#include "fuzz/drivers.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <unistd.h>
#include <vector>

#include "plugin/exports.h"

namespace {

constexpr uint32_t kFileInput = 0;
constexpr uint32_t kMemoryInput = 1;
constexpr uint32_t kMemoryOutput = 0x100;

// Extraction allocates a member's whole filesize and zero-fills what the archive does not
// hold, so a 30-byte input may ask for 4 GiB. Such sizes are the hostile-size tests'
// business; here they would only measure the machine's memory.
constexpr InfoWord kMaxExtracted = 1 << 16;
// Every lookup walks the directory from its start; a bound keeps one input fast.
constexpr size_t kMaxLookups = 64;

[[noreturn]] void broken(const char *promise, int line)
{
    std::fprintf(stderr, "fuzz/drivers.cpp:%d: the module broke a promise: %s\n", line, promise);
    std::abort();
}
#define PROMISE(cond) ((cond) ? (void)0 : broken(#cond, __LINE__))

// The archive, and how the host hands it over: as a memory image, or as the file at path.
struct Archive {
    const uint8_t *data;
    size_t size;
    const char *path; // null for a memory image
};

const char *imageAt(const Archive &archive, size_t offset)
{
    return reinterpret_cast<const char *>(archive.data) + offset;
}

std::vector<fileInfo> takeEntryList(HLOCAL list)
{
    PROMISE(LocalFlags(list) == 0); // handed over unlocked
    size_t room = LocalSize(list) / sizeof(fileInfo);
    const fileInfo *records = static_cast<const fileInfo *>(LocalLock(list));
    PROMISE(records != nullptr);
    std::vector<fileInfo> entries;
    for (; entries.size() < room && records[entries.size()].method[0] != 0;)
        entries.push_back(records[entries.size()]);
    PROMISE(entries.size() < room); // the terminator lies inside the block
    LocalUnlock(list);
    LocalFree(list);
    for (const fileInfo &entry : entries)
        PROMISE(std::memchr(entry.filename, 0, sizeof entry.filename) != nullptr);
    return entries;
}

std::vector<fileInfo> listEntries(const Archive &archive)
{
    HLOCAL list = nullptr;
    int32_t result = archive.path ? GetArchiveInfo(archive.path, 0, kFileInput, &list)
                                  : GetArchiveInfo(imageAt(archive, 0), static_cast<ArgOffset>(archive.size),
                                                   kMemoryInput, &list);
    PROMISE(result == kResultSuccess);
    return takeEntryList(list);
}

int32_t lookUp(const Archive &archive, const char *name, fileInfo &info)
{
    return archive.path ? GetFileInfo(archive.path, 0, name, kFileInput, &info)
                        : GetFileInfo(imageAt(archive, 0), static_cast<ArgOffset>(archive.size), name,
                                      kMemoryInput, &info);
}

// A member's block holds the archive's bytes from its position on, and zeros where the
// archive ends: never bytes from anywhere else.
void takeMember(const Archive &archive, InfoWord position, HLOCAL block, InfoWord filesize)
{
    PROMISE(LocalSize(block) == filesize);
    const uint8_t *bytes = static_cast<const uint8_t *>(block); // a fixed block is its address
    for (size_t i = 0; i < filesize; ++i) {
        uint64_t at = static_cast<uint64_t>(position) + i;
        PROMISE(bytes[i] == (at < archive.size ? archive.data[at] : 0));
    }
    LocalFree(block);
}

// Which member GetFile hands over, as hosts are promised: from a memory image, the one the
// last GetFileInfo found; from a file, the first member in directory order whose data
// lies at the offset passed, unless the one last found lies there. A fresh handler
// remembers an empty member.
struct Remembered {
    fileInfo entry;
    bool remembers = false; // until a lookup by name or by position succeeds

    Remembered() { std::memset(&entry, 0, sizeof entry); }
};

const fileInfo *firstAt(const std::vector<fileInfo> &entries, InfoWord position)
{
    for (const fileInfo &entry : entries)
        if (entry.position == position)
            return &entry;
    return nullptr;
}

void extractFromImage(const Archive &archive, InfoWord position, const Remembered &remembered)
{
    if (remembered.entry.filesize > kMaxExtracted)
        return;
    size_t offset = position < archive.size ? static_cast<size_t>(position) : archive.size;
    HLOCAL block = nullptr;
    int32_t result = GetFile(imageAt(archive, offset), static_cast<ArgOffset>(archive.size - offset),
                             reinterpret_cast<char *>(&block), kMemoryInput | kMemoryOutput, nullptr, 0);
    PROMISE(result == kResultSuccess);
    takeMember(archive, offset, block, remembered.entry.filesize);
}

void extractFromFile(const Archive &archive, InfoWord position, const std::vector<fileInfo> &entries,
                     Remembered &remembered)
{
    bool rememberedThere = remembered.remembers && remembered.entry.position == position;
    const fileInfo *member = rememberedThere ? &remembered.entry : firstAt(entries, position);
    if (!member || member->filesize > kMaxExtracted)
        return;
    HLOCAL block = nullptr;
    int32_t result = GetFile(archive.path, static_cast<ArgOffset>(position), reinterpret_cast<char *>(&block),
                             kFileInput | kMemoryOutput, nullptr, 0);
    PROMISE(result == kResultSuccess);
    takeMember(archive, position, block, member->filesize);
    remembered.entry = *member;
    remembered.remembers = true;
}

void extract(const Archive &archive, InfoWord position, const std::vector<fileInfo> &entries,
             Remembered &remembered)
{
    if (archive.path)
        extractFromFile(archive, position, entries, remembered);
    else
        extractFromImage(archive, position, remembered);
}

// A name the listing may not hold: the input's last bytes after its last zero byte.
std::string nameFromInput(const Archive &archive)
{
    size_t start = archive.size;
    while (start > 0 && archive.data[start - 1] != 0 && archive.size - start < 199)
        --start;
    return std::string(imageAt(archive, start), archive.size - start);
}

void lookUpAndExtract(const Archive &archive, const char *name, const std::vector<fileInfo> &entries,
                      Remembered &remembered)
{
    fileInfo found;
    int32_t result = lookUp(archive, name, found);
    PROMISE(result == kResultSuccess || result == kResultNoSuchMember);
    if (result != kResultSuccess)
        return;
    PROMISE(std::strcmp(found.filename, name) == 0);
    remembered.entry = found;
    remembered.remembers = true;
    extract(archive, found.position, entries, remembered);
}

// Hosts that look each member up before extracting it, then hosts that extract by the
// listed positions alone, in list order (the order lookups by position are fastest in).
std::vector<fileInfo> driveArchiveExports(const Archive &archive, Remembered &remembered)
{
    std::vector<fileInfo> entries = listEntries(archive);
    for (size_t i = 0; i < entries.size() && i < kMaxLookups; ++i) {
        lookUpAndExtract(archive, entries[i].filename, entries, remembered);
        PROMISE(remembered.remembers && std::strcmp(remembered.entry.filename, entries[i].filename) == 0);
    }
    lookUpAndExtract(archive, nameFromInput(archive).c_str(), entries, remembered);
    for (size_t i = 0; i < entries.size() && i < kMaxLookups; ++i)
        extract(archive, entries[i].position, entries, remembered);
    return entries;
}

const char *temporaryPath()
{
    static std::string path;
    if (path.empty()) {
        const char *folder = std::getenv("TMPDIR");
        path = std::string(folder && *folder ? folder : "/tmp") + "/tessik-fuzz-" + std::to_string(getpid()) + ".bin";
        std::atexit([] { unlink(path.c_str()); });
    }
    return path.c_str();
}

void writeWhole(const char *path, const uint8_t *data, size_t size)
{
    int fd = open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    PROMISE(fd >= 0);
    for (size_t done = 0; done < size;) {
        ssize_t put = write(fd, data + done, size - done);
        PROMISE(put > 0);
        done += static_cast<size_t>(put);
    }
    close(fd);
}

} // namespace

void driveMemoryImage(const uint8_t *data, size_t size)
{
    if (size > 0x7FFFFFFF)
        return;
    // The host's copy of the file's first 2048 bytes, zero-padded; on the heap, so that
    // reading past it is caught.
    std::vector<uint8_t> header(2048, 0);
    if (size > 0)
        std::memcpy(header.data(), data, size < header.size() ? size : header.size());
    IsSupported("fuzz.bin", reinterpret_cast<ArgHandleOrAddress>(header.data()));
    Remembered remembered;
    driveArchiveExports(Archive{data, size, nullptr}, remembered);
}

void driveFile(const uint8_t *data, size_t size)
{
    const char *path = temporaryPath();
    writeWhole(path, data, size);
    int fd = open(path, O_RDONLY | O_CLOEXEC);
    PROMISE(fd >= 0 && fd <= 0xFFFF);
    // A file no format takes leaves the host's file pointer where it was.
    if (IsSupported(path, static_cast<ArgHandleOrAddress>(fd)) == 0)
        PROMISE(lseek(fd, 0, SEEK_CUR) == 0);
    close(fd);
    Remembered remembered;
    driveArchiveExports(Archive{data, size, path}, remembered);
    // A host may keep the handler while the file is rewritten under the same name (here cut
    // to half): lookups by position go by what the file holds now.
    Archive shorter{data, size / 2, path};
    writeWhole(path, shorter.data, shorter.size);
    std::vector<fileInfo> entries = listEntries(shorter);
    for (size_t i = 0; i < entries.size() && i < kMaxLookups; ++i)
        extract(shorter, entries[i].position, entries, remembered);
}
