// What both formats share: extraction of the remembered member and lookup by position.
#include <cstdlib>
#include <cstring>
#include <gtest/gtest.h>

#include "tests/archive/archive_test_support.h"

namespace {

class SharedOperations : public testing::TestWithParam<ArchiveFormat> {
protected:
    SharedOperations()
        : sample_(makeSample(GetParam(), {{"first", bytesOf("first member")},
                                          {"empty", {}},
                                          {"second", pattern(3000, 5)},
                                          {"third", bytesOf("3")}})),
          handler_(createHandler(GetParam()))
    {
    }

    // Looks the member up by name and returns its record.
    fileInfo find(const char *name)
    {
        fileInfo info;
        std::memset(&info, 0, sizeof info);
        EXPECT_EQ(findInBytes(*handler_.get(), sample_.bytes, name, info), 0) << name;
        return info;
    }

    SampleArchive sample_;
    HandlerOwner handler_;
};

TEST_P(SharedOperations, ExtractingBeforeAnyLookupHandsOverAnEmptyBlock)
{
    BlockView block;
    EXPECT_EQ(extractFrom(*handler_.get(), sample_.bytes, 0, block), 0);
    EXPECT_TRUE(block.fixed);
    EXPECT_TRUE(block.bytes.empty());
}

TEST_P(SharedOperations, ExtractsExactlyTheRememberedMemberIntoAFixedBlock)
{
    for (size_t i = 0; i < sample_.members.size(); ++i) {
        const MemberBytes &m = sample_.members[i];
        SCOPED_TRACE(m.name);
        fileInfo info = find(m.name.c_str());
        EXPECT_TRUE(isStoredEntry(info, m.name, sample_.positions[i], static_cast<uint32_t>(m.data.size())));
        EXPECT_TRUE(sameBytes(info, handler_->rememberedEntry));
        // Twice: each call hands over a block of its own.
        BlockView one, two;
        ASSERT_EQ(extractFrom(*handler_.get(), sample_.bytes, sample_.positions[i], one), 0);
        ASSERT_EQ(extractFrom(*handler_.get(), sample_.bytes, sample_.positions[i], two), 0);
        EXPECT_TRUE(one.fixed);
        EXPECT_EQ(one.bytes, m.data);
        EXPECT_EQ(two.bytes, m.data);
    }
}

TEST_P(SharedOperations, AStreamThatEndsEarlyLeavesTheRestOfTheBlockZero)
{
    find("second");
    const size_t delivered = 1000;
    Bytes cut(sample_.bytes.begin(), sample_.bytes.begin() + sample_.positions[2] + delivered);
    // Leave garbage where the block will be allocated, so that missing zeros show.
    for (int i = 0; i < 8; ++i) {
        void *dirty = std::malloc(3000 + 64);
        std::memset(dirty, 0xC3, 3000 + 64);
        std::free(dirty);
    }
    BlockView block;
    ASSERT_EQ(extractFrom(*handler_.get(), cut, sample_.positions[2], block), 0);
    ASSERT_EQ(block.bytes.size(), 3000u);
    Bytes expected(sample_.members[2].data.begin(), sample_.members[2].data.begin() + delivered);
    expected.resize(3000, 0);
    EXPECT_EQ(block.bytes, expected);
}

TEST_P(SharedOperations, AMissKeepsTheRememberedEntry)
{
    fileInfo hit = find("first");
    fileInfo scratch;
    EXPECT_EQ(findInBytes(*handler_.get(), sample_.bytes, "FIRST", scratch), 1);
    EXPECT_EQ(findInBytes(*handler_.get(), sample_.bytes, "nowhere", scratch), 1);
    EXPECT_TRUE(sameBytes(handler_->rememberedEntry, hit));
    BlockView block;
    ASSERT_EQ(extractFrom(*handler_.get(), sample_.bytes, sample_.positions[0], block), 0);
    EXPECT_EQ(block.bytes, bytesOf("first member"));
}

TEST_P(SharedOperations, LookupByPositionTakesTheFirstMemberThere)
{
    TempDir dir;
    std::string path = dir.write("sample.bin", sample_.bytes);
    // "empty" holds no bytes, so it lies where "second" begins and comes first there.
    ASSERT_EQ(sample_.positions[1], sample_.positions[2]);
    struct Case {
        uint32_t position;
        std::string file;
        int32_t result;
        const char *remembered; // null: the remembered entry stays as it was
    };
    const Case cases[] = {
        {sample_.positions[0], path, 0, "first"},
        {sample_.positions[2], path, 0, "empty"},
        {sample_.positions[3], path, 0, "third"},
        {sample_.positions[2], path, 0, "empty"}, // after a later member: not "second"
        {sample_.positions[0] + 1, path, 1, nullptr},
        {0xFFFFFFFFu, path, 1, nullptr},
        {sample_.positions[0], dir.path("missing.bin"), 4, nullptr},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << c.position << " in " << c.file);
        fileInfo before = handler_->rememberedEntry;
        EXPECT_EQ(handler_->findEntryAt(c.position, c.file.c_str()), c.result);
        if (c.remembered) {
            EXPECT_STREQ(handler_->rememberedEntry.filename, c.remembered);
            EXPECT_TRUE(handler_->remembersEntryAt(c.position));
        } else {
            EXPECT_TRUE(sameBytes(handler_->rememberedEntry, before));
        }
    }
}

