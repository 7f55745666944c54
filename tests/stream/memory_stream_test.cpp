// The memory stream clamps every move and every copy to its block: a host's memory image
// is read by handlers that never look at the counts, so nothing may reach outside it.
#include <climits>
#include <cstring>
#include <gtest/gtest.h>
#include <memory>

#include "stream/byte_stream.h"
#include "tests/unit/test_support.h"

namespace {

TEST(MemoryStream, SeekClampsToTheBlockAndRefusesUnknownOrigins)
{
    uint8_t data[10] = {};
    StreamOwner stream(wrapMemory(data, sizeof data));
    ASSERT_NE(stream.get(), nullptr);
    struct Step {
        int32_t distance;
        int32_t origin;
        int32_t expected;
        int32_t positionAfter;
    };
    const Step steps[] = {
        {-3, 0, 0, 0},  {15, 0, 10, 10},  {-1, 2, 9, 9},   {4, 1, 10, 10},       {0, 3, -1, 10},
        {0, -1, -1, 10}, {-4, 1, 6, 6},   {-100, 1, 0, 0}, {7, 0, 7, 7},         {INT32_MAX, 0, 10, 10},
        {5, 2, 10, 10}, {INT32_MIN, 2, 0, 0},
        // Sums wrap in 32 bits: 10 + INT32_MAX is negative, so the cursor goes to 0.
        {10, 0, 10, 10}, {INT32_MAX, 1, 0, 0},
    };
    for (const Step &s : steps) {
        SCOPED_TRACE(testing::Message() << "seek(" << s.distance << ", " << s.origin << ")");
        EXPECT_EQ(stream->seek(s.distance, s.origin), s.expected);
        EXPECT_EQ(stream->seek(0, 1), s.positionAfter);
    }
}

TEST(MemoryStream, ReadAndWriteStopAtTheEndOfTheBlock)
{
    uint8_t data[10];
    for (int i = 0; i < 10; ++i)
        data[i] = static_cast<uint8_t>('0' + i);
    StreamOwner stream(wrapMemory(data, sizeof data));

    uint8_t x[4] = {'w', 'x', 'y', 'z'};
    ASSERT_EQ(stream->seek(8, 0), 8);
    EXPECT_EQ(stream->read(x, 4), 2);
    EXPECT_EQ(std::memcmp(x, "89yz", 4), 0); // bytes after those read keep their value
    EXPECT_EQ(stream->seek(0, 1), 10);
    EXPECT_EQ(stream->read(x, 4), 0);
    EXPECT_EQ(std::memcmp(x, "89yz", 4), 0);

    ASSERT_EQ(stream->seek(7, 0), 7);
    EXPECT_EQ(stream->write("ABCDE", 5), 3);
    EXPECT_EQ(std::memcmp(data, "0123456ABC", 10), 0);
    EXPECT_EQ(stream->seek(0, 1), 10);
    EXPECT_EQ(stream->write("Q", 1), 0);
}

TEST(MemoryStream, ZeroAndNegativeCountsMoveNothing)
{
    uint8_t data[10] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
    StreamOwner stream(wrapMemory(data, sizeof data));
    ASSERT_EQ(stream->seek(3, 0), 3);
    uint8_t x[4] = {0xEE, 0xEE, 0xEE, 0xEE};
    for (int32_t count : {0, -1, INT32_MIN}) {
        SCOPED_TRACE(count);
        EXPECT_LE(stream->read(x, count), 0);
        EXPECT_LE(stream->write(x, count), 0);
        EXPECT_EQ(stream->seek(0, 1), 3);
    }
    EXPECT_EQ(x[0], 0xEE);
    EXPECT_EQ(data[3], 4);
}

TEST(MemoryStream, ANegativeOrEmptySizeGivesNothingToReadOrWrite)
{
    // Heap blocks of the exact size, so that the sanitizers see any access outside them.
    for (int32_t size : {0, -1, -1000, INT32_MIN}) {
        SCOPED_TRACE(size);
        std::unique_ptr<uint8_t[]> block(new uint8_t[1]{0x42});
        StreamOwner stream(wrapMemory(block.get(), size));
        ASSERT_NE(stream.get(), nullptr);
        uint8_t x[8];
        std::memset(x, 0xEE, sizeof x);
        EXPECT_LE(stream->read(x, 8), 0);
        EXPECT_LE(stream->write(x, 8), 0);
        // Where the cursor goes is open for a negative size; no byte may move from there.
        for (int32_t origin : {0, 1, 2}) {
            stream->seek(5, origin);
            EXPECT_LE(stream->read(x, 8), 0);
            EXPECT_LE(stream->write(x, 8), 0);
        }
        EXPECT_EQ(block[0], 0x42);
        EXPECT_EQ(x[0], 0xEE);
    }
}

TEST(MemoryStream, ReadsTheBlockInPiecesAndNeverPastIt)
{
    Bytes source = pattern(1000, 4);
    std::unique_ptr<uint8_t[]> block(new uint8_t[source.size()]);
    std::memcpy(block.get(), source.data(), source.size());
    StreamOwner stream(wrapMemory(block.get(), static_cast<int32_t>(source.size())));
    Bytes got;
    uint8_t piece[333];
    int32_t n;
    while ((n = stream->read(piece, sizeof piece)) > 0)
        got.insert(got.end(), piece, piece + n);
    EXPECT_EQ(got, source);
    // Destroying leaves the caller's block alone.
    stream.reset();
    EXPECT_EQ(std::memcmp(block.get(), source.data(), source.size()), 0);
}

} // namespace
