// Archives for the handler tests, made with the same writer the packer uses, and the
// calls that run one handler operation over an image in memory.
#pragma once
#include <ostream>
#include <string>
#include <vector>

#include "archive/formats.h"
#include "tests/unit/test_support.h"
#include "tools/archive_writer.h"

struct SampleArchive {
    std::vector<MemberBytes> members;
    std::vector<uint32_t> positions;
    Bytes bytes;
};

inline SampleArchive makeSample(ArchiveFormat format, const std::vector<MemberBytes> &members, uint64_t base = 0)
{
    SampleArchive sample{members, {}, buildArchive(format, members, base)};
    std::vector<ArchiveMember> plan;
    for (const MemberBytes &m : members)
        plan.push_back(ArchiveMember{m.name, m.data.size()});
    ArchiveLayout layout;
    planArchive(format, plan, layout, base);
    for (uint64_t p : layout.positions)
        sample.positions.push_back(static_cast<uint32_t>(p));
    return sample;
}

inline ArchiveHandler *createHandler(ArchiveFormat format)
{
    return format == ArchiveFormat::Uk ? createUkArchiveHandler() : createArcArchiveHandler();
}

inline const char *formatName(ArchiveFormat format) { return format == ArchiveFormat::Uk ? "UK" : "ARC"; }
inline void PrintTo(ArchiveFormat format, std::ostream *out) { *out << formatName(format); }

// The operations over a copy of the bytes in a heap block of exactly their size, so that
// the sanitizers see any read beyond what the stream holds.
inline int32_t probeBytes(ArchiveHandler &handler, const Bytes &bytes)
{
    Bytes exact(bytes);
    StreamOwner stream(wrapMemory(exact.data(), static_cast<int32_t>(exact.size())));
    return handler.probe("unused.name", stream.get());
}

inline int32_t listBytes(ArchiveHandler &handler, const Bytes &bytes, ListView &view)
{
    Bytes exact(bytes);
    StreamOwner stream(wrapMemory(exact.data(), static_cast<int32_t>(exact.size())));
    BlockOwner list;
    int32_t result = handler.listEntries(stream.get(), list.out());
    view = viewList(list.get());
    return result;
}

inline int32_t findInBytes(ArchiveHandler &handler, const Bytes &bytes, const char *name, fileInfo &info)
{
    Bytes exact(bytes);
    StreamOwner stream(wrapMemory(exact.data(), static_cast<int32_t>(exact.size())));
    return handler.findEntry(name, stream.get(), &info);
}

// Extracts the remembered member from the bytes that start at `from`.
inline int32_t extractFrom(ArchiveHandler &handler, const Bytes &bytes, size_t from, BlockView &view)
{
    Bytes exact(bytes.begin() + static_cast<std::ptrdiff_t>(from), bytes.end());
    StreamOwner stream(wrapMemory(exact.data(), static_cast<int32_t>(exact.size())));
    BlockOwner block;
    int32_t result = handler.readEntry(stream.get(), block.out());
    view = viewBlock(block.get());
    return result;
}

inline std::vector<std::string> namesOf(const std::vector<fileInfo> &entries)
{
    std::vector<std::string> names;
    for (const fileInfo &e : entries)
        names.push_back(e.filename);
    return names;
}
