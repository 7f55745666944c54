// The five functions a host calls, and their signatures as function-pointer types for
// hosts that load the module at run time.
#pragma once
#include <cstdint>

#include "archive/file_info.h"
#include "platform/abi.h"
#include "platform/platform.h"

// Result codes of the archive exports.
enum : int32_t {
    kResultSuccess = 0,
    kResultNoSuchMember = 1, // the interface's "cancelled": no member of that name
    kResultNoMemory = 4,     // also: no handler, bad input type, no stream
    kResultNotImplemented = -1,
};

// Flag word of the archive exports.
constexpr uint32_t kInputTypeMask = 0x3;   // 0 file name, 1 memory image
constexpr uint32_t kOutputTypeMask = 0x300; // GetFile: 0 disk file, 1 memory
constexpr uint32_t kOutputTypeShift = 8;

extern "C" {
TESSIK_EXPORT int32_t TESSIK_CALL GetPluginInfo(int32_t infono, char *buf, int32_t buflen);
TESSIK_EXPORT int32_t TESSIK_CALL IsSupported(const char *filename, ArgHandleOrAddress dw);
TESSIK_EXPORT int32_t TESSIK_CALL GetArchiveInfo(const char *buf, ArgOffset len, uint32_t flag, HLOCAL *lphInf);
TESSIK_EXPORT int32_t TESSIK_CALL GetFileInfo(const char *buf, ArgOffset len, const char *filename, uint32_t flag,
                                              fileInfo *lpInfo);
TESSIK_EXPORT int32_t TESSIK_CALL GetFile(const char *src, ArgOffset len, char *dest, uint32_t flag,
                                          void *progressCallback, ArgCallbackData lData);
}

typedef int32_t(TESSIK_CALL *GetPluginInfoFn)(int32_t, char *, int32_t);
typedef int32_t(TESSIK_CALL *IsSupportedFn)(const char *, ArgHandleOrAddress);
typedef int32_t(TESSIK_CALL *GetArchiveInfoFn)(const char *, ArgOffset, uint32_t, HLOCAL *);
typedef int32_t(TESSIK_CALL *GetFileInfoFn)(const char *, ArgOffset, const char *, uint32_t, fileInfo *);
typedef int32_t(TESSIK_CALL *GetFileFn)(const char *, ArgOffset, char *, uint32_t, void *, ArgCallbackData);
