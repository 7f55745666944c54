// Helpers shared by the unit tests: scratch files, owners that release what the plug-in
// hands out even when a test stops early, and readers for entry lists and blocks.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "archive/archive_handler.h"
#include "archive/file_info.h"
#include "platform/platform.h"
#include "platform/test_hooks.h"
#include "stream/byte_stream.h"

typedef std::vector<uint8_t> Bytes;

Bytes bytesOf(const std::string &text);
// Recognisable bytes, different for each seed.
Bytes pattern(size_t size, uint8_t seed);

// A folder of scratch files, removed with everything in it.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir &) = delete;
    TempDir &operator=(const TempDir &) = delete;

    std::string path(const std::string &name) const { return dir_ + "/" + name; }
    // Writes the file and returns its path.
    std::string write(const std::string &name, const Bytes &bytes) const;

private:
    std::string dir_;
};

// Owners that release through the objects' own destroy().
class StreamOwner {
public:
    explicit StreamOwner(ByteStream *stream = nullptr) : stream_(stream) {}
    ~StreamOwner() { reset(); }
    StreamOwner(const StreamOwner &) = delete;
    StreamOwner &operator=(const StreamOwner &) = delete;
    ByteStream *operator->() const { return stream_; }
    ByteStream *get() const { return stream_; }
    void reset(ByteStream *stream = nullptr);

private:
    ByteStream *stream_;
};

class HandlerOwner {
public:
    explicit HandlerOwner(ArchiveHandler *handler) : handler_(handler) {}
    ~HandlerOwner();
    HandlerOwner(const HandlerOwner &) = delete;
    HandlerOwner &operator=(const HandlerOwner &) = delete;
    ArchiveHandler *operator->() const { return handler_; }
    ArchiveHandler *get() const { return handler_; }

private:
    ArchiveHandler *handler_;
};

// A local-memory block the plug-in handed over; freed when the owner goes.
class BlockOwner {
public:
    BlockOwner() = default;
    ~BlockOwner() { reset(); }
    BlockOwner(const BlockOwner &) = delete;
    BlockOwner &operator=(const BlockOwner &) = delete;
    // Where the plug-in stores the handle.
    HLOCAL *out() { return &block_; }
    HLOCAL get() const { return block_; }
    void reset();

private:
    HLOCAL block_ = nullptr;
};

// What an entry list holds: the records before the terminator, how many records the
// block has room for, whether it was handed over unlocked and as a moveable block, and
// whether the terminator is zero in all its bytes.
struct ListView {
    std::vector<fileInfo> entries;
    size_t capacity = 0;
    bool unlocked = false;
    bool moveable = false;
    bool terminatorAllZero = false;
};
ListView viewList(HLOCAL list);

// The bytes of an extracted block, and whether it is a fixed block (handle == address).
struct BlockView {
    Bytes bytes;
    bool fixed = false;
};
BlockView viewBlock(HLOCAL block);

// The record the plug-in writes for a stored member.
bool isStoredEntry(const fileInfo &info, const std::string &name, uint32_t position, uint32_t size);
bool sameBytes(const fileInfo &a, const fileInfo &b);

// Open file descriptors of this process.
size_t countOpenDescriptors();

// Reads a whole file.
Bytes readFile(const std::string &path);
