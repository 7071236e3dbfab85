#include <windows.h>

#include "platform/file_io.h"
#include "platform/native_path.h"

namespace zelk::plat {

namespace {
HANDLE H(intptr_t h) { return reinterpret_cast<HANDLE>(h); }
// The largest piece handed to one ReadFile or WriteFile (their counts are 32 bits).
constexpr size_t kPiece = 1u << 30;
}  // namespace

File& File::operator=(File&& other) noexcept {
    if (this != &other) {
        Close();
        handle_ = other.handle_;
        other.handle_ = kNone;
    }
    return *this;
}

// INVALID_HANDLE_VALUE is (HANDLE)-1, the same value as kNone.
bool File::Create(const std::string& path) {
    Close();
    HANDLE h = CreateFileW(WideName(path).c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                           CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    handle_ = reinterpret_cast<intptr_t>(h);
    return true;
}

bool File::OpenRead(const std::string& path) {
    Close();
    HANDLE h = CreateFileW(WideName(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                           nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    handle_ = reinterpret_cast<intptr_t>(h);
    return true;
}

bool File::Write(const void* data, size_t bytes) {
    if (!IsOpen()) return false;
    const char* p = static_cast<const char*>(data);
    while (bytes > 0) {
        const DWORD want = static_cast<DWORD>(bytes < kPiece ? bytes : kPiece);
        DWORD n = 0;
        if (!WriteFile(H(handle_), p, want, &n, nullptr) || n == 0) return false;
        p += n;
        bytes -= n;
    }
    return true;
}

bool File::Read(void* data, size_t bytes, size_t& got) {
    got = 0;
    if (!IsOpen()) return false;
    const DWORD want = static_cast<DWORD>(bytes < kPiece ? bytes : kPiece);
    DWORD n = 0;
    if (!ReadFile(H(handle_), data, want, &n, nullptr)) return false;
    got = n;
    return true;
}

bool File::Seek(uint64_t offset) {
    if (!IsOpen() || offset > static_cast<uint64_t>(INT64_MAX)) return false;
    LARGE_INTEGER to;
    to.QuadPart = static_cast<LONGLONG>(offset);
    return SetFilePointerEx(H(handle_), to, nullptr, FILE_BEGIN) != 0;
}

bool File::SeekToEnd(uint64_t& size) {
    if (!IsOpen()) return false;
    LARGE_INTEGER zero, at;
    zero.QuadPart = 0;
    if (!SetFilePointerEx(H(handle_), zero, &at, FILE_END)) return false;
    size = static_cast<uint64_t>(at.QuadPart);
    return true;
}

bool File::Size(uint64_t& size) const {
    LARGE_INTEGER s;
    if (!IsOpen() || !GetFileSizeEx(H(handle_), &s)) return false;
    size = static_cast<uint64_t>(s.QuadPart);
    return true;
}

// SetEndOfFile works at the file pointer: move it there, cut or extend, then move it back.
bool File::Resize(uint64_t size) {
    if (!IsOpen() || size > static_cast<uint64_t>(INT64_MAX)) return false;
    LARGE_INTEGER zero, here, to;
    zero.QuadPart = 0;
    if (!SetFilePointerEx(H(handle_), zero, &here, FILE_CURRENT)) return false;
    to.QuadPart = static_cast<LONGLONG>(size);
    const bool ok = SetFilePointerEx(H(handle_), to, nullptr, FILE_BEGIN) && SetEndOfFile(H(handle_));
    return SetFilePointerEx(H(handle_), here, nullptr, FILE_BEGIN) && ok;
}

bool File::Flush() { return IsOpen() && FlushFileBuffers(H(handle_)) != 0; }

bool File::Close() {
    if (!IsOpen()) return false;
    HANDLE h = H(handle_);
    handle_ = kNone;
    return CloseHandle(h) != 0;
}

bool ReplaceFileDurably(const std::string& from, const std::string& to) {
    return MoveFileExW(WideName(from).c_str(), WideName(to).c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}

}  // namespace zelk::plat
