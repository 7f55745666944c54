// A viewer feeds the plug-in whatever the user opens, and one bad read takes the viewer
// down: truncated archives through every kind of input, every allocation failing in turn,
// and many calls in a row must neither crash nor leak nor hand over stale bytes.
#include <algorithm>
#include <fcntl.h>
#include <functional>
#include <gtest/gtest.h>
#include <unistd.h>

#include "tests/plugin/plugin_test_support.h"

namespace {

const size_t kPrefix = 37; // junk before the archive in the "file at an offset" input

std::vector<MemberBytes> smallMembers()
{
    return {{"a", bytesOf("A")}, {"bb", pattern(20, 8)}, {"ccc", bytesOf("three")}};
}

// The true listing of a whole archive, as records.
std::vector<fileInfo> trueEntries(const SampleArchive &sample)
{
    std::vector<fileInfo> entries(sample.members.size());
    for (size_t i = 0; i < entries.size(); ++i) {
        std::memset(&entries[i], 0, sizeof(fileInfo));
        fillStoredMember(entries[i], sample.positions[i], static_cast<uint32_t>(sample.members[i].data.size()));
        std::strcpy(entries[i].filename, sample.members[i].name.c_str());
    }
    return entries;
}

bool isPrefixOf(const std::vector<fileInfo> &listed, const std::vector<fileInfo> &whole)
{
    if (listed.size() > whole.size())
        return false;
    for (size_t i = 0; i < listed.size(); ++i)
        if (!sameBytes(listed[i], whole[i]))
            return false;
    return true;
}

// The member's bytes as a cut file delivers them, the rest zero.
Bytes deliveredPart(const Bytes &data, uint32_t position, size_t fileLength)
{
    Bytes expected(data.size(), 0);
    for (size_t i = 0; i < data.size() && position + i < fileLength; ++i)
        expected[i] = data[i];
    return expected;
}

int32_t isSupportedHandle(const std::string &path, off_t pointer)
{
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0 || ::lseek(fd, pointer, SEEK_SET) != pointer)
        return -1;
    int32_t result = IsSupported(path.c_str(), handleOf(fd));
    ::close(fd);
    return result;
}

class Truncation : public testing::TestWithParam<ArchiveFormat> {
protected:
    // Lists the cut input and looks up and extracts every member the input still holds.
    // `source`/`offset`/`flag` describe the input as the host passes it.
    void checkInput(const char *source, ArgOffset offset, uint32_t flag, const SampleArchive &sample,
                    size_t deliveredEnd)
    {
        std::vector<fileInfo> whole = trueEntries(sample);
        BlockOwner list;
        ASSERT_EQ(GetArchiveInfo(source, offset, flag, list.out()), 0);
        ListView view = viewList(list.get());
        EXPECT_TRUE(isPrefixOf(view.entries, whole));
        EXPECT_TRUE(view.terminatorAllZero);

        for (size_t i = 0; i < whole.size(); ++i) {
            const MemberBytes &m = sample.members[i];
            fileInfo info;
            std::memset(&info, 0, sizeof info);
            int32_t found = GetFileInfo(source, offset, m.name.c_str(), flag, &info);
            ASSERT_TRUE(found == 0 || found == 1);
            EXPECT_EQ(found == 0, i < view.entries.size()) << m.name;
            if (found != 0)
                continue;
            EXPECT_TRUE(sameBytes(info, whole[i]));
            BlockOwner block;
            if (flag & 1) {
                // The host passes the image from the member's data on.
                size_t from = std::min<size_t>(sample.positions[i], deliveredEnd);
                Bytes image(sample.bytes.begin() + static_cast<std::ptrdiff_t>(from),
                            sample.bytes.begin() + static_cast<std::ptrdiff_t>(deliveredEnd));
                ASSERT_EQ(GetFile(reinterpret_cast<const char *>(image.data()), static_cast<ArgOffset>(image.size()),
                                  destinationOf(block.out()), 0x101, nullptr, 0),
                          0);
            } else {
                ASSERT_EQ(GetFile(source, static_cast<ArgOffset>(info.position), destinationOf(block.out()), 0x100,
                                  nullptr, 0),
                          0);
            }
            EXPECT_EQ(viewBlock(block.get()).bytes, deliveredPart(m.data, sample.positions[i], deliveredEnd))
                << m.name;
        }
    }

