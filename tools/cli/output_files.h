// The few file-system calls of the command-line host. Names are 8-bit ANSI on Windows,
// as the plug-in's member names are, so these use the ANSI calls there.
#pragma once
#include <cstdint>
#include <string>

enum class PathKind { Missing, File, Folder, Other };
PathKind pathKind(const std::string &path);

// Creates the folder if it is not there yet. Empty on success, else why not.
std::string makeFolder(const std::string &path);

// Writes size bytes to a new file (or over an existing one). Empty on success, else why not.
std::string writeWholeFile(const std::string &path, const uint8_t *bytes, size_t size);

// Reads up to size bytes from the start of a file into bytes; the count read, or -1
// with the reason in why.
int64_t readFileHead(const std::string &path, uint8_t *bytes, size_t size, std::string &why);

// True when standard error goes to a terminal, where a progress line can be redrawn.
bool stderrIsTerminal();
