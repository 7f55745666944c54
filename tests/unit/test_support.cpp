#include "tests/unit/test_support.h"

#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <filesystem>
#include <fstream>
#include <stdexcept>

Bytes bytesOf(const std::string &text) { return Bytes(text.begin(), text.end()); }

Bytes pattern(size_t size, uint8_t seed)
{
    Bytes data(size);
    for (size_t i = 0; i < size; ++i)
        data[i] = static_cast<uint8_t>(seed + i * 7 + (i >> 8));
    return data;
}

TempDir::TempDir()
{
    std::string templ = (std::filesystem::temp_directory_path() / "tessik-unit-XXXXXX").string();
    if (!::mkdtemp(templ.data()))
        throw std::runtime_error("cannot create a scratch folder");
    dir_ = templ;
}

TempDir::~TempDir()
{
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
}

std::string TempDir::write(const std::string &name, const Bytes &bytes) const
{
    std::string file = path(name);
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char *>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (!out)
        throw std::runtime_error("cannot write " + file);
    return file;
}

void StreamOwner::reset(ByteStream *stream)
{
    if (stream_)
        stream_->destroy();
    stream_ = stream;
}

HandlerOwner::~HandlerOwner()
{
    if (handler_)
        handler_->destroy();
}

void BlockOwner::reset()
{
    if (block_) {
        while (LocalFlags(block_) & LMEM_LOCKCOUNT)
            LocalUnlock(block_);
        LocalFree(block_);
    }
    block_ = nullptr;
}

ListView viewList(HLOCAL list)
{
    ListView view;
    if (!list)
        return view;
    view.unlocked = (LocalFlags(list) & LMEM_LOCKCOUNT) == 0;
    view.capacity = LocalSize(list) / sizeof(fileInfo);
    const auto *records = static_cast<const fileInfo *>(LocalLock(list));
    view.moveable = static_cast<const void *>(records) != list;
    size_t i = 0;
    while (i < view.capacity && records[i].method[0] != 0)
        view.entries.push_back(records[i++]);
    if (i < view.capacity) {
        const auto *bytes = reinterpret_cast<const uint8_t *>(&records[i]);
        view.terminatorAllZero = true;
        for (size_t b = 0; b < sizeof(fileInfo); ++b)
            view.terminatorAllZero = view.terminatorAllZero && bytes[b] == 0;
    }
    LocalUnlock(list);
    return view;
}

BlockView viewBlock(HLOCAL block)
{
    BlockView view;
    if (!block)
        return view;
    size_t size = LocalSize(block);
    const auto *bytes = static_cast<const uint8_t *>(LocalLock(block));
    view.fixed = static_cast<const void *>(bytes) == block;
    view.bytes.assign(bytes, bytes + size);
    LocalUnlock(block);
    return view;
}

bool isStoredEntry(const fileInfo &info, const std::string &name, uint32_t position, uint32_t size)
{
    return info.method[0] == 'a' && info.method[1] == 0 && info.position == position && info.compsize == size &&
           info.filesize == size && info.timestamp == 0 && info.path[0] == 0 && info.crc == 0 &&
           name == info.filename;
}

bool sameBytes(const fileInfo &a, const fileInfo &b) { return std::memcmp(&a, &b, sizeof a) == 0; }

size_t countOpenDescriptors()
{
    size_t count = 0;
    DIR *dir = ::opendir("/proc/self/fd");
    if (!dir)
        return 0;
    while (dirent *entry = ::readdir(dir))
        if (entry->d_name[0] != '.')
            ++count;
    ::closedir(dir);
    return count; // the directory's own descriptor is counted every time alike
}

Bytes readFile(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}
