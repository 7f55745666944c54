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

static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "names are scanned as little-endian words");

// Copies the name through its first zero byte; a name that fills all 16 bytes has no
// terminator of its own and ends with the field. Bytes of `to` after the terminator are
// not touched. Eight bytes at a time: a listing does this once per record, and a byte
// loop with a copy of its own length cost as much as the rest of the record.
void copyEntryName(const char (&name)[16], char *to)
{
    constexpr uint64_t kOnes = 0x0101010101010101ull;
    constexpr uint64_t kHighs = 0x8080808080808080ull;
    for (int half = 0; half < 2; ++half) {
        uint64_t word;
        std::memcpy(&word, name + 8 * half, 8);
        char *out = to + 8 * half;
        // The lowest flagged byte is the first zero byte (flags above it may be false).
        uint64_t zeros = (word - kOnes) & ~word & kHighs;
        if (zeros == 0) {
            std::memcpy(out, &word, 8);
            continue;
        }
        // The bytes through the zero, as at most one store of 4, of 2 and of 1 bytes.
        unsigned through = static_cast<unsigned>(__builtin_ctzll(zeros)) / 8 + 1;
        if (through == 8) {
            std::memcpy(out, &word, 8);
            return;
        }
        if (through & 4) {
            auto part = static_cast<uint32_t>(word);
            std::memcpy(out, &part, 4);
            out += 4;
            word >>= 32;
        }
        if (through & 2) {
            auto part = static_cast<uint16_t>(word);
            std::memcpy(out, &part, 2);
            out += 2;
            word >>= 16;
        }
        if (through & 1)
            *out = static_cast<char>(word);
        return;
    }
    to[16] = '\0';
}

void fillFromUkEntry(const UkEntry &entry, fileInfo &info)
{
    fillStoredMember(info, readLe32(entry.dataPosition), readLe32(entry.dataSize));
    copyEntryName(entry.name, info.filename);
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
        UkEntry scratch;
        const auto *entry = reinterpret_cast<const UkEntry *>(reader.takeInPlace(&scratch, sizeof scratch));
        if (!entry)
            return false;
        fillFromUkEntry(*entry, target);
        return true;
    }
};

} // namespace

ArchiveHandler *createUkArchiveHandler() { return createObject<UkArchiveHandler>(); }
