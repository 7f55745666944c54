// Measures the native module against references taken in the same run: the physical
// limit of each job (one read of the bytes it must see, one block of the size it must
// hand over), a peer (bsdtar listing a tar of the same members) and cat.
// Each figure is the best of several repetitions; the table prints ratios, which stay
// comparable across machines where absolute times do not.
//
// Usage: tessik_bench [MODULE] [WORKDIR]
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <fcntl.h>
#include <functional>
#include <string>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "tools/archive_writer.h"
#include "tools/plugin_host.h"

namespace {

PluginModule plugin;
std::string workDir = "/tmp/tessik-bench";

double secondsOf(const std::function<void()> &job, int repetitions)
{
    double best = 1e30;
    for (int i = 0; i < repetitions; ++i) {
        auto start = std::chrono::steady_clock::now();
        job();
        std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
        if (took.count() < best)
            best = took.count();
    }
    return best;
}

// A job and its reference, run in turns so that both see the same state of a shared
// machine; the best of each.
void secondsOfBoth(const std::function<void()> &job, const std::function<void()> &reference, int repetitions,
                   double &jobSeconds, double &referenceSeconds)
{
    jobSeconds = referenceSeconds = 1e30;
    for (int i = 0; i < repetitions; ++i) {
        double took = secondsOf(job, 1);
        jobSeconds = took < jobSeconds ? took : jobSeconds;
        took = secondsOf(reference, 1);
        referenceSeconds = took < referenceSeconds ? took : referenceSeconds;
    }
}

bool exists(const std::string &path)
{
    struct stat info;
    return ::stat(path.c_str(), &info) == 0;
}

// Writes an archive of count members of memberSize bytes each (data all 0x5A), or keeps
// the one an earlier run wrote.
std::string makeArchive(ArchiveFormat format, size_t count, uint64_t memberSize, const std::string &name,
                        ArchiveLayout &layout)
{
    std::vector<ArchiveMember> members;
    for (size_t i = 0; i < count; ++i)
        members.push_back(ArchiveMember{"m" + std::to_string(i) + ".bin", memberSize});
    std::string problem = planArchive(format, members, layout);
    // The packer keeps to 65,535 members for both formats, but the ARC format itself has
    // no count: larger directories are written record by record.
    if (!problem.empty() && format == ArchiveFormat::Arc && count > kMaxMembers) {
        problem.clear();
        layout = ArchiveLayout{};
        size_t directoryBytes = 16;
        for (const ArchiveMember &m : members)
            directoryBytes += 40 + m.name.size() + 1;
        putArcHeader(layout.directory);
        uint64_t next = directoryBytes;
        for (const ArchiveMember &m : members) {
            putArcMember(layout.directory, m.name, static_cast<uint32_t>(next), static_cast<uint32_t>(m.size));
            layout.positions.push_back(next);
            next += m.size;
        }
        layout.totalSize = next;
    }
    if (!problem.empty()) {
        std::fprintf(stderr, "bench: %s\n", problem.c_str());
        std::exit(2);
    }
    std::string path = workDir + "/" + name;
    if (exists(path))
        return path;
    FILE *out = std::fopen(path.c_str(), "wb");
    std::fwrite(layout.directory.data(), 1, layout.directory.size(), out);
    std::vector<uint8_t> chunk(1 << 20, 0x5A);
    uint64_t left = layout.totalSize - layout.directory.size();
    while (left > 0) {
        size_t piece = left < chunk.size() ? static_cast<size_t>(left) : chunk.size();
        std::fwrite(chunk.data(), 1, piece, out);
        left -= piece;
    }
    std::fclose(out);
    return path;
}

// A ustar archive of the same members, for the peer's listing: a 512-byte header per
// member, then its data padded to 512 bytes.
std::string makeTar(size_t count, uint64_t memberSize, const std::string &name)
{
    std::string path = workDir + "/" + name;
    if (exists(path))
        return path;
    FILE *out = std::fopen(path.c_str(), "wb");
    std::vector<char> data((memberSize + 511) / 512 * 512, 0x5A);
    for (size_t i = 0; i < count; ++i) {
        char header[512] = {};
        std::snprintf(header, 100, "m%zu.bin", i);
        std::snprintf(header + 100, 8, "%07o", 0644);
        std::snprintf(header + 108, 8, "%07o", 0);
        std::snprintf(header + 116, 8, "%07o", 0);
        std::snprintf(header + 124, 12, "%011llo", static_cast<unsigned long long>(memberSize));
        std::snprintf(header + 136, 12, "%011o", 0);
        header[156] = '0';
        std::memcpy(header + 257, "ustar", 6);
        std::memcpy(header + 263, "00", 2);
        std::memset(header + 148, ' ', 8);
        unsigned sum = 0;
        for (unsigned char c : header)
            sum += c;
        std::snprintf(header + 148, 8, "%06o", sum);
        std::fwrite(header, 1, sizeof header, out);
        std::fwrite(data.data(), 1, data.size(), out);
    }
    std::vector<char> end(1024, 0);
    std::fwrite(end.data(), 1, end.size(), out);
    std::fclose(out);
    return path;
}

std::vector<char> head2048(const std::string &path)
{
    std::vector<char> head(2048, 0);
    FILE *in = std::fopen(path.c_str(), "rb");
    size_t got = std::fread(head.data(), 1, head.size(), in);
    (void)got;
    std::fclose(in);
    return head;
}

void selectArchive(const std::string &path)
{
    std::vector<char> head = head2048(path);
    if (plugin.isSupported(path.c_str(), reinterpret_cast<ArgHandleOrAddress>(head.data())) == 0) {
        std::fprintf(stderr, "bench: %s not recognised\n", path.c_str());
        std::exit(2);
    }
}

void listOnce(const std::string &path)
{
    HLOCAL list = nullptr;
    if (plugin.getArchiveInfo(path.c_str(), 0, 0, &list) != 0)
        std::exit(3);
    freeBlock(plugin, list);
}

// The module's local memory: a list block can come from nowhere else, so the limit
// allocates through it too (on this system, blocks of 32 MiB and more are mapped with
// huge pages; smaller ones come from the C heap).
struct LocalMemory {
    HLOCAL (*alloc)(unsigned, size_t) = nullptr;
    void *(*lock)(HLOCAL) = nullptr;
    int (*unlock)(HLOCAL) = nullptr;
    HLOCAL (*release)(HLOCAL) = nullptr;
} localMemory;

// The physical limit of a listing: read the directory once, fill a block of the size of
// the entry list once.
void physicalListing(const std::string &path, size_t directoryBytes, size_t listBytes)
{
    std::vector<char> directory(directoryBytes);
    int fd = ::open(path.c_str(), O_RDONLY);
    ssize_t got = ::read(fd, directory.data(), directory.size());
    (void)got;
    ::close(fd);
    HLOCAL handle = localMemory.alloc(0x0002 /* moveable, like every list */, listBytes);
    void *block = localMemory.lock(handle);
    std::memset(block, 1, listBytes);
    // Keeps the compiler from dropping the block it can see is never read.
    asm volatile("" : : "r"(block), "r"(directory.data()) : "memory");
    localMemory.unlock(handle);
    localMemory.release(handle);
}

// The least any reader can do for a member it hands over as a block of its own: fresh
// pages of the member's size (huge ones where the system has them), the bytes read into
// them once, the pages given back.
void readIntoFreshBlock(const std::string &path, uint64_t offset, uint64_t size)
{
    void *block = ::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (block == MAP_FAILED)
        std::exit(3);
    ::madvise(block, size, MADV_HUGEPAGE);
    int fd = ::open(path.c_str(), O_RDONLY);
    uint64_t done = 0;
    while (done < size) {
        ssize_t got = ::pread(fd, static_cast<char *>(block) + done, size - done, static_cast<off_t>(offset + done));
        if (got <= 0)
            break;
        done += static_cast<uint64_t>(got);
    }
    ::close(fd);
    ::munmap(block, size);
}

void run(const std::string &command)
{
    if (std::system(command.c_str()) != 0)
        std::fprintf(stderr, "bench: '%s' failed\n", command.c_str());
}

struct Row {
    std::string job;
    double seconds;
    std::string reference;
    double referenceSeconds;
};

std::vector<Row> rows;

void report(const std::string &job, double seconds, const std::string &reference, double referenceSeconds)
{
    rows.push_back(Row{job, seconds, reference, referenceSeconds});
    std::printf("  %-52s %9.2f ms   %-36s %9.2f ms   %6.2fx\n", job.c_str(), seconds * 1e3, reference.c_str(),
                referenceSeconds * 1e3, seconds / referenceSeconds);
    std::fflush(stdout);
}

void benchListing(ArchiveFormat format, size_t count)
{
    const char *name = format == ArchiveFormat::Uk ? "UK" : "ARC";
    ArchiveLayout layout;
    std::string path = makeArchive(format, count, 16, std::string("list-") + name + ".bin", layout);
    std::string tar = makeTar(count, 16, std::string("list-") + std::to_string(count) + ".tar");
    selectArchive(path);
    size_t records = format == ArchiveFormat::Uk ? count + 1 : (count / 1024 + 1) * 1024;
    size_t listBytes = records * sizeof(fileInfo);
    double plug, limit;
    secondsOfBoth([&] { listOnce(path); }, [&] { physicalListing(path, layout.directory.size(), listBytes); }, 31,
                  plug, limit);
    double peer = secondsOf([&] { run("bsdtar -tf '" + tar + "' > /dev/null"); }, 5);
    std::string job = std::string("list ") + std::to_string(count) + "-member " + name;
    report(job, plug, "read directory + fill list block", limit);
    report(job, plug, "bsdtar -tf, tar of the same members", peer);

    std::string last = "m" + std::to_string(count - 1) + ".bin";
    double lookup, readDirectory;
    secondsOfBoth(
        [&] {
            fileInfo info;
            if (plugin.getFileInfo(path.c_str(), 0, last.c_str(), 0, &info) != 0)
                std::exit(3);
        },
        [&] { physicalListing(path, layout.directory.size(), 0); }, 15, lookup, readDirectory);
    report(std::string("GetFileInfo of the last ") + name + " member", lookup, "read directory", readDirectory);
}

void benchExtractAll(ArchiveFormat format, size_t count, uint64_t memberSize)
{
    const char *name = format == ArchiveFormat::Uk ? "UK" : "ARC";
    ArchiveLayout layout;
    std::string path = makeArchive(format, count, memberSize, std::string("extract-") + name + ".bin", layout);
    selectArchive(path);
    double plug, cat;
    secondsOfBoth(
        [&] {
            HLOCAL list = nullptr;
            if (plugin.getArchiveInfo(path.c_str(), 0, 0, &list) != 0)
                std::exit(3);
            std::vector<fileInfo> entries = readEntryList(plugin, list);
            freeBlock(plugin, list);
            for (const fileInfo &e : entries) {
                HLOCAL block = nullptr;
                if (plugin.getFile(path.c_str(), static_cast<ArgOffset>(e.position), reinterpret_cast<char *>(&block),
                                   0x100, nullptr, 0) != 0)
                    std::exit(3);
                freeBlock(plugin, block);
            }
        },
        [&] { run("cat '" + path + "' > /dev/null"); }, 9, plug, cat);
    report(std::string("extract all ") + std::to_string(count) + " " + name + " members (" +
               std::to_string(memberSize / 1024) + " KiB), host order",
           plug, "cat of the whole archive", cat);
}

void benchOneLargeMember()
{
    const uint64_t size = 512ull << 20;
    ArchiveLayout layout;
    std::string path = makeArchive(ArchiveFormat::Uk, 1, size, "large-UK.bin", layout);
    selectArchive(path);
    fileInfo info;
    plugin.getFileInfo(path.c_str(), 0, "m0.bin", 0, &info);
    auto extract = [&] {
        HLOCAL block = nullptr;
        if (plugin.getFile(path.c_str(), static_cast<ArgOffset>(info.position), reinterpret_cast<char *>(&block), 0x100,
                           nullptr, 0) != 0)
            std::exit(3);
        freeBlock(plugin, block);
    };
    double plug, cat;
    secondsOfBoth(extract, [&] { run("cat '" + path + "' > /dev/null"); }, 7, plug, cat);
    report("extract one 512 MiB member", plug, "cat of the same bytes to /dev/null", cat);
    // The floor for a block the host owns: what it costs over cat is the system's.
    double again, fresh;
    secondsOfBoth(extract, [&] { readIntoFreshBlock(path, info.position, size); }, 7, again, fresh);
    report("extract one 512 MiB member", again, "read into a fresh block of its size", fresh);
}

} // namespace

