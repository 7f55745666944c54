// The exports called directly: how IsSupported reads its second argument and chooses the
// handler, and how the archive exports treat their flag word and their input.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include "tests/plugin/plugin_test_support.h"

namespace {

class Exports : public testing::Test {
protected:
    void SetUp() override
    {
        uk_ = makeSample(ArchiveFormat::Uk, {{"a.txt", bytesOf("alpha")}, {"B.bin", pattern(300, 2)}});
        arc_ = makeSample(ArchiveFormat::Arc, {{"one", bytesOf("first")}, {"Two", pattern(500, 3)}});
        ukPath_ = dir_.write("sample.uk", uk_.bytes);
        arcPath_ = dir_.write("sample.arc", arc_.bytes);
        otherPath_ = dir_.write("other.bin", pattern(4000, 77));
    }

    int openRead(const std::string &path)
    {
        int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        EXPECT_GE(fd, 0);
        return fd;
    }

    TempDir dir_;
    SampleArchive uk_, arc_;
    std::string ukPath_, arcPath_, otherPath_;
};

TEST_F(Exports, SmallValuesAreFileHandlesReadFromTheirFilePointer)
{
    // An ARC archive 7 bytes into a file: the probes read from where the pointer stands.
    Bytes shifted = pattern(7, 1);
    shifted.insert(shifted.end(), arc_.bytes.begin(), arc_.bytes.end());
    std::string shiftedPath = dir_.write("shifted.arc", shifted);
    struct Case {
        std::string path;
        off_t pointer;
        int32_t result;
        off_t pointerAfter; // left after the accepting probe's bytes, or put back
    };
    const Case cases[] = {
        {ukPath_, 0, 1, 4},            {arcPath_, 0, 1, 56},       {shiftedPath, 7, 1, 63},
        {shiftedPath, 0, 0, 0},        {otherPath_, 123, 0, 123},  {arcPath_, 10000, 0, 10000},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.path + " at " + std::to_string(c.pointer));
        int fd = openRead(c.path);
        ASSERT_EQ(::lseek(fd, c.pointer, SEEK_SET), c.pointer);
        EXPECT_EQ(IsSupported(c.path.c_str(), handleOf(fd)), c.result);
        EXPECT_EQ(::fcntl(fd, F_GETFD), FD_CLOEXEC) << "the host's handle was closed";
        EXPECT_EQ(::lseek(fd, 0, SEEK_CUR), c.pointerAfter);
        ::close(fd);
    }
}

TEST_F(Exports, ValuesUpTo0xFFFFAreNeverTakenAsAddresses)
{
    // Neither is an open descriptor here; read as an address either would crash.
    for (ArgHandleOrAddress value : {ArgHandleOrAddress{0xFFFF}, ArgHandleOrAddress{0x1000}}) {
        EXPECT_EQ(IsSupported("x", value), 0);
    }
    // A real buffer lies above 0xFFFF and is read as the file's first 2048 bytes.
    std::unique_ptr<char[]> head = headBuffer(uk_.bytes);
    ASSERT_GT(addressOf(head.get()), ArgHandleOrAddress{0xFFFF});
    EXPECT_EQ(IsSupported("x", addressOf(head.get())), 1);
    EXPECT_EQ(isSupportedMemory(arc_.bytes), 1);
    EXPECT_EQ(isSupportedMemory(pattern(4000, 77)), 0);
}

TEST_F(Exports, IsSupportedKeepsOneHandlerAndLeavesTheLastRowWhenNoneAccepts)
{
    EXPECT_EQ(isSupportedMemory(uk_.bytes), 1);
    long objects = platformLiveObjects();

    // "UK" accepts: the second factory is never called (one stream, one handler made).
    long before = platformAllocationCount();
    EXPECT_EQ(isSupportedMemory(uk_.bytes), 1);
    EXPECT_EQ(platformAllocationCount() - before, 2);
    EXPECT_EQ(platformLiveObjects(), objects);
    BlockOwner list;
    ASSERT_EQ(GetArchiveInfo(ukPath_.c_str(), 0, 0, list.out()), 0);
    EXPECT_EQ(viewList(list.get()).capacity, 3u); // a "UK" list: n + 1 records

    // Neither accepts: both handlers were made, the "ARC " one stays.
    before = platformAllocationCount();
    EXPECT_EQ(isSupportedMemory(pattern(4000, 77)), 0);
    EXPECT_EQ(platformAllocationCount() - before, 3);
    EXPECT_EQ(platformLiveObjects(), objects);
    list.reset();
    ASSERT_EQ(GetArchiveInfo(arcPath_.c_str(), 0, 0, list.out()), 0);
    ListView view = viewList(list.get());
    EXPECT_EQ(view.capacity, 1024u);
    EXPECT_EQ(namesOf(view.entries), (std::vector<std::string>{"one", "Two"}));
}

