// Writes "UK" table archives and "ARC " directory archives. The packer and the tests use
// this one writer: the tests make every archive they read in code, and also use the
// record encoders below to make damaged ones.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

enum class ArchiveFormat { Uk, Arc };

struct ArchiveMember {
    std::string name;
    uint64_t size = 0;
};

// Where everything goes: the directory bytes come first, then each member's data at its
// position, one after another in member order.
struct ArchiveLayout {
    std::vector<uint8_t> directory;
    std::vector<uint64_t> positions;
    uint64_t totalSize = 0;
};

// Empty when the format can hold the members, else a sentence that says why not.
// base: where the archive will start in its file, since positions count from the file's start.
std::string planArchive(ArchiveFormat format, const std::vector<ArchiveMember> &members, ArchiveLayout &layout,
                        uint64_t base = 0);

// A whole archive in memory, for members given with their bytes.
struct MemberBytes {
    std::string name;
    std::vector<uint8_t> data;
};
std::vector<uint8_t> buildArchive(ArchiveFormat format, const std::vector<MemberBytes> &members, uint64_t base = 0);

// Limits of the two formats.
constexpr size_t kMaxMembers = 65535;
constexpr size_t kUkMaxName = 15;
constexpr size_t kArcMaxName = 198;
constexpr uint64_t kUkMaxValue = 0xFFFFFFFFull;  // positions and sizes are unsigned 32-bit
constexpr uint64_t kArcMaxValue = 0x7FFFFFFEull; // readers refuse 0x7FFFFFFF and above

// Record encoders, appended to out.
void putUkHeader(std::vector<uint8_t> &out, uint16_t entryCount, const char magic[2] = "UK");
// name: up to 16 bytes, padded with zeros (16 bytes leave no terminator).
void putUkEntry(std::vector<uint8_t> &out, const std::string &name, uint32_t position, uint32_t size);
void putArcHeader(std::vector<uint8_t> &out);
struct DirRecordFields {
    uint32_t nameLength = 0;
    uint32_t dataSize = 0;
    uint32_t dataPosition = 0;
    uint32_t zeroWord = 0; // must be 0
    uint32_t kind = 24;    // must be 24
    const char *tag = "DIR ";
};
void putDirRecord(std::vector<uint8_t> &out, const DirRecordFields &fields);
// A record followed by its name and terminating zero.
void putArcMember(std::vector<uint8_t> &out, const std::string &name, uint32_t position, uint32_t size);
