#include "tools/archive_writer.h"

#include <cstring>

namespace {

void putLe32(std::vector<uint8_t> &out, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

void putBytes(std::vector<uint8_t> &out, const char *bytes, size_t count)
{
    out.insert(out.end(), bytes, bytes + count);
}

std::string checkMembers(ArchiveFormat format, const std::vector<ArchiveMember> &members)
{
    const char *formatName = format == ArchiveFormat::Uk ? "UK" : "ARC";
    size_t maxName = format == ArchiveFormat::Uk ? kUkMaxName : kArcMaxName;
    if (members.size() > kMaxMembers)
        return "a " + std::string(formatName) + " archive holds at most 65535 members, not " +
               std::to_string(members.size());
    for (const ArchiveMember &m : members) {
        if (m.name.size() > maxName)
            return "the name \"" + m.name + "\" has " + std::to_string(m.name.size()) + " bytes; a " + formatName +
                   " archive allows at most " + std::to_string(maxName);
        if (m.name.find('\0') != std::string::npos)
            return "the name \"" + m.name + "\" holds a zero byte";
    }
    return "";
}

} // namespace

void putUkHeader(std::vector<uint8_t> &out, uint16_t entryCount, const char magic[2])
{
    putBytes(out, magic, 2);
    out.push_back(static_cast<uint8_t>(entryCount));
    out.push_back(static_cast<uint8_t>(entryCount >> 8));
}

void putUkEntry(std::vector<uint8_t> &out, const std::string &name, uint32_t position, uint32_t size)
{
    char field[16] = {};
    std::memcpy(field, name.data(), name.size() < 16 ? name.size() : 16);
    putBytes(out, field, sizeof field);
    putLe32(out, position);
    putLe32(out, size);
}

void putArcHeader(std::vector<uint8_t> &out)
{
    putBytes(out, "ARC ", 4);
    putLe32(out, 0);
    putLe32(out, 0);
    putLe32(out, 0);
}

void putDirRecord(std::vector<uint8_t> &out, const DirRecordFields &f)
{
    putBytes(out, f.tag, 4);
    putLe32(out, f.zeroWord);
    putLe32(out, f.kind);
    putLe32(out, f.nameLength);
    out.insert(out.end(), 16, 0);
    putLe32(out, f.dataSize);
    putLe32(out, f.dataPosition);
}

void putArcMember(std::vector<uint8_t> &out, const std::string &name, uint32_t position, uint32_t size)
{
    DirRecordFields fields;
    fields.nameLength = static_cast<uint32_t>(name.size() + 1);
    fields.dataSize = size;
    fields.dataPosition = position;
    putDirRecord(out, fields);
    putBytes(out, name.c_str(), name.size() + 1);
}

std::string planArchive(ArchiveFormat format, const std::vector<ArchiveMember> &members, ArchiveLayout &layout,
                        uint64_t base)
{
    std::string problem = checkMembers(format, members);
    if (!problem.empty())
        return problem;
    uint64_t directorySize = 0;
    if (format == ArchiveFormat::Uk) {
        directorySize = 4 + 24 * members.size();
    } else {
        directorySize = 16;
        for (const ArchiveMember &m : members)
            directorySize += 40 + m.name.size() + 1;
    }
    uint64_t limit = format == ArchiveFormat::Uk ? kUkMaxValue : kArcMaxValue;
    layout.positions.clear();
    uint64_t next = base + directorySize;
    for (const ArchiveMember &m : members) {
        // The whole member must lie within what the format can address, not only its start.
        if (m.size > limit || next > limit || next + m.size > limit + 1)
            return "the member \"" + m.name + "\" would lie beyond what the format can address (" +
                   (format == ArchiveFormat::Uk ? std::string("4 GiB") : std::string("0x7FFFFFFE bytes")) + ")";
        layout.positions.push_back(next);
        next += m.size;
    }
    layout.totalSize = next - base;
    layout.directory.clear();
    if (format == ArchiveFormat::Uk) {
        putUkHeader(layout.directory, static_cast<uint16_t>(members.size()));
        for (size_t i = 0; i < members.size(); ++i)
            putUkEntry(layout.directory, members[i].name, static_cast<uint32_t>(layout.positions[i]),
                       static_cast<uint32_t>(members[i].size));
    } else {
        putArcHeader(layout.directory);
        for (size_t i = 0; i < members.size(); ++i)
            putArcMember(layout.directory, members[i].name, static_cast<uint32_t>(layout.positions[i]),
                         static_cast<uint32_t>(members[i].size));
    }
    return "";
}

std::vector<uint8_t> buildArchive(ArchiveFormat format, const std::vector<MemberBytes> &members, uint64_t base)
{
    std::vector<ArchiveMember> plan;
    for (const MemberBytes &m : members)
        plan.push_back(ArchiveMember{m.name, m.data.size()});
    ArchiveLayout layout;
    if (!planArchive(format, plan, layout, base).empty())
        return {};
    std::vector<uint8_t> bytes = layout.directory;
    for (const MemberBytes &m : members)
        bytes.insert(bytes.end(), m.data.begin(), m.data.end());
    return bytes;
}
