// The POSIX stand-ins for the Windows calls: the plug-in relies on exactly these meanings.
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include "platform/platform.h"
#include "platform/test_hooks.h"
#include "tests/unit/test_support.h"

#if defined(__SANITIZE_ADDRESS__)
#define TESSIK_TEST_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define TESSIK_TEST_ASAN 1
#endif
#endif

namespace {

#ifdef TESSIK_TEST_ASAN
constexpr bool kAddressSanitizer = true;
#else
constexpr bool kAddressSanitizer = false;
#endif

class FilePointer : public testing::Test {
protected:
    void SetUp() override
    {
        path_ = dir_.write("thousand.bin", pattern(1000, 1));
        file_ = CreateFileA(path_.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
        ASSERT_NE(file_, INVALID_HANDLE_VALUE);
    }
    void TearDown() override { CloseHandle(file_); }

    off_t where() const { return ::lseek(static_cast<int>(reinterpret_cast<intptr_t>(file_)), 0, SEEK_CUR); }

    TempDir dir_;
    std::string path_;
    HANDLE file_ = INVALID_HANDLE_VALUE;
};

TEST_F(FilePointer, MovesFromEachOriginAndRefusesOnlyBeforeTheStart)
{
    struct Case {
        LONG start; // absolute pointer before the move
        LONG distance;
        DWORD method;
        DWORD expected; // INVALID_SET_FILE_POINTER: refused, pointer stays at start
    };
    const Case cases[] = {
        {0, 100, FILE_BEGIN, 100},
        {0, 1000, FILE_BEGIN, 1000},
        {0, 5000, FILE_BEGIN, 5000}, // past the end is allowed
        {0, -1, FILE_BEGIN, INVALID_SET_FILE_POINTER},
        {300, 0, FILE_CURRENT, 300},
        {300, -300, FILE_CURRENT, 0},
        {300, -301, FILE_CURRENT, INVALID_SET_FILE_POINTER},
        {300, 50, FILE_CURRENT, 350},
        {300, 0, FILE_END, 1000},
        {300, -1000, FILE_END, 0},
        {300, -1001, FILE_END, INVALID_SET_FILE_POINTER},
        {300, 24, FILE_END, 1024},
        {300, 0x7FFFFFFF, FILE_BEGIN, 0x7FFFFFFFu},
        {300, 0, 3, INVALID_SET_FILE_POINTER}, // not a move method
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << "from " << c.start << " move " << c.distance << " method " << c.method);
        ASSERT_EQ(SetFilePointer(file_, c.start, nullptr, FILE_BEGIN), static_cast<DWORD>(c.start));
        EXPECT_EQ(SetFilePointer(file_, c.distance, nullptr, c.method), c.expected);
        EXPECT_EQ(where(), c.expected == INVALID_SET_FILE_POINTER ? c.start : static_cast<off_t>(c.expected));
    }
}

TEST_F(FilePointer, WithoutAHighPartTheResultMustFitIn32Bits)
{
    ASSERT_EQ(SetFilePointer(file_, 0x7FFFFFFF, nullptr, FILE_BEGIN), 0x7FFFFFFFu);
    EXPECT_EQ(SetFilePointer(file_, 0x7FFFFFFF, nullptr, FILE_CURRENT), 0xFFFFFFFEu);
    EXPECT_EQ(SetFilePointer(file_, 2, nullptr, FILE_CURRENT), INVALID_SET_FILE_POINTER);
    EXPECT_EQ(where(), 0xFFFFFFFE);
}

TEST_F(FilePointer, AHighPartMakesA64BitDistance)
{
    LONG high = 1;
    EXPECT_EQ(SetFilePointer(file_, 16, &high, FILE_BEGIN), 16u);
    EXPECT_EQ(high, 1);
    EXPECT_EQ(where(), 0x100000010LL);

    // Low word 0x80000000 with a high part of 0 is a positive offset, not -2 GiB.
    high = 0;
    EXPECT_EQ(SetFilePointer(file_, static_cast<LONG>(0x80000000u), &high, FILE_BEGIN), 0x80000000u);
    EXPECT_EQ(high, 0);

    // -50 as a 64-bit distance: both words all ones below the low part.
    ASSERT_EQ(SetFilePointer(file_, 100, nullptr, FILE_BEGIN), 100u);
    high = -1;
    EXPECT_EQ(SetFilePointer(file_, -50, &high, FILE_CURRENT), 50u);
    EXPECT_EQ(high, 0);

    high = -1;
    EXPECT_EQ(SetFilePointer(file_, -51, &high, FILE_CURRENT), INVALID_SET_FILE_POINTER);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NEGATIVE_SEEK));
    EXPECT_EQ(where(), 50);
}

