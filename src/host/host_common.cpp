#include <algorithm>

#include "core/log.h"
#include "domain/numtext.h"
#include "domain/text.h"
#include "host/host_internal.h"

namespace zelk::host {

// The version part comes from the project version (CMake).
const char* DriverInfoText() { return "Ovladač ZELK-2716E v." ZELK_VERSION ""_cp; }

void Log(TData* d, const char* tag, std::string_view text, uint8_t level) {
    std::string line(tag);
    line.append(text);
    WriteLog(d, line, level);
}

void CopyBounded(const std::string& text, char* buf, int32_t capacity) {
    if (buf == nullptr || capacity < 0) return;
    size_t n = std::min(text.size(), static_cast<size_t>(capacity));
    std::memcpy(buf, text.data(), n);
    buf[n] = 0;
}

bool ChannelDefined(TData* d, uint32_t ch) {
    plat::LockGuard g(d->DataLock);
    return d->Channels[ch].Defined != 0;
}

uint32_t TruncateToLong(double v) {
    if (!(v > 0.0)) return 0;
    if (v >= 4294967295.0) return 4294967295u;
    return static_cast<uint32_t>(v);
}

void FinishNow(TJedenKanal& c, const StatusPair& status, uint32_t now) {
    c.Pending = 0;
    c.Processed = 0;
    c.NotifyWanted = 0;
    c.RequestCount++;
    c.RequestTick = now;
    c.Status = status.code;
    c.StatusText = status.text;
    c.Finished = 1;
}

}  // namespace zelk::host