TEST_P(SharedOperations, AFreshHandlerRemembersNoPosition)
{
    // Its zeroed record must not pass for a member at position 0.
    EXPECT_FALSE(handler_->remembersEntryAt(0));
}

TEST_P(SharedOperations, ExtractionThatCannotGetItsBlockStoresNothing)
{
    find("second");
    long blocks = platformLiveBlocks();
    Bytes exact(sample_.bytes);
    StreamOwner stream(wrapMemory(exact.data(), static_cast<int32_t>(exact.size())));
    HLOCAL out = reinterpret_cast<HLOCAL>(0x1234);
    platformFailAllocation(1);
    EXPECT_EQ(handler_->readEntry(stream.get(), &out), 4);
    EXPECT_EQ(out, reinterpret_cast<HLOCAL>(0x1234));
    EXPECT_EQ(platformLiveBlocks(), blocks);
}

// Names compare exactly, letter case included, and the first match in directory order wins.
TEST_P(SharedOperations, LookupTakesTheFirstExactMatch)
{
    Bytes data;
    struct Entry {
        const char *name;
        uint32_t position;
    };
    const Entry entries[] = {{"Twin", 10}, {"twin", 20}, {"twin", 30}};
    if (GetParam() == ArchiveFormat::Uk) {
        putUkHeader(data, 3);
        for (const Entry &e : entries)
            putUkEntry(data, e.name, e.position, 1);
    } else {
        putArcHeader(data);
        for (const Entry &e : entries)
            putArcMember(data, e.name, e.position, 1);
    }
    struct Case {
        const char *name;
        int32_t result;
        uint32_t position;
    };
    const Case cases[] = {{"twin", 0, 20}, {"Twin", 0, 10}, {"TWIN", 1, 0}, {"twi", 1, 0}, {"twins", 1, 0}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        fileInfo info;
        std::memset(&info, 0, sizeof info);
        ASSERT_EQ(findInBytes(*handler_.get(), data, c.name, info), c.result);
        if (c.result == 0) {
            EXPECT_EQ(info.position, c.position);
            EXPECT_TRUE(sameBytes(info, handler_->rememberedEntry));
        }
    }
}

INSTANTIATE_TEST_SUITE_P(BothFormats, SharedOperations, testing::Values(ArchiveFormat::Uk, ArchiveFormat::Arc),
                         [](const testing::TestParamInfo<ArchiveFormat> &info) {
                             return std::string(formatName(info.param));
                         });

TEST(Factories, AnswerNullWhenMemoryRunsOut)
{
    long objects = platformLiveObjects();
    for (ArchiveFormat format : {ArchiveFormat::Uk, ArchiveFormat::Arc}) {
        platformFailAllocation(1);
        EXPECT_EQ(createHandler(format), nullptr) << formatName(format);
    }
    EXPECT_EQ(platformLiveObjects(), objects);
}

} // namespace
