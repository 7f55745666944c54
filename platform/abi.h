// Widths of the host interface. The 32-bit interface passes every argument and every
// fileInfo word as 32 bits; 64-bit hosts pass offsets and callback data pointer-sized
// and expect 64-bit words in fileInfo. This is the one place that chooses between them.
#pragma once
#include <cstdint>

#if defined(_WIN32)
#define TESSIK_CALL __stdcall
#define TESSIK_EXPORT
#else
#define TESSIK_CALL
#define TESSIK_EXPORT __attribute__((visibility("default")))
#endif

#if defined(_WIN64)
typedef intptr_t ArgOffset;   // offset in the file, or size of a memory image
typedef uint64_t InfoWord;    // position, compsize, filesize, timestamp in fileInfo
#define TESSIK_INFO_PADDING 4 // 64-bit hosts' record ends with 4 bytes of padding
#else
typedef int32_t ArgOffset;
typedef uint32_t InfoWord;
#define TESSIK_INFO_PADDING 0
#endif

typedef uintptr_t ArgHandleOrAddress; // IsSupported: a file handle (<= 0xFFFF) or an address
typedef intptr_t ArgCallbackData;
