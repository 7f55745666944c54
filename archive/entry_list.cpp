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

bool EntryList::start(uint32_t capacity)
{
    size_t bytes;
    if (capacity == 0 || !blockBytes(capacity, bytes))
        return false;
    block_ = LocalAlloc(LMEM_MOVEABLE | LMEM_ZEROINIT, bytes);
    if (!block_)
        return false;
    capacity_ = capacity;
    return lock();
}

bool EntryList::accept(uint32_t growthStep)
{
    ++count_;
    if (count_ < capacity_)
        return true;
    size_t bytes;
    if (growthStep == 0 || capacity_ > UINT32_MAX - growthStep || !blockBytes(capacity_ + growthStep, bytes))
        return false;
    // Unlocked across the reallocation so that the block may move.
    LocalUnlock(block_);
    records_ = nullptr;
    HLOCAL grown = LocalReAlloc(block_, bytes, LMEM_MOVEABLE | LMEM_ZEROINIT);
    if (!grown)
        return false;
    block_ = grown;
    capacity_ += growthStep;
    return lock();
}

HLOCAL EntryList::finish()
{
    std::memset(&records_[count_], 0, sizeof(fileInfo));
    LocalUnlock(block_);
    HLOCAL handed = block_;
    block_ = nullptr;
    records_ = nullptr;
    return handed;
}
