// File-system helpers of the host-level tests, for POSIX and Windows alike.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

std::string makeWorkDir();
void removeWorkDir(const std::string &dir);
void removeFile(const std::string &path);
// The module file of that name in the folder that holds the running program.
std::string moduleBesideProgram(const char *argv0, const char *moduleName);
// Writes head at offset 0 and tail at tailOffset, leaving a hole between them. False,
// with the reason, when the file system cannot keep the hole sparse.
bool writeSparseFile(const std::string &path, const std::vector<uint8_t> &head, uint64_t tailOffset,
                     const std::vector<uint8_t> &tail, std::string &why);
