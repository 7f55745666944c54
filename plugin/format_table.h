// The formats the module understands, in the order IsSupported tries them and
// GetPluginInfo reports them.
#pragma once

class ArchiveHandler;

struct FormatEntry {
    const char *extension;
    const char *description;
    ArchiveHandler *(*factory)();
};

constexpr int kFormatCount = 2;
extern const FormatEntry formatTable[kFormatCount];
