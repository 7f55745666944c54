// The entry list a host receives: a moveable block of fileInfo records ended by one whose
// method begins with a zero byte. Every byte of the block is written, so no stale heap
// byte reaches the host.
#pragma once
#include <cstdint>

#include "archive/file_info.h"
#include "platform/platform.h"

class EntryList {
public:
    EntryList() = default;
    EntryList(const EntryList &) = delete;
    EntryList &operator=(const EntryList &) = delete;
    // Frees the block unless finish() handed it over.
    ~EntryList();

    // capacity: the records of the first block. growthStep: the block the host gets holds
    // the smallest multiple of it above the count (0: the first block is final).
    bool start(uint32_t capacity, uint32_t growthStep);
    // The record the walk fills next, zeroed.
    fileInfo &slot() { return records_[count_]; }

    // Keeps the slot's record and makes room for the next; false (and nothing kept) when
    // the block cannot grow.
    bool accept()
    {
        // Inline for the common case: the next record is already cleared, so in the block.
        ++count_;
        if (count_ < clearedUpTo_)
            return true;
        return makeRoom();
    }
    // Writes the terminator, brings the block to its final size, unlocks it and hands over
    // its handle; null (and nothing kept) when that fails.
    HLOCAL finish();

private:
    bool makeRoom();
    bool lock();
    bool resize(uint32_t records);
    void clearTail();
    void clearAhead();

    HLOCAL block_ = nullptr;
    fileInfo *records_ = nullptr;
    uint32_t capacity_ = 0;
    uint32_t count_ = 0;
    uint32_t growthStep_ = 0;
    uint32_t clearedUpTo_ = 0; // records below this index are zero or written
};