TEST_F(FilePointer, ReadsStopAtTheEndAndWritesFailOnAReadOnlyHandle)
{
    Bytes buffer(64, 0xEE);
    DWORD done = 12345;
    ASSERT_EQ(SetFilePointer(file_, 990, nullptr, FILE_BEGIN), 990u);
    EXPECT_TRUE(ReadFile(file_, buffer.data(), 64, &done, nullptr));
    EXPECT_EQ(done, 10u);
    Bytes file = pattern(1000, 1);
    EXPECT_EQ(Bytes(buffer.begin(), buffer.begin() + 10), Bytes(file.begin() + 990, file.end()));
    EXPECT_EQ(buffer[10], 0xEE);
    EXPECT_TRUE(ReadFile(file_, buffer.data(), 64, &done, nullptr));
    EXPECT_EQ(done, 0u);
    EXPECT_FALSE(WriteFile(file_, buffer.data(), 4, &done, nullptr));
    EXPECT_EQ(done, 0u);
}

TEST(PlatformFiles, OpenRefusesMissingFilesFoldersAndBadHandles)
{
    TempDir dir;
    EXPECT_EQ(CreateFileA(dir.path("missing").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                          FILE_ATTRIBUTE_NORMAL, nullptr),
              INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    std::string folder = dir.path("");
    EXPECT_EQ(CreateFileA(folder.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                          FILE_ATTRIBUTE_NORMAL, nullptr),
              INVALID_HANDLE_VALUE);

    DWORD done = 7;
    char byte;
    EXPECT_EQ(SetFilePointer(INVALID_HANDLE_VALUE, 0, nullptr, FILE_CURRENT), INVALID_SET_FILE_POINTER);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    EXPECT_FALSE(ReadFile(INVALID_HANDLE_VALUE, &byte, 1, &done, nullptr));
    EXPECT_EQ(done, 0u);
    EXPECT_FALSE(CloseHandle(INVALID_HANDLE_VALUE));
}

TEST(LocalMemory, FixedBlockHandleIsItsAddressAndIsNeverLocked)
{
    HLOCAL block = LocalAlloc(LMEM_FIXED, 40);
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(LocalLock(block), block);
    EXPECT_EQ(LocalFlags(block), 0u);
    EXPECT_FALSE(LocalUnlock(block));
    EXPECT_EQ(LocalSize(block), 40u);
    std::memset(block, 0x11, 40); // writable through the handle itself
    EXPECT_EQ(LocalFree(block), nullptr);
}

TEST(LocalMemory, MoveableBlockCountsLocks)
{
    HLOCAL block = LocalAlloc(LMEM_MOVEABLE, 100);
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(LocalFlags(block) & LMEM_LOCKCOUNT, 0u);
    void *first = LocalLock(block);
    ASSERT_NE(first, nullptr);
    EXPECT_NE(first, block);
    EXPECT_EQ(LocalLock(block), first);
    EXPECT_EQ(LocalFlags(block) & LMEM_LOCKCOUNT, 2u);
    EXPECT_TRUE(LocalUnlock(block));  // still locked once
    EXPECT_FALSE(LocalUnlock(block)); // now unlocked
    EXPECT_EQ(GetLastError(), 0u);
    EXPECT_EQ(LocalFlags(block) & LMEM_LOCKCOUNT, 0u);
    EXPECT_FALSE(LocalUnlock(block)); // not locked: an error
    EXPECT_NE(GetLastError(), 0u);
    EXPECT_EQ(LocalFree(block), nullptr);
}

TEST(LocalMemory, ReallocatingAMoveableBlockKeepsHandleAndBytes)
{
    HLOCAL block = LocalAlloc(LMEM_MOVEABLE, 8);
    ASSERT_NE(block, nullptr);
    auto *before = static_cast<uint8_t *>(LocalLock(block));
    std::memcpy(before, "ABCDEFGH", 8);
    LocalUnlock(block);

    ASSERT_EQ(LocalReAlloc(block, 4096, LMEM_MOVEABLE | LMEM_ZEROINIT), block);
    EXPECT_EQ(LocalSize(block), 4096u);
    auto *after = static_cast<uint8_t *>(LocalLock(block));
    // Under the sanitizer every resize moves the data, so a pointer kept across one shows.
    if (kAddressSanitizer) {
        EXPECT_NE(after, before);
    }
    EXPECT_EQ(std::memcmp(after, "ABCDEFGH", 8), 0);
    bool restZero = true;
    for (size_t i = 8; i < 4096; ++i)
        restZero = restZero && after[i] == 0;
    EXPECT_TRUE(restZero);
    LocalUnlock(block);

    ASSERT_EQ(LocalReAlloc(block, 3, LMEM_MOVEABLE), block);
    EXPECT_EQ(LocalSize(block), 3u);
    EXPECT_EQ(std::memcmp(LocalLock(block), "ABC", 3), 0);
    LocalUnlock(block);
    LocalFree(block);
}

TEST(LocalMemory, AFixedBlockGrowsOnlyWhenAllowedToMove)
{
    long live = platformLiveBlocks();
    HLOCAL block = LocalAlloc(LMEM_FIXED, 4);
    ASSERT_NE(block, nullptr);
    std::memcpy(block, "WXYZ", 4);
    EXPECT_EQ(LocalReAlloc(block, 2, 0), block); // shrinking stays in place
    EXPECT_EQ(LocalReAlloc(block, 64, 0), nullptr);
    EXPECT_EQ(LocalSize(block), 2u);
    HLOCAL moved = LocalReAlloc(block, 64, LMEM_MOVEABLE);
    ASSERT_NE(moved, nullptr);
    EXPECT_EQ(std::memcmp(moved, "WX", 2), 0);
    EXPECT_EQ(LocalSize(moved), 64u);
    EXPECT_EQ(platformLiveBlocks(), live + 1); // the old block went with the move
    LocalFree(moved);
    EXPECT_EQ(platformLiveBlocks(), live);
}

TEST(LocalMemory, ZeroInitClearsNewBlocksOfBothKinds)
{
    for (UINT kind : {LMEM_FIXED, LMEM_MOVEABLE}) {
        SCOPED_TRACE(kind);
        // Dirty the heap first so that a missing clear shows.
        for (int i = 0; i < 4; ++i) {
            void *dirty = std::malloc(3000);
            std::memset(dirty, 0xA5, 3000);
            std::free(dirty);
        }
        HLOCAL block = LocalAlloc(kind | LMEM_ZEROINIT, 3000);
        ASSERT_NE(block, nullptr);
        const auto *bytes = static_cast<const uint8_t *>(LocalLock(block));
        size_t nonzero = 0;
        for (size_t i = 0; i < 3000; ++i)
            nonzero += bytes[i] != 0;
        EXPECT_EQ(nonzero, 0u);
        LocalUnlock(block);
        LocalFree(block);
    }
}

// Blocks from 32 MiB up live in mappings of their own: the same promises must hold on
// both sides of that size and across a resize from one kind of storage to the other,
// including zeroing where a shrink left old bytes in the mapping's last page.
TEST(LocalMemory, LargeBlocksKeepEveryPromise)
{
    constexpr size_t kMiB = 1u << 20;
    auto allZero = [](const uint8_t *bytes, size_t from, size_t to) {
        for (size_t i = from; i < to; ++i)
            if (bytes[i] != 0)
                return false;
        return true;
    };
    long live = platformLiveBlocks();

    for (size_t size : {32 * kMiB - 1, 32 * kMiB, 40 * kMiB + 123}) {
        SCOPED_TRACE(size);
        HLOCAL fixed = LocalAlloc(LMEM_FIXED | LMEM_ZEROINIT, size);
        ASSERT_NE(fixed, nullptr);
        EXPECT_EQ(LocalSize(fixed), size);
        auto *bytes = static_cast<uint8_t *>(fixed);
        EXPECT_TRUE(allZero(bytes, 0, size));
        std::memset(bytes, 0xAB, size);
        HLOCAL moved = LocalReAlloc(fixed, size + 5000, LMEM_MOVEABLE | LMEM_ZEROINIT);
        ASSERT_NE(moved, nullptr);
        bytes = static_cast<uint8_t *>(moved);
        EXPECT_EQ(bytes[0], 0xAB);
        EXPECT_EQ(bytes[size - 1], 0xAB);
        EXPECT_TRUE(allZero(bytes, size, size + 5000));
        EXPECT_EQ(LocalFree(moved), nullptr);
    }

    // Moveable: heap to mapping, shrink within it, grow zeroed over the stale tail, and
    // shrink below the mapping size and grow again.
    HLOCAL block = LocalAlloc(LMEM_MOVEABLE, kMiB);
    ASSERT_NE(block, nullptr);
    std::memset(LocalLock(block), 0x5C, kMiB);
    LocalUnlock(block);
    struct Step {
        size_t size;
        bool zero;
    };
    size_t filled = kMiB; // bytes below this hold 0x5C
    for (Step step : {Step{40 * kMiB, true}, Step{40 * kMiB - 100, false}, Step{40 * kMiB + 5000, true},
                      Step{2 * kMiB + 7, false}, Step{36 * kMiB, true}}) {
        SCOPED_TRACE(step.size);
        ASSERT_EQ(LocalReAlloc(block, step.size, step.zero ? LMEM_MOVEABLE | LMEM_ZEROINIT : LMEM_MOVEABLE), block);
        EXPECT_EQ(LocalSize(block), step.size);
        auto *bytes = static_cast<uint8_t *>(LocalLock(block));
        size_t kept = filled < step.size ? filled : step.size;
        EXPECT_EQ(bytes[0], 0x5C);
        EXPECT_EQ(bytes[kept - 1], 0x5C);
        if (step.zero) {
            EXPECT_TRUE(allZero(bytes, kept, step.size));
        }
        // Fill it all so that the next shrink leaves old bytes behind.
        std::memset(bytes, 0x5C, step.size);
        filled = step.size;
        LocalUnlock(block);
    }
    EXPECT_EQ(LocalFree(block), nullptr);
    EXPECT_EQ(platformLiveBlocks(), live);
}

TEST(LocalMemory, EmptyBlocksAreRealBlocks)
{
    for (UINT kind : {LMEM_FIXED, LMEM_MOVEABLE}) {
        HLOCAL block = LocalAlloc(kind, 0);
        ASSERT_NE(block, nullptr);
        EXPECT_EQ(LocalSize(block), 0u);
        EXPECT_EQ(LocalFree(block), nullptr);
    }
    EXPECT_EQ(LocalFree(nullptr), nullptr);
}

TEST(AllocationSwitch, TheNthAllocationFailsOnceAndLeavesBlocksIntact)
{
    long live = platformLiveBlocks();
    long objects = platformLiveObjects();
    long count = platformAllocationCount();

    platformFailAllocation(1);
    EXPECT_EQ(LocalAlloc(LMEM_FIXED, 8), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_ENOUGH_MEMORY));
    HLOCAL fixed = LocalAlloc(LMEM_FIXED, 8); // the switch fires once
    EXPECT_NE(fixed, nullptr);

    // Objects and reallocations count too; a failed reallocation keeps the block.
    HLOCAL moveable = LocalAlloc(LMEM_MOVEABLE, 4);
    ASSERT_NE(moveable, nullptr);
    std::memcpy(LocalLock(moveable), "keep", 4);
    LocalUnlock(moveable);
    platformFailAllocation(2);
    void *object = allocateObject(16);
    EXPECT_NE(object, nullptr);
    EXPECT_EQ(LocalReAlloc(moveable, 4000, LMEM_MOVEABLE), nullptr);
    EXPECT_EQ(LocalSize(moveable), 4u);
    EXPECT_EQ(std::memcmp(LocalLock(moveable), "keep", 4), 0);
    LocalUnlock(moveable);

    platformFailAllocation(1);
    EXPECT_EQ(allocateObject(16), nullptr);
    EXPECT_EQ(platformLiveObjects(), objects + 1);

    // Switched off, nothing fails.
    platformFailAllocation(1);
    platformFailAllocation(0);
    HLOCAL another = LocalAlloc(LMEM_FIXED, 1);
    EXPECT_NE(another, nullptr);

    EXPECT_EQ(platformAllocationCount(), count + 7); // failed attempts are counted
    EXPECT_EQ(platformLiveBlocks(), live + 3);
    LocalFree(fixed);
    LocalFree(moveable);
    LocalFree(another);
    releaseObject(object);
    EXPECT_EQ(platformLiveBlocks(), live);
    EXPECT_EQ(platformLiveObjects(), objects);
}

