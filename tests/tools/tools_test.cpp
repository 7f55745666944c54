// The two command-line tools, run as a user runs them: tessik-pack writes archives,
// tessik lists and extracts them through the built plug-in, and what comes out must be
// the bytes that went in. Also the names and limits each tool must refuse.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <vector>

#include "tools/archive_writer.h"
#include "tools/cli/member_names.h"

namespace fs = std::filesystem;

namespace {

typedef std::vector<uint8_t> Bytes;

const std::string kCli = TESSIK_CLI_PATH;
const std::string kPack = TESSIK_PACK_PATH;
const std::string kModule = TESSIK_MODULE_PATH;

struct Outcome {
    int code = -1;
    std::string out, err;
};

std::string quote(const std::string &arg)
{
    std::string quoted = "'";
    for (char c : arg)
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

std::string readText(const fs::path &path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

Bytes readBytes(const fs::path &path)
{
    std::string text = readText(path);
    return Bytes(text.begin(), text.end());
}

void writeBytes(const fs::path &path, const Bytes &bytes)
{
    fs::create_directories(path.parent_path());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char *>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

Bytes pattern(size_t size, uint8_t seed)
{
    Bytes data(size);
    for (size_t i = 0; i < size; ++i)
        data[i] = static_cast<uint8_t>(seed + i * 13 + (i >> 8));
    return data;
}

Bytes textBytes(const std::string &text) { return Bytes(text.begin(), text.end()); }

// Every file below root, by its path relative to root.
std::vector<std::string> filesBelow(const fs::path &root)
{
    std::vector<std::string> files;
    if (!fs::exists(root))
        return files;
    for (const fs::directory_entry &e : fs::recursive_directory_iterator(root))
        if (e.is_regular_file())
            files.push_back(e.path().lexically_relative(root).generic_string());
    std::sort(files.begin(), files.end());
    return files;
}

class ToolsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        char pattern[] = "/tmp/tessik-tools-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir = pattern;
    }
    void TearDown() override { fs::remove_all(dir); }

    // Runs a program with the work folder as current folder.
    Outcome run(const std::string &program, const std::vector<std::string> &args)
    {
        std::string command = "cd " + quote(dir.string()) + " && " + quote(program);
        for (const std::string &a : args)
            command += " " + quote(a);
        fs::path out = dir / ".stdout", err = dir / ".stderr";
        command += " >" + quote(out.string()) + " 2>" + quote(err.string()) + " </dev/null";
        Outcome result;
        int status = std::system(command.c_str());
        result.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        result.out = readText(out);
        result.err = readText(err);
        fs::remove(out);
        fs::remove(err);
        return result;
    }
    Outcome cli(const std::vector<std::string> &args) { return run(kCli, args); }
    Outcome pack(const std::vector<std::string> &args)
    {
        std::vector<std::string> full = {"pack"};
        full.insert(full.end(), args.begin(), args.end());
        return run(kPack, full);
    }

    fs::path dir;
};

struct SampleFile {
    std::string name;
    Bytes data;
};

// Names within the UK format's 15 bytes; an empty file sorts before a full one, which
// would share its position if stored in name order.
std::vector<SampleFile> sampleFiles()
{
    return {
        {"a.txt", textBytes("hello from a packed file\n")},
        {"sub/b.bin", pattern(70000, 5)},
        {"sub/deep/empty", {}},
        {"sub/deep/full", pattern(4097, 9)},
        {"z.dat", pattern(1, 200)},
    };
}

} // namespace

// ---- round trip -------------------------------------------------------------------------

TEST_F(ToolsTest, PackListExtractGivesBackTheSameBytes)
{
    std::vector<SampleFile> files = sampleFiles();
    for (const SampleFile &f : files)
        writeBytes(dir / "src" / f.name, f.data);
    Bytes loose = textBytes("a file named on its own\n");
    writeBytes(dir / "loose.txt", loose);
    uint64_t total = loose.size();
    for (const SampleFile &f : files)
        total += f.data.size();

    for (std::string format : {"uk", "arc"}) {
        SCOPED_TRACE(format);
        std::string archive = "sample." + format;
        Outcome packed = pack({"--format", format, "-o", archive, "src", "loose.txt"});
        ASSERT_EQ(packed.code, 0) << packed.err;
        EXPECT_FALSE(fs::exists(dir / (archive + ".part")));

        Outcome list = cli({"list", kModule, archive});
        ASSERT_EQ(list.code, 0) << list.err;
        for (const SampleFile &f : files)
            EXPECT_NE(list.out.find("  " + f.name + "\n"), std::string::npos) << f.name << " in\n" << list.out;
        EXPECT_NE(list.out.find("6 members, " + std::to_string(total) + " bytes\n"), std::string::npos) << list.out;

        Outcome extract = cli({"extract", kModule, archive, "-o", "out-" + format});
        ASSERT_EQ(extract.code, 0) << extract.err;
        fs::path out = dir / ("out-" + format);
        std::vector<std::string> expected = {"loose.txt"};
        for (const SampleFile &f : files) {
            EXPECT_EQ(readBytes(out / f.name), f.data) << f.name;
            expected.push_back(f.name);
        }
        std::sort(expected.begin(), expected.end());
        EXPECT_EQ(filesBelow(out), expected);
        EXPECT_EQ(readBytes(out / "loose.txt"), loose);
    }
}

TEST_F(ToolsTest, ExtractChosenMembersIntoTheDefaultFolder)
{
    for (const SampleFile &f : sampleFiles())
        writeBytes(dir / "src" / f.name, f.data);
    ASSERT_EQ(pack({"--format", "arc", "-o", "game.arc", "src"}).code, 0);
    Outcome extract = cli({"extract", kModule, "game.arc", "sub/deep/full", "z.dat"});
    ASSERT_EQ(extract.code, 0) << extract.err;
    EXPECT_EQ(filesBelow(dir / "game"), (std::vector<std::string>{"sub/deep/full", "z.dat"}));
    EXPECT_EQ(readBytes(dir / "game/sub/deep/full"), pattern(4097, 9));

    // A name that is not there is reported; what is there still comes out.
    Outcome partly = cli({"extract", kModule, "game.arc", "-o", "partly", "A.TXT", "a.txt"});
    EXPECT_EQ(partly.code, 6);
    EXPECT_NE(partly.err.find("no member named \"A.TXT\""), std::string::npos) << partly.err;
    EXPECT_EQ(filesBelow(dir / "partly"), std::vector<std::string>{"a.txt"});
}

// An archive made elsewhere, with an empty member stored before a full one at the same
// position: a position alone names both.
TEST_F(ToolsTest, ExtractTellsApartMembersThatShareAPosition)
{
    for (ArchiveFormat format : {ArchiveFormat::Uk, ArchiveFormat::Arc}) {
        std::vector<MemberBytes> members = {{"empty", {}}, {"full", textBytes("full member")}, {"last", {}}};
        writeBytes(dir / "shared.bin", buildArchive(format, members));
        Outcome extract = cli({"extract", kModule, "shared.bin", "-o", "shared"});
        EXPECT_EQ(extract.code, 0) << extract.err;
        EXPECT_EQ(readBytes(dir / "shared/full"), textBytes("full member"));
        EXPECT_EQ(fs::file_size(dir / "shared/empty"), 0u);
        fs::remove_all(dir / "shared");
    }
}

// ---- names that would leave the output folder ---------------------------------------------

TEST(MemberNames, SplitsSafeNamesAndRefusesTheRest)
{
    struct Row {
        const char *name;
        const char *folders; // joined with '|'; null: refused
        const char *file;
    };
    const Row rows[] = {
        {"plain.txt", "", "plain.txt"},
        {"a/b/c.txt", "a|b", "c.txt"},
        {"win\\style\\c.txt", "win|style", "c.txt"},
        {"./a//b/./c", "a|b", "c"},
        {"..name", "", "..name"},
        {"a..b/c", "a..b", "c"},
        {"..", nullptr, nullptr},
        {"../up", nullptr, nullptr},
        {"a/../../up", nullptr, nullptr},
        {"a\\..\\..\\up", nullptr, nullptr},
        {"a/.../up", nullptr, nullptr},
        {"a/. ./up", nullptr, nullptr},
        {"/etc/passwd", nullptr, nullptr},
        {"\\\\server\\share\\x", nullptr, nullptr},
        {"C:\\x", nullptr, nullptr},
        {"c:x", nullptr, nullptr},
        {"a/b:stream", nullptr, nullptr},
        {"", nullptr, nullptr},
        {"folder/", nullptr, nullptr},
        {"folder/.", nullptr, nullptr},
    };
    for (const Row &r : rows) {
        MemberPath path;
        std::string problem = splitMemberName(r.name, path);
        if (!r.folders) {
            EXPECT_FALSE(problem.empty()) << r.name;
            continue;
        }
        ASSERT_TRUE(problem.empty()) << r.name << ": " << problem;
        std::string joined;
        for (const std::string &f : path.folders)
            joined += (joined.empty() ? "" : "|") + f;
        EXPECT_EQ(joined, r.folders) << r.name;
        EXPECT_EQ(path.file, r.file) << r.name;
    }
}

TEST_F(ToolsTest, ExtractRefusesUnsafeNamesAndGoesOnWithTheRest)
{
    std::string absolute = (dir / "absolute.txt").string();
    std::vector<std::string> unsafe = {"../escape1.txt", "in/../../escape2.txt", "..\\escape3.txt",
                                       absolute,         "\\rooted.txt",          "C:drive.txt",
                                       "in/. ./escape4.txt"};
    // Control bytes are a legal name on POSIX, but must not reach the terminal.
    std::vector<std::string> safe = {"safe/inner.txt", "back\\slash.txt", "./dot/file.txt", "clear\x1b[2J"};
    std::vector<MemberBytes> members;
    for (size_t i = 0; i < unsafe.size(); ++i)
        members.push_back({unsafe[i], pattern(10 + i, 1)});
    for (size_t i = 0; i < safe.size(); ++i)
        members.push_back({safe[i], pattern(100 + i, 2)});
    Bytes archive = buildArchive(ArchiveFormat::Arc, members);
    ASSERT_FALSE(archive.empty());
    writeBytes(dir / "evil.arc", archive);
    fs::create_directories(dir / "work/out");

    // From inside "work", so that a name climbing one or two folders up would land in dir.
    Outcome extract = run("/bin/sh", {"-c", "cd work && " + quote(kCli) + " extract " + quote(kModule) +
                                        " ../evil.arc -o out"});
    EXPECT_EQ(extract.code, 6);
    for (const std::string &name : unsafe)
        EXPECT_NE(extract.err.find("member \"" + name + "\""), std::string::npos) << name << " in\n" << extract.err;
    EXPECT_EQ(filesBelow(dir / "work/out"),
              (std::vector<std::string>{"back/slash.txt", "clear\x1b[2J", "dot/file.txt", "safe/inner.txt"}));
    EXPECT_EQ(extract.out.find('\x1b'), std::string::npos);
    EXPECT_NE(extract.out.find("clear?[2J"), std::string::npos) << extract.out;
    EXPECT_EQ(readBytes(dir / "work/out/back/slash.txt"), pattern(101, 2));
    // Nothing outside the output folder: only what the test itself put there.
    std::vector<std::string> outside;
    for (const std::string &file : filesBelow(dir))
        if (file.compare(0, 9, "work/out/") != 0)
            outside.push_back(file);
    EXPECT_EQ(outside, std::vector<std::string>{"evil.arc"});
    EXPECT_FALSE(fs::exists(absolute));
    EXPECT_FALSE(fs::exists(dir.parent_path() / "escape2.txt"));
}

// ---- what the formats cannot hold ---------------------------------------------------------

TEST_F(ToolsTest, PackRefusesWhatTheFormatCannotHold)
{
    struct Row {
        const char *format;
        std::string file;
        uint64_t size;
        const char *message;
    };
    const Row rows[] = {
        {"uk", "sixteen-bytes.tx", 1, "allows at most 15"},
        {"arc", std::string(199, 'n'), 1, "allows at most 198"},
        // Sparse files: the size is refused before a byte is read.
        {"arc", "big", 0x7FFFFFFFull, "0x7FFFFFFE"},
        {"uk", "big", 0x100000000ull, "4 GiB"},
    };
    writeBytes(dir / "old.arc", textBytes("the archive of an earlier run"));
    for (const Row &r : rows) {
        SCOPED_TRACE(r.file.substr(0, 20));
        fs::remove_all(dir / "in");
        fs::create_directories(dir / "in");
        std::ofstream(dir / "in" / r.file).put('x');
        fs::resize_file(dir / "in" / r.file, r.size);
        Outcome packed = pack({"--format", r.format, "-o", "old.arc", "in"});
        EXPECT_EQ(packed.code, 3);
        EXPECT_NE(packed.err.find(r.message), std::string::npos) << packed.err;
        EXPECT_NE(packed.err.find("Nothing was written"), std::string::npos) << packed.err;
        EXPECT_EQ(readText(dir / "old.arc"), "the archive of an earlier run");
        EXPECT_FALSE(fs::exists(dir / "old.arc.part"));
    }
    // A name too long for "UK" fits "ARC ", and the message says so.
    fs::remove_all(dir / "in");
    writeBytes(dir / "in/sixteen-bytes.tx", textBytes("x"));
    EXPECT_NE(pack({"--format", "uk", "-o", "x.uk", "in"}).err.find("use --format arc"), std::string::npos);
}

TEST(PackLimits, AtMost65535Members)
{
    for (ArchiveFormat format : {ArchiveFormat::Uk, ArchiveFormat::Arc}) {
        std::vector<ArchiveMember> members(65535, ArchiveMember{"m", 1});
        ArchiveLayout layout;
        EXPECT_EQ(planArchive(format, members, layout), "");
        members.push_back(ArchiveMember{"m", 1});
        std::string problem = planArchive(format, members, layout);
        EXPECT_NE(problem.find("at most 65535 members, not 65536"), std::string::npos) << problem;
    }
}

// ---- errors of both tools -----------------------------------------------------------------

TEST_F(ToolsTest, ErrorsSayWhatWentWrongWithTheDocumentedCode)
{
    writeBytes(dir / "junk.txt", textBytes("neither a UK nor an ARC archive"));
    writeBytes(dir / "src/one.txt", textBytes("1"));
    writeBytes(dir / "other/one.txt", textBytes("2"));
    fs::create_directories(dir / "empty");
    ASSERT_EQ(pack({"--format", "arc", "-o", "ok.arc", "src"}).code, 0);
    struct Row {
        bool packer;
        std::vector<std::string> args;
        int code;
        const char *message;
    };
    const Row rows[] = {
        {false, {"list", kModule, "missing.arc"}, 3, "the archive missing.arc does not exist"},
        {false, {"list", kModule, "src"}, 3, "src is a folder, not an archive"},
        {false, {"list", kModule, "junk.txt"}, 4, "junk.txt is not an archive of a kind the plug-in"},
        {false, {"extract", kModule, "junk.txt"}, 4, "is not an archive of a kind"},
        {false, {"list", "missing.so", "ok.arc"}, 2, "the plug-in missing.so does not exist"},
        {false, {"list", "junk.txt", "ok.arc"}, 2, "cannot load the plug-in junk.txt"},
        {false, {"info", "missing.so"}, 2, "does not exist"},
        {false, {"frob"}, 1, "there is no command \"frob\""},
        {false, {}, 1, "no command given"},
        {false, {"list", kModule}, 1, "list takes two arguments"},
        {false, {"extract", kModule, "ok.arc", "-o"}, 1, "-o needs a folder"},
        {false, {"extract", kModule, "ok.arc", "-x"}, 1, "extract has no option -x"},
        {false, {"extract", kModule, "ok.arc", "-o", "junk.txt"}, 6, "cannot create the output folder junk.txt"},
        {true, {"--format", "zip", "-o", "x", "src"}, 1, "there is no format \"zip\""},
        {true, {"-o", "x", "src"}, 1, "choose the format"},
        {true, {"--format", "uk", "src"}, 1, "name the archive to write"},
        {true, {"--format", "uk", "-o", "x"}, 1, "name the files or folders"},
        {true, {"--format", "uk", "-o", "x", "missing.txt"}, 2, "the input missing.txt does not exist"},
        {true, {"--format", "uk", "-o", "x", "empty"}, 2, "there is nothing to pack"},
        {true, {"--format", "uk", "-o", "x", "src", "other"}, 2, "two members would be named \"one.txt\""},
        {true, {"--format", "uk", "-o", "no/such/folder/x", "src"}, 4, "cannot create no/such/folder/x.part"},
    };
    for (const Row &r : rows) {
        std::string shown;
        for (const std::string &a : r.args)
            shown += " " + a;
        SCOPED_TRACE((r.packer ? "tessik-pack pack" : "tessik") + shown);
        Outcome result = r.packer ? pack(r.args) : cli(r.args);
        EXPECT_EQ(result.code, r.code) << result.err;
        EXPECT_NE(result.err.find(r.message), std::string::npos) << result.err;
        // A message is a sentence, and says what to do.
        EXPECT_EQ(result.err.back(), '\n');
        EXPECT_EQ(result.err[result.err.size() - 2], '.') << result.err;
    }
    EXPECT_FALSE(fs::exists(dir / "x"));
}

TEST_F(ToolsTest, HelpAndInfo)
{
    Outcome help = cli({"--help"});
    EXPECT_EQ(help.code, 0);
    for (const char *line : {"tessik info PLUGIN", "tessik list PLUGIN ARCHIVE",
                             "tessik extract PLUGIN ARCHIVE [-o DIR] [MEMBER...]", "Exit codes:", "\n  6  "})
        EXPECT_NE(help.out.find(line), std::string::npos) << line;
    Outcome packHelp = run(kPack, {"--help"});
    EXPECT_EQ(packHelp.code, 0);
    EXPECT_NE(packHelp.out.find("Exit codes:"), std::string::npos);

    Outcome info = cli({"info", kModule});
    EXPECT_EQ(info.code, 0) << info.err;
    EXPECT_NE(info.out.find("  0  interface  00AM\n"), std::string::npos) << info.out;
    EXPECT_NE(info.out.find("  1  about      Tessik-01 - "), std::string::npos) << info.out;
    EXPECT_NE(info.out.find("  4  extension  arc\n  5  file type  Starfold\n"), std::string::npos) << info.out;
}
