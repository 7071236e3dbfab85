// The module's commands, one operation per code. Results are handed back only on success.
#include <algorithm>

#include "config/text.h"
#include "usb/Vorna_FTD201.h"

namespace zelk::usb {

namespace {

bool SendData(const D2xxApi& api, FT_HANDLE h, uint8_t code, std::initializer_list<uint8_t> bytes, std::string& err) {
    LinkBuffer data{};
    std::copy(bytes.begin(), bytes.end(), data.begin());
    return SendCommand(api, h, code, static_cast<uint8_t>(bytes.size()), data, err);
}

// Exchanges a command without request data; the reply data is left in `buffer`.
bool ReadBlock(const D2xxApi& api, FT_HANDLE h, const plat::Clock& clock, uint32_t timeoutMs, uint8_t code, bool raw, LinkBuffer& buffer,
               std::string& err) {
    uint8_t count = 0;
    return ExchangeCommand(api, h, clock, timeoutMs, code, err, raw, buffer, count);
}

}  // namespace

bool ModuleReset(const D2xxApi& api, FT_HANDLE h, std::string& err) {
    if (!SendData(api, h, 0x80, {}, err)) return false;
    return ResetLink(api, h, err);
}

bool ModuleIdentify(const D2xxApi& api, FT_HANDLE h, const plat::Clock& clock, uint32_t timeoutMs, std::string& ident, std::string& err) {
    LinkBuffer buffer{};
    if (!ReadBlock(api, h, clock, timeoutMs, 0x81, true, buffer, err)) return false;
    // Every byte is a character, whatever its value: 12 of name, 4 of version, nothing trimmed.
    const char* b = reinterpret_cast<const char*>(buffer.data());
    ident = std::string(b, 12) + "  verze " + std::string(b + 12, 4);
    err = "V pořádku"_cp;
    return true;
}

bool ModuleWriteLong(const D2xxApi& api, FT_HANDLE h, uint32_t value, std::string& err) {
    return SendData(api, h, 0x83,
                    {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8), static_cast<uint8_t>(value >> 16),
                     static_cast<uint8_t>(value >> 24)},
                    err);
}

bool ModuleReadConfig(const D2xxApi& api, FT_HANDLE h, const plat::Clock& clock, uint32_t timeoutMs, TimerConfigBlock& block, std::string& err) {
    LinkBuffer buffer{};
    if (!ReadBlock(api, h, clock, timeoutMs, 0x84, false, buffer, err)) return false;
    std::copy_n(buffer.begin(), kTimerConfigSize, block.begin());
    err = "V pořádku"_cp;
    return true;
}

bool ModuleWriteConfig(const D2xxApi& api, FT_HANDLE h, const TimerConfigBlock& block, std::string& err) {
    LinkBuffer data{};
    std::copy(block.begin(), block.end(), data.begin());
    return SendCommand(api, h, 0x85, kTimerConfigSize, data, err);
}

bool ModuleReadInputs(const D2xxApi& api, FT_HANDLE h, const plat::Clock& clock, uint32_t timeoutMs, InputBlock& block, std::string& err) {
    LinkBuffer buffer{};
    if (!ReadBlock(api, h, clock, timeoutMs, 0x90, false, buffer, err)) return false;
    std::copy_n(buffer.begin(), kInputBlockSize, block.begin());
    err = "V pořádku"_cp;
    return true;
}

bool ModuleStart(const D2xxApi& api, FT_HANDLE h, std::string& err) { return SendData(api, h, 0x91, {}, err); }

bool ModuleWriteOutput(const D2xxApi& api, FT_HANDLE h, uint8_t first, uint8_t value, std::string& err) {
    return SendData(api, h, 0x92, {first, value}, err);
}

bool ModuleWriteCounter(const D2xxApi& api, FT_HANDLE h, uint8_t counter, uint16_t preset, std::string& err) {
    return SendData(api, h, 0x93, {counter, static_cast<uint8_t>(preset), static_cast<uint8_t>(preset >> 8)}, err);
}

}  // namespace zelk::usb
