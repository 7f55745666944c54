// tessik-pack: writes "UK" table archives and "ARC " directory archives from files and
// folders, refusing what a format cannot hold before anything is written.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "tools/pack/packer.h"

namespace {

enum ExitCode {
    kExitOk = 0,
    kExitUsage = 1,
    kExitInput = 2,
    kExitFormatLimit = 3,
    kExitWrite = 4,
};

const char kHelp[] =
    "Usage:\n"
    "  tessik-pack pack --format uk|arc -o OUT FILE_OR_FOLDER...\n"
    "  tessik-pack --help\n"
    "\n"
    "Writes the files into one uncompressed archive OUT. A file becomes a member named\n"
    "after the file; a folder is walked recursively and its files are named by their\n"
    "path below it, with '/' between folders. Empty files are stored last: hosts\n"
    "extract by position, and an empty member shares its position with the next.\n"
    "\n"
    "  --format uk   \"UK\" table archive: at most 65535 members, names of at most\n"
    "                15 bytes, positions and sizes below 4 GiB.\n"
    "  --format arc  \"ARC \" directory archive (.arc): at most 65535 members, names of\n"
    "                at most 198 bytes, positions and sizes up to 0x7FFFFFFE.\n"
    "  -o OUT        the archive to write; an existing file is replaced only once the\n"
    "                new archive is complete.\n"
    "\n"
    "Exit codes:\n"
    "  0  done\n"
    "  1  the command line is wrong\n"
    "  2  an input is missing, unreadable, or gives a member name twice\n"
    "  3  the format cannot hold the files (count, name length or size); nothing written\n"
    "  4  the archive could not be written, or an input changed while it was read\n";

int fail(int code, const std::string &message)
{
    std::fflush(stdout);
    std::fprintf(stderr, "tessik-pack: %s\n", message.c_str());
    return code;
}

int usageError(const std::string &message)
{
    return fail(kExitUsage, message + " Run 'tessik-pack --help' for the usage.");
}

struct PackCommand {
    std::string format, out;
    std::vector<std::string> inputs;
};

// Takes the value of an option given as "--name VALUE" or "--name=VALUE".
bool takeValue(const std::string &arg, const char *name, int &i, int argc, char **argv, std::string &value,
               bool &missing)
{
    std::string prefix = std::string(name) + "=";
    if (arg.compare(0, prefix.size(), prefix) == 0) {
        value = arg.substr(prefix.size());
        return true;
    }
    if (arg != name)
        return false;
    missing = i + 1 >= argc;
    if (!missing)
        value = argv[++i];
    return true;
}

int parsePack(int argc, char **argv, PackCommand &command)
{
    bool optionsEnd = false;
    for (int i = 2; i < argc; ++i) {
        std::string arg = argv[i];
        bool missing = false;
        if (optionsEnd || arg == "-" || arg.empty() || arg[0] != '-')
            command.inputs.push_back(arg);
        else if (arg == "--")
            optionsEnd = true;
        else if (takeValue(arg, "--format", i, argc, argv, command.format, missing) ||
                 takeValue(arg, "-f", i, argc, argv, command.format, missing) ||
                 takeValue(arg, "--output", i, argc, argv, command.out, missing) ||
                 takeValue(arg, "-o", i, argc, argv, command.out, missing)) {
            if (missing)
                return usageError(arg + " needs a value after it.");
        } else
            return usageError("pack has no option " + arg + ".");
    }
    if (command.format.empty())
        return usageError("choose the format with --format uk or --format arc.");
    if (command.format != "uk" && command.format != "arc")
        return usageError("there is no format \"" + command.format + "\": use --format uk or --format arc.");
    if (command.out.empty())
        return usageError("name the archive to write with -o OUT.");
    if (command.inputs.empty())
        return usageError("name the files or folders to pack.");
    return kExitOk;
}

// What to do when the chosen format cannot hold the files: the other format may.
std::string limitAdvice(ArchiveFormat format, const std::vector<PackSource> &sources)
{
    ArchiveLayout unused;
    if (format == ArchiveFormat::Uk && planPack(ArchiveFormat::Arc, sources, unused).empty())
        return "The ARC format can hold these files: use --format arc.";
    return "Leave out or rename what the message names, or spread the files over several archives.";
}

int runPack(const PackCommand &command)
{
    ArchiveFormat format = command.format == "uk" ? ArchiveFormat::Uk : ArchiveFormat::Arc;
    const char *formatName = format == ArchiveFormat::Uk ? "UK" : "ARC";
    const char *article = format == ArchiveFormat::Uk ? "a" : "an";
    std::vector<PackSource> sources;
    std::vector<std::string> notes;
    std::string problem = collectSources(command.inputs, command.out, sources, notes);
    for (const std::string &note : notes)
        std::printf("note: %s\n", note.c_str());
    if (!problem.empty())
        return fail(kExitInput, "cannot pack " + command.out + ": " + problem);
    ArchiveLayout layout;
    problem = planPack(format, sources, layout);
    if (!problem.empty())
        return fail(kExitFormatLimit, "cannot pack " + command.out + " in the " + formatName + " format: " + problem +
                                          ". " + limitAdvice(format, sources) + " Nothing was written.");
    problem = writePack(layout, sources, command.out);
    if (!problem.empty())
        return fail(kExitWrite, "cannot pack " + command.out + ": " + problem + " Nothing was written.");
    uint64_t dataBytes = 0;
    for (size_t i = 0; i < sources.size(); ++i) {
        std::printf("  %10s  %s\n", std::to_string(sources[i].size).c_str(), sources[i].name.c_str());
        dataBytes += sources[i].size;
    }
    std::printf("Packed %s member%s (%s bytes of data) into %s, %s %s archive of %s bytes.\n",
                std::to_string(sources.size()).c_str(), sources.size() == 1 ? "" : "s", std::to_string(dataBytes).c_str(), command.out.c_str(), article, formatName,
                std::to_string(layout.totalSize).c_str());
    return kExitOk;
}

} // namespace

int main(int argc, char **argv)
{
    for (int i = 1; i < argc; ++i)
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            std::fputs(kHelp, stdout);
            return kExitOk;
        }
    if (argc < 2)
        return usageError("no command given.");
    if (std::strcmp(argv[1], "pack") != 0)
        return usageError(std::string("there is no command \"") + argv[1] + "\"; the command is pack.");
    PackCommand command;
    int code = parsePack(argc, argv, command);
    return code == kExitOk ? runPack(command) : code;
}
