// The five exports. Each archive export wraps the host's input in a fresh stream, hands
// it to the current handler, destroys the stream and returns the handler's answer.
#include "plugin/exports.h"

#include "archive/archive_handler.h"
#include "plugin/format_table.h"
#include "stream/byte_stream.h"

namespace {

const char kInterfaceVersion[] = "00AM";
const char kAboutLine[] = "Tessik-01 - UK/ARC archive plug-in (c) 2026 the tessik developers";

// Chosen by IsSupported alone and kept until the next IsSupported; never destroyed at
// unload. The host calls from one thread at a time, so it is not guarded.
ArchiveHandler *currentHandler = nullptr;

const char *pluginInfoText(int32_t infono)
{
    if (infono == 0)
        return kInterfaceVersion;
    if (infono == 1)
        return kAboutLine;
    const FormatEntry &row = formatTable[(infono - 2) / 2];
    return infono % 2 == 0 ? row.extension : row.description;
}

// The shared first steps of the archive exports: a handler, a known input type, a stream.
int32_t openInput(const char *source, ArgOffset offsetOrSize, uint32_t flag, ByteStream *&stream)
{
    if (!currentHandler)
        return kResultNoMemory;
    switch (flag & kInputTypeMask) {
    case 0:
        // Offsets are unsigned 32-bit file offsets: members between 2 and 4 GiB stay reachable.
        stream = openFileStream(source, static_cast<uint32_t>(offsetOrSize));
        break;
    case 1:
        stream = wrapMemory(source, static_cast<int32_t>(offsetOrSize));
        break;
    default:
        return kResultNoMemory;
    }
    return stream ? kResultSuccess : kResultNoMemory;
}

// Hosts extract by the position they took from the entry list and rarely ask
// GetFileInfo first, so the member is chosen by that position when the remembered
// entry lies elsewhere; the directory is read from the start of the file, and the lookup
// may hand over its stream standing at the member's data (data), which spares opening
// the file twice. False when the archive could not be opened again to look: the call
// then fails as one whose input cannot be opened, rather than hand over whichever member
// was remembered.
bool rememberMemberAt(const char *archive, uint32_t position, ByteStream *&data)
{
    return currentHandler->remembersEntryAt(position) ||
           currentHandler->findEntryAt(position, archive, &data) != kResultNoMemory;
}

} // namespace

extern "C" {

TESSIK_EXPORT int32_t TESSIK_CALL GetPluginInfo(int32_t infono, char *buf, int32_t buflen)
{
    if (infono < 0 || infono > 1 + 2 * kFormatCount)
        return 0;
    // No room even for the terminating zero: the buffer is neither written nor read.
    if (buflen < 1)
        return 0;
    lstrcpynA(buf, pluginInfoText(infono), buflen);
    return lstrlenA(buf) + 1;
}

TESSIK_EXPORT int32_t TESSIK_CALL IsSupported(const char *filename, ArgHandleOrAddress dw)
{
    // Values that fit in 16 bits are file handles; anything larger is the address of the
    // host's copy of the file's first 2048 bytes.
    ByteStream *stream = dw <= 0xFFFF ? wrapFileHandle(reinterpret_cast<HANDLE>(dw))
                                      : wrapMemory(reinterpret_cast<const void *>(dw), 2048);
    if (!stream)
        return 0;
    int32_t start = stream->seek(0, kFromCurrent);
    int32_t result = 0;
    for (const FormatEntry &row : formatTable) {
        if (currentHandler) {
            currentHandler->destroy();
            currentHandler = nullptr;
        }
        currentHandler = row.factory();
        if (!currentHandler)
            break;
        result = currentHandler->probe(filename, stream);
        if (result)
            break;
        // Every format probes from the same place.
        stream->seek(start, kFromStart);
    }
    stream->destroy();
    return result;
}

TESSIK_EXPORT int32_t TESSIK_CALL GetArchiveInfo(const char *buf, ArgOffset len, uint32_t flag, HLOCAL *lphInf)
{
    ByteStream *stream = nullptr;
    int32_t result = openInput(buf, len, flag, stream);
    if (result != kResultSuccess)
        return result;
    result = currentHandler->listEntries(stream, lphInf);
    stream->destroy();
    return result;
}

TESSIK_EXPORT int32_t TESSIK_CALL GetFileInfo(const char *buf, ArgOffset len, const char *filename, uint32_t flag,
                                              fileInfo *lpInfo)
{
    ByteStream *stream = nullptr;
    int32_t result = openInput(buf, len, flag, stream);
    if (result != kResultSuccess)
        return result;
    result = currentHandler->findEntry(filename, stream, lpInfo);
    stream->destroy();
    return result;
}

// The progress callback is never called: extraction is one read and cannot be cancelled.
TESSIK_EXPORT int32_t TESSIK_CALL GetFile(const char *src, ArgOffset len, char *dest, uint32_t flag, void *,
                                          ArgCallbackData)
{
    ByteStream *stream = nullptr;
    bool byPosition = currentHandler && (flag & (kInputTypeMask | kOutputTypeMask)) == (1u << kOutputTypeShift);
    if (byPosition && !rememberMemberAt(src, static_cast<uint32_t>(len), stream))
        return kResultNoMemory;
    int32_t result = stream ? kResultSuccess : openInput(src, len, flag, stream);
    if (result != kResultSuccess)
        return result;
    switch ((flag & kOutputTypeMask) >> kOutputTypeShift) {
    case 0:
        MessageBoxA(nullptr, "NotImpDisk", "GetFile", MB_OK);
        result = kResultNotImplemented;
        break;
    case 1:
        result = currentHandler->readEntry(stream, reinterpret_cast<HLOCAL *>(dest));
        break;
    default:
        // Output types the interface does not define: nothing is read or written.
        result = kResultNotImplemented;
        break;
    }
    stream->destroy();
    return result;
}

} // extern "C"