    TempDir dir_;
};

TEST_P(Truncation, EveryCutThroughEveryInputListsAPrefix)
{
    const ArchiveFormat format = GetParam();
    SampleArchive atStart = makeSample(format, smallMembers());
    SampleArchive atOffset = makeSample(format, smallMembers(), kPrefix);
    ASSERT_EQ(atStart.bytes.size(), atOffset.bytes.size());
    Bytes junk = pattern(kPrefix, 0xF0);
    // Bytes a probe needs. The host pads its 2048-byte copy with zeros, and for "ARC "
    // zeros complete the first record once the low byte of its name length is there.
    const size_t acceptingFile = format == ArchiveFormat::Uk ? 2 : 56;
    const size_t acceptingCopy = format == ArchiveFormat::Uk ? 2 : 29;

    for (size_t length = 0; length <= atStart.bytes.size(); ++length) {
        SCOPED_TRACE(testing::Message() << formatName(format) << " cut at " << length);
        Bytes cut(atStart.bytes.begin(), atStart.bytes.begin() + static_cast<std::ptrdiff_t>(length));
        std::string path = dir_.write("cut.bin", cut);
        Bytes shifted = junk;
        shifted.insert(shifted.end(), atOffset.bytes.begin(),
                       atOffset.bytes.begin() + static_cast<std::ptrdiff_t>(length));
        std::string shiftedPath = dir_.write("shifted.bin", shifted);

        EXPECT_EQ(isSupportedHandle(path, 0), length >= acceptingFile ? 1 : 0);
        EXPECT_EQ(isSupportedHandle(shiftedPath, kPrefix), length >= acceptingFile ? 1 : 0);
        EXPECT_EQ(isSupportedMemory(cut), length >= acceptingCopy ? 1 : 0);

        // The handler the whole file chose, as a host has it when the file changes later.
        ASSERT_EQ(isSupportedMemory(atStart.bytes), 1);
        {
            SCOPED_TRACE("file");
            checkInput(path.c_str(), 0, 0, atStart, length);
        }
        {
            SCOPED_TRACE("file at an offset");
            checkInput(shiftedPath.c_str(), static_cast<ArgOffset>(kPrefix), 0, atOffset, kPrefix + length);
        }
        {
            SCOPED_TRACE("memory image");
            Bytes image(cut); // exactly the cut's size, for the sanitizers
            checkInput(reinterpret_cast<const char *>(image.data()), static_cast<ArgOffset>(image.size()), 1,
                       atStart, length);
        }
        if (HasFatalFailure())
            return;
    }
}

INSTANTIATE_TEST_SUITE_P(BothFormats, Truncation, testing::Values(ArchiveFormat::Uk, ArchiveFormat::Arc),
                         [](const testing::TestParamInfo<ArchiveFormat> &info) {
                             return std::string(formatName(info.param));
                         });

// ---- every allocation failing in turn ------------------------------------------------

struct HostVariables {
    HLOCAL out;
    fileInfo info;
};

struct FailureCase {
    const char *what;
    std::function<void()> setUp;                   // runs with allocations working
    std::function<int32_t(HostVariables &)> call;  // the export under test
    int32_t success;                               // its answer when nothing fails
    bool choosesHandler;                           // IsSupported: 0 on failure, handler may go
};

class AllocationFailure : public testing::Test {
protected:
    void SetUp() override
    {
        uk_ = makeSample(ArchiveFormat::Uk, smallMembers());
        std::vector<MemberBytes> many;
        for (int i = 0; i < 1100; ++i) // enough for the list block to grow once
            many.push_back({"m" + std::to_string(i), bytesOf(std::to_string(i))});
        arc_ = makeSample(ArchiveFormat::Arc, many);
        ukPath_ = dir_.write("small.uk", uk_.bytes);
        arcPath_ = dir_.write("many.arc", arc_.bytes);
    }

