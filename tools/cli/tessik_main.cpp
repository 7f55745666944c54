// tessik: a command-line host for Susie archive plug-ins. It loads a plug-in and drives it
// the way image viewers do (IsSupported on the file's first 2048 bytes, GetArchiveInfo,
// then GetFile by each member's position into memory), so what it shows is what a real
// host would get. The plug-in stays loaded until the program ends, as in most hosts: a
// plug-in may keep its current archive handler until then and never free it at unload.
#include <chrono>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "tools/cli/member_names.h"
#include "tools/cli/output_files.h"
#include "tools/cli/result_codes.h"
#include "tools/plugin_host.h"

namespace {

enum ExitCode {
    kExitOk = 0,
    kExitUsage = 1,
    kExitPlugin = 2,
    kExitArchive = 3,
    kExitNotAccepted = 4,
    kExitListFailed = 5,
    kExitIncomplete = 6,
};

const char kHelp[] =
    "Usage:\n"
    "  tessik info PLUGIN\n"
    "  tessik list PLUGIN ARCHIVE\n"
    "  tessik extract PLUGIN ARCHIVE [-o DIR] [MEMBER...]\n"
    "  tessik --help\n"
    "\n"
    "Loads a Susie archive plug-in (here %s) and uses it as an image viewer does.\n"
    "\n"
    "  info     shows the plug-in's info texts, numbered.\n"
    "  list     shows each member's position, size and name, then the total.\n"
    "  extract  writes the members, or only the MEMBERs named, into DIR (default: a\n"
    "           folder named after the archive, in the current folder). Names with '/'\n"
    "           or '\\' go into subfolders. Names that would lead outside DIR ('..'\n"
    "           parts, absolute paths, drive letters, colons) are skipped with a message\n"
    "           and the other members go on. Existing files are replaced.\n"
    "\n"
    "Exit codes:\n"
    "  0  done\n"
    "  1  the command line is wrong\n"
    "  2  the plug-in cannot be loaded, or it is not an archive plug-in\n"
    "  3  the archive is missing or cannot be read\n"
    "  4  the plug-in does not recognise the archive\n"
    "  5  the plug-in could not list the archive (its result code is shown)\n"
    "  6  extract: not every member was written (skipped names, members not found,\n"
    "     plug-in or write errors; each is reported)\n";

void report(const std::string &message)
{
    std::fflush(stdout);
    std::fprintf(stderr, "tessik: %s\n", message.c_str());
}

int fail(int code, const std::string &message)
{
    report(message);
    return code;
}

int usageError(const std::string &message)
{
    return fail(kExitUsage, message + " Run 'tessik --help' for the commands.");
}

// The member's name as a host shows it: the plug-in may split it into a folder part and a
// file part. Both fields are bounded, whatever the plug-in wrote into them.
std::string memberName(const fileInfo &info)
{
    return std::string(info.path, strnlen(info.path, sizeof info.path)) +
           std::string(info.filename, strnlen(info.filename, sizeof info.filename));
}

// Names come from the archive: control bytes in them must not reach the terminal.
std::string printable(std::string text)
{
    for (char &c : text)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F)
            c = '?';
    return text;
}

std::string padLeft(const std::string &text, size_t width)
{
    return text.size() >= width ? text : std::string(width - text.size(), ' ') + text;
}

std::string countOf(uint64_t count, const char *thing)
{
    return std::to_string(count) + " " + thing + (count == 1 ? "" : "s");
}

// ---- the plug-in and the archive ---------------------------------------------------------

int openPlugin(const std::string &path, PluginModule &module)
{
    std::string example = std::string("such as ") + defaultModuleName();
    PathKind kind = pathKind(path);
    if (kind == PathKind::Missing)
        return fail(kExitPlugin, "the plug-in " + path + " does not exist. Give the path of an archive plug-in, " +
                                     example + ".");
    if (kind == PathKind::Folder)
        return fail(kExitPlugin, path + " is a folder, not a plug-in. Give the path of the plug-in file, " + example +
                                     ".");
    std::string error = loadPlugin(path, module);
    if (!error.empty())
        return fail(kExitPlugin, error + ". Give an archive plug-in built for this system, " + example + ".");
    return kExitOk;
}

// Archive plug-ins report "00AM" as info text 0; image plug-ins report "00IN".
int checkArchivePlugin(const PluginModule &module, const std::string &path)
{
    char version[64] = {};
    module.getPluginInfo(0, version, sizeof version);
    version[sizeof version - 1] = 0;
    if (std::strcmp(version, "00AM") == 0)
        return kExitOk;
    return fail(kExitPlugin, path + " reports the interface \"" + version +
                                 "\", not \"00AM\": it is not an archive plug-in. Give the path of an archive "
                                 "plug-in.");
}

