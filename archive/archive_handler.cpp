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
    hint_.valid = false;
}

int32_t ArchiveHandler::listEntries(ByteStream *stream, HLOCAL *out)
{
    uint8_t readAhead[kWalkReadAhead];
    ForwardReader reader(*stream, readAhead, sizeof readAhead);
    WalkState state;
    ListShape shape = beginWalk(reader, state);
    EntryList list;
    if (!list.start(shape.firstCapacity, shape.growthStep))
        return 4;
    while (nextEntry(reader, state, list.slot())) {
        if (!list.accept())
            return 4;
    }
    HLOCAL handed = list.finish();
    if (!handed)
        return 4;
    *out = handed;
    return 0;
}

// The walk writes straight into the host's record, so after a miss it holds the last
// record examined, as hosts of this interface have always seen it.
int32_t ArchiveHandler::findEntry(const char *name, ByteStream *stream, fileInfo *info)
{
    uint8_t readAhead[kWalkReadAhead];
    ForwardReader reader(*stream, readAhead, sizeof readAhead);
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

// Walks on from where the reader stands; on a hit, remembers the entry and where its
// record started (base: the file offset of the reader's first byte; highest: the highest
// data position of the records before it).
bool ArchiveHandler::searchFrom(ForwardReader &reader, WalkState &state, uint32_t position, const char *archive,
                                uint32_t base, InfoWord highest)
{
    fileInfo entry;
    std::memset(&entry, 0, sizeof entry);
    for (;;) {
        WalkState before = state;
        uint32_t recordStart = base + reader.consumed();
        if (!nextEntry(reader, state, entry))
            return false;
        if (entry.position > highest)
            highest = entry.position;
        if (entry.position != position)
            continue;
        remember(entry);
        if (lstrlenA(archive) < static_cast<int>(sizeof hint_.archive)) {
            lstrcpyA(hint_.archive, archive);
            hint_.recordStart = recordStart;
            hint_.state = before;
            hint_.highestPosition = highest;
            hint_.valid = true;
        }
        return true;
    }
}

// The hint holds when the same archive file still has the remembered record where it
// was; the search then goes on after it. Only for a position above every one up to that
// record: else an earlier member may lie there, and the first in directory order wins.
bool ArchiveHandler::resumeAtHint(uint32_t position, const char *archive, uint8_t *readAhead, ByteStream **data)
{
    if (!hint_.valid || position <= hint_.highestPosition || lstrcmpA(hint_.archive, archive) != 0)
        return false;
    // The search moves the hint on; the stream stays where it was opened.
    uint32_t base = hint_.recordStart;
    ByteStream *stream = openFileStream(archive, base);
    if (!stream)
        return false;
    ForwardReader reader(*stream, readAhead, kWalkReadAhead);
    WalkState state = hint_.state;
    fileInfo again;
    std::memset(&again, 0, sizeof again);
    bool found = false;
    if (nextEntry(reader, state, again) && again.position == rememberedEntry.position &&
        again.filesize == rememberedEntry.filesize && lstrcmpA(again.filename, rememberedEntry.filename) == 0)
        found = searchFrom(reader, state, position, archive, base, hint_.highestPosition);
    finishWalk(stream, found, base, position, data);
    return found;
}

// After a hit the walk's stream can serve the member's data when that lies ahead of
// where the stream starts: handed over standing there, it spares the caller opening the
// file once more. Otherwise, or after a miss, the stream is destroyed.
void ArchiveHandler::finishWalk(ByteStream *stream, bool found, uint32_t base, uint32_t position, ByteStream **data)
{
    if (found && data && position >= base && position - base <= static_cast<uint32_t>(INT32_MAX)) {
        auto ahead = static_cast<int32_t>(position - base);
        if (stream->seek(ahead, kFromStart) == ahead) {
            *data = stream;
            return;
        }
    }
    stream->destroy();
}

int32_t ArchiveHandler::findEntryAt(uint32_t position, const char *archive, ByteStream **data)
{
    if (data)
        *data = nullptr;
    uint8_t readAhead[kWalkReadAhead];
    if (resumeAtHint(position, archive, readAhead, data))
        return 0;
    ByteStream *stream = openFileStream(archive, 0);
    if (!stream)
        return 4;
    ForwardReader reader(*stream, readAhead, sizeof readAhead);
    WalkState state;
    beginWalk(reader, state);
    bool found = searchFrom(reader, state, position, archive, 0, 0);
    finishWalk(stream, found, 0, position, data);
    return found ? 0 : 1;
}

namespace {
constexpr size_t kZeroedBlockSize = 1u << 20;
} // namespace

int32_t ArchiveHandler::readEntry(ByteStream *stream, HLOCAL *out)
{
    InfoWord size = rememberedEntry.filesize;
    if (size > static_cast<InfoWord>(SIZE_MAX))
        return 4;
    auto length = static_cast<size_t>(size);
    // A large block is asked for zeroed: the system hands out fresh zero pages at no cost,
    // so a member that runs far past the end of its file costs nothing to pad.
    bool zeroed = length >= kZeroedBlockSize;
    HLOCAL block = LocalAlloc(zeroed ? LMEM_FIXED | LMEM_ZEROINIT : LMEM_FIXED, length);
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
    if (done < length && !zeroed)
        std::memset(bytes + done, 0, length - done);
    *out = block;
    return 0;
}
