#include "tests/host/host_files.h"

#include <cstdio>
#include <filesystem>
#include <system_error>

#if defined(_WIN32)
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace fs = std::filesystem;

std::string makeWorkDir()
{
    std::error_code ec;
    fs::path base = fs::temp_directory_path(ec);
    if (ec)
        base = ".";
    for (unsigned i = 0;; ++i) {
        fs::path dir = base / ("tessik-host-" + std::to_string(i));
        if (fs::create_directory(dir, ec))
            return dir.generic_string();
    }
}

void removeWorkDir(const std::string &dir)
{
    std::error_code ec;
    fs::remove_all(dir, ec);
}

void removeFile(const std::string &path)
{
    std::error_code ec;
    fs::remove(path, ec);
}

std::string moduleBesideProgram(const char *argv0, const char *moduleName)
{
    fs::path program(argv0);
    return (program.parent_path() / moduleName).string();
}

#if defined(_WIN32)
bool writeSparseFile(const std::string &path, const std::vector<uint8_t> &head, uint64_t tailOffset,
                     const std::vector<uint8_t> &tail, std::string &why)
{
    HANDLE h = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        why = "cannot create " + path;
        return false;
    }
    DWORD done = 0, unused = 0;
    // Marked sparse where the file system knows the flag; Wine maps the hole to the
    // host's file system either way.
    DeviceIoControl(h, FSCTL_SET_SPARSE, nullptr, 0, nullptr, 0, &unused, nullptr);
    bool ok = WriteFile(h, head.data(), static_cast<DWORD>(head.size()), &done, nullptr) != 0;
    LARGE_INTEGER at;
    at.QuadPart = static_cast<LONGLONG>(tailOffset);
    ok = ok && SetFilePointerEx(h, at, nullptr, FILE_BEGIN);
    ok = ok && WriteFile(h, tail.data(), static_cast<DWORD>(tail.size()), &done, nullptr) != 0;
    CloseHandle(h);
    if (!ok)
        why = "the file system refused a file of " + std::to_string(tailOffset + tail.size()) + " bytes";
    return ok;
}
#else
bool writeSparseFile(const std::string &path, const std::vector<uint8_t> &head, uint64_t tailOffset,
                     const std::vector<uint8_t> &tail, std::string &why)
{
    int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        why = "cannot create " + path;
        return false;
    }
    bool ok = ::pwrite(fd, head.data(), head.size(), 0) == static_cast<ssize_t>(head.size()) &&
              ::pwrite(fd, tail.data(), tail.size(), static_cast<off_t>(tailOffset)) ==
                  static_cast<ssize_t>(tail.size());
    struct stat info;
    // A file system without holes would have spent the whole length on disk.
    bool sparse = ok && ::fstat(fd, &info) == 0 && static_cast<uint64_t>(info.st_blocks) * 512 < tailOffset / 2;
    ::close(fd);
    if (!sparse) {
        ::unlink(path.c_str());
        why = ok ? "the file system under " + path + " cannot make sparse files"
                 : "cannot write a file of " + std::to_string(tailOffset + tail.size()) + " bytes";
        return false;
    }
    return true;
}
#endif
