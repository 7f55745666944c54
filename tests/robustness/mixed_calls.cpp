// Ten thousand export calls of every kind a host makes: both formats, files and memory
// images, IsSupported through the header buffer and through a handle, listings, lookups
// that hit and miss, extraction by position and after a lookup, damaged archives, and
// calls the module refuses. scripts/valgrind-check.sh runs it under valgrind; as a plain
// test it checks every answer and that nothing but the current handler stays allocated.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <string>
#include <unistd.h>
#include <vector>

#include "platform/test_hooks.h"
#include "plugin/exports.h"
#include "tools/archive_writer.h"

namespace {

typedef std::vector<uint8_t> Bytes;

constexpr long kCalls = 10000;
constexpr uint32_t kFileInput = 0;
constexpr uint32_t kMemoryInput = 1;
constexpr uint32_t kMemoryOutput = 0x100;

long exportCalls = 0;
int failedChecks = 0;

bool check(bool ok, const char *what, int line)
{
    if (!ok && ++failedChecks <= 20)
        std::printf("check failed (line %d): %s\n", line, what);
    return ok;
}
#define CHECK(cond) check((cond), #cond, __LINE__)

struct Sample {
    std::string path;
    Bytes bytes;
    int32_t supported;           // what IsSupported answers
    std::vector<std::string> listed; // the members a listing shows, in order
};

// The member's bytes as the host must get them: the archive's own, zero where it ends.
Bytes expectedMember(const Sample &sample, uint64_t position, uint64_t size)
{
    Bytes bytes(size, 0);
    for (uint64_t i = 0; i < size && position + i < sample.bytes.size(); ++i)
        bytes[i] = sample.bytes[position + i];
    return bytes;
}

Bytes pattern(size_t size, uint8_t seed)
{
    Bytes data(size);
    for (size_t i = 0; i < size; ++i)
        data[i] = static_cast<uint8_t>(seed + i * 13);
    return data;
}

Sample makeSample(const std::string &folder, const char *name, Bytes bytes, int32_t supported,
                  std::vector<std::string> listed)
{
    Sample sample{folder + "/" + name, std::move(bytes), supported, std::move(listed)};
    std::ofstream out(sample.path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char *>(sample.bytes.data()), static_cast<std::streamsize>(sample.bytes.size()));
    return sample;
}

std::vector<Sample> makeSamples(const std::string &folder)
{
    std::vector<MemberBytes> ukMembers = {{"a.txt", pattern(5, 1)}, {"bigger.bin", pattern(3000, 2)}, {"empty", {}}};
    std::vector<MemberBytes> arcMembers = {{"first", pattern(17, 3)}, {"second.dat", pattern(2100, 4)}, {"z", pattern(1, 5)}};
    Bytes uk = buildArchive(ArchiveFormat::Uk, ukMembers);
    Bytes arc = buildArchive(ArchiveFormat::Arc, arcMembers);
    // Cut inside the second table entry, and inside the second member's name.
    Bytes ukCut(uk.begin(), uk.begin() + 4 + 24 + 10);
    Bytes arcCut(arc.begin(), arc.begin() + 16 + 40 + 6 + 40 + 4);
    const char text[] = "plain text, neither format";
    return {
        makeSample(folder, "members.uk", uk, 1, {"a.txt", "bigger.bin", "empty"}),
        makeSample(folder, "members.arc", arc, 1, {"first", "second.dat", "z"}),
        makeSample(folder, "cut.uk", ukCut, 1, {"a.txt"}),
        makeSample(folder, "cut.arc", arcCut, 1, {"first"}),
        makeSample(folder, "neither.txt", Bytes(text, text + sizeof text - 1), 0, {}),
    };
}

int32_t isSupported(const Sample &sample, bool throughHandle)
{
    ++exportCalls;
    if (!throughHandle) {
        Bytes header(2048, 0);
        std::memcpy(header.data(), sample.bytes.data(), sample.bytes.size() < 2048 ? sample.bytes.size() : 2048);
        return IsSupported(sample.path.c_str(), reinterpret_cast<ArgHandleOrAddress>(header.data()));
    }
    int fd = open(sample.path.c_str(), O_RDONLY | O_CLOEXEC);
    int32_t result = IsSupported(sample.path.c_str(), static_cast<ArgHandleOrAddress>(fd));
    close(fd);
    return result;
}

// The archive as a file, or as a memory image from `from` on.
const char *source(const Sample &sample, bool fromFile, size_t from = 0)
{
    if (fromFile)
        return sample.path.c_str();
    return reinterpret_cast<const char *>(sample.bytes.data()) + (from < sample.bytes.size() ? from : sample.bytes.size());
}

ArgOffset offsetOrSize(const Sample &sample, bool fromFile, size_t from = 0)
{
    if (fromFile)
        return static_cast<ArgOffset>(from);
    return static_cast<ArgOffset>(from < sample.bytes.size() ? sample.bytes.size() - from : 0);
}

std::vector<fileInfo> listMembers(const Sample &sample, bool fromFile)
{
    ++exportCalls;
    HLOCAL list = nullptr;
    std::vector<fileInfo> entries;
    if (!CHECK(GetArchiveInfo(source(sample, fromFile), offsetOrSize(sample, fromFile), fromFile ? kFileInput : kMemoryInput,
                              &list) == kResultSuccess))
        return entries;
    const fileInfo *records = static_cast<const fileInfo *>(LocalLock(list));
    for (size_t i = 0; records[i].method[0] != 0; ++i)
        entries.push_back(records[i]);
    LocalUnlock(list);
    LocalFree(list);
    return entries;
}

int32_t lookUp(const Sample &sample, bool fromFile, const char *name, fileInfo &info)
{
    ++exportCalls;
    return GetFileInfo(source(sample, fromFile), offsetOrSize(sample, fromFile), name,
                       fromFile ? kFileInput : kMemoryInput, &info);
}

// Extracts the member whose data lies at position (from a file, by that position; from a
// memory image, the one last looked up) and checks its bytes.
void extract(const Sample &sample, bool fromFile, const fileInfo &member)
{
    ++exportCalls;
    HLOCAL block = nullptr;
    int32_t result = GetFile(source(sample, fromFile, member.position), offsetOrSize(sample, fromFile, member.position),
                             reinterpret_cast<char *>(&block), (fromFile ? kFileInput : kMemoryInput) | kMemoryOutput,
                             nullptr, 0);
    if (!CHECK(result == kResultSuccess))
        return;
    const uint8_t *bytes = static_cast<const uint8_t *>(block);
    CHECK(Bytes(bytes, bytes + LocalSize(block)) == expectedMember(sample, member.position, member.filesize));
    LocalFree(block);
}

// Calls the module must refuse without touching anything.
void refusedCalls(const Sample &sample, const std::string &missing)
{
    HLOCAL untouched = nullptr;
    fileInfo info;
    exportCalls += 4;
    CHECK(GetArchiveInfo(missing.c_str(), 0, kFileInput, &untouched) == kResultNoMemory);
    CHECK(GetFileInfo(source(sample, true), 0, "a.txt", 3, &info) == kResultNoMemory);
    CHECK(GetFile(source(sample, true), 0, reinterpret_cast<char *>(&untouched), 0x200, nullptr, 0) ==
          kResultNotImplemented);
    CHECK(GetFile(source(sample, false), offsetOrSize(sample, false), reinterpret_cast<char *>(&untouched), 2 | 0x100,
                  nullptr, 0) == kResultNoMemory);
    CHECK(untouched == nullptr);
}

void oneRound(const Sample &sample, int round, const std::string &missing)
{
    bool throughHandle = round % 2 == 1;
    bool fromFile = (round / 2) % 2 == 1;
    CHECK(isSupported(sample, throughHandle) == sample.supported);
    std::vector<fileInfo> entries = listMembers(sample, fromFile);
    CHECK(entries.size() == sample.listed.size());
    for (size_t i = 0; i < entries.size() && i < sample.listed.size(); ++i) {
        CHECK(sample.listed[i] == entries[i].filename);
        // Most hosts extract by the listed position without looking the member up first.
        if (fromFile && round % 3 == 0)
            extract(sample, fromFile, entries[i]);
        fileInfo found;
        if (!CHECK(lookUp(sample, fromFile, entries[i].filename, found) == kResultSuccess))
            continue;
        CHECK(found.position == entries[i].position && found.filesize == entries[i].filesize &&
              std::strcmp(found.filename, entries[i].filename) == 0);
        extract(sample, fromFile, found);
    }
    fileInfo info;
    CHECK(lookUp(sample, fromFile, "no such member", info) == kResultNoSuchMember);
    refusedCalls(sample, missing);
}

} // namespace