// The host's copy of the file's first 2048 bytes, zero-padded, as IsSupported expects.
int readHead(const std::string &archive, std::vector<uint8_t> &head)
{
    PathKind kind = pathKind(archive);
    if (kind == PathKind::Missing)
        return fail(kExitArchive, "the archive " + archive + " does not exist. Check the file name.");
    if (kind == PathKind::Folder)
        return fail(kExitArchive, archive + " is a folder, not an archive. Give the path of an archive file.");
    head.assign(2048, 0);
    std::string why;
    if (readFileHead(archive, head.data(), head.size(), why) < 0)
        return fail(kExitArchive, "cannot read the archive " + archive + ": " + why + ". Check that it is readable.");
    return kExitOk;
}

int acceptArchive(const PluginModule &module, const std::string &plugin, const std::string &archive)
{
    std::vector<uint8_t> head;
    int code = readHead(archive, head);
    if (code != kExitOk)
        return code;
    if (module.isSupported(archive.c_str(), reinterpret_cast<ArgHandleOrAddress>(head.data())) != 0)
        return kExitOk;
    return fail(kExitNotAccepted, archive + " is not an archive of a kind the plug-in " + plugin +
                                      " knows. Run 'tessik info " + plugin + "' to see the kinds it reads.");
}

int readMembers(const PluginModule &module, const std::string &archive, std::vector<fileInfo> &entries)
{
    HLOCAL list = nullptr;
    int32_t result = module.getArchiveInfo(archive.c_str(), 0, 0, &list);
    if (result != 0)
        return fail(kExitListFailed, "the plug-in could not list " + archive + ": it returned " +
                                         describeResult(result) + ". " + adviceForResult(result));
    if (list) {
        entries = readEntryList(module, list);
        freeBlock(module, list);
    }
    return kExitOk;
}

// Loads the plug-in, has it accept the archive and list it: what list and extract share.
int openArchive(const std::string &plugin, const std::string &archive, PluginModule &module,
                std::vector<fileInfo> &entries)
{
    int code = openPlugin(plugin, module);
    if (code == kExitOk)
        code = checkArchivePlugin(module, plugin);
    if (code == kExitOk)
        code = acceptArchive(module, plugin, archive);
    if (code == kExitOk)
        code = readMembers(module, archive, entries);
    return code;
}

// ---- info and list -----------------------------------------------------------------------

const char *infoLabel(int32_t number)
{
    if (number == 0)
        return "interface";
    if (number == 1)
        return "about";
    return number % 2 == 0 ? "extension" : "file type";
}

int runInfo(const std::string &plugin)
{
    PluginModule module;
    int code = openPlugin(plugin, module);
    if (code != kExitOk)
        return code;
    int32_t number = 0;
    for (;; ++number) {
        char text[1024] = {};
        if (module.getPluginInfo(number, text, sizeof text) <= 0)
            break;
        text[sizeof text - 1] = 0;
        std::printf("%3d  %-10s %s\n", static_cast<int>(number), infoLabel(number), text);
    }
    if (number == 0)
        return fail(kExitPlugin, plugin + " answers no info text, not even its interface version. Give the path "
                                          "of a Susie plug-in.");
    return kExitOk;
}

int runList(const std::string &plugin, const std::string &archive)
{
    PluginModule module;
    std::vector<fileInfo> entries;
    int code = openArchive(plugin, archive, module, entries);
    if (code != kExitOk)
        return code;
    std::printf("  Position        Size  Name\n");
    uint64_t total = 0;
    for (const fileInfo &info : entries) {
        std::printf("%s  %s  %s\n", padLeft(std::to_string(info.position), 10).c_str(),
                    padLeft(std::to_string(info.filesize), 10).c_str(), printable(memberName(info)).c_str());
        total += info.filesize;
    }
    std::printf("%s, %s\n", countOf(entries.size(), "member").c_str(), countOf(total, "byte").c_str());
    return kExitOk;
}

// ---- extract -----------------------------------------------------------------------------

// A line on standard error, redrawn in place, once an extraction has run long enough for
// a user to wonder, or before a member large enough to take a while.
class ProgressLine {
public:
    typedef std::chrono::steady_clock Clock;
    explicit ProgressLine(bool enabled) : enabled_(enabled), start_(Clock::now()), last_(start_) {}

