// Starting points for the fuzz targets: small archives of both formats, intact and
// damaged, made by the one archive writer. Written out as the seed corpus, and replayed
// by the regression test so that it always has inputs to run.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

struct FuzzSeed {
    std::string name;
    std::vector<uint8_t> bytes;
};

std::vector<FuzzSeed> makeFuzzSeeds();
