#include "usb/d2xx_calls.h"

#include <cstring>


namespace zelk::usb::call {

FT_STATUS ListDevices(const D2xxApi& api, void* arg1, void* arg2, DWORD flags) {
    return api.ListDevices ? api.ListDevices(arg1, arg2, flags) : kMissing;
}
FT_STATUS Open(const D2xxApi& api, int deviceIndex, FT_HANDLE* handle) {
    return api.Open ? api.Open(deviceIndex, handle) : kMissing;
}
FT_STATUS Close(const D2xxApi& api, FT_HANDLE h) { return api.Close ? api.Close(h) : kMissing; }
FT_STATUS ResetDevice(const D2xxApi& api, FT_HANDLE h) { return api.ResetDevice ? api.ResetDevice(h) : kMissing; }
FT_STATUS SetLatencyTimer(const D2xxApi& api, FT_HANDLE h, UCHAR ms) {
    return api.SetLatencyTimer ? api.SetLatencyTimer(h, ms) : kMissing;
}
FT_STATUS Purge(const D2xxApi& api, FT_HANDLE h, ULONG mask) { return api.Purge ? api.Purge(h, mask) : kMissing; }
FT_STATUS Write(const D2xxApi& api, FT_HANDLE h, void* buffer, DWORD bytes, DWORD* written) {
    return api.Write ? api.Write(h, buffer, bytes, written) : kMissing;
}
FT_STATUS Read(const D2xxApi& api, FT_HANDLE h, void* buffer, DWORD bytes, DWORD* read) {
    return api.Read ? api.Read(h, buffer, bytes, read) : kMissing;
}
FT_STATUS GetQueueStatus(const D2xxApi& api, FT_HANDLE h, DWORD* queued) {
    return api.GetQueueStatus ? api.GetQueueStatus(h, queued) : kMissing;
}

const char* FirstMissingFunction(const D2xxApi& api) {
    if (!api.ListDevices) return "FT_ListDevices";
    if (!api.Open) return "FT_Open";
    if (!api.Close) return "FT_Close";
    if (!api.ResetDevice) return "FT_ResetDevice";
    if (!api.SetLatencyTimer) return "FT_SetLatencyTimer";
    if (!api.Purge) return "FT_Purge";
    if (!api.Write) return "FT_Write";
    if (!api.Read) return "FT_Read";
    if (!api.GetQueueStatus) return "FT_GetQueueStatus";
    return nullptr;
}

std::string MissingText(const D2xxApi& api) {
    const char* fn = FirstMissingFunction(api);
    if (!fn) return {};
    // The loader names the library when it could not load it at all, else the first
    // function it could not bind; a table without a name still says which function.
    if (api.missing && std::strncmp(api.missing, "FT_", 3) != 0) return std::string(api.missing) + " nenalezena";
    return std::string("funkce ") + fn + " nenalezena";
}

FT_STATUS ListTextByIndex(const D2xxApi& api, int index, DWORD what, std::string& text) {
    char buf[kD2xxTextBufferSize] = {};
    FT_STATUS st = ListDevices(api, reinterpret_cast<void*>(static_cast<uintptr_t>(static_cast<uint32_t>(index))), buf,
                               FT_LIST_BY_INDEX | what);
    buf[kD2xxTextBufferSize - 1] = 0;
    text = st == FT_OK ? std::string(buf, strnlen(buf, sizeof buf)) : std::string();
    return st;
}

}  // namespace zelk::usb::call