    void show(size_t index, size_t count, uint64_t doneBytes, uint64_t totalBytes, const std::string &name,
              uint64_t memberSize)
    {
        if (!enabled_)
            return;
        Clock::time_point now = Clock::now();
        bool large = memberSize >= kLargeMember;
        if (!large && (now - start_ < std::chrono::milliseconds(500) ||
                       (shown_ > 0 && now - last_ < std::chrono::milliseconds(100))))
            return;
        unsigned percent = totalBytes ? static_cast<unsigned>(doneBytes * 100 / totalBytes) : 0;
        std::string text = "extracting " + std::to_string(index + 1) + " of " + std::to_string(count) + " (" +
                           std::to_string(percent) + "% of the bytes): " + name;
        if (text.size() > 78)
            text = text.substr(0, 75) + "...";
        draw(text);
        last_ = now;
    }

    void clear()
    {
        if (shown_ > 0)
            draw("");
        shown_ = 0;
    }

private:
    static constexpr uint64_t kLargeMember = 16u << 20;

    void draw(const std::string &text)
    {
        std::fflush(stdout);
        size_t pad = shown_ > text.size() ? shown_ - text.size() : 0;
        std::fprintf(stderr, "\r%s%s", text.c_str(), std::string(pad, ' ').c_str());
        if (text.empty())
            std::fputc('\r', stderr);
        std::fflush(stderr);
        shown_ = text.size();
    }

    bool enabled_;
    size_t shown_ = 0;
    Clock::time_point start_, last_;
};

struct ExtractJob {
    PluginModule module;
    std::string plugin, archive, outDir;
    std::vector<std::string> wanted; // empty: every member
    std::vector<bool> wantedFound;
    std::map<uint64_t, size_t> membersAt; // how many listed members lie at each position
};

std::string defaultOutputFolder(const std::string &archive)
{
    size_t slash = archive.find_last_of("/\\");
    std::string base = slash == std::string::npos ? archive : archive.substr(slash + 1);
    size_t dot = base.rfind('.');
    // Without an extension the folder would take the archive's own name.
    return dot != std::string::npos && dot > 0 ? base.substr(0, dot) : base + "-files";
}

bool isWanted(ExtractJob &job, const std::string &name)
{
    if (job.wanted.empty())
        return true;
    bool wanted = false;
    for (size_t i = 0; i < job.wanted.size(); ++i)
        if (job.wanted[i] == name) {
            job.wantedFound[i] = true;
            wanted = true;
        }
    return wanted;
}

std::string writeMember(const std::string &outDir, const MemberPath &path, const uint8_t *bytes, size_t size)
{
    std::string at = outDir;
    for (const std::string &folder : path.folders) {
        at += "/" + folder;
        std::string problem = makeFolder(at);
        if (!problem.empty())
            return "cannot create the folder " + at + ": " + problem;
    }
    at += "/" + path.file;
    std::string problem = writeWholeFile(at, bytes, size);
    return problem.empty() ? "" : "cannot write " + at + ": " + problem;
}

// Has the plug-in extract one member by its position, writes it and frees the block.
// Empty on success, else the end of a sentence that begins with the member's name.
std::string extractOne(const ExtractJob &job, const fileInfo &info, const MemberPath &path)
{
    // A position alone cannot tell apart members that share it (an empty member and the
    // one after it): looking the name up first tells the plug-in which one is meant.
    if (job.membersAt.at(info.position) > 1) {
        fileInfo found;
        job.module.getFileInfo(job.archive.c_str(), 0, memberName(info).c_str(), 0, &found);
    }
    HLOCAL block = nullptr;
    int32_t result = job.module.getFile(job.archive.c_str(), static_cast<ArgOffset>(info.position),
                                        reinterpret_cast<char *>(&block), 0x100, nullptr, 0);
    if (result != 0)
        return "the plug-in could not extract it: it returned " + describeResult(result) + ". " +
               adviceForResult(result);
    if (!block)
        return "the plug-in reported success but handed over no data. Try another plug-in for this archive.";
    size_t size = static_cast<size_t>(info.filesize);
    size_t got = blockSize(job.module, block);
    // An empty member needs no bytes, and some plug-ins hand over a block that cannot be locked.
    const uint8_t *bytes = got >= size && size > 0 ? lockBlock(job.module, block) : nullptr;
    if (size > 0 && !bytes) {
        freeBlock(job.module, block);
        if (got >= size)
            return "the block the plug-in handed over cannot be locked. Try another plug-in for this archive.";
        return "the plug-in handed over " + countOf(got, "byte") + " for a member of " + countOf(size, "byte") +
               ". Try another plug-in for this archive.";
    }
    std::string problem = writeMember(job.outDir, path, bytes, size);
    if (bytes)
        unlockBlock(job.module, block);
    freeBlock(job.module, block);
    return problem.empty() ? "" : problem + ". Check that the output folder can be written and has room.";
}

