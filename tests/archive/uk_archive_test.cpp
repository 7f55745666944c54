// "UK" table archives: a 4-byte header with an unsigned 16-bit count, then 24-byte entries.
#include <cstring>
#include <gtest/gtest.h>

#include "tests/archive/archive_test_support.h"

namespace {

Bytes ukTable(uint16_t count, const std::vector<std::string> &names, const char magic[2] = "UK")
{
    Bytes out;
    putUkHeader(out, count, magic);
    for (size_t i = 0; i < names.size(); ++i)
        putUkEntry(out, names[i], static_cast<uint32_t>(1000 + 10 * i), static_cast<uint32_t>(i * 3));
    return out;
}

class UkArchive : public testing::Test {
protected:
    HandlerOwner handler_{createUkArchiveHandler()};
};

TEST_F(UkArchive, ProbeLooksAtTheTwoMagicBytesOnly)
{
    struct Case {
        Bytes data;
        int32_t expected;
    };
    const Case cases[] = {
        {bytesOf("UK"), 1},
        {ukTable(3, {}), 1}, // a count with no table behind it
        {bytesOf(std::string("UK\xFF\xFFgarbage")), 1},
        {bytesOf("uk\x01\x00"), 0},
        {bytesOf("Uk\x01\x00"), 0},
        {bytesOf("KU\x01\x00"), 0},
        {bytesOf("U"), 0},
        {{}, 0},
        {bytesOf("ARC "), 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.data));
        EXPECT_EQ(probeBytes(*handler_.get(), c.data), c.expected);
    }
}

TEST_F(UkArchive, ProbeReadsOnlyTheHeader)
{
    Bytes data = ukTable(2, {"a", "b"});
    StreamOwner stream(wrapMemory(data.data(), static_cast<int32_t>(data.size())));
    EXPECT_EQ(handler_->probe(nullptr, stream.get()), 1);
    EXPECT_EQ(stream->seek(0, 1), 4);
}

TEST_F(UkArchive, ListsEveryEntryInABlockOfExactlyOneMoreRecord)
{
    for (size_t count : {0, 1, 3}) {
        SCOPED_TRACE(count);
        std::vector<MemberBytes> members;
        for (size_t i = 0; i < count; ++i)
            members.push_back({"member" + std::to_string(i), pattern(i * 10, static_cast<uint8_t>(i))});
        SampleArchive sample = makeSample(ArchiveFormat::Uk, members);
        ListView list;
        ASSERT_EQ(listBytes(*handler_.get(), sample.bytes, list), 0);
        EXPECT_EQ(list.capacity, count + 1);
        EXPECT_TRUE(list.unlocked);
        EXPECT_TRUE(list.moveable);
        EXPECT_TRUE(list.terminatorAllZero);
        ASSERT_EQ(list.entries.size(), count);
        for (size_t i = 0; i < count; ++i)
            EXPECT_TRUE(isStoredEntry(list.entries[i], members[i].name, sample.positions[i],
                                      static_cast<uint32_t>(members[i].data.size())));
    }
}

TEST_F(UkArchive, TheCountIsUnsignedUpTo65535)
{
    std::vector<std::string> names(65535);
    for (size_t i = 0; i < names.size(); ++i)
        names[i] = std::to_string(i);
    ListView list;
    ASSERT_EQ(listBytes(*handler_.get(), ukTable(0xFFFF, names), list), 0);
    EXPECT_EQ(list.capacity, 65536u);
    EXPECT_EQ(list.capacity * sizeof(fileInfo), 28049408u);
    ASSERT_EQ(list.entries.size(), 65535u);
    EXPECT_TRUE(isStoredEntry(list.entries[65534], "65534", 1000 + 10 * 65534, 3 * 65534));
    EXPECT_TRUE(list.terminatorAllZero);
}

TEST_F(UkArchive, NameFieldsEndAtTheirZeroOrWithTheField)
{
    struct Case {
        std::string field; // up to 16 bytes, zero-padded
        const char *listed;
    };
    // Lengths on both sides of each 8-byte half, with bytes after the zero that must
    // neither be listed nor written into a caller's record.
    const Case cases[] = {
        {"fifteen-chars-x", "fifteen-chars-x"},
        {"sixteen-chars-xy", "sixteen-chars-xy"}, // no zero: the field is the whole name
        {std::string("\0hidden", 7), ""},
        {std::string("ab\0cd", 5), "ab"},
        {"", ""},
        {std::string("seven-7\0tail-tai", 16), "seven-7"},
        {std::string("eight-88\0tail-ta", 16), "eight-88"},
        {std::string("nine-9999\0tail-t", 16), "nine-9999"},
        {std::string("\x80\xFF\x01\x7F\0\x80\x80\x80", 8), "\x80\xFF\x01\x7F"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.listed);
        Bytes data;
        putUkHeader(data, 2);
        putUkEntry(data, c.field, 0x11223344, 0x55667788);
        putUkEntry(data, "after", 7, 8);
        ListView list;
        ASSERT_EQ(listBytes(*handler_.get(), data, list), 0);
        ASSERT_EQ(list.entries.size(), 2u);
        EXPECT_TRUE(isStoredEntry(list.entries[0], c.listed, 0x11223344, 0x55667788));
        EXPECT_TRUE(isStoredEntry(list.entries[1], "after", 7, 8));
        size_t length = std::strlen(c.listed);
        size_t listedNonzero = 0;
        for (size_t i = length; i < sizeof list.entries[0].filename; ++i)
            listedNonzero += list.entries[0].filename[i] != 0;
        EXPECT_EQ(listedNonzero, 0u);

        fileInfo info;
        std::memset(&info, 0x5A, sizeof info);
        ASSERT_EQ(findInBytes(*handler_.get(), data, c.listed, info), 0);
        EXPECT_TRUE(isStoredEntry(info, c.listed, 0x11223344, 0x55667788));
        size_t overwritten = 0;
        for (size_t i = length + 1; i < sizeof info.filename; ++i)
            overwritten += info.filename[i] != 0x5A;
        EXPECT_EQ(overwritten, 0u);
    }
}