    void run(const FailureCase &c)
    {
        SCOPED_TRACE(c.what);
        const HLOCAL untouched = reinterpret_cast<HLOCAL>(0x1234);
        for (long n = 1;; ++n) {
            SCOPED_TRACE(testing::Message() << "allocation " << n << " fails");
            ASSERT_LT(n, 20) << "the call never got through";
            c.setUp();
            long blocks = platformLiveBlocks();
            long objects = platformLiveObjects();
            HostVariables host;
            host.out = untouched;
            std::memset(&host.info, 0x5A, sizeof host.info);
            const fileInfo infoBefore = host.info;

            long start = platformAllocationCount();
            platformFailAllocation(n);
            int32_t result = c.call(host);
            bool failed = platformAllocationCount() - start >= n;
            platformFailAllocation(0);

            if (!failed) {
                EXPECT_EQ(result, c.success);
                if (host.out != untouched && host.out != nullptr)
                    LocalFree(host.out);
                EXPECT_GT(n, 1) << "the call allocates nothing";
                return;
            }
            EXPECT_EQ(result, c.choosesHandler ? 0 : 4);
            EXPECT_EQ(host.out, untouched);
            if (host.out != untouched && host.out != nullptr)
                LocalFree(host.out);
            EXPECT_TRUE(sameBytes(host.info, infoBefore));
            EXPECT_EQ(platformLiveBlocks(), blocks);
            // The handler that stays current afterwards, if any, must be live: a host's next
            // call goes to it.
            BlockOwner list;
            Bytes image(uk_.bytes);
            int32_t next = GetArchiveInfo(reinterpret_cast<const char *>(image.data()),
                                          static_cast<ArgOffset>(image.size()), 1, list.out());
            ASSERT_TRUE(next == 0 || next == 4);
            if (c.choosesHandler) // the one before is gone; a new one may have come
                EXPECT_EQ(platformLiveObjects(), objects - 1 + (next == 0 ? 1 : 0));
            else
                EXPECT_EQ(platformLiveObjects(), objects);
        }
    }

    void choose(const Bytes &archive)
    {
        ASSERT_EQ(isSupportedMemory(archive), 1);
    }

    TempDir dir_;
    SampleArchive uk_, arc_;
    std::string ukPath_, arcPath_;
};

TEST_F(AllocationFailure, IsSupported)
{
    std::unique_ptr<char[]> ukHead = headBuffer(uk_.bytes);
    std::unique_ptr<char[]> arcHead = headBuffer(arc_.bytes);
    std::unique_ptr<char[]> otherHead = headBuffer(pattern(2048, 3));
    auto withHandler = [this] { choose(uk_.bytes); };
    const FailureCase cases[] = {
        {"UK in memory", withHandler,
         [&](HostVariables &) { return IsSupported("x", addressOf(ukHead.get())); }, 1, true},
        {"ARC in memory", withHandler,
         [&](HostVariables &) { return IsSupported("x", addressOf(arcHead.get())); }, 1, true},
        {"neither", withHandler, [&](HostVariables &) { return IsSupported("x", addressOf(otherHead.get())); }, 0,
         true},
        {"ARC through a handle", withHandler,
         [&](HostVariables &) { return isSupportedHandle(arcPath_, 0); }, 1, true},
    };
    for (const FailureCase &c : cases)
        run(c);
}

TEST_F(AllocationFailure, GetArchiveInfo)
{
    const FailureCase cases[] = {
        {"UK file", [this] { choose(uk_.bytes); },
         [&](HostVariables &h) { return GetArchiveInfo(ukPath_.c_str(), 0, 0, &h.out); }, 0, false},
        {"ARC file that grows its list", [this] { choose(arc_.bytes); },
         [&](HostVariables &h) { return GetArchiveInfo(arcPath_.c_str(), 0, 0, &h.out); }, 0, false},
        {"ARC image", [this] { choose(arc_.bytes); },
         [&](HostVariables &h) {
             return GetArchiveInfo(reinterpret_cast<const char *>(arc_.bytes.data()),
                                   static_cast<ArgOffset>(arc_.bytes.size()), 1, &h.out);
         },
         0, false},
    };
    for (const FailureCase &c : cases)
        run(c);
}

TEST_F(AllocationFailure, GetFileInfo)
{
    const FailureCase cases[] = {
        {"UK file", [this] { choose(uk_.bytes); },
         [&](HostVariables &h) { return GetFileInfo(ukPath_.c_str(), 0, "bb", 0, &h.info); }, 0, false},
        {"ARC image", [this] { choose(arc_.bytes); },
         [&](HostVariables &h) {
             return GetFileInfo(reinterpret_cast<const char *>(arc_.bytes.data()),
                                static_cast<ArgOffset>(arc_.bytes.size()), "m1000", 1, &h.info);
         },
         0, false},
    };
    for (const FailureCase &c : cases)
        run(c);
}

