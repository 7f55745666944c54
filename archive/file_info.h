// The member record of the host interface. Field widths follow the host's word size
// (platform/abi.h); the order and packing are the interface's and never change.
#pragma once
#include <cstddef>
#include <cstdint>

#include "platform/abi.h"

#pragma pack(push, 1)
struct fileInfo {
    uint8_t method[8];  // "a": stored, no compression
    InfoWord position;  // offset of the member's data in the archive file
    InfoWord compsize;  // equals filesize
    InfoWord filesize;
    InfoWord timestamp; // always 0: neither format stores one
    char path[200];     // always empty: names are never split into folder and file
    char filename[200];
    uint32_t crc;       // always 0
#if TESSIK_INFO_PADDING
    uint8_t padding[TESSIK_INFO_PADDING];
#endif
};
#pragma pack(pop)

static_assert(sizeof(InfoWord) == 4 ? sizeof(fileInfo) == 428 : sizeof(fileInfo) == 448,
              "fileInfo must have the host interface's size");
static_assert(offsetof(fileInfo, filename) == 8 + 4 * sizeof(InfoWord) + 200, "fileInfo layout");

// Writes the fields both formats fill the same way; name bytes are the format's affair.
// Bytes the interface leaves unwritten (method[2..7], path[1..]) keep what they held.
inline void fillStoredMember(fileInfo &info, uint32_t position, uint32_t size)
{
    info.method[0] = 'a';
    info.method[1] = 0;
    info.position = position;
    info.compsize = size;
    info.filesize = size;
    info.timestamp = 0;
    info.path[0] = 0;
    info.crc = 0;
}
