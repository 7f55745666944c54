// File streams: position 0 lies at the stream's base, a move before it goes back to the
// base, and a borrowed handle is never closed.
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include "stream/byte_stream.h"
#include "tests/unit/test_support.h"

namespace {

HANDLE handleOf(int fd) { return reinterpret_cast<HANDLE>(static_cast<intptr_t>(fd)); }

bool descriptorOpen(int fd) { return ::fcntl(fd, F_GETFD) != -1; }

class FileStreamTest : public testing::Test {
protected:
    void SetUp() override
    {
        content_ = pattern(1000, 9);
        path_ = dir_.write("thousand.bin", content_);
    }

    // The byte of the file the stream reads next, i.e. where the file pointer stands.
    int nextByte(ByteStream &stream)
    {
        uint8_t byte = 0;
        return stream.read(&byte, 1) == 1 ? byte : -1;
    }

    TempDir dir_;
    Bytes content_;
    std::string path_;
};

TEST_F(FileStreamTest, PositionsCountFromTheBase)
{
    StreamOwner stream(openFileStream(path_.c_str(), 100));
    ASSERT_NE(stream.get(), nullptr);
    EXPECT_EQ(stream->seek(0, 1), 0);
    EXPECT_EQ(nextByte(*stream.get()), content_[100]);
    EXPECT_EQ(stream->seek(0, 2), 900);
    EXPECT_EQ(stream->seek(10, 0), 10);
    EXPECT_EQ(nextByte(*stream.get()), content_[110]);
    EXPECT_EQ(stream->seek(-1, 1), 10);
    EXPECT_EQ(stream->seek(5, 1), 15);
    EXPECT_EQ(stream->seek(-100, 2), 800);
    EXPECT_EQ(stream->seek(0, 7), -1);
    EXPECT_EQ(stream->seek(0, -1), -1);
    EXPECT_EQ(stream->seek(0, 1), 800); // refused origins move nothing
}

TEST_F(FileStreamTest, AMoveBeforeTheBaseGoesBackToTheBase)
{
    struct Case {
        int32_t from; // stream position before the move
        int32_t distance;
        int32_t origin;
    };
    const Case cases[] = {
        {10, -50, 1},   // before the base, within the file
        {10, -500, 1},  // before the start of the file: refused by the system
        {10, -1, 0},    {10, INT32_MIN, 0}, {10, -901, 2}, {10, -2000, 2},
        {10, INT32_MIN, 1},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << "seek(" << c.distance << ", " << c.origin << ")");
        StreamOwner stream(openFileStream(path_.c_str(), 100));
        ASSERT_EQ(stream->seek(c.from, 0), c.from);
        EXPECT_EQ(stream->seek(c.distance, c.origin), 0);
        EXPECT_EQ(nextByte(*stream.get()), content_[100]);
    }
}

TEST_F(FileStreamTest, PastTheEndIsAPositionWithNothingToRead)
{
    StreamOwner stream(openFileStream(path_.c_str(), 100));
    EXPECT_EQ(stream->seek(2000, 0), 2000);
    uint8_t buffer[8] = {7, 7, 7, 7, 7, 7, 7, 7};
    EXPECT_EQ(stream->read(buffer, 8), 0);
    EXPECT_EQ(buffer[0], 7);

    ASSERT_EQ(stream->seek(895, 0), 895);
    EXPECT_EQ(stream->read(buffer, 8), 5);
    EXPECT_EQ(std::memcmp(buffer, &content_[995], 5), 0);
    EXPECT_EQ(buffer[5], 7);
}

TEST_F(FileStreamTest, ABaseBeyondTheEndGivesAnEmptyStream)
{
    StreamOwner stream(openFileStream(path_.c_str(), 2000));
    ASSERT_NE(stream.get(), nullptr);
    uint8_t byte = 0;
    EXPECT_EQ(stream->read(&byte, 1), 0);
    EXPECT_EQ(stream->seek(0, 2), 0); // the end lies before the base
    EXPECT_EQ(stream->seek(0, 1), 0);
    EXPECT_EQ(stream->seek(5, 0), 5);
}

TEST_F(FileStreamTest, OffsetsAreUnsigned32Bit)
{
    // Beyond 2 GiB of a 1000-byte file: no negative move, simply nothing there.
    for (uint32_t offset : {0x80000000u, 0xFFFFFFFFu}) {
        SCOPED_TRACE(offset);
        StreamOwner stream(openFileStream(path_.c_str(), offset));
        ASSERT_NE(stream.get(), nullptr);
        uint8_t byte = 0x55;
        EXPECT_EQ(stream->read(&byte, 1), 0);
        EXPECT_EQ(byte, 0x55);
        EXPECT_EQ(stream->seek(0, 1), 0);
    }
    StreamOwner atStart(openFileStream(path_.c_str(), 0));
    EXPECT_EQ(nextByte(*atStart.get()), content_[0]);
}