TEST_F(AllocationFailure, GetFile)
{
    fileInfo scratch;
    auto ukAfterLookupOf = [this, &scratch](const char *name) {
        return [this, &scratch, name] {
            choose(uk_.bytes);
            ASSERT_EQ(GetFileInfo(ukPath_.c_str(), 0, name, 0, &scratch), 0);
        };
    };
    const ArgOffset bbAt = static_cast<ArgOffset>(uk_.positions[1]);
    const FailureCase cases[] = {
        {"by position, another member remembered", ukAfterLookupOf("a"),
         [&](HostVariables &h) { return GetFile(ukPath_.c_str(), bbAt, destinationOf(&h.out), 0x100, nullptr, 0); },
         0, false},
        {"by position, after its own lookup", ukAfterLookupOf("bb"),
         [&](HostVariables &h) { return GetFile(ukPath_.c_str(), bbAt, destinationOf(&h.out), 0x100, nullptr, 0); },
         0, false},
        {"ARC by position, nothing remembered", [this] { choose(arc_.bytes); },
         [&](HostVariables &h) {
             return GetFile(arcPath_.c_str(), static_cast<ArgOffset>(arc_.positions[1050]), destinationOf(&h.out),
                            0x100, nullptr, 0);
         },
         0, false},
        {"from memory", ukAfterLookupOf("bb"),
         [&](HostVariables &h) {
             return GetFile(reinterpret_cast<const char *>(uk_.bytes.data() + uk_.positions[1]), 20,
                            destinationOf(&h.out), 0x101, nullptr, 0);
         },
         0, false},
    };
    for (const FailureCase &c : cases)
        run(c);

    // Output to a disk file needs only the stream; without it, no message either.
    choose(uk_.bytes);
    HLOCAL out = nullptr;
    testing::internal::CaptureStderr();
    platformFailAllocation(1);
    EXPECT_EQ(GetFile(ukPath_.c_str(), 0, destinationOf(&out), 0, nullptr, 0), 4);
    platformFailAllocation(0);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
}

// ---- resources ---------------------------------------------------------------------

