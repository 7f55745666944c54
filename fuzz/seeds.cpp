#include "fuzz/seeds.h"

#include "tools/archive_writer.h"

namespace {

typedef std::vector<uint8_t> Bytes;

Bytes pattern(size_t size, uint8_t seed)
{
    Bytes data(size);
    for (size_t i = 0; i < size; ++i)
        data[i] = static_cast<uint8_t>(seed + i * 7);
    return data;
}

// A few members: a short one, one that shares its name's first letters, an empty one.
std::vector<MemberBytes> sampleMembers()
{
    return {{"a.txt", pattern(5, 1)}, {"a.txt.bak", pattern(40, 2)}, {"empty", {}}};
}

Bytes cutShort(Bytes bytes, size_t drop)
{
    bytes.resize(bytes.size() > drop ? bytes.size() - drop : 0);
    return bytes;
}

void addUkSeeds(std::vector<FuzzSeed> &seeds)
{
    seeds.push_back({"uk-empty", buildArchive(ArchiveFormat::Uk, {})});
    seeds.push_back({"uk-members", buildArchive(ArchiveFormat::Uk, sampleMembers())});
    seeds.push_back({"uk-longest-name", buildArchive(ArchiveFormat::Uk, {{std::string(kUkMaxName, 'n'), pattern(9, 3)}})});
    seeds.push_back({"uk-same-names", buildArchive(ArchiveFormat::Uk, {{"twin", pattern(3, 4)}, {"twin", pattern(4, 5)}})});
    seeds.push_back({"uk-data-cut-short", cutShort(buildArchive(ArchiveFormat::Uk, sampleMembers()), 20)});

    // A name filling all 16 bytes of its field, and a count larger than the table.
    Bytes full;
    putUkHeader(full, 3);
    putUkEntry(full, "ABCDEFGHIJKLMNOP", 28, 4);
    Bytes tail = pattern(4, 6);
    full.insert(full.end(), tail.begin(), tail.end());
    seeds.push_back({"uk-full-name-field", full});
}

void addArcSeeds(std::vector<FuzzSeed> &seeds)
{
    seeds.push_back({"arc-empty", buildArchive(ArchiveFormat::Arc, {})});
    seeds.push_back({"arc-members", buildArchive(ArchiveFormat::Arc, sampleMembers())});
    seeds.push_back(
        {"arc-longest-name", buildArchive(ArchiveFormat::Arc, {{std::string(kArcMaxName, 'n'), pattern(9, 3)}})});
    seeds.push_back({"arc-same-names", buildArchive(ArchiveFormat::Arc, {{"twin", pattern(3, 4)}, {"twin", pattern(4, 5)}})});
    seeds.push_back({"arc-data-cut-short", cutShort(buildArchive(ArchiveFormat::Arc, sampleMembers()), 20)});

    // A name with an inner zero, then a record whose name lacks its terminator.
    Bytes odd;
    putArcHeader(odd);
    DirRecordFields fields;
    fields.nameLength = 6;
    fields.dataSize = 2;
    fields.dataPosition = 0;
    putDirRecord(odd, fields);
    odd.insert(odd.end(), {'a', 'b', 0, 'c', 'd', 0});
    putDirRecord(odd, fields);
    odd.insert(odd.end(), {'e', 'f', 'g', 'h', 'i', 'j'});
    seeds.push_back({"arc-odd-names", odd});
}

} // namespace

std::vector<FuzzSeed> makeFuzzSeeds()
{
    std::vector<FuzzSeed> seeds;
    addUkSeeds(seeds);
    addArcSeeds(seeds);
    seeds.push_back({"neither-format", Bytes{'n', 'o', 't', ' ', 'a', 'n', ' ', 'a', 'r', 'c', 'h', 'i', 'v', 'e'}});
    return seeds;
}
