#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/file_io.h"
#include "platform/native_path.h"

namespace zelk::plat {

static_assert(sizeof(off_t) >= 8, "record files need 64-bit file offsets");

namespace {
int Fd(intptr_t h) { return static_cast<int>(h); }
}  // namespace

File& File::operator=(File&& other) noexcept {
    if (this != &other) {
        Close();
        handle_ = other.handle_;
        other.handle_ = kNone;
    }
    return *this;
}

bool File::Create(const std::string& path) {
    Close();
    const int fd = open(Utf8Name(path).c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0) return false;
    handle_ = fd;
    return true;
}

bool File::OpenRead(const std::string& path) {
    Close();
    const int fd = open(Utf8Name(path).c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    struct stat st {};
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        close(fd);
        return false;
    }
    handle_ = fd;
    return true;
}

bool File::Write(const void* data, size_t bytes) {
    if (!IsOpen()) return false;
    const char* p = static_cast<const char*>(data);
    while (bytes > 0) {
        const ssize_t n = write(Fd(handle_), p, bytes);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        p += n;
        bytes -= static_cast<size_t>(n);
    }
    return true;
}

bool File::Read(void* data, size_t bytes, size_t& got) {
    got = 0;
    if (!IsOpen()) return false;
    for (;;) {
        const ssize_t n = read(Fd(handle_), data, bytes);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return false;
        got = static_cast<size_t>(n);
        return true;
    }
}

bool File::Seek(uint64_t offset) {
    if (!IsOpen() || offset > static_cast<uint64_t>(INT64_MAX)) return false;
    return lseek(Fd(handle_), static_cast<off_t>(offset), SEEK_SET) == static_cast<off_t>(offset);
}

bool File::SeekToEnd(uint64_t& size) {
    if (!IsOpen()) return false;
    const off_t end = lseek(Fd(handle_), 0, SEEK_END);
    if (end < 0) return false;
    size = static_cast<uint64_t>(end);
    return true;
}

bool File::Size(uint64_t& size) const {
    struct stat st {};
    if (!IsOpen() || fstat(Fd(handle_), &st) != 0) return false;
    size = static_cast<uint64_t>(st.st_size);
    return true;
}

bool File::Resize(uint64_t size) {
    if (!IsOpen() || size > static_cast<uint64_t>(INT64_MAX)) return false;
    int rc;
    do {
        rc = ftruncate(Fd(handle_), static_cast<off_t>(size));
    } while (rc != 0 && errno == EINTR);
    return rc == 0;
}

bool File::Flush() {
    if (!IsOpen()) return false;
    int rc;
    do {
        rc = fsync(Fd(handle_));
    } while (rc != 0 && errno == EINTR);
    return rc == 0;
}

bool File::Close() {
    if (!IsOpen()) return false;
    const int fd = Fd(handle_);
    handle_ = kNone;
    return close(fd) == 0;
}

bool ReplaceFileDurably(const std::string& from, const std::string& to) {
    const std::string target = Utf8Name(to);
    if (rename(Utf8Name(from).c_str(), target.c_str()) != 0) return false;
    // The rename lives in the folder: flush the folder too, or a power cut may undo it.
    const size_t slash = target.find_last_of('/');
    const std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : target.substr(0, slash);
    const int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return false;
    int rc;
    do {
        rc = fsync(fd);
    } while (rc != 0 && errno == EINTR);
    close(fd);
    return rc == 0;
}

}  // namespace zelk::plat