TEST_F(UkArchive, PositionsAndSizesAreUnsigned32Bit)
{
    Bytes data;
    putUkHeader(data, 1);
    putUkEntry(data, "huge", 0xFFFFFFF0u, 0xFFFFFFFFu);
    ListView list;
    ASSERT_EQ(listBytes(*handler_.get(), data, list), 0);
    ASSERT_EQ(list.entries.size(), 1u);
    EXPECT_TRUE(isStoredEntry(list.entries[0], "huge", 0xFFFFFFF0u, 0xFFFFFFFFu));
}

TEST_F(UkArchive, DataWithoutTheMagicIsStillReadByItsCount)
{
    ListView list;
    ASSERT_EQ(listBytes(*handler_.get(), ukTable(2, {"x", "y"}, "ZZ"), list), 0);
    EXPECT_EQ(namesOf(list.entries), (std::vector<std::string>{"x", "y"}));
}

// A table cut anywhere lists the entries delivered whole, in a block sized by the
// header's count when the header came whole; nothing the stream did not deliver is used.
TEST_F(UkArchive, ATruncatedTableListsTheWholeEntriesOnly)
{
    const std::vector<std::string> names{"one", "two", "three"};
    Bytes full = ukTable(3, names);
    for (size_t length = 0; length <= full.size(); ++length) {
        SCOPED_TRACE(length);
        Bytes cut(full.begin(), full.begin() + static_cast<std::ptrdiff_t>(length));
        ListView list;
        ASSERT_EQ(listBytes(*handler_.get(), cut, list), 0);
        size_t whole = length < 4 ? 0 : (length - 4) / 24;
        EXPECT_EQ(list.capacity, length < 4 ? 1u : 4u);
        EXPECT_EQ(namesOf(list.entries), std::vector<std::string>(names.begin(), names.begin() + whole));
        EXPECT_TRUE(list.terminatorAllZero);

        fileInfo info;
        std::memset(&info, 0x5A, sizeof info);
        EXPECT_EQ(findInBytes(*handler_.get(), cut, "two", info), whole >= 2 ? 0 : 1);
    }
}

TEST_F(UkArchive, ATruncatedListLeavesTheRecordsAfterTheTerminatorZero)
{
    Bytes cut = ukTable(10, {"only"});
    Bytes exact(cut);
    StreamOwner stream(wrapMemory(exact.data(), static_cast<int32_t>(exact.size())));
    BlockOwner list;
    ASSERT_EQ(handler_->listEntries(stream.get(), list.out()), 0);
    ASSERT_EQ(LocalSize(list.get()), 11 * sizeof(fileInfo));
    const auto *bytes = static_cast<const uint8_t *>(LocalLock(list.get()));
    size_t nonzero = 0;
    for (size_t i = sizeof(fileInfo); i < 11 * sizeof(fileInfo); ++i)
        nonzero += bytes[i] != 0;
    EXPECT_EQ(nonzero, 0u);
    LocalUnlock(list.get());
}

TEST_F(UkArchive, AMissLeavesTheLastEntryInTheCallersRecord)
{
    Bytes data = ukTable(3, {"alpha", "beta", "gamma"});
    fileInfo hit;
    ASSERT_EQ(findInBytes(*handler_.get(), data, "alpha", hit), 0);
    fileInfo remembered = handler_->rememberedEntry;

    fileInfo info;
    std::memset(&info, 0x5A, sizeof info);
    EXPECT_EQ(findInBytes(*handler_.get(), data, "delta", info), 1);
    EXPECT_TRUE(isStoredEntry(info, "gamma", 1020, 6));
    // Bytes the record does not carry keep the caller's.
    EXPECT_EQ(info.method[2], 0x5A);
    EXPECT_EQ(info.path[1], 0x5A);
    EXPECT_EQ(info.filename[6], 0x5A);
    EXPECT_TRUE(sameBytes(handler_->rememberedEntry, remembered));
}

TEST_F(UkArchive, AnEmptyTableFindsNothingAndTouchesNothing)
{
    fileInfo info;
    std::memset(&info, 0x5A, sizeof info);
    fileInfo before = info;
    EXPECT_EQ(findInBytes(*handler_.get(), ukTable(0, {}), "", info), 1);
    EXPECT_TRUE(sameBytes(info, before));
}

TEST_F(UkArchive, AListThatCannotBeAllocatedStoresNothing)
{
    Bytes data = ukTable(2, {"a", "b"});
    StreamOwner stream(wrapMemory(data.data(), static_cast<int32_t>(data.size())));
    long blocks = platformLiveBlocks();
    HLOCAL out = reinterpret_cast<HLOCAL>(0x1234);
    platformFailAllocation(1);
    EXPECT_EQ(handler_->listEntries(stream.get(), &out), 4);
    EXPECT_EQ(out, reinterpret_cast<HLOCAL>(0x1234));
    EXPECT_EQ(platformLiveBlocks(), blocks);
}

} // namespace
