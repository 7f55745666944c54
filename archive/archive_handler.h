// The contract between the exports and the format handlers. A format supplies its probe
// and one directory walk; listing, lookup by name, lookup by position and extraction are
// built once here on top of that walk.
#pragma once
#include <cstdint>

#include "archive/file_info.h"
#include "archive/forward_reader.h"
#include "platform/platform.h"
#include "stream/byte_stream.h"

// How a format's entry list is allocated: the first block's records, and how many more
// each time it fills up (0: it never needs to grow).
struct ListShape {
    uint32_t firstCapacity;
    uint32_t growthStep;
};

// What a walk carries from one record to the next.
struct WalkState {
    uint32_t entriesLeft = 0;
};

// Released through destroy(), never through delete: there is no virtual destructor.
class ArchiveHandler {
public:
    virtual int32_t destroy() = 0;
    // 1 when the stream, from where it stands, holds an archive of this format; else 0.
    virtual int32_t probe(const char *name, ByteStream *stream) = 0;
    // 0 with the entry list's handle stored (unlocked); 4 when memory runs out.
    virtual int32_t listEntries(ByteStream *stream, HLOCAL *out);
    // 0 when a member of that name was found (info and the remembered entry describe it);
    // 1 when none was. Names compare exactly, letter case included.
    virtual int32_t findEntry(const char *name, ByteStream *stream, fileInfo *info);
    // Extracts the remembered member from where the stream stands: 0 with the handle of a
    // block of exactly its filesize stored, 4 when the block can't be had.
    virtual int32_t readEntry(ByteStream *stream, HLOCAL *out);

    // Finds the first member whose data lies at position in the named archive file (the
    // archive starting at the file's first byte) and remembers it: 0; 1 when none does; 4
    // when the file cannot be opened again. Hosts extract members in list order, so the
    // walk starts after the member found last when that is still there and no member up
    // to it can lie at position. On a hit, *data (when given) receives a stream standing
    // at the member's data if the walk's stream could be kept for it, else null.
    int32_t findEntryAt(uint32_t position, const char *archive, ByteStream **data = nullptr);
    bool remembersEntryAt(uint32_t position) const { return remembers_ && rememberedEntry.position == position; }

    fileInfo rememberedEntry;

protected:
    ArchiveHandler();
    ~ArchiveHandler() = default;

    // Reads the archive's header from the start of the stream and tells how to size a list.
    virtual ListShape beginWalk(ForwardReader &reader, WalkState &state) = 0;
    // Reads the next record into target; false when the directory ends there (target may
    // then hold part of the record that ended it).
    virtual bool nextEntry(ForwardReader &reader, WalkState &state, fileInfo &target) = 0;

private:
    // Where the remembered entry's record starts in its archive file, and the walk's state
    // just before it. A hint, not a cache: it is checked against what the file holds.
    // Valid only while the entry it was taken with is the remembered one.
    struct PositionHint {
        bool valid = false;
        uint32_t recordStart = 0;
        WalkState state;
        InfoWord highestPosition = 0; // of the records from the first through this one
        char archive[260] = {};
    };

    void remember(const fileInfo &entry);
    bool searchFrom(ForwardReader &reader, WalkState &state, uint32_t position, const char *archive, uint32_t base,
                    InfoWord highest);
    bool resumeAtHint(uint32_t position, const char *archive, uint8_t *readAhead, ByteStream **data);
    void finishWalk(ByteStream *stream, bool found, uint32_t base, uint32_t position, ByteStream **data);

    bool remembers_ = false;
    PositionHint hint_;
};
