#include "archive/archive_handler.h"

#include <cstring>

#include "archive/entry_list.h"

// Zeroed, so that extracting before any lookup hands over an empty block rather than
// whatever the heap held.
ArchiveHandler::ArchiveHandler() { std::memset(&rememberedEntry, 0, sizeof rememberedEntry); }

void ArchiveHandler::remember(const fileInfo &entry)
{
    rememberedEntry = entry;
    remembers_ = true;
}

int32_t ArchiveHandler::listEntries(ByteStream *stream, HLOCAL *out)
{
    ForwardReader reader(*stream);
    WalkState state;
    ListShape shape = beginWalk(reader, state);
    EntryList list;
    if (!list.start(shape.firstCapacity))
        return 4;
    while (nextEntry(reader, state, list.slot())) {
        if (!list.accept(shape.growthStep))
            return 4;
    }
    *out = list.finish();
    return 0;
}

// The walk writes straight into the host's record, so after a miss it holds the last
// record examined, as hosts of this interface have always seen it.
int32_t ArchiveHandler::findEntry(const char *name, ByteStream *stream, fileInfo *info)
{
    ForwardReader reader(*stream);
    WalkState state;
    beginWalk(reader, state);
    while (nextEntry(reader, state, *info)) {
        if (lstrcmpA(name, info->filename) == 0) {
            remember(*info);
            return 0;
        }
    }
    return 1;
}

int32_t ArchiveHandler::findEntryAt(uint32_t position, ByteStream *stream)
{
    ForwardReader reader(*stream);
    WalkState state;
    beginWalk(reader, state);
    fileInfo entry;
    std::memset(&entry, 0, sizeof entry);
    while (nextEntry(reader, state, entry)) {
        if (entry.position == position) {
            remember(entry);
            return 0;
        }
    }
    return 1;
}

int32_t ArchiveHandler::readEntry(ByteStream *stream, HLOCAL *out)
{
    InfoWord size = rememberedEntry.filesize;
    if (size > static_cast<InfoWord>(SIZE_MAX))
        return 4;
    auto length = static_cast<size_t>(size);
    HLOCAL block = LocalAlloc(LMEM_FIXED, length);
    if (!block)
        return 4;
    uint8_t *bytes = static_cast<uint8_t *>(block);
    // A stream reads at most 2^31 - 1 bytes a call; a member may be longer.
    size_t done = 0;
    while (done < length) {
        size_t left = length - done;
        int32_t piece = left > 0x40000000u ? 0x40000000 : static_cast<int32_t>(left);
        int32_t got = stream->read(bytes + done, piece);
        if (got <= 0)
            break;
        done += static_cast<size_t>(got);
    }
    // A member that runs past the end of the archive: the host copies filesize bytes, so
    // what the stream did not deliver is zero, never stale heap bytes.
    if (done < length)
        std::memset(bytes + done, 0, length - done);
    *out = block;
    return 0;
}