int main()
{
    char folderTemplate[] = "/tmp/tessik-mixed-XXXXXX";
    if (!mkdtemp(folderTemplate)) {
        std::perror("mkdtemp");
        return 1;
    }
    std::string folder = folderTemplate;
    std::vector<Sample> samples = makeSamples(folder);
    std::string missing = folder + "/missing.uk";

    // Before any IsSupported there is no handler to answer.
    HLOCAL list = nullptr;
    ++exportCalls;
    CHECK(GetArchiveInfo(samples[0].path.c_str(), 0, kFileInput, &list) == kResultNoMemory);
    // Output to a disk file: one message line on standard error, then "not implemented".
    CHECK(isSupported(samples[0], false) == 1);
    ++exportCalls;
    CHECK(GetFile(samples[0].path.c_str(), 0, nullptr, kFileInput, nullptr, 0) == kResultNotImplemented);

    for (int round = 0; exportCalls < kCalls; ++round)
        for (const Sample &sample : samples)
            oneRound(sample, round, missing);

    for (const Sample &sample : samples)
        unlink(sample.path.c_str());
    rmdir(folder.c_str());

    // The current handler is the module's by design; every block went to the host and back.
    CHECK(platformLiveBlocks() == 0);
    CHECK(platformLiveObjects() == 1);
    std::printf("%ld export calls, %d failed checks\n", exportCalls, failedChecks);
    return failedChecks == 0 ? 0 : 1;
}
