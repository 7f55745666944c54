#include "tools/cli/output_files.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <sys/stat.h>

#if defined(_WIN32)
#include <direct.h>
#include <io.h>
#else
#include <unistd.h>
#endif

namespace {

std::string systemReason() { return std::strerror(errno); }

} // namespace

PathKind pathKind(const std::string &path)
{
#if defined(_WIN32)
    // The 64-bit call: the plain one fails on files of 2 GiB and more in 32-bit programs.
    struct _stat64 info;
    if (::_stat64(path.c_str(), &info) != 0)
        return PathKind::Missing;
#else
    struct stat info;
    if (::stat(path.c_str(), &info) != 0)
        return PathKind::Missing;
#endif
    if (S_ISDIR(info.st_mode))
        return PathKind::Folder;
    return S_ISREG(info.st_mode) ? PathKind::File : PathKind::Other;
}

std::string makeFolder(const std::string &path)
{
#if defined(_WIN32)
    int made = ::_mkdir(path.c_str());
#else
    int made = ::mkdir(path.c_str(), 0777);
#endif
    if (made == 0)
        return "";
    std::string reason = systemReason();
    PathKind kind = pathKind(path);
    if (kind == PathKind::Folder)
        return "";
    if (kind != PathKind::Missing)
        return "a file of that name is in the way";
    return reason;
}

std::string writeWholeFile(const std::string &path, const uint8_t *bytes, size_t size)
{
    std::FILE *file = std::fopen(path.c_str(), "wb");
    if (!file)
        return systemReason();
    bool written = size == 0 || std::fwrite(bytes, 1, size, file) == size;
    std::string reason = written ? "" : systemReason();
    if (std::fclose(file) != 0 && written)
        reason = systemReason();
    return reason;
}

int64_t readFileHead(const std::string &path, uint8_t *bytes, size_t size, std::string &why)
{
    std::FILE *file = std::fopen(path.c_str(), "rb");
    if (!file) {
        why = systemReason();
        return -1;
    }
    size_t got = std::fread(bytes, 1, size, file);
    bool failed = std::ferror(file) != 0;
    if (failed)
        why = systemReason();
    std::fclose(file);
    return failed ? -1 : static_cast<int64_t>(got);
}

bool stderrIsTerminal()
{
#if defined(_WIN32)
    return ::_isatty(::_fileno(stderr)) != 0;
#else
    return ::isatty(::fileno(stderr)) != 0;
#endif
}
