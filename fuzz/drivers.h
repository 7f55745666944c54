// What a host does with a file the user opens, driven with arbitrary bytes through the
// module's exports: probe it, list it, then look every member up and extract it, both by
// position (as most hosts do) and after GetFileInfo. Shared by the libFuzzer targets and
// by the test that replays their crash regressions.
//
// A driver aborts, with a line on standard error, when the module breaks a promise a host
// relies on (a listing without its terminator, a listed member that cannot be found, an
// extracted block that is not the archive's bytes); the sanitizers catch the rest.
#pragma once
#include <cstddef>
#include <cstdint>

// IsSupported on the host's 2 KB header buffer, then the archive exports on the bytes as
// a memory image.
void driveMemoryImage(const uint8_t *data, size_t size);
// IsSupported through a file handle, then the archive exports on the bytes as a file
// (one temporary file per process, removed at exit).
void driveFile(const uint8_t *data, size_t size);
