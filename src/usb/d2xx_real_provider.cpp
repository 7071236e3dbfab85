// The plain driver's D2XX provider: the vendor library, loaded by name at first use from
// the places the platform trusts for it (on Windows the host's folder, the driver's folder
// and the system folder, never the current directory; elsewhere the loader's own search).
#include "platform/platform.h"
#include "usb/d2xx.h"

#include <mutex>

namespace zelk::usb {

namespace {

// The vendor library's file name is "ftd2xx" in the platform's form.
const std::string& LibraryName() {
    static const std::string name = plat::SharedLibraryFileName("ftd2xx");
    return name;
}

struct Loaded {
    plat::DynamicLibrary library;
    D2xxApi api;
};

template <typename Fn>
void Bind(const plat::DynamicLibrary& lib, Fn& slot, const char* name, const char*& missing) {
    slot = reinterpret_cast<Fn>(lib.Symbol(name));
    if (!slot && !missing) missing = name;
}

Loaded& Load() {
    static Loaded loaded;
    static std::once_flag once;
    std::call_once(once, [] {
        D2xxApi& a = loaded.api;
        if (!loaded.library.OpenFromTrustedFolders(LibraryName())) {
            a.missing = LibraryName().c_str();
            return;
        }
        Bind(loaded.library, a.ListDevices, "FT_ListDevices", a.missing);
        Bind(loaded.library, a.Open, "FT_Open", a.missing);
        Bind(loaded.library, a.Close, "FT_Close", a.missing);
        Bind(loaded.library, a.ResetDevice, "FT_ResetDevice", a.missing);
        Bind(loaded.library, a.SetLatencyTimer, "FT_SetLatencyTimer", a.missing);
        Bind(loaded.library, a.Purge, "FT_Purge", a.missing);
        Bind(loaded.library, a.Write, "FT_Write", a.missing);
        Bind(loaded.library, a.Read, "FT_Read", a.missing);
        Bind(loaded.library, a.GetQueueStatus, "FT_GetQueueStatus", a.missing);
    });
    return loaded;
}

}  // namespace

const D2xxApi& ProcessD2xx() { return Load().api; }

}  // namespace zelk::usb
