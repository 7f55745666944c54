#include "tools/pack/packer.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <set>
#include <system_error>

namespace fs = std::filesystem;

namespace {

std::string systemReason() { return std::strerror(errno); }

bool isOutput(const fs::path &file, const std::string &outPath)
{
    std::error_code ec;
    return fs::equivalent(file, fs::path(outPath), ec);
}

std::string addFile(const fs::path &file, const std::string &name, std::vector<PackSource> &sources)
{
    std::error_code ec;
    uint64_t size = fs::file_size(file, ec);
    if (ec)
        return "cannot read the size of " + file.string() + ": " + ec.message() + ".";
    sources.push_back(PackSource{name, file.string(), size});
    return "";
}

std::string addFolder(const fs::path &folder, const std::string &outPath, std::vector<PackSource> &sources,
                      std::vector<std::string> &notes)
{
    std::vector<PackSource> found;
    std::error_code ec;
    for (fs::recursive_directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        const fs::path &path = it->path();
        fs::file_status status = fs::status(path, ec);
        if (ec)
            return "cannot read " + path.string() + ": " + ec.message() + ".";
        if (fs::is_directory(status))
            continue;
        if (!fs::is_regular_file(status))
            return path.string() + " is neither a file nor a folder. Move it out of " + folder.string() +
                   " or pack the files one by one.";
        if (isOutput(path, outPath)) {
            notes.push_back("left out " + path.string() + ": it is the archive being written");
            continue;
        }
        std::string problem = addFile(path, path.lexically_relative(folder).generic_string(), found);
        if (!problem.empty())
            return problem;
    }
    if (ec)
        return "cannot read the folder " + folder.string() + ": " + ec.message() + ".";
    // The walk's order is the file system's; name order makes the same archive every time.
    std::sort(found.begin(), found.end(),
              [](const PackSource &a, const PackSource &b) { return a.name < b.name; });
    sources.insert(sources.end(), found.begin(), found.end());
    return "";
}

std::string addInput(const std::string &input, const std::string &outPath, std::vector<PackSource> &sources,
                     std::vector<std::string> &notes)
{
    fs::path path(input);
    std::error_code ec;
    fs::file_status status = fs::status(path, ec);
    if (!fs::exists(status))
        return "the input " + input + " does not exist. Check the name.";
    if (fs::is_directory(status))
        return addFolder(path, outPath, sources, notes);
    if (!fs::is_regular_file(status))
        return input + " is neither a file nor a folder. Name files or folders to pack.";
    return addFile(path, path.filename().string(), sources);
}

// Both formats could hold two members of one name, but a host looking a name up finds
// only the first, and extracting both writes one file over the other.
std::string findDuplicate(const std::vector<PackSource> &sources)
{
    std::set<std::string> seen;
    for (const PackSource &s : sources)
        if (!seen.insert(s.name).second)
            return "two members would be named \"" + s.name + "\" (the second from " + s.path +
                   "). Rename one, or pack their folders so that the names differ.";
    return "";
}

std::string copyMember(const PackSource &source, std::FILE *out, std::vector<char> &buffer)
{
    std::FILE *in = std::fopen(source.path.c_str(), "rb");
    if (!in)
        return "cannot open " + source.path + ": " + systemReason() + ".";
    uint64_t copied = 0;
    std::string problem;
    while (copied < source.size) {
        size_t want = static_cast<size_t>(std::min<uint64_t>(buffer.size(), source.size - copied));
        size_t got = std::fread(buffer.data(), 1, want, in);
        if (got > 0 && std::fwrite(buffer.data(), 1, got, out) != got) {
            problem = "cannot write the archive: " + systemReason() + ". Check that there is room.";
            break;
        }
        copied += got;
        if (got < want) {
            if (std::ferror(in))
                problem = "cannot read " + source.path + ": " + systemReason() + ".";
            break;
        }
    }
    // The directory already says how long the member is; a file that changed since
    // would shift every member after it.
    bool longer = copied == source.size && std::fgetc(in) != EOF;
    std::fclose(in);
    if (problem.empty() && (copied != source.size || longer))
        problem = source.path + " changed while it was packed (" + std::to_string(source.size) +
                  " bytes expected). Pack again once it stays the same.";
    return problem;
}

std::string copyAll(const ArchiveLayout &layout, const std::vector<PackSource> &sources, std::FILE *out)
{
    if (!layout.directory.empty() &&
        std::fwrite(layout.directory.data(), 1, layout.directory.size(), out) != layout.directory.size())
        return "cannot write the archive: " + systemReason() + ". Check that there is room.";
    std::vector<char> buffer(1u << 20);
    for (const PackSource &source : sources) {
        std::string problem = copyMember(source, out, buffer);
        if (!problem.empty())
            return problem;
    }
    return "";
}

} // namespace

std::string collectSources(const std::vector<std::string> &inputs, const std::string &outPath,
                           std::vector<PackSource> &sources, std::vector<std::string> &notes)
{
    sources.clear();
    try {
        for (const std::string &input : inputs) {
            std::string problem = addInput(input, outPath, sources, notes);
            if (!problem.empty())
                return problem;
        }
    } catch (const std::exception &e) {
        // Names the system cannot give as 8-bit text end up here on Windows.
        return std::string("cannot read the inputs: ") + e.what() + ".";
    }
    // An empty member lies at the position of the member after it, and hosts extract by
    // position: stored last, empty members share only the archive's end with each other.
    std::stable_partition(sources.begin(), sources.end(), [](const PackSource &s) { return s.size > 0; });
    if (sources.empty())
        return "there is nothing to pack: the inputs hold no files. Name files or folders that hold some.";
    return findDuplicate(sources);
}

std::string planPack(ArchiveFormat format, const std::vector<PackSource> &sources, ArchiveLayout &layout)
{
    std::vector<ArchiveMember> members;
    members.reserve(sources.size());
    for (const PackSource &s : sources)
        members.push_back(ArchiveMember{s.name, s.size});
    return planArchive(format, members, layout);
}

std::string writePack(const ArchiveLayout &layout, const std::vector<PackSource> &sources, const std::string &outPath)
{
    std::string partPath = outPath + ".part";
    std::FILE *out = std::fopen(partPath.c_str(), "wb");
    if (!out)
        return "cannot create " + partPath + ": " + systemReason() + ". Check that the folder exists and can be written.";
    std::string problem = copyAll(layout, sources, out);
    if (std::fclose(out) != 0 && problem.empty())
        problem = "cannot write the archive: " + systemReason() + ". Check that there is room.";
    std::error_code ec;
    if (problem.empty()) {
        fs::rename(partPath, outPath, ec);
        if (ec)
            problem = "cannot move " + partPath + " to " + outPath + ": " + ec.message() + ".";
    }
    if (!problem.empty())
        fs::remove(partPath, ec);
    return problem;
}

std::string packArchive(ArchiveFormat format, const std::vector<std::string> &inputs, const std::string &outPath)
{
    std::vector<PackSource> sources;
    std::vector<std::string> notes;
    std::string problem = collectSources(inputs, outPath, sources, notes);
    ArchiveLayout layout;
    if (problem.empty()) {
        problem = planPack(format, sources, layout);
        if (!problem.empty())
            problem = "the format cannot hold these files: " + problem + ".";
    }
    if (problem.empty())
        problem = writePack(layout, sources, outPath);
    return problem;
}
