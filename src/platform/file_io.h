// An open file reached through 64-bit sizes and offsets on every platform (a 32-bit Windows
// host included), for the record files and tables, which may grow past 4 GiB.
// Writes go straight to the operating system: a block is visible to readers once Write returns.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

namespace zelk::plat {

class File {
public:
    File() = default;
    ~File() { Close(); }
    File(const File&) = delete;
    File& operator=(const File&) = delete;
    File(File&& other) noexcept : handle_(other.handle_) { other.handle_ = kNone; }
    File& operator=(File&& other) noexcept;

    // Creates the file empty (an existing one is emptied) for writing. Other programs may
    // open it for reading meanwhile.
    bool Create(const std::string& path);
    // Opens an existing file for reading; another program may go on writing it.
    bool OpenRead(const std::string& path);
    bool IsOpen() const { return handle_ != kNone; }

    // Writes all `bytes` at the position; false if not all of them were written.
    bool Write(const void* data, size_t bytes);
    // Reads at most `bytes` at the position; `got` is 0 at the end of the file.
    bool Read(void* data, size_t bytes, size_t& got);
    // Reads exactly `bytes`; false at an error or when the file ends before.
    bool ReadExactly(void* data, size_t bytes);
    bool Seek(uint64_t offset);
    bool SeekToEnd(uint64_t& size);
    bool Size(uint64_t& size) const;
    // Cuts the file to `size` bytes or extends it (the new bytes read as zeros, taking no
    // disk space where the file system allows holes). The position is not moved.
    bool Resize(uint64_t size);
    // Writes what the system holds for this file to stable storage (fsync, FlushFileBuffers),
    // so that a crash or a power cut after it loses nothing written before it.
    bool Flush();
    // False when the file was not open or closing it reported an error.
    bool Close();

private:
    static constexpr intptr_t kNone = -1;
    intptr_t handle_ = kNone;  // a descriptor on POSIX, a HANDLE on Windows
};

// Renames `from` to `to`, replacing a file of that name, so that readers find either the old
// file or the whole new one; the new name is on stable storage when it returns (the folder
// flushed after the rename on POSIX, write-through on Windows). Both names in one folder.
bool ReplaceFileDurably(const std::string& from, const std::string& to);

}  // namespace zelk::plat
