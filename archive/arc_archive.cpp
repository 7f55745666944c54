// "ARC " directory archives: a 16-byte header, then a chain of 40-byte "DIR " records, each
// followed by its member's name. The chain has no count: it ends at the first record that
// fails the test below, or at a name that is not zero-terminated.
#include "archive/archive_handler.h"
#include "archive/formats.h"
#include "archive/little_endian.h"
#include "platform/object_heap.h"

namespace {

#pragma pack(push, 1)
struct ArcHeader {
    uint8_t magic[4];     // "ARC "
    uint8_t reserved1[4]; // must be 0
    uint8_t reserved2[4]; // must be 0
    uint8_t unused[4];
};
struct DirRecord {
    uint8_t tag[4];        // "DIR "
    uint8_t zero[4];       // must be 0
    uint8_t recordKind[4]; // must be 24
    uint8_t nameLength[4]; // terminating zero included
    uint8_t unused[16];
    uint8_t dataSize[4];
    uint8_t dataPosition[4];
};
#pragma pack(pop)
static_assert(sizeof(ArcHeader) == 16, "ArcHeader is 16 bytes on disk");
static_assert(sizeof(DirRecord) == 40, "DirRecord is 40 bytes on disk");

constexpr uint32_t kMaxNameLength = 200;     // exclusive: 199 bytes with the zero
constexpr uint32_t kMaxDataValue = 0x7FFFFFFF; // exclusive: sizes and positions are signed on disk

bool hasTag(const uint8_t *bytes, const char *tag)
{
    return bytes[0] == tag[0] && bytes[1] == tag[1] && bytes[2] == tag[2] && bytes[3] == tag[3];
}

// Returns the name length when the record passes (0 both for a refused record, which
// leaves target untouched, and for an empty name); fills target's fixed fields.
uint32_t convertDirRecord(const DirRecord &record, fileInfo &target)
{
    uint32_t nameLength = readLe32(record.nameLength);
    uint32_t dataSize = readLe32(record.dataSize);
    uint32_t dataPosition = readLe32(record.dataPosition);
    if (!hasTag(record.tag, "DIR ") || readLe32(record.zero) != 0 || readLe32(record.recordKind) != 24 ||
        nameLength >= kMaxNameLength || dataPosition >= kMaxDataValue || dataSize >= kMaxDataValue)
        return 0;
    fillStoredMember(target, dataPosition, dataSize);
    target.filename[0] = '\0';
    return nameLength;
}

class ArcArchiveHandler final : public ArchiveHandler {
public:
    int32_t destroy() override
    {
        destroyObject(this);
        return 0;
    }

    // The header and the first record decide; the first name is not read.
    int32_t probe(const char *, ByteStream *stream) override
    {
        ForwardReader reader(*stream);
        ArcHeader header;
        if (!reader.take(&header, sizeof header) || !hasTag(header.magic, "ARC ") ||
            readLe32(header.reserved1) != 0 || readLe32(header.reserved2) != 0)
            return 0;
        DirRecord record;
        if (!reader.take(&record, sizeof record))
            return 0;
        fileInfo scratch;
        return convertDirRecord(record, scratch) > 0 ? 1 : 0;
    }

protected:
    // The header is passed over unexamined: listing trusts the probe that chose us.
    ListShape beginWalk(ForwardReader &reader, WalkState &) override
    {
        reader.skip(sizeof(ArcHeader));
        return ListShape{1024, 1024};
    }

    bool nextEntry(ForwardReader &reader, WalkState &, fileInfo &target) override
    {
        DirRecord scratch;
        const auto *record = reinterpret_cast<const DirRecord *>(reader.takeInPlace(&scratch, sizeof scratch));
        if (!record)
            return false;
        uint32_t nameLength = convertDirRecord(*record, target);
        if (nameLength == 0)
            return false;
        // All nameLength bytes are read even when an inner zero ends the name earlier:
        // the next record starts after them.
        if (!reader.take(target.filename, static_cast<int32_t>(nameLength)))
            return false;
        return target.filename[nameLength - 1] == '\0';
    }
};

} // namespace

ArchiveHandler *createArcArchiveHandler() { return createObject<ArcArchiveHandler>(); }
