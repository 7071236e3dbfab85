// The USB link to the module: framing and transfer, the module's commands, discovery,
// open and close. Everything goes through the instance's D2XX table.
#pragma once
#include <array>
#include <cstdint>
#include <string>

#include "platform/clock.h"
#include "usb/d2xx.h"

namespace zelk {
struct TData;
enum class DeviceReset : uint8_t;
}

namespace zelk::usb {

constexpr int kLinkBufferSize = 257;
using LinkBuffer = std::array<uint8_t, kLinkBufferSize>;

constexpr int kTimerConfigSize = 32;
constexpr int kInputBlockSize = 37;
constexpr int kIdentSize = 16;
using TimerConfigBlock = std::array<uint8_t, kTimerConfigSize>;
using InputBlock = std::array<uint8_t, kInputBlockSize>;

// Link framing and transfer. Each returns success; `err` gets "V pořádku" or the failure text.
// A reply is waited for on `clock` (the instance's), at most `timeoutMs`.
bool ResetLink(const D2xxApi& api, FT_HANDLE h, std::string& err);
bool SendCommand(const D2xxApi& api, FT_HANDLE h, uint8_t code, uint8_t count, const LinkBuffer& data, std::string& err);
bool ExchangeCommand(const D2xxApi& api, FT_HANDLE h, const plat::Clock& clock, uint32_t timeoutMs, uint8_t code, std::string& err, bool rawReply,
                     LinkBuffer& buffer, uint8_t& count);
// The packet that SendCommand writes (code, four length nibbles, two nibbles per byte).
int BuildPacket(uint8_t code, uint8_t count, const uint8_t* data, uint8_t* packet, int capacity);

// Module commands 0x80..0x93.
bool ModuleReset(const D2xxApi& api, FT_HANDLE h, std::string& err);
bool ModuleIdentify(const D2xxApi& api, FT_HANDLE h, const plat::Clock& clock, uint32_t timeoutMs, std::string& ident, std::string& err);
bool ModuleWriteLong(const D2xxApi& api, FT_HANDLE h, uint32_t value, std::string& err);
bool ModuleReadConfig(const D2xxApi& api, FT_HANDLE h, const plat::Clock& clock, uint32_t timeoutMs, TimerConfigBlock& block, std::string& err);
bool ModuleWriteConfig(const D2xxApi& api, FT_HANDLE h, const TimerConfigBlock& block, std::string& err);
bool ModuleReadInputs(const D2xxApi& api, FT_HANDLE h, const plat::Clock& clock, uint32_t timeoutMs, InputBlock& block, std::string& err);
bool ModuleStart(const D2xxApi& api, FT_HANDLE h, std::string& err);
bool ModuleWriteOutput(const D2xxApi& api, FT_HANDLE h, uint8_t first, uint8_t value, std::string& err);
bool ModuleWriteCounter(const D2xxApi& api, FT_HANDLE h, uint8_t counter, uint16_t preset, std::string& err);

// The standard configuration: 16 scan entries from the analog settings, period 2000 ticks,
// everything enabled, settle bytes 0, 0, 0, 0, 3, 8.
TimerConfigBlock StandardConfig(const std::array<uint8_t, 16>& physInput, const std::array<uint8_t, 16>& rangeCode);
// Scan entry: (range code AND 7) x 16 + physical input, in 8 bits.
uint8_t ScanEntry(uint8_t rangeCode, uint8_t physInput);

}  // namespace zelk::usb

namespace zelk {
// Finds the configured module among the attached devices, opens, resets, stops,
// identifies and configures it. The outcome is the device status and the log.
void OpenModule(TData* d);
// Stops the module, closes the handle, resets the device block (keeping what `what` says)
// and the finish state.
// Done's close keeps the settings; the retry's keeps the last measurement's outcome too.
void CloseModule(TData* d);
void CloseModule(TData* d, DeviceReset what);
}  // namespace zelk