// A base between 2 and 4 GiB seeks like any other: positions count from it.
TEST_F(FileStreamTest, ABasePastTwoGiBSeeksFromThatBase)
{
    const uint32_t base = 0xC0000000u;
    std::string sparse = dir_.path("sparse.bin");
    int fd = ::open(sparse.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0644);
    ASSERT_GE(fd, 0);
    Bytes tail = pattern(100, 3);
    ASSERT_EQ(::pwrite(fd, tail.data(), tail.size(), base), 100);
    ::close(fd);
    StreamOwner stream(openFileStream(sparse.c_str(), base));
    ASSERT_NE(stream.get(), nullptr);
    EXPECT_EQ(stream->seek(0, 1), 0);
    EXPECT_EQ(stream->seek(10, 0), 10);
    EXPECT_EQ(nextByte(*stream.get()), tail[10]);
    EXPECT_EQ(stream->seek(-1, 2), 99);
    EXPECT_EQ(nextByte(*stream.get()), tail[99]);
    EXPECT_EQ(stream->seek(-200, 1), 0); // before the base: back to the base
    EXPECT_EQ(nextByte(*stream.get()), tail[0]);
    EXPECT_EQ(stream->seek(INT32_MAX, 0), INT32_MAX);
    EXPECT_EQ(stream->seek(1, 1), 0); // 2^31 beyond the base: back to the base
    EXPECT_EQ(nextByte(*stream.get()), tail[0]);
}

TEST_F(FileStreamTest, OpenedStreamsAreReadOnlyAndCloseTheirFile)
{
    size_t before = countOpenDescriptors();
    StreamOwner stream(openFileStream(path_.c_str(), 0));
    ASSERT_NE(stream.get(), nullptr);
    EXPECT_EQ(countOpenDescriptors(), before + 1);
    EXPECT_EQ(stream->write("x", 1), -1);
    EXPECT_EQ(stream->seek(0, 1), 0);
    stream.reset();
    EXPECT_EQ(countOpenDescriptors(), before);
    EXPECT_EQ(readFile(path_), content_);
}

TEST_F(FileStreamTest, MissingFilesGiveNoStreamAndLeaveNothingBehind)
{
    size_t before = countOpenDescriptors();
    long objects = platformLiveObjects();
    EXPECT_EQ(openFileStream(dir_.path("missing.bin").c_str(), 0), nullptr);
    EXPECT_EQ(openFileStream(dir_.path("").c_str(), 0), nullptr); // a folder
    EXPECT_EQ(countOpenDescriptors(), before);
    EXPECT_EQ(platformLiveObjects(), objects);
}

TEST_F(FileStreamTest, NegativeCountsReadNothing)
{
    StreamOwner stream(openFileStream(path_.c_str(), 0));
    uint8_t buffer[4] = {1, 2, 3, 4};
    EXPECT_EQ(stream->read(buffer, -1), -1);
    EXPECT_EQ(stream->read(buffer, INT32_MIN), -1);
    EXPECT_EQ(stream->read(buffer, 0), 0);
    EXPECT_EQ(buffer[0], 1);
    EXPECT_EQ(stream->seek(0, 1), 0);
}

TEST_F(FileStreamTest, AWrappedHandleStartsWhereItsPointerStandsAndStaysOpen)
{
    int fd = ::open(path_.c_str(), O_RDWR | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::lseek(fd, 300, SEEK_SET), 300);
    StreamOwner stream(wrapFileHandle(handleOf(fd)));
    ASSERT_NE(stream.get(), nullptr);
    EXPECT_EQ(stream->seek(0, 1), 300);
    EXPECT_EQ(::lseek(fd, 0, SEEK_CUR), 300);
    EXPECT_EQ(nextByte(*stream.get()), content_[300]);
    // Base 0: the whole file is reachable, and the host's pointer moves with the stream.
    EXPECT_EQ(stream->seek(0, 0), 0);
    EXPECT_EQ(stream->seek(-5, 1), 0);
    EXPECT_EQ(stream->seek(0, 2), 1000);
    EXPECT_EQ(stream->write("ok", 2), 2); // the host's handle may allow writing
    EXPECT_EQ(stream->seek(-4, 1), 998);
    stream.reset();
    EXPECT_TRUE(descriptorOpen(fd));
    EXPECT_EQ(::lseek(fd, 0, SEEK_CUR), 998);
    ::close(fd);
    EXPECT_EQ(readFile(path_).size(), 1002u);
}

TEST_F(FileStreamTest, AnInvalidHandleSeeksToZeroAndFailsEveryTransfer)
{
    int closed = ::open(path_.c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(closed, 0);
    ::close(closed);
    for (HANDLE handle : {INVALID_HANDLE_VALUE, handleOf(closed), handleOf(0xFFFF)}) {
        SCOPED_TRACE(reinterpret_cast<intptr_t>(handle));
        StreamOwner stream(wrapFileHandle(handle));
        ASSERT_NE(stream.get(), nullptr);
        uint8_t buffer[4] = {};
        for (int32_t origin : {0, 1, 2})
            EXPECT_EQ(stream->seek(12, origin), 0);
        EXPECT_EQ(stream->read(buffer, 4), -1);
        EXPECT_EQ(stream->write(buffer, 4), -1);
    }
}

TEST(StreamCreation, EveryCreatorAnswersNullWhenMemoryRunsOut)
{
    TempDir dir;
    std::string path = dir.write("file.bin", pattern(10, 0));
    size_t descriptors = countOpenDescriptors();
    uint8_t data[4] = {};
    platformFailAllocation(1);
    EXPECT_EQ(wrapMemory(data, 4), nullptr);
    platformFailAllocation(1);
    EXPECT_EQ(wrapFileHandle(handleOf(0)), nullptr);
    platformFailAllocation(1);
    EXPECT_EQ(openFileStream(path.c_str(), 0), nullptr);
    EXPECT_EQ(countOpenDescriptors(), descriptors); // the opened file was closed again
}

} // namespace