TEST_F(Exports, AFactoryWithoutMemoryLeavesNoHandler)
{
    for (long failing : {2, 3}) { // the "UK" handler, then the "ARC " one
        SCOPED_TRACE(failing);
        ASSERT_EQ(isSupportedMemory(uk_.bytes), 1);
        long objects = platformLiveObjects();
        std::unique_ptr<char[]> head = headBuffer(pattern(100, 5));
        platformFailAllocation(failing);
        EXPECT_EQ(IsSupported("x", addressOf(head.get())), 0);
        platformFailAllocation(0);
        EXPECT_EQ(platformLiveObjects(), objects - 1);
        HLOCAL list = nullptr;
        EXPECT_EQ(GetArchiveInfo(ukPath_.c_str(), 0, 0, &list), 4);
        EXPECT_EQ(list, nullptr);
    }
}

TEST_F(Exports, WithoutAHandlerEveryArchiveExportAnswers4AndShowsNothing)
{
    dropCurrentHandler();
    HLOCAL out = nullptr;
    fileInfo info;
    std::memset(&info, 0x5A, sizeof info);
    size_t descriptors = countOpenDescriptors();
    testing::internal::CaptureStderr();
    EXPECT_EQ(GetArchiveInfo(ukPath_.c_str(), 0, 0, &out), 4);
    EXPECT_EQ(GetFileInfo(ukPath_.c_str(), 0, "a.txt", 0, &info), 4);
    EXPECT_EQ(GetFile(ukPath_.c_str(), 0, destinationOf(&out), 0x100, nullptr, 0), 4);
    EXPECT_EQ(GetFile(ukPath_.c_str(), 0, destinationOf(&out), 0, nullptr, 0), 4);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(info.method[0], 0x5A);
    EXPECT_EQ(countOpenDescriptors(), descriptors);
}

TEST_F(Exports, InputTypesTwoAndThreeAndMissingFilesGive4)
{
    ASSERT_EQ(isSupportedMemory(uk_.bytes), 1);
    std::string missing = dir_.path("missing.uk");
    std::string folder = dir_.path("");
    struct Case {
        const char *source;
        uint32_t flag;
    };
    const Case cases[] = {
        {ukPath_.c_str(), 2}, {ukPath_.c_str(), 3}, {ukPath_.c_str(), 0x102}, {ukPath_.c_str(), 0x307},
        {missing.c_str(), 0}, {missing.c_str(), 0x100}, {folder.c_str(), 0x100},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << c.source << " flag " << c.flag);
        HLOCAL out = nullptr;
        fileInfo info;
        std::memset(&info, 0x5A, sizeof info);
        testing::internal::CaptureStderr();
        EXPECT_EQ(GetArchiveInfo(c.source, 0, c.flag, &out), 4);
        EXPECT_EQ(GetFileInfo(c.source, 0, "a.txt", c.flag, &info), 4);
        EXPECT_EQ(GetFile(c.source, 0, destinationOf(&out), c.flag, nullptr, 0), 4);
        EXPECT_EQ(GetFile(c.source, 0, destinationOf(&out), c.flag & 0xFF, nullptr, 0), 4);
        EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
        EXPECT_EQ(out, nullptr);
        EXPECT_EQ(info.method[0], 0x5A);
    }
}

TEST_F(Exports, OnlyTheLowTwoBitsChooseTheInput)
{
    ASSERT_EQ(isSupportedMemory(arc_.bytes), 1);
    for (uint32_t flag : {0x4u, 0x80u, 0xFCu, 0xFFFFFC00u}) {
        SCOPED_TRACE(flag);
        BlockOwner list;
        ASSERT_EQ(GetArchiveInfo(arcPath_.c_str(), 0, flag, list.out()), 0);
        EXPECT_EQ(viewList(list.get()).entries.size(), 2u);
        fileInfo info;
        EXPECT_EQ(GetFileInfo(arcPath_.c_str(), 0, "Two", flag, &info), 0);
        EXPECT_EQ(GetFileInfo(arcPath_.c_str(), 0, "two", flag, &info), 1);
        list.reset();
        ASSERT_EQ(GetArchiveInfo(reinterpret_cast<const char *>(arc_.bytes.data()),
                                 static_cast<ArgOffset>(arc_.bytes.size()), flag | 1, list.out()),
                  0);
        EXPECT_EQ(viewList(list.get()).entries.size(), 2u);
    }
}

TEST_F(Exports, OutputToADiskFileShowsOneMessageAndReadsNothing)
{
    ASSERT_EQ(isSupportedMemory(uk_.bytes), 1);
    fileInfo info;
    ASSERT_EQ(GetFileInfo(ukPath_.c_str(), 0, "B.bin", 0, &info), 0);
    long blocks = platformLiveBlocks();
    HLOCAL untouched = reinterpret_cast<HLOCAL>(0x1234);
    struct Case {
        uint32_t flag;
        int32_t result;
        const char *message;
    };
    const Case cases[] = {
        {0x000, -1, "GetFile: NotImpDisk\n"}, {0x080, -1, "GetFile: NotImpDisk\n"},
        {0x200, -1, ""},                      {0x300, -1, ""},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.flag);
        HLOCAL out = untouched;
        testing::internal::CaptureStderr();
        // The callback is never called, so a pointer that is no function does no harm.
        EXPECT_EQ(GetFile(ukPath_.c_str(), static_cast<ArgOffset>(info.position), destinationOf(&out), c.flag,
                          reinterpret_cast<void *>(1), 99),
                  c.result);
        EXPECT_EQ(testing::internal::GetCapturedStderr(), c.message);
        EXPECT_EQ(out, untouched);
    }
    EXPECT_EQ(platformLiveBlocks(), blocks);
}