TEST(AnsiStrings, BoundedCopyNeverWritesMoreThanTheRoom)
{
    struct Case {
        const char *from;
        int room;
        const char *expected; // null: the buffer stays untouched
    };
    const Case cases[] = {
        {"hello", 64, "hello"}, {"hello", 6, "hello"}, {"hello", 5, "hell"}, {"hello", 3, "he"},
        {"hello", 1, ""},       {"", 8, ""},           {"hello", 0, nullptr}, {"hello", -5, nullptr},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << '"' << c.from << "\" room " << c.room);
        char buffer[16];
        std::memset(buffer, '#', sizeof buffer);
        EXPECT_EQ(lstrcpynA(buffer, c.from, c.room), buffer);
        if (!c.expected) {
            EXPECT_EQ(buffer[0], '#');
            continue;
        }
        EXPECT_STREQ(buffer, c.expected);
        size_t used = std::strlen(c.expected) + 1;
        EXPECT_EQ(buffer[used], '#') << "wrote past the terminating zero";
    }
}

TEST(AnsiStrings, ComparisonIsByteOrderAndCaseSensitive)
{
    struct Case {
        const char *a;
        const char *b;
        int expected;
    };
    const Case cases[] = {
        {"abc", "abc", 0}, {"abc", "ABC", 1}, {"ABC", "abc", -1}, {"ab", "abc", -1},
        {"", "", 0},       {"\xE9", "z", 1},  {"b", "a", 1},
    };
    for (const Case &c : cases)
        EXPECT_EQ(lstrcmpA(c.a, c.b), c.expected) << c.a << " vs " << c.b;
    EXPECT_EQ(lstrlenA("four"), 4);
    EXPECT_EQ(lstrlenA(""), 0);
    char copy[8];
    EXPECT_STREQ(lstrcpyA(copy, "seven!!"), "seven!!");
}

TEST(MessageBox, WritesOneLineToStandardError)
{
    testing::internal::CaptureStderr();
    EXPECT_EQ(MessageBoxA(nullptr, "Text", "Caption", MB_OK), 1);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "Caption: Text\n");
}

} // namespace
