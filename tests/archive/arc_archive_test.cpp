// "ARC " directory archives: a 16-byte header, then 40-byte "DIR " records each followed by
// its name. The chain has no count: the first record that fails its test ends it.
#include <cstring>
#include <gtest/gtest.h>

#include "archive/little_endian.h"
#include "tests/archive/archive_test_support.h"

namespace {

// A name of nameLength bytes with its terminating zero, as the record announces it.
Bytes nameBytes(uint32_t nameLength, char fill = 'n')
{
    Bytes name(nameLength, static_cast<uint8_t>(fill));
    if (nameLength > 0)
        name.back() = 0;
    return name;
}

void append(Bytes &out, const Bytes &more) { out.insert(out.end(), more.begin(), more.end()); }

// Header, one record with the given fields and its name (when the length is plausible),
// then a valid member "next".
Bytes withFirstRecord(const DirRecordFields &fields)
{
    Bytes out;
    putArcHeader(out);
    putDirRecord(out, fields);
    if (fields.nameLength <= 200)
        append(out, nameBytes(fields.nameLength));
    putArcMember(out, "next", 500, 5);
    return out;
}

DirRecordFields validRecord()
{
    DirRecordFields f;
    f.nameLength = 6;
    f.dataSize = 10;
    f.dataPosition = 100;
    return f;
}

class ArcArchive : public testing::Test {
protected:
    HandlerOwner handler_{createArcArchiveHandler()};
};

// The record test decides alike for the probe (first record only) and the walk.
TEST_F(ArcArchive, RecordTestBounds)
{
    struct Case {
        const char *what;
        DirRecordFields fields;
        bool passes;
    };
    auto with = [](void (*change)(DirRecordFields &)) {
        DirRecordFields f = validRecord();
        change(f);
        return f;
    };
    const Case cases[] = {
        {"valid", validRecord(), true},
        {"name length 1", with([](DirRecordFields &f) { f.nameLength = 1; }), true},
        {"name length 199", with([](DirRecordFields &f) { f.nameLength = 199; }), true},
        {"name length 200", with([](DirRecordFields &f) { f.nameLength = 200; }), false},
        {"name length 0x80000000", with([](DirRecordFields &f) { f.nameLength = 0x80000000u; }), false},
        {"name length all ones", with([](DirRecordFields &f) { f.nameLength = 0xFFFFFFFFu; }), false},
        {"size 0", with([](DirRecordFields &f) { f.dataSize = 0; }), true},
        {"size 0x7FFFFFFE", with([](DirRecordFields &f) { f.dataSize = 0x7FFFFFFE; }), true},
        {"size 0x7FFFFFFF", with([](DirRecordFields &f) { f.dataSize = 0x7FFFFFFF; }), false},
        {"size 0x80000000", with([](DirRecordFields &f) { f.dataSize = 0x80000000u; }), false},
        {"size all ones", with([](DirRecordFields &f) { f.dataSize = 0xFFFFFFFFu; }), false},
        {"position 0x7FFFFFFE", with([](DirRecordFields &f) { f.dataPosition = 0x7FFFFFFE; }), true},
        {"position 0x7FFFFFFF", with([](DirRecordFields &f) { f.dataPosition = 0x7FFFFFFF; }), false},
        {"position 0x80000000", with([](DirRecordFields &f) { f.dataPosition = 0x80000000u; }), false},
        {"kind 23", with([](DirRecordFields &f) { f.kind = 23; }), false},
        {"kind 25", with([](DirRecordFields &f) { f.kind = 25; }), false},
        {"kind 0", with([](DirRecordFields &f) { f.kind = 0; }), false},
        {"zero word 1", with([](DirRecordFields &f) { f.zeroWord = 1; }), false},
        {"zero word 0x80000000", with([](DirRecordFields &f) { f.zeroWord = 0x80000000u; }), false},
        {"tag in lower case", with([](DirRecordFields &f) { f.tag = "dir "; }), false},
        {"tag without its space", with([](DirRecordFields &f) { f.tag = "DIR\0"; }), false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        Bytes data = withFirstRecord(c.fields);
        EXPECT_EQ(probeBytes(*handler_.get(), data), c.passes ? 1 : 0);
        ListView list;
        ASSERT_EQ(listBytes(*handler_.get(), data, list), 0);
        EXPECT_TRUE(list.terminatorAllZero);
        if (!c.passes) {
            EXPECT_TRUE(list.entries.empty());
            continue;
        }
        ASSERT_EQ(list.entries.size(), 2u);
        std::string name(c.fields.nameLength - 1, 'n');
        EXPECT_TRUE(isStoredEntry(list.entries[0], name, c.fields.dataPosition, c.fields.dataSize));
        EXPECT_TRUE(isStoredEntry(list.entries[1], "next", 500, 5));
    }
}

TEST_F(ArcArchive, ProbeChecksTheHeaderWordsButNotItsLastFourBytes)
{
    struct Case {
        const char *what;
        size_t offset; // in the header
        uint32_t value;
        int32_t expected;
    };
    const Case cases[] = {
        {"bytes 12-15", 12, 0xDEADBEEF, 1}, {"word at 4", 4, 1, 0},       {"word at 8", 8, 0x01000000, 0},
        {"magic", 0, 0x00435241, 0},        {"magic case", 0, 0x20637261, 0},
    };
    Bytes good = withFirstRecord(validRecord());
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        Bytes data = good;
        writeLe32(data.data() + c.offset, c.value);
        StreamOwner stream(wrapMemory(data.data(), static_cast<int32_t>(data.size())));
        EXPECT_EQ(handler_->probe(nullptr, stream.get()), c.expected);
        // A header that fails is the end of it: the first record is not read.
        EXPECT_EQ(stream->seek(0, 1), c.expected ? 56 : 16);
    }
}

TEST_F(ArcArchive, ProbeNeedsANonEmptyFirstNameLengthButDoesNotReadTheName)
{
    DirRecordFields empty = validRecord();
    empty.nameLength = 0;
    EXPECT_EQ(probeBytes(*handler_.get(), withFirstRecord(empty)), 0);

    // A name whose last byte is not zero passes the probe but ends the listing at once.
    Bytes data;
    putArcHeader(data);
    putDirRecord(data, validRecord());
    append(data, bytesOf("abcdef"));
    EXPECT_EQ(probeBytes(*handler_.get(), data), 1);
    ListView list;
    ASSERT_EQ(listBytes(*handler_.get(), data, list), 0);
    EXPECT_TRUE(list.entries.empty());
    EXPECT_TRUE(list.terminatorAllZero);
}

TEST_F(ArcArchive, ProbeOfAShortStreamIsNo)
{
    Bytes good = withFirstRecord(validRecord());
    for (size_t length : {0, 4, 15, 16, 40, 55}) {
        Bytes cut(good.begin(), good.begin() + static_cast<std::ptrdiff_t>(length));
        EXPECT_EQ(probeBytes(*handler_.get(), cut), 0) << length;
    }
    Bytes exactly(good.begin(), good.begin() + 56);
    EXPECT_EQ(probeBytes(*handler_.get(), exactly), 1);
}

TEST_F(ArcArchive, AnInnerZeroShortensTheNameButNotTheRecord)
{
    Bytes data;
    putArcHeader(data);
    DirRecordFields f = validRecord();
    putDirRecord(data, f);
    append(data, Bytes{'a', 'b', 0, 'c', 'd', 0});
    putArcMember(data, "cd", 200, 2);
    ListView list;
    ASSERT_EQ(listBytes(*handler_.get(), data, list), 0);
    EXPECT_EQ(namesOf(list.entries), (std::vector<std::string>{"ab", "cd"}));
    fileInfo info;
    ASSERT_EQ(findInBytes(*handler_.get(), data, "ab", info), 0);
    EXPECT_TRUE(isStoredEntry(info, "ab", 100, 10));
    ASSERT_EQ(findInBytes(*handler_.get(), data, "cd", info), 0);
    EXPECT_EQ(info.position, 200u);
}

TEST_F(ArcArchive, TheHeaderIsSkippedUnexaminedWhenListing)
{
    Bytes data = bytesOf("not a header....");
    putArcMember(data, "found", 1, 2);
    ListView list;
    ASSERT_EQ(listBytes(*handler_.get(), data, list), 0);
    EXPECT_EQ(namesOf(list.entries), std::vector<std::string>{"found"});

    // Nothing valid at offset 16: a list of the terminator alone.
    ASSERT_EQ(listBytes(*handler_.get(), pattern(300, 1), list), 0);
    EXPECT_TRUE(list.entries.empty());
    EXPECT_EQ(list.capacity, 1024u);
    EXPECT_TRUE(list.terminatorAllZero);
}

// The list grows in steps of 1024 records as soon as it is full, so the terminator
// always has room: the block is the smallest multiple of 1024 that exceeds the count.
TEST_F(ArcArchive, ListBlocksGrowInStepsOf1024Records)
{
    for (size_t count : {0, 1, 1023, 1024, 1025, 2048}) {
        SCOPED_TRACE(count);
        Bytes data;
        putArcHeader(data);
        for (size_t i = 0; i < count; ++i)
            putArcMember(data, "m" + std::to_string(i), static_cast<uint32_t>(i), static_cast<uint32_t>(i % 7));
        ListView list;
        ASSERT_EQ(listBytes(*handler_.get(), data, list), 0);
        EXPECT_EQ(list.capacity, (count / 1024 + 1) * 1024);
        EXPECT_TRUE(list.unlocked);
        EXPECT_TRUE(list.moveable);
        EXPECT_TRUE(list.terminatorAllZero);
        ASSERT_EQ(list.entries.size(), count);
        for (size_t i = 0; i < count; ++i)
            ASSERT_TRUE(isStoredEntry(list.entries[i], "m" + std::to_string(i), static_cast<uint32_t>(i),
                                      static_cast<uint32_t>(i % 7)))
                << i;
    }
}

TEST_F(ArcArchive, ExactlyOneBlockFullGrowsBeforeTheTerminator)
{
    Bytes data;
    putArcHeader(data);
    for (size_t i = 0; i < 1024; ++i)
        putArcMember(data, "x", 7, 7);
    Bytes exact(data);
    StreamOwner stream(wrapMemory(exact.data(), static_cast<int32_t>(exact.size())));
    BlockOwner list;
    ASSERT_EQ(handler_->listEntries(stream.get(), list.out()), 0);
    EXPECT_EQ(LocalSize(list.get()), 876544u);
    const auto *records = static_cast<const fileInfo *>(LocalLock(list.get()));
    EXPECT_EQ(records[1023].method[0], 'a');
    EXPECT_EQ(records[1024].method[0], 0);
    LocalUnlock(list.get());
}

// What ended the directory leaves nothing in the terminator, and the caller's record of a
// failed search holds the last record examined.
TEST_F(ArcArchive, EndingRecordsLeaveAnAllZeroTerminator)
{
    struct Case {
        const char *what;
        Bytes ending;
        // After a miss, the caller's record describes this position and size, and name.
        uint32_t position;
        uint32_t size;
        const char *name;
    };
    DirRecordFields emptyName = validRecord();
    emptyName.nameLength = 0;
    emptyName.dataPosition = 88;
    emptyName.dataSize = 77;
    Bytes emptyNameRecord;
    putDirRecord(emptyNameRecord, emptyName);

    DirRecordFields badKind = validRecord();
    badKind.kind = 7;
    Bytes badKindRecord;
    putDirRecord(badKindRecord, badKind);

    DirRecordFields unterminated = validRecord();
    unterminated.dataPosition = 66;
    Bytes unterminatedRecord;
    putDirRecord(unterminatedRecord, unterminated);
    append(unterminatedRecord, bytesOf("zzzzzz"));

    const Case cases[] = {
        {"empty name", emptyNameRecord, 88, 77, ""},
        {"failing record", badKindRecord, 300, 3, "kept"},
        {"unterminated name", unterminatedRecord, 66, 10, nullptr},
        {"end of stream", {}, 300, 3, "kept"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        Bytes data;
        putArcHeader(data);
        putArcMember(data, "kept", 300, 3);
        append(data, c.ending);
        ListView list;
        ASSERT_EQ(listBytes(*handler_.get(), data, list), 0);
        EXPECT_EQ(namesOf(list.entries), std::vector<std::string>{"kept"});
        EXPECT_TRUE(list.terminatorAllZero);

        fileInfo hit;
        ASSERT_EQ(findInBytes(*handler_.get(), data, "kept", hit), 0);
        fileInfo remembered = handler_->rememberedEntry;
        fileInfo info;
        std::memset(&info, 0x5A, sizeof info);
        EXPECT_EQ(findInBytes(*handler_.get(), data, "absent", info), 1);
        EXPECT_EQ(info.position, c.position);
        EXPECT_EQ(info.filesize, c.size);
        if (c.name) {
            EXPECT_STREQ(info.filename, c.name);
        }
        EXPECT_TRUE(sameBytes(handler_->rememberedEntry, remembered));
    }
}

TEST_F(ArcArchive, ATruncatedDirectoryListsTheWholeMembersOnly)
{
    const std::vector<std::string> names{"one", "second", "3"};
    Bytes full;
    putArcHeader(full);
    std::vector<size_t> ends;
    for (size_t i = 0; i < names.size(); ++i) {
        putArcMember(full, names[i], static_cast<uint32_t>(100 * i), 1);
        ends.push_back(full.size());
    }
    for (size_t length = 0; length <= full.size(); ++length) {
        SCOPED_TRACE(length);
        Bytes cut(full.begin(), full.begin() + static_cast<std::ptrdiff_t>(length));
        size_t whole = 0;
        while (whole < ends.size() && ends[whole] <= length)
            ++whole;
        ListView list;
        ASSERT_EQ(listBytes(*handler_.get(), cut, list), 0);
        EXPECT_EQ(namesOf(list.entries), std::vector<std::string>(names.begin(), names.begin() + whole));
        EXPECT_TRUE(list.terminatorAllZero);
        fileInfo info;
        EXPECT_EQ(findInBytes(*handler_.get(), cut, "3", info), whole == 3 ? 0 : 1);
        EXPECT_EQ(probeBytes(*handler_.get(), cut), length >= 56 ? 1 : 0);
    }
}

TEST_F(ArcArchive, AListThatCannotGrowIsFreedAndNothingIsStored)
{
    Bytes data;
    putArcHeader(data);
    for (size_t i = 0; i < 1500; ++i)
        putArcMember(data, "g", 1, 1);
    for (long failing : {1, 2}) { // the first block, then its growth
        SCOPED_TRACE(failing);
        StreamOwner stream(wrapMemory(data.data(), static_cast<int32_t>(data.size())));
        long blocks = platformLiveBlocks();
        HLOCAL out = reinterpret_cast<HLOCAL>(0x1234);
        platformFailAllocation(failing);
        EXPECT_EQ(handler_->listEntries(stream.get(), &out), 4);
        platformFailAllocation(0);
        EXPECT_EQ(out, reinterpret_cast<HLOCAL>(0x1234));
        EXPECT_EQ(platformLiveBlocks(), blocks);
    }
}

} // namespace