TEST_F(Exports, ExtractsByPositionWithOrWithoutALookup)
{
    for (const SampleArchive *sample : {&uk_, &arc_}) {
        const std::string &path = sample == &uk_ ? ukPath_ : arcPath_;
        SCOPED_TRACE(path);
        ASSERT_EQ(isSupportedMemory(sample->bytes), 1);
        // A lookup of the other member first must not decide what comes out.
        fileInfo info;
        ASSERT_EQ(GetFileInfo(path.c_str(), 0, sample->members[1].name.c_str(), 0, &info), 0);
        for (size_t i : {0, 1, 0}) {
            BlockOwner block;
            ASSERT_EQ(GetFile(path.c_str(), static_cast<ArgOffset>(sample->positions[i]), destinationOf(block.out()),
                              0x100, nullptr, 0),
                      0);
            BlockView view = viewBlock(block.get());
            EXPECT_TRUE(view.fixed);
            EXPECT_EQ(view.bytes, sample->members[i].data) << sample->members[i].name;
        }
        // Memory input: the remembered member, from the image's first byte.
        ASSERT_EQ(GetFileInfo(reinterpret_cast<const char *>(sample->bytes.data()),
                              static_cast<ArgOffset>(sample->bytes.size()), sample->members[1].name.c_str(), 1, &info),
                  0);
        const MemberBytes &m = sample->members[1];
        Bytes image(m.data);
        BlockOwner block;
        ASSERT_EQ(GetFile(reinterpret_cast<const char *>(image.data()), static_cast<ArgOffset>(image.size()),
                          destinationOf(block.out()), 0x101, nullptr, 0),
                  0);
        EXPECT_EQ(viewBlock(block.get()).bytes, m.data);
    }
}

// Hosts extract by the position the list gave them: the member the last lookup by name
// found wins when it lies there, else the first member at that position in directory order.
TEST_F(Exports, ExtractionByPositionTakesTheFirstMemberThere)
{
    // Positions shared by members that are not neighbours in the directory.
    const uint32_t p1 = 1000, p2 = 1100, p3 = 1200;
    struct Member {
        const char *name;
        uint32_t position;
        uint32_t size;
    };
    const Member members[] = {{"A", p1, 5}, {"B", p2, 3}, {"C", p1, 2}, {"E", p3, 0}, {"F", p3, 4}};
    for (ArchiveFormat format : {ArchiveFormat::Uk, ArchiveFormat::Arc}) {
        SCOPED_TRACE(formatName(format));
        Bytes file;
        if (format == ArchiveFormat::Uk) {
            putUkHeader(file, 5);
            for (const Member &m : members)
                putUkEntry(file, m.name, m.position, m.size);
        } else {
            putArcHeader(file);
            for (const Member &m : members)
                putArcMember(file, m.name, m.position, m.size);
        }
        file.resize(1300, '.');
        std::memcpy(&file[p1], "AAAAA", 5);
        std::memcpy(&file[p2], "BBB", 3);
        std::memcpy(&file[p3], "FFFF", 4);
        std::string path = dir_.write("shared-positions.bin", file);
        ASSERT_EQ(isSupportedMemory(file), 1);

        struct Step {
            const char *lookUp; // looked up by name first, or null
            uint32_t position;
            const char *expected;
        };
        const Step steps[] = {
            {nullptr, p2, "BBB"},  {nullptr, p1, "AAAAA"}, {"C", p1, "AA"},     {nullptr, p3, ""},
            {"F", p3, "FFFF"},     {nullptr, p1, "AAAAA"}, {nullptr, p2, "BBB"}, {nullptr, p1, "AAAAA"},
            {nullptr, p1 + 1, "AAAA."}, // no member there: the remembered one, from there
        };
        for (const Step &s : steps) {
            SCOPED_TRACE(testing::Message() << (s.lookUp ? s.lookUp : "-") << " then " << s.position);
            if (s.lookUp) {
                fileInfo info;
                ASSERT_EQ(GetFileInfo(path.c_str(), 0, s.lookUp, 0, &info), 0);
            }
            BlockOwner block;
            ASSERT_EQ(GetFile(path.c_str(), static_cast<ArgOffset>(s.position), destinationOf(block.out()), 0x100,
                              nullptr, 0),
                      0);
            EXPECT_EQ(viewBlock(block.get()).bytes, bytesOf(s.expected));
        }
    }
}

} // namespace
