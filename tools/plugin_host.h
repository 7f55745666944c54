// Loading an archive plug-in as a host does, and the calls a host makes on the memory
// blocks it receives. Used by the command-line host and by the tests that load the built
// module through its exports only.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "plugin/exports.h"

struct PluginModule {
    GetPluginInfoFn getPluginInfo = nullptr;
    IsSupportedFn isSupported = nullptr;
    GetArchiveInfoFn getArchiveInfo = nullptr;
    GetFileInfoFn getFileInfo = nullptr;
    GetFileFn getFile = nullptr;
    void *library = nullptr;
};

// Empty on success, else a sentence saying what went wrong.
std::string loadPlugin(const std::string &path, PluginModule &module);
void unloadPlugin(PluginModule &module);

// Blocks the plug-in hands over belong to the host: these lock, measure and free them
// with the module's own memory calls (Windows local memory).
size_t blockSize(const PluginModule &module, HLOCAL block);
const uint8_t *lockBlock(const PluginModule &module, HLOCAL block);
void unlockBlock(const PluginModule &module, HLOCAL block);
void freeBlock(const PluginModule &module, HLOCAL block);
// The lock count of a moveable block (0 when unlocked).
unsigned blockLockCount(const PluginModule &module, HLOCAL block);

// A file handle of the kind IsSupported takes (a descriptor on POSIX), or 0 on failure.
ArgHandleOrAddress openHostFile(const std::string &path);
void closeHostFile(ArgHandleOrAddress handle);
// Moves a host file handle's file pointer; returns the new offset or -1.
int64_t seekHostFile(ArgHandleOrAddress handle, int64_t offset, int whence);

// The entry list as records, up to the terminator; the block stays the caller's.
std::vector<fileInfo> readEntryList(const PluginModule &module, HLOCAL list);
// The module file the build makes for this platform ("tessik01.so", ".spi" or ".sph").
const char *defaultModuleName();