int extractAll(ExtractJob &job, const std::vector<fileInfo> &entries)
{
    std::vector<size_t> chosen;
    uint64_t totalBytes = 0;
    for (size_t i = 0; i < entries.size(); ++i) {
        ++job.membersAt[entries[i].position];
        if (isWanted(job, memberName(entries[i]))) {
            chosen.push_back(i);
            totalBytes += entries[i].filesize;
        }
    }
    ProgressLine progress(stderrIsTerminal());
    size_t written = 0, problems = 0;
    uint64_t doneBytes = 0;
    for (size_t n = 0; n < chosen.size(); ++n) {
        const fileInfo &info = entries[chosen[n]];
        std::string name = memberName(info);
        progress.show(n, chosen.size(), doneBytes, totalBytes, printable(name), info.filesize);
        MemberPath path;
        std::string problem = splitMemberName(name, path);
        if (!problem.empty())
            problem += "; it was skipped so that nothing is written outside " + job.outDir + ".";
        else
            problem = extractOne(job, info, path);
        progress.clear();
        if (problem.empty()) {
            std::printf("  %s (%s)\n", printable(name).c_str(), countOf(info.filesize, "byte").c_str());
            ++written;
        } else {
            report("member \"" + printable(name) + "\": " + problem);
            ++problems;
        }
        doneBytes += info.filesize;
    }
    for (size_t i = 0; i < job.wanted.size(); ++i)
        if (!job.wantedFound[i]) {
            report("the archive holds no member named \"" + printable(job.wanted[i]) + "\". Run 'tessik list " +
                   job.plugin + " " + job.archive + "' for the names; they must match exactly, letter case included.");
            ++problems;
        }
    std::printf("Extracted %s of %s into %s.\n", std::to_string(written).c_str(),
                countOf(chosen.size(), "member").c_str(), job.outDir.c_str());
    if (problems == 0)
        return kExitOk;
    return fail(kExitIncomplete, countOf(problems, "problem") + " (see above): not everything was extracted.");
}

int runExtract(ExtractJob &job)
{
    std::vector<fileInfo> entries;
    int code = openArchive(job.plugin, job.archive, job.module, entries);
    if (code != kExitOk)
        return code;
    if (job.outDir.empty())
        job.outDir = defaultOutputFolder(job.archive);
    std::string problem = makeFolder(job.outDir);
    if (!problem.empty())
        code = fail(kExitIncomplete, "cannot create the output folder " + job.outDir + ": " + problem +
                                         ". Choose another folder with -o DIR.");
    else
        code = extractAll(job, entries);
    return code;
}

// extract PLUGIN ARCHIVE [-o DIR] [MEMBER...], the option anywhere after the command;
// after "--" every argument is a member name.
int parseExtract(int argc, char **argv, ExtractJob &job)
{
    std::vector<std::string> positional;
    bool optionsEnd = false;
    for (int i = 2; i < argc; ++i) {
        std::string arg = argv[i];
        if (!optionsEnd && arg == "--") {
            optionsEnd = true;
        } else if (!optionsEnd && (arg == "-o" || arg == "--output")) {
            if (i + 1 >= argc)
                return usageError(arg + " needs a folder after it.");
            job.outDir = argv[++i];
        } else if (!optionsEnd && arg.size() > 1 && arg[0] == '-') {
            return usageError("extract has no option " + arg + ".");
        } else {
            positional.push_back(arg);
        }
    }
    if (positional.size() < 2)
        return usageError("extract needs a plug-in and an archive.");
    job.plugin = positional[0];
    job.archive = positional[1];
    job.wanted.assign(positional.begin() + 2, positional.end());
    job.wantedFound.assign(job.wanted.size(), false);
    return kExitOk;
}

int printHelp()
{
    std::printf(kHelp, defaultModuleName());
    return kExitOk;
}

} // namespace

int main(int argc, char **argv)
{
    for (int i = 1; i < argc; ++i)
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0)
            return printHelp();
    if (argc < 2)
        return usageError("no command given.");
    std::string command = argv[1];
    if (command == "help")
        return printHelp();
    if (command == "info") {
        if (argc != 3)
            return usageError("info takes one argument, the plug-in.");
        return runInfo(argv[2]);
    }
    if (command == "list") {
        if (argc != 4)
            return usageError("list takes two arguments, the plug-in and the archive.");
        return runList(argv[2], argv[3]);
    }
    if (command == "extract") {
        ExtractJob job;
        int code = parseExtract(argc, argv, job);
        return code == kExitOk ? runExtract(job) : code;
    }
    return usageError("there is no command \"" + command + "\".");
}
