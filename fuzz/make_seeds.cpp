// Writes the seed corpus of the fuzz targets into a folder: fuzz_seeds FOLDER
#include <cstdio>
#include <fstream>

#include "fuzz/seeds.h"

int main(int argc, char **argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: fuzz_seeds FOLDER\n");
        return 2;
    }
    for (const FuzzSeed &seed : makeFuzzSeeds()) {
        std::ofstream out(std::string(argv[1]) + "/" + seed.name, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char *>(seed.bytes.data()), static_cast<std::streamsize>(seed.bytes.size()));
        if (!out) {
            std::fprintf(stderr, "fuzz_seeds: cannot write %s/%s\n", argv[1], seed.name.c_str());
            return 1;
        }
    }
    return 0;
}
