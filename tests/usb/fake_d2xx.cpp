#include "fake_d2xx.h"

#include <algorithm>
#include <cstring>

namespace fake {

namespace {

State g;

// True when the call named `fn` is to fail; counts the call either way.
bool Injected(const char* fn, FT_STATUS& st) {
    g.calls.push_back(fn);
    auto it = g.fail.find(fn);
    if (it == g.fail.end()) return false;
    auto after = g.failAfter.find(fn);
    if (after != g.failAfter.end() && after->second > 0) {
        --after->second;
        return false;
    }
    st = it->second;
    return true;
}

FT_STATUS ZELK_D2XX_CALL ListDevices(void* arg1, void* arg2, DWORD flags) {
    FT_STATUS st = FT_OK;
    if (Injected("FT_ListDevices", st)) return st;
    if (flags == FT_LIST_NUMBER_ONLY) {
        *static_cast<DWORD*>(arg1) = g.forcedCount != 0xFFFFFFFFu ? g.forcedCount : static_cast<DWORD>(g.devices.size());
        return FT_OK;
    }
    const auto index = static_cast<size_t>(reinterpret_cast<uintptr_t>(arg1));
    if (index >= g.devices.size()) return FT_DEVICE_NOT_FOUND;
    char* buf = static_cast<char*>(arg2);
    if (g.fillListBufferUnterminated) {
        std::memset(buf, 'X', kD2xxTextBufferSize);
        return FT_OK;
    }
    const std::string& t = (flags & FT_OPEN_BY_DESCRIPTION) ? g.devices[index].description : g.devices[index].serial;
    std::snprintf(buf, kD2xxTextBufferSize, "%s", t.c_str());
    return FT_OK;
}

FT_STATUS ZELK_D2XX_CALL Open(int deviceIndex, FT_HANDLE* handle) {
    FT_STATUS st = FT_OK;
    if (Injected("FT_Open", st)) return st;
    g.openedIndex.push_back(deviceIndex);
    *handle = g.openHandle;
    return FT_OK;
}

FT_STATUS ZELK_D2XX_CALL Close(FT_HANDLE h) {
    FT_STATUS st = FT_OK;
    if (Injected("FT_Close", st)) return st;
    g.closed.push_back(h);
    return FT_OK;
}

FT_STATUS ZELK_D2XX_CALL ResetDevice(FT_HANDLE) {
    FT_STATUS st = FT_OK;
    return Injected("FT_ResetDevice", st) ? st : FT_OK;
}

FT_STATUS ZELK_D2XX_CALL SetLatencyTimer(FT_HANDLE, UCHAR ms) {
    FT_STATUS st = FT_OK;
    if (Injected("FT_SetLatencyTimer", st)) return st;
    g.latency.push_back(ms);
    return FT_OK;
}

FT_STATUS ZELK_D2XX_CALL Purge(FT_HANDLE, ULONG mask) {
    FT_STATUS st = FT_OK;
    if (Injected("FT_Purge", st)) return st;
    if (mask & FT_PURGE_RX) {
        g.rx.clear();
        g.pendingChunks.clear();
    }
    return FT_OK;
}

FT_STATUS ZELK_D2XX_CALL Write(FT_HANDLE, void* buffer, DWORD bytes, DWORD* written) {
    FT_STATUS st = FT_OK;
    if (Injected("FT_Write", st)) return st;
    const auto* p = static_cast<const uint8_t*>(buffer);
    g.written.emplace_back(p, p + bytes);
    const uint8_t code = bytes > 0 ? p[0] : 0;
    auto wf = g.writeFailFor.find(code);
    if (wf != g.writeFailFor.end()) return wf->second;
    *written = bytes - static_cast<DWORD>(std::min<int>(g.writeShortBy, static_cast<int>(bytes)));
    auto r = g.replies.find(code);
    if (r != g.replies.end())
        for (const auto& chunk : r->second) g.pendingChunks.push_back(chunk);
    return FT_OK;
}

FT_STATUS ZELK_D2XX_CALL Read(FT_HANDLE, void* buffer, DWORD bytes, DWORD* read) {
    FT_STATUS st = FT_OK;
    if (Injected("FT_Read", st)) return st;
    g.readRequests.push_back(bytes);
    DWORD n = std::min<DWORD>(bytes, static_cast<DWORD>(g.rx.size()));
    n -= std::min<DWORD>(n, static_cast<DWORD>(g.readShortBy));
    std::copy_n(g.rx.begin(), n, static_cast<uint8_t*>(buffer));
    g.rx.erase(g.rx.begin(), g.rx.begin() + n);
    *read = n;
    return FT_OK;
}

FT_STATUS ZELK_D2XX_CALL GetQueueStatus(FT_HANDLE, DWORD* queued) {
    FT_STATUS st = FT_OK;
    if (Injected("FT_GetQueueStatus", st)) return st;
    if (!g.pendingChunks.empty()) {
        g.rx.insert(g.rx.end(), g.pendingChunks.front().begin(), g.pendingChunks.front().end());
        g.pendingChunks.pop_front();
    }
    *queued = static_cast<DWORD>(g.rx.size());
    return FT_OK;
}

}  // namespace

State& S() { return g; }

void Reset() { g = State{}; }

const D2xxApi& Api() {
    static const D2xxApi api = [] {
        D2xxApi a;
        a.ListDevices = ListDevices;
        a.Open = Open;
        a.Close = Close;
        a.ResetDevice = ResetDevice;
        a.SetLatencyTimer = SetLatencyTimer;
        a.Purge = Purge;
        a.Write = Write;
        a.Read = Read;
        a.GetQueueStatus = GetQueueStatus;
        return a;
    }();
    return api;
}

std::vector<uint8_t> Reply(uint8_t code, const std::vector<uint8_t>& data, bool nibbles) {
    std::vector<uint8_t> r{code, 0, 0, 0, 0};
    for (uint8_t b : data) {
        if (nibbles) {
            r.push_back(b & 0x0F);
            r.push_back(b >> 4);
        } else {
            r.push_back(b);
        }
    }
    return r;
}

void ScriptGoodModule(const std::string& ident16) {
    g.replies[0x81] = {Reply(0x81, std::vector<uint8_t>(ident16.begin(), ident16.end()), false)};
    std::vector<uint8_t> config(32);
    for (int i = 0; i < 32; ++i) config[i] = static_cast<uint8_t>(0xA0 + i);
    g.replies[0x84] = {Reply(0x84, config, true)};
    std::vector<uint8_t> inputs(37);
    for (int i = 0; i < 37; ++i) inputs[i] = static_cast<uint8_t>(i * 7);
    g.replies[0x90] = {Reply(0x90, inputs, true)};
}

int Calls(const std::string& name) { return static_cast<int>(std::count(g.calls.begin(), g.calls.end(), name)); }

}  // namespace fake
