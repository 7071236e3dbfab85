#include "platform/native_path.h"
#include "platform/platform.h"

#include <windows.h>

#include <string>

namespace zelk::plat {

namespace {

// The folder of a module (null: the program), ending in a backslash; empty if unknown.
std::wstring ModuleFolder(HMODULE module) {
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD n = GetModuleFileNameW(module, path.data(), static_cast<DWORD>(path.size()));
        if (n == 0) return {};
        if (n < path.size()) {
            path.resize(n);
            break;
        }
        if (path.size() >= 32768) return {};
        path.resize(path.size() * 2);
    }
    const size_t sep = path.find_last_of(L"\\/");
    return sep == std::wstring::npos ? std::wstring() : path.substr(0, sep + 1);
}

// The module that holds this code: the driver's DLL, or the program it is linked into.
HMODULE OwnModule() {
    HMODULE m = nullptr;
    if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                            reinterpret_cast<LPCWSTR>(&ModuleFolder), &m))
        return nullptr;
    return m;
}

std::string LoadError(DWORD code) { return "LoadLibrary failed, error " + std::to_string(code); }

}  // namespace

DynamicLibrary::~DynamicLibrary() { Close(); }

bool DynamicLibrary::Open(const std::string& name, std::string* error) {
    Close();
    if (HasDirectoryPart(name)) {
        // The altered search order is defined for full paths only.
        char full[MAX_PATH + 1] = {0};
        const DWORD n = GetFullPathNameA(name.c_str(), MAX_PATH, full, nullptr);
        const std::string path = n > 0 && n < MAX_PATH ? std::string(full, n) : name;
        handle_ = reinterpret_cast<void*>(LoadLibraryExA(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH));
    } else {
        handle_ = reinterpret_cast<void*>(LoadLibraryA(name.c_str()));
    }
    if (!handle_ && error) *error = LoadError(GetLastError());
    return handle_ != nullptr;
}

// The two folders are tried by full path: LOAD_LIBRARY_SEARCH_APPLICATION_DIR alone would
// also look for the library's own dependencies in the host's folder only. A library found
// by full path takes its dependencies from its own folder and the system folder.
bool DynamicLibrary::OpenFromTrustedFolders(const std::string& fileName, std::string* error) {
    Close();
    const std::wstring name = WideName(fileName);
    const std::wstring hostFolder = ModuleFolder(nullptr);
    const std::wstring ownFolder = ModuleFolder(OwnModule());
    DWORD firstError = ERROR_MOD_NOT_FOUND;
    auto tried = [&](HMODULE h) {
        const DWORD e = GetLastError();
        // A library that is there but cannot be loaded (another width, a missing
        // dependency) says more than the folders where there was none.
        if (!h && e != ERROR_MOD_NOT_FOUND && firstError == ERROR_MOD_NOT_FOUND) firstError = e;
        handle_ = reinterpret_cast<void*>(h);
        return h != nullptr;
    };
    if (name.empty()) {
        if (error) *error = LoadError(ERROR_INVALID_PARAMETER);
        return false;
    }
    constexpr DWORD kBesideFlags = LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR | LOAD_LIBRARY_SEARCH_SYSTEM32;
    if (!hostFolder.empty() && tried(LoadLibraryExW((hostFolder + name).c_str(), nullptr, kBesideFlags))) return true;
    if (!ownFolder.empty() && ownFolder != hostFolder &&
        tried(LoadLibraryExW((ownFolder + name).c_str(), nullptr, kBesideFlags)))
        return true;
    if (tried(LoadLibraryExW(name.c_str(), nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32))) return true;
    if (error) *error = LoadError(firstError);
    return false;
}

void* DynamicLibrary::Symbol(const char* name) const {
    return handle_ ? reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(handle_), name)) : nullptr;
}

void DynamicLibrary::Close() {
    if (handle_) FreeLibrary(static_cast<HMODULE>(handle_));
    handle_ = nullptr;
}

std::string SharedLibraryFileName(const std::string& base) { return base + ".dll"; }

std::string ExecutableFileName(const std::string& base) { return base + ".exe"; }

}  // namespace zelk::plat
