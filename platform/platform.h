// The few operating-system calls the plug-in makes, under their Windows names. On Windows
// these are the real calls; elsewhere posix_platform.cpp implements them with the meaning
// the plug-in relies on (see each comment there).
#pragma once
#include <cstddef>
#include <cstdint>

#if defined(_WIN32)
#include <windows.h>
#else
typedef void *HANDLE;
typedef void *HLOCAL;
typedef void *HWND;
typedef void *HINSTANCE;
typedef void *LPVOID;
typedef int BOOL;
typedef uint32_t DWORD;
typedef uint32_t UINT;
typedef int32_t LONG;
typedef const char *LPCSTR;
typedef char *LPSTR;

#define INVALID_HANDLE_VALUE ((HANDLE)(intptr_t)-1)
#define INVALID_SET_FILE_POINTER ((DWORD)0xFFFFFFFF)
#define GENERIC_READ 0x80000000u
#define GENERIC_WRITE 0x40000000u
#define FILE_SHARE_READ 0x00000001u
#define CREATE_ALWAYS 2u
#define OPEN_EXISTING 3u
#define FILE_ATTRIBUTE_NORMAL 0x00000080u
#define FILE_BEGIN 0u
#define FILE_CURRENT 1u
#define FILE_END 2u
#define LMEM_FIXED 0x0000u
#define LMEM_MOVEABLE 0x0002u
#define LMEM_ZEROINIT 0x0040u
#define LMEM_LOCKCOUNT 0x00FFu
#define LMEM_INVALID_HANDLE 0x8000u
#define MB_OK 0x00000000u
#define ERROR_FILE_NOT_FOUND 2u
#define ERROR_INVALID_HANDLE 6u
#define ERROR_NOT_ENOUGH_MEMORY 8u
#define ERROR_NEGATIVE_SEEK 131u

extern "C" {
HANDLE CreateFileA(LPCSTR name, DWORD access, DWORD share, void *security, DWORD disposition,
                   DWORD attributes, HANDLE templateFile);
DWORD SetFilePointer(HANDLE file, LONG distance, LONG *distanceHigh, DWORD method);
BOOL ReadFile(HANDLE file, void *buffer, DWORD count, DWORD *done, void *overlapped);
BOOL WriteFile(HANDLE file, const void *buffer, DWORD count, DWORD *done, void *overlapped);
BOOL CloseHandle(HANDLE object);
DWORD GetLastError(void);

HLOCAL LocalAlloc(UINT flags, size_t bytes);
HLOCAL LocalReAlloc(HLOCAL mem, size_t bytes, UINT flags);
void *LocalLock(HLOCAL mem);
BOOL LocalUnlock(HLOCAL mem);
HLOCAL LocalFree(HLOCAL mem);
size_t LocalSize(HLOCAL mem);
UINT LocalFlags(HLOCAL mem);

int lstrlenA(LPCSTR text);
LPSTR lstrcpyA(LPSTR to, LPCSTR from);
LPSTR lstrcpynA(LPSTR to, LPCSTR from, int room);
int lstrcmpA(LPCSTR a, LPCSTR b);

int MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT style);
}
#endif

// Heap objects (streams, handlers) come from here, never from a throwing operator new:
// creators and factories must answer null when memory runs out.
void *allocateObject(size_t bytes);
void releaseObject(void *object);

// Opens a file for reading at an unsigned 32-bit offset: archives up to 4 GiB keep members
// past 2 GiB, so the offset is never taken as a negative distance.
DWORD moveFilePointerTo(HANDLE file, uint32_t offset);
