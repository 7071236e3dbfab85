#include "platform/platform.h"

#include <windows.h>

#include <string>

namespace zelk::plat {

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
    if (!handle_ && error) *error = "LoadLibrary failed, error " + std::to_string(GetLastError());
    return handle_ != nullptr;
}

void* DynamicLibrary::Symbol(const char* name) const {
    return handle_ ? reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(handle_), name)) : nullptr;
}

void DynamicLibrary::Close() {
    if (handle_) FreeLibrary(static_cast<HMODULE>(handle_));
    handle_ = nullptr;
}

}  // namespace zelk::plat
