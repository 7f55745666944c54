// Module entry of the Windows DLL. The DLL links no C runtime, so that it imports nothing
// but KERNEL32 and USER32 and loads in any host: the few runtime pieces the compiler may
// call are defined here.
#include "platform/platform.h"

extern "C" {

// The host calls from one thread and the plug-in keeps no per-thread state, so thread
// notifications are turned off. Nothing else happens at attach or detach.
BOOL WINAPI DllMain(HINSTANCE module, DWORD reason, LPVOID)
{
    if (reason == DLL_PROCESS_ATTACH)
        DisableThreadLibraryCalls(module);
    return TRUE;
}

// The compiler emits calls to these for struct copies and clears. This file is built
// with -fno-builtin so that the loops are not turned back into calls to themselves.
void *memcpy(void *to, const void *from, size_t count)
{
    unsigned char *d = static_cast<unsigned char *>(to);
    const unsigned char *s = static_cast<const unsigned char *>(from);
    while (count--)
        *d++ = *s++;
    return to;
}

void *memmove(void *to, const void *from, size_t count)
{
    unsigned char *d = static_cast<unsigned char *>(to);
    const unsigned char *s = static_cast<const unsigned char *>(from);
    if (d < s) {
        while (count--)
            *d++ = *s++;
    } else {
        while (count--)
            d[count] = s[count];
    }
    return to;
}

void *memset(void *to, int value, size_t count)
{
    unsigned char *d = static_cast<unsigned char *>(to);
    while (count--)
        *d++ = static_cast<unsigned char>(value);
    return to;
}

int memcmp(const void *a, const void *b, size_t count)
{
    const unsigned char *x = static_cast<const unsigned char *>(a);
    const unsigned char *y = static_cast<const unsigned char *>(b);
    for (; count; --count, ++x, ++y)
        if (*x != *y)
            return *x < *y ? -1 : 1;
    return 0;
}

// Reached only through a broken object; ending the process beats running on.
void __cxa_pure_virtual() { ExitProcess(3); }

} // extern "C"
