// Loads the built module through its exports only, as a host does, and runs a table of
// cases for both formats and every kind of input. The same program runs natively
// against tessik01.so and under Wine against tessik01.sph and tessik01.spi; a 32-bit
// Wine start costs about a minute, so every case lives in this one program.
//
// Usage: host_test [MODULE] — the module defaults to the one built beside this program.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "tests/host/host_files.h"
#include "tools/archive_writer.h"
#include "tools/pack/packer.h"
#include "tools/plugin_host.h"

namespace {

PluginModule plugin;
std::string workDir;
int failedChecks = 0;

bool check(bool ok, const char *what, int line)
{
    if (!ok) {
        ++failedChecks;
        std::printf("    check failed (line %d): %s\n", line, what);
    }
    return ok;
}
#define CHECK(cond) check((cond), #cond, __LINE__)

typedef std::vector<uint8_t> Bytes;

Bytes bytesOf(const std::string &text) { return Bytes(text.begin(), text.end()); }

Bytes pattern(size_t size, uint8_t seed)
{
    Bytes data(size);
    for (size_t i = 0; i < size; ++i)
        data[i] = static_cast<uint8_t>(seed + i * 7);
    return data;
}

std::string writeFile(const std::string &name, const Bytes &bytes)
{
    std::string path = workDir + "/" + name;
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char *>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return path;
}

// The host's copy of the first 2048 bytes, zero-padded, as IsSupported receives it.
std::vector<char> headBuffer(const Bytes &file, size_t from = 0)
{
    std::vector<char> head(2048, 0);
    for (size_t i = 0; i < 2048 && from + i < file.size(); ++i)
        head[i] = static_cast<char>(file[from + i]);
    return head;
}

int32_t isSupportedMemory(const std::string &path, const Bytes &file, size_t from = 0)
{
    std::vector<char> head = headBuffer(file, from);
    return plugin.isSupported(path.c_str(), reinterpret_cast<ArgHandleOrAddress>(head.data()));
}

Bytes takeBlock(HLOCAL block)
{
    size_t size = blockSize(plugin, block);
    const uint8_t *bytes = lockBlock(plugin, block);
    Bytes copy(bytes, bytes + size);
    unlockBlock(plugin, block);
    freeBlock(plugin, block);
    return copy;
}

// The sample archives every format case runs on: a one-byte member, a name of the
// format's longest, members large enough to cross read sizes, and an empty member (last:
// an empty member shares its position with the next one, which a host extracting by
// position cannot tell apart).
std::vector<MemberBytes> sampleMembers(ArchiveFormat format)
{
    std::string longest(format == ArchiveFormat::Uk ? kUkMaxName : kArcMaxName, 'n');
    return {
        {"a", bytesOf("A")},
        {"readme.txt", bytesOf("hello from a stored member\n")},
        {longest, pattern(5000, 3)},
        {"Case.TXT", pattern(70000, 9)},
        {"empty.bin", {}},
    };
}

const char *formatName(ArchiveFormat format) { return format == ArchiveFormat::Uk ? "UK" : "ARC"; }

// The block a list must come in: UK exactly n + 1 records, ARC whole steps of 1024.
size_t expectedListBytes(ArchiveFormat format, size_t members)
{
    size_t records = format == ArchiveFormat::Uk ? members + 1 : (members / 1024 + 1) * 1024;
    return records * sizeof(fileInfo);
}

bool sameEntry(const fileInfo &info, const std::string &name, uint64_t position, uint64_t size)
{
    return info.method[0] == 'a' && info.method[1] == 0 && info.position == position && info.filesize == size &&
           info.compsize == size && info.timestamp == 0 && info.path[0] == 0 && info.crc == 0 &&
           name == info.filename;
}

bool allZero(const uint8_t *bytes, size_t count)
{
    for (size_t i = 0; i < count; ++i)
        if (bytes[i] != 0)
            return false;
    return true;
}

// Checks a whole entry list against the members, the block's size, its terminator and
// that it comes unlocked; frees it.
void checkList(HLOCAL list, ArchiveFormat format, const std::vector<MemberBytes> &members,
               const std::vector<uint64_t> &positions)
{
    if (!CHECK(list != nullptr))
        return;
    CHECK(blockLockCount(plugin, list) == 0);
    CHECK(blockSize(plugin, list) == expectedListBytes(format, members.size()));
    std::vector<fileInfo> entries = readEntryList(plugin, list);
    if (CHECK(entries.size() == members.size()))
        for (size_t i = 0; i < members.size(); ++i)
            CHECK(sameEntry(entries[i], members[i].name, positions[i], members[i].data.size()));
    const uint8_t *bytes = lockBlock(plugin, list);
    CHECK(allZero(bytes + members.size() * sizeof(fileInfo), sizeof(fileInfo)));
    unlockBlock(plugin, list);
    freeBlock(plugin, list);
}

struct Sample {
    ArchiveFormat format;
    std::vector<MemberBytes> members;
    std::vector<uint64_t> positions;
    Bytes file;
    size_t archiveStart; // where the archive lies in the file
    std::string path;
};

Sample makeSample(ArchiveFormat format, size_t archiveStart = 0)
{
    Sample s{format, sampleMembers(format), {}, {}, archiveStart, ""};
    std::vector<ArchiveMember> plan;
    for (const MemberBytes &m : s.members)
        plan.push_back(ArchiveMember{m.name, m.data.size()});
    ArchiveLayout layout;
    planArchive(format, plan, layout, archiveStart);
    s.positions = layout.positions;
    s.file = pattern(archiveStart, 200);
    s.file.insert(s.file.end(), layout.directory.begin(), layout.directory.end());
    for (const MemberBytes &m : s.members)
        s.file.insert(s.file.end(), m.data.begin(), m.data.end());
    s.path = writeFile(std::string("sample-") + formatName(format) + "-" + std::to_string(archiveStart) + ".bin",
                       s.file);
    return s;
}

// ---- cases -----------------------------------------------------------------------------

void beforeAnyIsSupported()
{
    Sample s = makeSample(ArchiveFormat::Uk);
    HLOCAL list = nullptr;
    fileInfo info;
    CHECK(plugin.getArchiveInfo(s.path.c_str(), 0, 0, &list) == 4 && list == nullptr);
    CHECK(plugin.getFileInfo(s.path.c_str(), 0, "a", 0, &info) == 4);
    CHECK(plugin.getFile(s.path.c_str(), 0, reinterpret_cast<char *>(&list), 0x100, nullptr, 0) == 4);
    CHECK(plugin.getFile(s.path.c_str(), 0, reinterpret_cast<char *>(&list), 0, nullptr, 0) == 4);
}

void pluginInfo()
{
    struct Row {
        int32_t infono;
        int32_t buflen;
        const char *text; // null: buffer untouched
        int32_t result;
    };
    const Row rows[] = {
        {0, 64, "00AM", 5},      {2, 64, "", 1},         {3, 64, "----", 5},     {4, 64, "arc", 4},
        {5, 64, "Starfold", 9},  {0, 3, "00", 3},        {1, 10, "Tessik-01", 10}, {4, 1, "", 1},
        {-1, 64, nullptr, 0},    {6, 64, nullptr, 0},    {2147483647, 64, nullptr, 0}, {0, 0, nullptr, 0},
    };
    for (const Row &r : rows) {
        char buf[64];
        std::memset(buf, '#', sizeof buf);
        int32_t got = plugin.getPluginInfo(r.infono, buf, r.buflen);
        CHECK(got == r.result);
        if (r.text)
            CHECK(std::strcmp(buf, r.text) == 0);
        else
            CHECK(buf[0] == '#');
    }
    char about[256];
    CHECK(plugin.getPluginInfo(1, about, sizeof about) > 12 && std::strncmp(about, "Tessik-01 - ", 12) == 0);
}

void listThroughEveryInput(ArchiveFormat format)
{
    Sample s = makeSample(format);
    CHECK(isSupportedMemory(s.path, s.file) == 1);
    HLOCAL list = nullptr;
    CHECK(plugin.getArchiveInfo(s.path.c_str(), 0, 0, &list) == 0);
    checkList(list, format, s.members, s.positions);
    list = nullptr;
    CHECK(plugin.getArchiveInfo(reinterpret_cast<const char *>(s.file.data()), static_cast<ArgOffset>(s.file.size()),
                                1, &list) == 0);
    checkList(list, format, s.members, s.positions);
    // Bit 2 takes no part in the input type.
    list = nullptr;
    CHECK(plugin.getArchiveInfo(s.path.c_str(), 0, 4, &list) == 0);
    checkList(list, format, s.members, s.positions);
}

void listAtOffset(ArchiveFormat format)
{
    Sample s = makeSample(format, 1000);
    CHECK(isSupportedMemory(s.path, s.file, s.archiveStart) == 1);
    HLOCAL list = nullptr;
    CHECK(plugin.getArchiveInfo(s.path.c_str(), static_cast<ArgOffset>(s.archiveStart), 0, &list) == 0);
    checkList(list, format, s.members, s.positions);
    // The host's usual sequence: look each member up, then extract it at its position.
    for (size_t i = 0; i < s.members.size(); ++i) {
        fileInfo info;
        CHECK(plugin.getFileInfo(s.path.c_str(), static_cast<ArgOffset>(s.archiveStart), s.members[i].name.c_str(), 0,
                                 &info) == 0);
        HLOCAL block = nullptr;
        CHECK(plugin.getFile(s.path.c_str(), static_cast<ArgOffset>(info.position), reinterpret_cast<char *>(&block),
                             0x100, nullptr, 0) == 0);
        CHECK(takeBlock(block) == s.members[i].data);
    }
}

void lookupAndExtract(ArchiveFormat format)
{
    Sample s = makeSample(format);
    CHECK(isSupportedMemory(s.path, s.file) == 1);
    for (size_t i = 0; i < s.members.size(); ++i) {
        const MemberBytes &m = s.members[i];
        fileInfo info;
        std::memset(&info, 0x5A, sizeof info);
        CHECK(plugin.getFileInfo(s.path.c_str(), 0, m.name.c_str(), 0, &info) == 0);
        CHECK(sameEntry(info, m.name, s.positions[i], m.data.size()));
        HLOCAL block = nullptr;
        CHECK(plugin.getFile(s.path.c_str(), static_cast<ArgOffset>(info.position), reinterpret_cast<char *>(&block),
                             0x100, nullptr, 0) == 0);
        CHECK(takeBlock(block) == m.data);
        // Memory input: the host passes the image starting at the member's data.
        fileInfo again;
        CHECK(plugin.getFileInfo(reinterpret_cast<const char *>(s.file.data()), static_cast<ArgOffset>(s.file.size()),
                                 m.name.c_str(), 1, &again) == 0);
        block = nullptr;
        const uint8_t *data = s.file.data() + s.positions[i];
        CHECK(plugin.getFile(reinterpret_cast<const char *>(data), static_cast<ArgOffset>(m.data.size()),
                             reinterpret_cast<char *>(&block), 0x101, nullptr, 0) == 0);
        CHECK(takeBlock(block) == m.data);
    }
    // Letter case matters, whatever the flag word holds beyond the input type.
    fileInfo info;
    CHECK(plugin.getFileInfo(s.path.c_str(), 0, "case.txt", 0, &info) == 1);
    CHECK(plugin.getFileInfo(s.path.c_str(), 0, "case.txt", 0x80, &info) == 1);
    CHECK(plugin.getFileInfo(s.path.c_str(), 0, "Case.TXT", 0x80, &info) == 0);
    CHECK(plugin.getFileInfo(s.path.c_str(), 0, "missing", 0, &info) == 1);
}

// What every host we know does: list, then extract each member by the position from the
// list, without GetFileInfo.
void realHostOrder(ArchiveFormat format)
{
    Sample s = makeSample(format);
    CHECK(isSupportedMemory(s.path, s.file) == 1);
    HLOCAL list = nullptr;
    CHECK(plugin.getArchiveInfo(s.path.c_str(), 0, 0, &list) == 0);
    std::vector<fileInfo> entries = readEntryList(plugin, list);
    freeBlock(plugin, list);
    CHECK(entries.size() == s.members.size());
    // Looking up another member first must not change which member a position gives.
    fileInfo other;
    CHECK(plugin.getFileInfo(s.path.c_str(), 0, "readme.txt", 0, &other) == 0);
    for (size_t round = 0; round < 2; ++round) {
        for (size_t i = 0; i < entries.size() && i < s.members.size(); ++i) {
            HLOCAL block = nullptr;
            CHECK(plugin.getFile(s.path.c_str(), static_cast<ArgOffset>(entries[i].position),
                                 reinterpret_cast<char *>(&block), 0x100, nullptr, 0) == 0);
            CHECK(takeBlock(block) == s.members[i].data);
        }
    }
}

// The plug-in may start a lookup by position after the member it found last; when the
// file under that name has changed in between, what it finds there must not be trusted.
void archiveRewrittenBetweenExtractions(ArchiveFormat format)
{
    Sample s = makeSample(format);
    CHECK(isSupportedMemory(s.path, s.file) == 1);
    HLOCAL block = nullptr;
    CHECK(plugin.getFile(s.path.c_str(), static_cast<ArgOffset>(s.positions[1]), reinterpret_cast<char *>(&block),
                         0x100, nullptr, 0) == 0);
    CHECK(takeBlock(block) == s.members[1].data);
    // Same name, other members: one more at the front moves every record.
    std::vector<MemberBytes> members = s.members;
    members.insert(members.begin(), MemberBytes{"new-first", pattern(33, 1)});
    members[2].data = pattern(300, 77);
    Bytes file = buildArchive(format, members);
    writeFile(s.path.substr(workDir.size() + 1), file);
    HLOCAL list = nullptr;
    CHECK(plugin.getArchiveInfo(s.path.c_str(), 0, 0, &list) == 0);
    std::vector<fileInfo> entries = readEntryList(plugin, list);
    freeBlock(plugin, list);
    if (!CHECK(entries.size() == members.size()))
        return;
    for (size_t i = 0; i + 1 < members.size(); ++i) {
        CHECK(plugin.getFile(s.path.c_str(), static_cast<ArgOffset>(entries[i].position),
                             reinterpret_cast<char *>(&block), 0x100, nullptr, 0) == 0);
        CHECK(takeBlock(block) == members[i].data);
    }
}

// Two members at one position: the first in directory order, unless the remembered
// entry is the other one.
void sharedPosition(ArchiveFormat format)
{
    Bytes file;
    const uint32_t dataAt = 200;
    if (format == ArchiveFormat::Uk) {
        putUkHeader(file, 2);
        putUkEntry(file, "first", dataAt, 3);
        putUkEntry(file, "second", dataAt, 5);
    } else {
        putArcHeader(file);
        putArcMember(file, "first", dataAt, 3);
        putArcMember(file, "second", dataAt, 5);
    }
    file.resize(dataAt, 0);
    Bytes data = bytesOf("12345");
    file.insert(file.end(), data.begin(), data.end());
    std::string path = writeFile(std::string("shared-") + formatName(format), file);
    CHECK(isSupportedMemory(path, file) == 1);
    HLOCAL block = nullptr;
    CHECK(plugin.getFile(path.c_str(), dataAt, reinterpret_cast<char *>(&block), 0x100, nullptr, 0) == 0);
    CHECK(takeBlock(block) == bytesOf("123"));
    fileInfo info;
    CHECK(plugin.getFileInfo(path.c_str(), 0, "second", 0, &info) == 0);
    CHECK(plugin.getFile(path.c_str(), dataAt, reinterpret_cast<char *>(&block), 0x100, nullptr, 0) == 0);
    CHECK(takeBlock(block) == bytesOf("12345"));
}

void isSupportedThroughHandle(ArchiveFormat format)
{
    Sample s = makeSample(format, 100);
    ArgHandleOrAddress handle = openHostFile(s.path);
    if (!CHECK(handle != 0 && handle <= 0xFFFF))
        return;
    // The probes read from where the host's file pointer stands.
    CHECK(seekHostFile(handle, 100, SEEK_SET) == 100);
    CHECK(plugin.isSupported(s.path.c_str(), handle) == 1);
    // After an acceptance the pointer stays after what the accepting probe read.
    CHECK(seekHostFile(handle, 0, SEEK_CUR) == (format == ArchiveFormat::Uk ? 104 : 156));
    HLOCAL list = nullptr;
    CHECK(plugin.getArchiveInfo(s.path.c_str(), 100, 0, &list) == 0);
    checkList(list, format, s.members, s.positions);
    // Data of neither format: refused, pointer back where it was, handle still open.
    CHECK(seekHostFile(handle, 7, SEEK_SET) == 7);
    CHECK(plugin.isSupported(s.path.c_str(), handle) == 0);
    CHECK(seekHostFile(handle, 0, SEEK_CUR) == 7);
    closeHostFile(handle);
}

void neitherFormat()
{
    Bytes junk = bytesOf("This is plain text, neither UK nor ARC.");
    std::string path = writeFile("junk.txt", junk);
    CHECK(isSupportedMemory(path, junk) == 0);
    // The last format's handler stays current and lists nothing here.
    HLOCAL list = nullptr;
    CHECK(plugin.getArchiveInfo(path.c_str(), 0, 0, &list) == 0);
    if (CHECK(list != nullptr)) {
        CHECK(readEntryList(plugin, list).empty());
        CHECK(blockSize(plugin, list) == 1024 * sizeof(fileInfo));
        freeBlock(plugin, list);
    }
    Bytes lower = bytesOf("uk\x01\x00");
    CHECK(isSupportedMemory(path, lower) == 0);
    CHECK(isSupportedMemory(path, bytesOf("KU\x01\x00")) == 0);
}

void badInputs()
{
    Sample s = makeSample(ArchiveFormat::Arc);
    CHECK(isSupportedMemory(s.path, s.file) == 1);
    HLOCAL list = nullptr;
    fileInfo info;
    for (uint32_t inputType : {2u, 3u}) {
        CHECK(plugin.getArchiveInfo(s.path.c_str(), 0, inputType, &list) == 4 && list == nullptr);
        CHECK(plugin.getFileInfo(s.path.c_str(), 0, "a", inputType, &info) == 4);
        CHECK(plugin.getFile(s.path.c_str(), 0, reinterpret_cast<char *>(&list), 0x100 | inputType, nullptr, 0) == 4);
    }
    std::string missing = workDir + "/does-not-exist.arc";
    CHECK(plugin.getArchiveInfo(missing.c_str(), 0, 0, &list) == 4 && list == nullptr);
    CHECK(plugin.getFileInfo(missing.c_str(), 0, "a", 0, &info) == 4);
    CHECK(plugin.getFile(missing.c_str(), 0, reinterpret_cast<char *>(&list), 0x100, nullptr, 0) == 4);
    CHECK(plugin.getFile(missing.c_str(), 0, reinterpret_cast<char *>(&list), 0, nullptr, 0) == 4);
    // Output types the interface does not define: nothing read, destination untouched.
    HLOCAL untouched = reinterpret_cast<HLOCAL>(static_cast<uintptr_t>(0x1234));
    CHECK(plugin.getFile(s.path.c_str(), 0, reinterpret_cast<char *>(&untouched), 0x200, nullptr, 0) == -1);
    CHECK(plugin.getFile(s.path.c_str(), 0, reinterpret_cast<char *>(&untouched), 0x300, nullptr, 0) == -1);
    CHECK(untouched == reinterpret_cast<HLOCAL>(static_cast<uintptr_t>(0x1234)));
    // A progress callback that is not a function does no harm: it is never called.
    CHECK(plugin.getFileInfo(s.path.c_str(), 0, "a", 0, &info) == 0);
    HLOCAL block = nullptr;
    CHECK(plugin.getFile(s.path.c_str(), static_cast<ArgOffset>(info.position), reinterpret_cast<char *>(&block),
                         0x100, reinterpret_cast<void *>(static_cast<uintptr_t>(1)), 42) == 0);
    CHECK(takeBlock(block) == bytesOf("A"));
}

// A member whose data lies between 2 and 4 GiB of a "UK" archive: the 32-bit interface
// passes its position as a negative offset, which the plug-in takes as unsigned.
void memberBeyondTwoGiB()
{
    const uint32_t dataAt = 0xC0000000u;
    Bytes head;
    putUkHeader(head, 2);
    putUkEntry(head, "low", 100, 4);
    putUkEntry(head, "high", dataAt, 6);
    head.resize(100, 0);
    Bytes low = bytesOf("LOW!"), high = bytesOf("HIGH!!");
    head.insert(head.end(), low.begin(), low.end());
    std::string path = workDir + "/sparse-uk.bin";
    std::string why;
    if (!writeSparseFile(path, head, dataAt, high, why)) {
        std::printf("    skipped: %s\n", why.c_str());
        return;
    }
    CHECK(isSupportedMemory(path, head) == 1);
    HLOCAL list = nullptr;
    CHECK(plugin.getArchiveInfo(path.c_str(), 0, 0, &list) == 0);
    std::vector<fileInfo> entries = readEntryList(plugin, list);
    freeBlock(plugin, list);
    if (!CHECK(entries.size() == 2 && entries[1].position == dataAt))
        return;
    HLOCAL block = nullptr;
    ArgOffset offset = static_cast<ArgOffset>(static_cast<int32_t>(dataAt));
    CHECK(plugin.getFile(path.c_str(), offset, reinterpret_cast<char *>(&block), 0x100, nullptr, 0) == 0);
    CHECK(takeBlock(block) == high);
    fileInfo info;
    CHECK(plugin.getFileInfo(path.c_str(), 0, "low", 0, &info) == 0);
    CHECK(plugin.getFile(path.c_str(), offset, reinterpret_cast<char *>(&block), 0x100, nullptr, 0) == 0);
    CHECK(takeBlock(block) == high);
    removeFile(path);
}

// A member listed with data past the end of the file: the block has its full length and
// what the file could not supply is zero.
void memberPastTheEnd(ArchiveFormat format)
{
    Bytes file;
    if (format == ArchiveFormat::Uk) {
        putUkHeader(file, 1);
        putUkEntry(file, "short", 28, 100);
    } else {
        putArcHeader(file);
        putArcMember(file, "short", 62, 100);
    }
    Bytes data = bytesOf("only ten b");
    file.insert(file.end(), data.begin(), data.end());
    std::string path = writeFile(std::string("short-") + formatName(format), file);
    CHECK(isSupportedMemory(path, file) == 1);
    HLOCAL block = nullptr;
    CHECK(plugin.getFile(path.c_str(), static_cast<ArgOffset>(file.size() - data.size()),
                         reinterpret_cast<char *>(&block), 0x100, nullptr, 0) == 0);
    Bytes got = takeBlock(block);
    Bytes expected = data;
    expected.resize(100, 0);
    CHECK(got == expected);
}

// An archive the packer wrote from a folder, read the way hosts read it: every member by
// its listed position, without GetFileInfo. The empty file sorts before a full one, and
// no position may name both.
void packedByThePacker(ArchiveFormat format)
{
    struct File {
        std::string name;
        Bytes data;
    };
    const File files[] = {{"a.txt", bytesOf("first\n")}, {"d/empty", {}}, {"d/full", pattern(9000, 4)}, {"z", pattern(3, 8)}};
    std::string src = workDir + "/pack-src";
    for (const File &f : files) {
        std::filesystem::create_directories(std::filesystem::path(src + "/" + f.name).parent_path());
        writeFile("pack-src/" + f.name, f.data);
    }
    std::string archive = workDir + "/packed-" + formatName(format);
    if (!CHECK(packArchive(format, {src}, archive).empty()))
        return;
    std::ifstream in(archive, std::ios::binary);
    Bytes file((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    CHECK(isSupportedMemory(archive, file) == 1);
    HLOCAL list = nullptr;
    if (!CHECK(plugin.getArchiveInfo(archive.c_str(), 0, 0, &list) == 0 && list != nullptr))
        return;
    std::vector<fileInfo> entries = readEntryList(plugin, list);
    freeBlock(plugin, list);
    CHECK(entries.size() == 4);
    for (const fileInfo &entry : entries) {
        const File *source = nullptr;
        for (const File &f : files)
            if (f.name == entry.filename)
                source = &f;
        if (!CHECK(source != nullptr))
            continue;
        HLOCAL block = nullptr;
        CHECK(plugin.getFile(archive.c_str(), static_cast<ArgOffset>(entry.position), reinterpret_cast<char *>(&block),
                             0x100, nullptr, 0) == 0);
        CHECK(takeBlock(block) == source->data);
    }
    std::error_code ec;
    std::filesystem::remove_all(src, ec);
}

// Members that claim the largest size each format allows, in a file of a few bytes: a
// 32-bit host cannot get such a block (4), a 64-bit one gets its full length.
void hostileSizes(ArchiveFormat format)
{
    Bytes file;
    uint32_t size = format == ArchiveFormat::Uk ? 0xFFFFFFFFu : 0x7FFFFFFEu;
    uint32_t dataAt = format == ArchiveFormat::Uk ? 28 : 16 + 40 + 5;
    if (format == ArchiveFormat::Uk) {
        putUkHeader(file, 1);
        putUkEntry(file, "huge", dataAt, size);
    } else {
        putArcHeader(file);
        putArcMember(file, "huge", dataAt, size);
    }
    Bytes data = bytesOf("a few bytes");
    file.insert(file.end(), data.begin(), data.end());
    std::string path = writeFile(std::string("huge-") + formatName(format), file);
    CHECK(isSupportedMemory(path, file) == 1);
    HLOCAL block = reinterpret_cast<HLOCAL>(static_cast<uintptr_t>(0x1234));
    int32_t result = plugin.getFile(path.c_str(), static_cast<ArgOffset>(dataAt), reinterpret_cast<char *>(&block),
                                    0x100, nullptr, 0);
    if (result == 4) {
        CHECK(block == reinterpret_cast<HLOCAL>(static_cast<uintptr_t>(0x1234)));
        return;
    }
    if (!CHECK(result == 0 && sizeof(void *) == 8))
        return;
    CHECK(blockSize(plugin, block) == size);
    const uint8_t *bytes = lockBlock(plugin, block);
    CHECK(std::equal(data.begin(), data.end(), bytes));
    CHECK(bytes[data.size()] == 0 && bytes[size / 2] == 0 && bytes[size - 1] == 0);
    unlockBlock(plugin, block);
    freeBlock(plugin, block);
}

// Extracting before anything was looked up or matched hands over an empty block.
void nothingRemembered()
{
    Sample s = makeSample(ArchiveFormat::Arc);
    CHECK(isSupportedMemory(s.path, s.file) == 1);
    HLOCAL block = nullptr;
    CHECK(plugin.getFile(s.path.c_str(), 3, reinterpret_cast<char *>(&block), 0x100, nullptr, 0) == 0);
    if (CHECK(block != nullptr))
        CHECK(takeBlock(block).empty());
}

struct Case {
    std::string name;
    std::function<void()> run;
};

} // namespace

int main(int argc, char **argv)
{
    std::string modulePath = argc > 1 ? argv[1] : moduleBesideProgram(argv[0], defaultModuleName());
    std::string error = loadPlugin(modulePath, plugin);
    if (!error.empty()) {
        std::printf("host_test: %s\n", error.c_str());
        return 2;
    }
    workDir = makeWorkDir();
    std::printf("host_test: module %s, fileInfo %u bytes, work folder %s\n", modulePath.c_str(),
                static_cast<unsigned>(sizeof(fileInfo)), workDir.c_str());

    std::vector<Case> cases = {
        // Must run first: the module's state is fresh only once.
        {"archive exports before any IsSupported", beforeAnyIsSupported},
        {"GetPluginInfo texts and buffer lengths", pluginInfo},
        {"data of neither format", neitherFormat},
        {"bad input types, missing files, undefined output types", badInputs},
        {"nothing remembered yet", nothingRemembered},
        {"UK member between 2 and 4 GiB", memberBeyondTwoGiB},
    };
    for (ArchiveFormat format : {ArchiveFormat::Uk, ArchiveFormat::Arc}) {
        std::string f = formatName(format);
        cases.push_back({f + ": list from a file and from memory", [format] { listThroughEveryInput(format); }});
        cases.push_back({f + ": archive at an offset in its file", [format] { listAtOffset(format); }});
        cases.push_back({f + ": look up and extract, file and memory", [format] { lookupAndExtract(format); }});
        cases.push_back({f + ": real-host order, GetFile by position", [format] { realHostOrder(format); }});
        cases.push_back({f + ": two members at one position", [format] { sharedPosition(format); }});
        cases.push_back({f + ": archive rewritten between extractions",
                         [format] { archiveRewrittenBetweenExtractions(format); }});
        cases.push_back({f + ": IsSupported through a file handle", [format] { isSupportedThroughHandle(format); }});
        cases.push_back({f + ": member data past the end of the file", [format] { memberPastTheEnd(format); }});
        cases.push_back({f + ": member of the largest size the format allows", [format] { hostileSizes(format); }});
        cases.push_back({f + ": packed by the packer, read in real-host order", [format] { packedByThePacker(format); }});
    }

    int passed = 0, failed = 0;
    for (const Case &c : cases) {
        int before = failedChecks;
        c.run();
        bool ok = failedChecks == before;
        std::printf("%s %s\n", ok ? "[pass]" : "[FAIL]", c.name.c_str());
        (ok ? passed : failed)++;
    }
    removeWorkDir(workDir);
    std::printf("%d passed, %d failed\n", passed, failed);
    std::fflush(stdout);
    return failed == 0 ? 0 : 1;
}
