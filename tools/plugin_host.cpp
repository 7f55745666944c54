#include "tools/plugin_host.h"

#include <cstring>

#if defined(_WIN32)
#include <windows.h>
#else
#include <dlfcn.h>
#include <fcntl.h>
#include <unistd.h>
#endif

namespace {

#if defined(_WIN32)
typedef HLOCAL(WINAPI *LocalFreeFn)(HLOCAL);
void *findSymbol(void *library, const char *name)
{
    return reinterpret_cast<void *>(GetProcAddress(static_cast<HMODULE>(library), name));
}
#else
void *findSymbol(void *library, const char *name) { return dlsym(library, name); }

// On POSIX the blocks come from the module's own implementation of local memory, so the
// host must free them with the module's functions.
struct MemoryCalls {
    void *(*lock)(HLOCAL) = nullptr;
    int (*unlock)(HLOCAL) = nullptr;
    HLOCAL (*release)(HLOCAL) = nullptr;
    size_t (*size)(HLOCAL) = nullptr;
    unsigned (*flags)(HLOCAL) = nullptr;
};
MemoryCalls memoryCalls;
#endif

template <class Fn> bool resolve(void *library, const char *name, Fn &target, std::string &missing)
{
    target = reinterpret_cast<Fn>(findSymbol(library, name));
    if (!target)
        missing += missing.empty() ? name : std::string(", ") + name;
    return target != nullptr;
}

} // namespace

std::string loadPlugin(const std::string &path, PluginModule &module)
{
#if defined(_WIN32)
    HMODULE library = LoadLibraryA(path.c_str());
    if (!library)
        return "cannot load the plug-in " + path + " (Windows error " + std::to_string(GetLastError()) + ")";
#else
    // A bare name would be searched for on the library path; we mean the file.
    std::string file = path.find('/') == std::string::npos ? "./" + path : path;
    void *library = dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!library)
        return "cannot load the plug-in " + path + ": " + dlerror();
#endif
    module.library = library;
    std::string missing;
    resolve(library, "GetPluginInfo", module.getPluginInfo, missing);
    resolve(library, "IsSupported", module.isSupported, missing);
    resolve(library, "GetArchiveInfo", module.getArchiveInfo, missing);
    resolve(library, "GetFileInfo", module.getFileInfo, missing);
    resolve(library, "GetFile", module.getFile, missing);
#if !defined(_WIN32)
    resolve(library, "LocalLock", memoryCalls.lock, missing);
    resolve(library, "LocalUnlock", memoryCalls.unlock, missing);
    resolve(library, "LocalFree", memoryCalls.release, missing);
    resolve(library, "LocalSize", memoryCalls.size, missing);
    resolve(library, "LocalFlags", memoryCalls.flags, missing);
#endif
    if (!missing.empty()) {
        unloadPlugin(module);
        return path + " is not an archive plug-in: it lacks " + missing;
    }
    return "";
}

void unloadPlugin(PluginModule &module)
{
    if (!module.library)
        return;
#if defined(_WIN32)
    FreeLibrary(static_cast<HMODULE>(module.library));
#else
    dlclose(module.library);
#endif
    module = PluginModule{};
}

#if defined(_WIN32)
size_t blockSize(const PluginModule &, HLOCAL block) { return LocalSize(block); }
const uint8_t *lockBlock(const PluginModule &, HLOCAL block) { return static_cast<const uint8_t *>(LocalLock(block)); }
void unlockBlock(const PluginModule &, HLOCAL block) { LocalUnlock(block); }
void freeBlock(const PluginModule &, HLOCAL block) { LocalFree(block); }
unsigned blockLockCount(const PluginModule &, HLOCAL block) { return LocalFlags(block) & LMEM_LOCKCOUNT; }

ArgHandleOrAddress openHostFile(const std::string &path)
{
    HANDLE h = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    return h == INVALID_HANDLE_VALUE ? 0 : reinterpret_cast<ArgHandleOrAddress>(h);
}
void closeHostFile(ArgHandleOrAddress handle) { CloseHandle(reinterpret_cast<HANDLE>(handle)); }
int64_t seekHostFile(ArgHandleOrAddress handle, int64_t offset, int whence)
{
    LARGE_INTEGER move, now;
    move.QuadPart = offset;
    if (!SetFilePointerEx(reinterpret_cast<HANDLE>(handle), move, &now, static_cast<DWORD>(whence)))
        return -1;
    return now.QuadPart;
}
const char *defaultModuleName() { return sizeof(void *) == 8 ? "tessik01.sph" : "tessik01.spi"; }
#else
size_t blockSize(const PluginModule &, HLOCAL block) { return memoryCalls.size(block); }
const uint8_t *lockBlock(const PluginModule &, HLOCAL block)
{
    return static_cast<const uint8_t *>(memoryCalls.lock(block));
}
void unlockBlock(const PluginModule &, HLOCAL block) { memoryCalls.unlock(block); }
void freeBlock(const PluginModule &, HLOCAL block) { memoryCalls.release(block); }
unsigned blockLockCount(const PluginModule &, HLOCAL block) { return memoryCalls.flags(block) & 0xFFu; }

ArgHandleOrAddress openHostFile(const std::string &path)
{
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    return fd < 0 ? 0 : static_cast<ArgHandleOrAddress>(fd);
}
void closeHostFile(ArgHandleOrAddress handle) { ::close(static_cast<int>(handle)); }
int64_t seekHostFile(ArgHandleOrAddress handle, int64_t offset, int whence)
{
    return ::lseek(static_cast<int>(handle), static_cast<off_t>(offset), whence);
}
const char *defaultModuleName() { return "tessik01.so"; }
#endif

std::vector<fileInfo> readEntryList(const PluginModule &module, HLOCAL list)
{
    std::vector<fileInfo> entries;
    size_t records = blockSize(module, list) / sizeof(fileInfo);
    const uint8_t *bytes = lockBlock(module, list);
    if (!bytes)
        return entries;
    for (size_t i = 0; i < records; ++i) {
        fileInfo info;
        std::memcpy(&info, bytes + i * sizeof(fileInfo), sizeof info);
        if (info.method[0] == 0)
            break;
        entries.push_back(info);
    }
    unlockBlock(module, list);
    return entries;
}
