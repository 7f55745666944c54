// The entry list a host receives: a moveable block of fileInfo records ended by one whose
// method begins with a zero byte. Allocated zeroed, so no stale heap byte reaches the host.
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

    bool start(uint32_t capacity);
    // The record the walk fills next.
    fileInfo &slot() { return records_[count_]; }
    // Keeps the slot's record; grows the block once it is full so that the terminator
    // always has room. False (and the block freed) when growing fails.
    bool accept(uint32_t growthStep);
    // Writes the all-zero terminator, unlocks the block and hands over its handle.
    HLOCAL finish();

private:
    bool lock();

    HLOCAL block_ = nullptr;
    fileInfo *records_ = nullptr;
    uint32_t capacity_ = 0;
    uint32_t count_ = 0;
};
