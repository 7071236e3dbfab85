#include "platform/platform.h"

#include <windows.h>

namespace zelk::plat {

bool FileExists(const std::string& path) {
    DWORD a = GetFileAttributesA(path.c_str());
    return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

bool DirectoryExists(const std::string& path) {
    DWORD a = GetFileAttributesA(path.c_str());
    return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

static bool IsSep(char c) { return c == '\\' || c == '/'; }

bool CreateDirectories(const std::string& path) {
    std::string p = path;
    while (p.size() > 1 && IsSep(p.back())) p.pop_back();
    if (p.empty()) return false;
    if (p.size() == 2 && p[1] == ':') return DirectoryExists(p + "\\");
    if (DirectoryExists(p)) return true;
    size_t sep = p.find_last_of("\\/");
    if (sep != std::string::npos && sep > 0) {
        std::string parent = p.substr(0, sep);
        if (!(parent.size() == 2 && parent[1] == ':') && !CreateDirectories(parent)) return false;
    }
    if (CreateDirectoryA(p.c_str(), nullptr)) return true;
    return GetLastError() == ERROR_ALREADY_EXISTS && DirectoryExists(p);
}

bool DeleteFileAt(const std::string& path) { return DeleteFileA(path.c_str()) != 0; }

bool RenameFile(const std::string& from, const std::string& to) {
    return MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING) != 0;
}

std::string ExecutableDirectory() {
    char buf[MAX_PATH + 1] = {0};
    DWORD n = GetModuleFileNameA(nullptr, buf, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return ".\\";
    std::string s(buf, n);
    size_t sep = s.find_last_of("\\/");
    return sep == std::string::npos ? ".\\" : s.substr(0, sep + 1);
}

bool HasDirectoryPart(const std::string& path) { return path.find_first_of("\\/:") != std::string::npos; }

char PathSeparator() { return '\\'; }

}  // namespace zelk::plat
