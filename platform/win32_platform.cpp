// The Windows side of the platform layer: the real calls need no wrapping, only the two
// helpers the rest of the plug-in shares with the POSIX build.
#include "platform/platform.h"

void *allocateObject(size_t bytes) { return LocalAlloc(LMEM_FIXED, bytes); }

void releaseObject(void *object)
{
    if (object)
        LocalFree(object);
}

DWORD moveFilePointerTo(HANDLE file, uint32_t offset)
{
    LONG high = 0;
    return SetFilePointer(file, static_cast<LONG>(offset), &high, FILE_BEGIN);
}
