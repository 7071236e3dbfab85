#include "platform/native_path.h"
#include "platform/platform.h"

#include <windows.h>

namespace zelk::plat {

namespace {

DWORD Attributes(const std::wstring& wide) {
    return wide.empty() ? INVALID_FILE_ATTRIBUTES : GetFileAttributesW(wide.c_str());
}

bool IsDirectory(const std::wstring& wide) {
    DWORD a = Attributes(wide);
    return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool IsSep(wchar_t c) { return c == L'\\' || c == L'/'; }
bool IsDrive(const std::wstring& p) { return p.size() == 2 && p[1] == L':'; }

// Works on the converted name: the separators and the drive colon are the same characters
// in both forms.
bool CreateWideDirectories(std::wstring p) {
    while (p.size() > 1 && IsSep(p.back())) p.pop_back();
    if (p.empty()) return false;
    if (IsDrive(p)) return IsDirectory(p + L"\\");
    if (IsDirectory(p)) return true;
    size_t sep = p.find_last_of(L"\\/");
    if (sep != std::wstring::npos && sep > 0) {
        std::wstring parent = p.substr(0, sep);
        if (!IsDrive(parent) && !CreateWideDirectories(parent)) return false;
    }
    if (CreateDirectoryW(p.c_str(), nullptr)) return true;
    return GetLastError() == ERROR_ALREADY_EXISTS && IsDirectory(p);
}

}  // namespace

bool FileExists(const std::string& path) {
    DWORD a = Attributes(WideName(path));
    return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

bool DirectoryExists(const std::string& path) { return IsDirectory(WideName(path)); }

bool CreateDirectories(const std::string& path) { return CreateWideDirectories(WideName(path)); }

bool DeleteFileAt(const std::string& path) {
    const std::wstring wide = WideName(path);
    return !wide.empty() && DeleteFileW(wide.c_str()) != 0;
}

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