int main(int argc, char **argv)
{
    std::string module = argc > 1 ? argv[1] : "build/bench/tessik01.so";
    if (argc > 2)
        workDir = argv[2];
    run("mkdir -p '" + workDir + "'");
    std::string error = loadPlugin(module, plugin);
    if (!error.empty()) {
        std::fprintf(stderr, "bench: %s\n", error.c_str());
        return 2;
    }
    localMemory.alloc = reinterpret_cast<decltype(localMemory.alloc)>(dlsym(plugin.library, "LocalAlloc"));
    localMemory.lock = reinterpret_cast<decltype(localMemory.lock)>(dlsym(plugin.library, "LocalLock"));
    localMemory.unlock = reinterpret_cast<decltype(localMemory.unlock)>(dlsym(plugin.library, "LocalUnlock"));
    localMemory.release = reinterpret_cast<decltype(localMemory.release)>(dlsym(plugin.library, "LocalFree"));
    if (!localMemory.alloc || !localMemory.lock || !localMemory.unlock || !localMemory.release) {
        std::fprintf(stderr, "bench: %s does not export its local memory calls\n", module.c_str());
        return 2;
    }
    std::printf("tessik benchmarks: %s, best of several runs, files in %s\n", module.c_str(), workDir.c_str());
    std::printf("  %-52s %12s   %-36s %12s   %7s\n", "job", "time", "reference", "time", "ratio");
    benchListing(ArchiveFormat::Uk, 65535);
    benchListing(ArchiveFormat::Arc, 100000);
    benchExtractAll(ArchiveFormat::Uk, 10000, 32 * 1024);
    benchExtractAll(ArchiveFormat::Arc, 10000, 32 * 1024);
    benchOneLargeMember();
    return 0;
}
