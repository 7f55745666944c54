// Replays every input kept under tests/regression/<target>/ through the driver of that
// fuzz target, then the seed corpus through both drivers, in a normal (unsanitized or
// ASan) build. A driver aborts when the module breaks a promise, which fails the test.
//
// Usage: fuzz_replay REGRESSION_FOLDER
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "fuzz/drivers.h"
#include "fuzz/seeds.h"

namespace {

namespace fs = std::filesystem;

struct Target {
    const char *name;
    void (*drive)(const uint8_t *, size_t);
};

const Target kTargets[] = {{"fuzz_memory", driveMemoryImage}, {"fuzz_file", driveFile}};

std::vector<uint8_t> readWhole(const fs::path &path)
{
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

int replayFolder(const Target &target, const fs::path &folder)
{
    if (!fs::is_directory(folder))
        return 0;
    std::vector<fs::path> files;
    for (const fs::directory_entry &entry : fs::directory_iterator(folder))
        if (entry.is_regular_file())
            files.push_back(entry.path());
    std::sort(files.begin(), files.end());
    for (const fs::path &file : files) {
        std::printf("%s %s\n", target.name, file.filename().c_str());
        std::fflush(stdout);
        std::vector<uint8_t> bytes = readWhole(file);
        target.drive(bytes.data(), bytes.size());
    }
    return static_cast<int>(files.size());
}

} // namespace

int main(int argc, char **argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: fuzz_replay REGRESSION_FOLDER\n");
        return 2;
    }
    int regressions = 0;
    for (const Target &target : kTargets)
        regressions += replayFolder(target, fs::path(argv[1]) / target.name);
    std::vector<FuzzSeed> seeds = makeFuzzSeeds();
    for (const FuzzSeed &seed : seeds)
        for (const Target &target : kTargets)
            target.drive(seed.bytes.data(), seed.bytes.size());
    std::printf("replayed %d regression inputs and %zu seeds through both drivers\n", regressions, seeds.size());
    return 0;
}
