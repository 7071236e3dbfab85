#include "platform/native_path.h"
#include "platform/platform.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <sys/stat.h>
#include <unistd.h>

namespace zelk::plat {

namespace {

bool IsDirectory(const std::string& utf8) {
    struct stat st {};
    return stat(utf8.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// Works on the converted name: '/' is the same byte in both forms.
bool CreateUtf8Directories(std::string p) {
    while (p.size() > 1 && p.back() == '/') p.pop_back();
    if (p.empty() || IsDirectory(p)) return !p.empty();
    size_t slash = p.find_last_of('/');
    if (slash != std::string::npos && slash > 0 && !CreateUtf8Directories(p.substr(0, slash))) return false;
    if (mkdir(p.c_str(), 0777) == 0) return true;
    return errno == EEXIST && IsDirectory(p);
}

}  // namespace

bool FileExists(const std::string& path) {
    struct stat st {};
    return stat(Utf8Name(path).c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool DirectoryExists(const std::string& path) { return IsDirectory(Utf8Name(path)); }

bool CreateDirectories(const std::string& path) { return CreateUtf8Directories(Utf8Name(path)); }

bool DeleteFileAt(const std::string& path) { return unlink(Utf8Name(path).c_str()) == 0; }

bool RenameFile(const std::string& from, const std::string& to) { return std::rename(from.c_str(), to.c_str()) == 0; }

std::string ExecutableDirectory() {
    char buf[PATH_MAX + 1];
    ssize_t n = readlink("/proc/self/exe", buf, PATH_MAX);
    if (n <= 0) return "./";
    std::string s(buf, static_cast<size_t>(n));
    size_t slash = s.find_last_of('/');
    return slash == std::string::npos ? "./" : s.substr(0, slash + 1);
}

bool HasDirectoryPart(const std::string& path) { return path.find('/') != std::string::npos; }

char PathSeparator() { return '/'; }

}  // namespace zelk::plat