TEST(Resources, TenThousandMixedCallsLeaveNoDescriptorOrBlockBehind)
{
    TempDir dir;
    SampleArchive uk = makeSample(ArchiveFormat::Uk, smallMembers());
    SampleArchive arc = makeSample(ArchiveFormat::Arc, smallMembers());
    std::string ukPath = dir.write("s.uk", uk.bytes);
    std::string arcPath = dir.write("s.arc", arc.bytes);
    std::string missing = dir.path("missing.arc");
    std::unique_ptr<char[]> ukHead = headBuffer(uk.bytes);
    std::unique_ptr<char[]> arcHead = headBuffer(arc.bytes);
    std::unique_ptr<char[]> otherHead = headBuffer(pattern(2048, 1));
    int fd = ::open(arcPath.c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(fd, 0);

    ASSERT_EQ(IsSupported("x", addressOf(ukHead.get())), 1); // so that a handler is counted before and after
    testing::internal::CaptureStderr(); // the disk-output calls' messages
    size_t descriptors = countOpenDescriptors();
    long blocks = platformLiveBlocks();
    long objects = platformLiveObjects();

    const SampleArchive *samples[] = {&uk, &arc};
    const std::string *paths[] = {&ukPath, &arcPath};
    int unexpected = 0;
    for (int i = 0; i < 10000; ++i) {
        const SampleArchive &s = *samples[(i / 10) % 2];
        const std::string &path = *paths[(i / 10) % 2];
        const MemberBytes &m = s.members[i % s.members.size()];
        uint32_t position = s.positions[i % s.members.size()];
        HLOCAL out = nullptr;
        fileInfo info;
        int32_t result = 0;
        switch (i % 10) {
        case 0:
            result = IsSupported("x", addressOf(&s == &uk ? ukHead.get() : arcHead.get())) == 1 ? 0 : -2;
            break;
        case 1:
            result = GetArchiveInfo(path.c_str(), 0, 0, &out);
            break;
        case 2:
            result = GetFileInfo(path.c_str(), 0, m.name.c_str(), 0, &info);
            break;
        case 3:
            result = GetFile(path.c_str(), static_cast<ArgOffset>(position), destinationOf(&out), 0x100, nullptr, 0);
            break;
        case 4:
            result = GetArchiveInfo(reinterpret_cast<const char *>(s.bytes.data()),
                                    static_cast<ArgOffset>(s.bytes.size()), 1, &out);
            break;
        case 5:
            result = GetFileInfo(path.c_str(), 0, "no such member", 0, &info) == 1 ? 0 : -2;
            break;
        case 6:
            result = GetArchiveInfo(missing.c_str(), 0, 0, &out) == 4 ? 0 : -2;
            break;
        case 7:
            result = GetFile(path.c_str(), 0, destinationOf(&out), 0, nullptr, 0) == -1 ? 0 : -2;
            break;
        case 8:
            ::lseek(fd, 0, SEEK_SET);
            result = IsSupported("x", handleOf(fd)) == 1 ? 0 : -2;
            break;
        case 9:
            result = IsSupported("x", addressOf(otherHead.get())) == 0 ? 0 : -2;
            break;
        }
        unexpected += result != 0;
        if (out)
            LocalFree(out);
    }
    // Leave a handler current, as before the loop.
    ASSERT_EQ(IsSupported("x", addressOf(arcHead.get())), 1);
    EXPECT_EQ(countOpenDescriptors(), descriptors);
    std::string messages = testing::internal::GetCapturedStderr();
    EXPECT_EQ(unexpected, 0);
    EXPECT_EQ(platformLiveBlocks(), blocks);
    EXPECT_EQ(platformLiveObjects(), objects);
    EXPECT_EQ(std::count(messages.begin(), messages.end(), '\n'), 1000);
    ::close(fd);
}

// Members whose filesize is at the top of what each format allows, in a file that holds
// a few bytes of them: when the block can be had it has the full length, with what the
// file lacks zero; when it cannot, the answer is 4 and nothing is stored.
TEST(HostileSizes, ABlockIsNeverShorterThanTheMemberAndMissingMemoryGivesFour)
{
    struct Case {
        ArchiveFormat format;
        uint32_t size;
    };
    const Case cases[] = {{ArchiveFormat::Arc, 0x7FFFFFFEu}, {ArchiveFormat::Uk, 0xFFFFFFFFu}};
    TempDir dir;
    for (const Case &c : cases) {
        SCOPED_TRACE(formatName(c.format));
        Bytes file;
        uint32_t dataAt = c.format == ArchiveFormat::Uk ? 28 : 16 + 40 + 5;
        if (c.format == ArchiveFormat::Uk) {
            putUkHeader(file, 1);
            putUkEntry(file, "huge", dataAt, c.size);
        } else {
            putArcHeader(file);
            putArcMember(file, "huge", dataAt, c.size);
        }
        Bytes data = bytesOf("only these bytes are there");
        file.insert(file.end(), data.begin(), data.end());
        std::string path = dir.write("huge.bin", file);
        ASSERT_EQ(isSupportedMemory(file), 1);
        fileInfo info;
        ASSERT_EQ(GetFileInfo(path.c_str(), 0, "huge", 0, &info), 0);
        ASSERT_EQ(info.filesize, c.size);

        long blocks = platformLiveBlocks();
        HLOCAL untouched = reinterpret_cast<HLOCAL>(0x1234);
        platformFailAllocation(2); // the stream is made, the member's block is not
        EXPECT_EQ(GetFile(path.c_str(), static_cast<ArgOffset>(dataAt), destinationOf(&untouched), 0x100, nullptr, 0), 4);
        platformFailAllocation(0);
        EXPECT_EQ(untouched, reinterpret_cast<HLOCAL>(0x1234));
        EXPECT_EQ(platformLiveBlocks(), blocks);

        BlockOwner block;
        ASSERT_EQ(GetFile(path.c_str(), static_cast<ArgOffset>(dataAt), destinationOf(block.out()), 0x100, nullptr, 0), 0);
        ASSERT_EQ(LocalSize(block.get()), static_cast<size_t>(c.size));
        const uint8_t *bytes = static_cast<const uint8_t *>(LocalLock(block.get()));
        EXPECT_TRUE(std::equal(data.begin(), data.end(), bytes));
        for (size_t at : {data.size(), size_t{1} << 20, size_t{c.size} / 2, size_t{c.size} - 1})
            EXPECT_EQ(bytes[at], 0) << at;
    }
}

} // namespace
