// The module's commands, one operation per code. Results are handed back only on success.
#include <algorithm>

#include "usb/Vorna_FTD201.h"
#include "usb/protocol.h"

namespace zelk::usb {

namespace {

LinkResult SendData(const D2xxApi& api, FT_HANDLE h, uint8_t code, std::initializer_list<uint8_t> bytes) {
    LinkBuffer data{};
    std::copy(bytes.begin(), bytes.end(), data.begin());
    return SendCommand(api, h, code, static_cast<uint8_t>(bytes.size()), data);
}

// Exchanges a command without request data; the reply data is left in `buffer`.
LinkResult ReadBlock(const D2xxApi& api, FT_HANDLE h, const plat::Clock& clock, uint32_t timeoutMs, uint8_t code, bool raw, LinkBuffer& buffer) {
    uint8_t count = 0;
    return ExchangeCommand(api, h, clock, timeoutMs, code, raw, buffer, count);
}

}  // namespace

LinkResult ModuleReset(const D2xxApi& api, FT_HANDLE h) {
    if (LinkResult r = SendData(api, h, kCmdReset, {}); !r.ok()) return r;
    // The link reset is the second half of the command: its failure is the command's.
    LinkResult r = ResetLink(api, h);
    if (!r.ok()) r.error().step = LinkStep::Command;
    return r;
}

LinkResult ModuleIdentify(const D2xxApi& api, FT_HANDLE h, const plat::Clock& clock, uint32_t timeoutMs, std::string& ident) {
    LinkBuffer buffer{};
    if (LinkResult r = ReadBlock(api, h, clock, timeoutMs, kCmdIdentify, true, buffer); !r.ok()) return r;
    // Every byte is a character, whatever its value: 12 of name, 4 of version, nothing trimmed.
    const char* b = reinterpret_cast<const char*>(buffer.data());
    ident = std::string(b, kIdentNameSize) + "  verze " + std::string(b + kIdentNameSize, kIdentVersionSize);
    return {};
}

LinkResult ModuleWriteLong(const D2xxApi& api, FT_HANDLE h, uint32_t value) {
    return SendData(api, h, kCmdWriteLong,
                    {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8), static_cast<uint8_t>(value >> 16),
                     static_cast<uint8_t>(value >> 24)});
}

LinkResult ModuleReadConfig(const D2xxApi& api, FT_HANDLE h, const plat::Clock& clock, uint32_t timeoutMs, TimerConfigBlock& block) {
    LinkBuffer buffer{};
    if (LinkResult r = ReadBlock(api, h, clock, timeoutMs, kCmdReadConfig, false, buffer); !r.ok()) return r;
    std::copy_n(buffer.begin(), kTimerConfigSize, block.begin());
    return {};
}

LinkResult ModuleWriteConfig(const D2xxApi& api, FT_HANDLE h, const TimerConfigBlock& block) {
    LinkBuffer data{};
    std::copy(block.begin(), block.end(), data.begin());
    return SendCommand(api, h, kCmdWriteConfig, kTimerConfigSize, data);
}

LinkResult ModuleReadInputs(const D2xxApi& api, FT_HANDLE h, const plat::Clock& clock, uint32_t timeoutMs, InputBlock& block) {
    LinkBuffer buffer{};
    if (LinkResult r = ReadBlock(api, h, clock, timeoutMs, kCmdReadInputs, false, buffer); !r.ok()) return r;
    std::copy_n(buffer.begin(), kInputBlockSize, block.begin());
    return {};
}

LinkResult ModuleStart(const D2xxApi& api, FT_HANDLE h) { return SendData(api, h, kCmdStart, {}); }

LinkResult ModuleWriteOutput(const D2xxApi& api, FT_HANDLE h, uint8_t first, uint8_t value) {
    return SendData(api, h, kCmdWriteOutput, {first, value});
}

LinkResult ModuleWriteCounter(const D2xxApi& api, FT_HANDLE h, uint8_t counter, uint16_t preset) {
    return SendData(api, h, kCmdWriteCounter, {counter, static_cast<uint8_t>(preset), static_cast<uint8_t>(preset >> 8)});
}

}  // namespace zelk::usb
