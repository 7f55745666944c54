#include "archive/entry_list.h"

#include <cstring>

namespace {

bool blockBytes(uint32_t records, size_t &bytes)
{
    if (records > SIZE_MAX / sizeof(fileInfo))
        return false;
    bytes = static_cast<size_t>(records) * sizeof(fileInfo);
    return true;
}

} // namespace

EntryList::~EntryList()
{
    if (!block_)
        return;
    if (records_)
        LocalUnlock(block_);
    LocalFree(block_);
}

bool EntryList::lock()
{
    records_ = static_cast<fileInfo *>(LocalLock(block_));
    return records_ != nullptr;
}

// Records are cleared a run at a time just ahead of the walk: one large clear is much
// cheaper than one per record, and the run is still in the cache when the walk fills it.
void EntryList::clearAhead()
{
    constexpr uint32_t kRun = 64;
    if (count_ < clearedUpTo_)
        return;
    uint32_t end = capacity_ - count_ > kRun ? count_ + kRun : capacity_;
    std::memset(&records_[count_], 0, static_cast<size_t>(end - count_) * sizeof(fileInfo));
    clearedUpTo_ = end;
}

// The terminator (which the record that ended the walk may have partly written) and the
// records after it that were not cleared ahead yet.
void EntryList::clearTail()
{
    std::memset(&records_[count_], 0, sizeof(fileInfo));
    uint32_t first = clearedUpTo_ > count_ + 1 ? clearedUpTo_ : count_ + 1;
    if (first < capacity_)
        std::memset(&records_[first], 0, static_cast<size_t>(capacity_ - first) * sizeof(fileInfo));
}

// Unlocked across the reallocation so that the block may move.
bool EntryList::resize(uint32_t records)
{
    size_t bytes;
    if (!blockBytes(records, bytes))
        return false;
    LocalUnlock(block_);
    records_ = nullptr;
    HLOCAL resized = LocalReAlloc(block_, bytes, LMEM_MOVEABLE);
    if (!resized)
        return false;
    block_ = resized;
    capacity_ = records;
    return lock();
}

bool EntryList::start(uint32_t capacity, uint32_t growthStep)
{
    size_t bytes;
    if (capacity == 0 || !blockBytes(capacity, bytes))
        return false;
    block_ = LocalAlloc(LMEM_MOVEABLE, bytes);
    if (!block_)
        return false;
    capacity_ = capacity;
    growthStep_ = growthStep;
    if (!lock())
        return false;
    clearAhead();
    return true;
}

// Within the call the block doubles, so a directory of 100,000 records is copied a few
// times rather than a hundred; finish() trims it to what the host is promised.
bool EntryList::makeRoom()
{
    if (count_ == capacity_) {
        uint32_t doubled = capacity_ <= UINT32_MAX / 2 ? capacity_ * 2 : UINT32_MAX;
        uint32_t wanted = capacity_ + growthStep_ > doubled ? capacity_ + growthStep_ : doubled;
        if (growthStep_ == 0 || wanted <= capacity_ || !resize(wanted))
            return false;
    }
    clearAhead();
    return true;
}

HLOCAL EntryList::finish()
{
    uint32_t final = growthStep_ == 0 ? capacity_ : (count_ / growthStep_ + 1) * growthStep_;
    if (final < capacity_ && !resize(final))
        return nullptr;
    clearTail();
    LocalUnlock(block_);
    HLOCAL handed = block_;
    block_ = nullptr;
    records_ = nullptr;
    return handed;
}
