// Packs files and folders into a "UK" or "ARC " archive through the shared writer. Member
// data is copied from the files piece by piece, so members may be larger than memory.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "tools/archive_writer.h"

struct PackSource {
    std::string name; // the member's name, '/' between folders
    std::string path; // the file its bytes come from
    uint64_t size = 0;
};

// Each input file becomes a member named after the file; each folder is walked
// recursively, its files named by their path below the folder, in name order. The file
// outPath, should a walk meet it, is left out with a note. Empty on success, else a
// sentence that says what is wrong with the inputs.
std::string collectSources(const std::vector<std::string> &inputs, const std::string &outPath,
                           std::vector<PackSource> &sources, std::vector<std::string> &notes);

// Where everything goes, or why the format cannot hold these members (planArchive's words).
std::string planPack(ArchiveFormat format, const std::vector<PackSource> &sources, ArchiveLayout &layout);

// Writes the archive through a temporary file beside outPath that replaces it at the end,
// so that a failure leaves no partial archive. Empty on success, else a sentence.
std::string writePack(const ArchiveLayout &layout, const std::vector<PackSource> &sources, const std::string &outPath);

// All three steps: what the packer program and the tests that pack through it run.
std::string packArchive(ArchiveFormat format, const std::vector<std::string> &inputs, const std::string &outPath);
