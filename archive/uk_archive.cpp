// "UK" table archives: a 4-byte header with a member count, then a table of 24-byte
// entries (name, data position, data size). Members are stored uncompressed.
#include <cstring>

#include "archive/archive_handler.h"
#include "archive/formats.h"
#include "archive/little_endian.h"
#include "platform/object_heap.h"

namespace {

#pragma pack(push, 1)
struct UkHeader {
    uint8_t magic[2]; // "UK"
    uint8_t entryCount[2];
};
struct UkEntry {
    char name[16]; // zero-terminated within the field, as a rule
    uint8_t dataPosition[4];
    uint8_t dataSize[4];
};
#pragma pack(pop)
static_assert(sizeof(UkHeader) == 4, "UkHeader is 4 bytes on disk");
static_assert(sizeof(UkEntry) == 24, "UkEntry is 24 bytes on disk");

void fillFromUkEntry(const UkEntry &entry, fileInfo &info)
{
    fillStoredMember(info, readLe32(entry.dataPosition), readLe32(entry.dataSize));
    // A name that fills all 16 bytes has no terminator of its own: it ends with the field.
    size_t length = 0;
    while (length < sizeof entry.name && entry.name[length] != '\0')
        ++length;
    std::memcpy(info.filename, entry.name, length);
    info.filename[length] = '\0';
}

class UkArchiveHandler final : public ArchiveHandler {
public:
    int32_t destroy() override
    {
        destroyObject(this);
        return 0;
    }

    // Only the magic decides; the count is not examined. Fewer than two bytes is no archive.
    int32_t probe(const char *, ByteStream *stream) override
    {
        uint8_t header[sizeof(UkHeader)] = {};
        ForwardReader reader(*stream);
        if (reader.takeUpTo(header, sizeof header) < 2)
            return 0;
        return header[0] == 'U' && header[1] == 'K' ? 1 : 0;
    }

protected:
    // The magic is not looked at again: a caller that lists without probing gets what the
    // count says. A header cut short counts no entries.
    ListShape beginWalk(ForwardReader &reader, WalkState &state) override
    {
        UkHeader header;
        state.entriesLeft = reader.take(&header, sizeof header) ? readLe16(header.entryCount) : 0;
        return ListShape{state.entriesLeft + 1, 0};
    }

    bool nextEntry(ForwardReader &reader, WalkState &state, fileInfo &target) override
    {
        if (state.entriesLeft == 0)
            return false;
        --state.entriesLeft;
        UkEntry entry;
        if (!reader.take(&entry, sizeof entry))
            return false;
        fillFromUkEntry(entry, target);
        return true;
    }
};

} // namespace

ArchiveHandler *createUkArchiveHandler() { return createObject<UkArchiveHandler>(); }
