// The USB link to the module: framing and transfer, the module's commands, discovery,
// open and close. Everything goes through the instance's D2XX table.
#pragma once
#include <array>
#include <cstdint>
#include <string>

#include "platform/clock.h"
#include "usb/d2xx.h"
#include "usb/link_error.h"
#include "usb/protocol.h"

namespace zelk {
struct TData;
struct ModuleSettings;
enum class DeviceReset : uint8_t;
}

namespace zelk::usb {

constexpr int kLinkBufferSize = 257;
using LinkBuffer = std::array<uint8_t, kLinkBufferSize>;

using TimerConfigBlock = std::array<uint8_t, kTimerConfigSize>;
using InputBlock = std::array<uint8_t, kInputBlockSize>;

// Link framing and transfer. Each returns success or what failed (usb/link_error.h).
// A reply is waited for on `clock` (the instance's), at most `timeoutMs`.
LinkResult ResetLink(const D2xxApi& api, FT_HANDLE h);
LinkResult SendCommand(const D2xxApi& api, FT_HANDLE h, uint8_t code, uint8_t count, const LinkBuffer& data);
LinkResult ExchangeCommand(const D2xxApi& api, FT_HANDLE h, const plat::Clock& clock, uint32_t timeoutMs, uint8_t code, bool rawReply,
                           LinkBuffer& buffer, uint8_t& count);
// The packet that SendCommand writes (code, four length nibbles, two nibbles per byte).
int BuildPacket(uint8_t code, uint8_t count, const uint8_t* data, uint8_t* packet, int capacity);

// Module commands, one per code of usb/protocol.h. Results are handed back only on success.
LinkResult ModuleReset(const D2xxApi& api, FT_HANDLE h);
LinkResult ModuleIdentify(const D2xxApi& api, FT_HANDLE h, const plat::Clock& clock, uint32_t timeoutMs, std::string& ident);
LinkResult ModuleWriteLong(const D2xxApi& api, FT_HANDLE h, uint32_t value);
LinkResult ModuleReadConfig(const D2xxApi& api, FT_HANDLE h, const plat::Clock& clock, uint32_t timeoutMs, TimerConfigBlock& block);
LinkResult ModuleWriteConfig(const D2xxApi& api, FT_HANDLE h, const TimerConfigBlock& block);
LinkResult ModuleReadInputs(const D2xxApi& api, FT_HANDLE h, const plat::Clock& clock, uint32_t timeoutMs, InputBlock& block);
LinkResult ModuleStart(const D2xxApi& api, FT_HANDLE h);
LinkResult ModuleWriteOutput(const D2xxApi& api, FT_HANDLE h, uint8_t first, uint8_t value);
LinkResult ModuleWriteCounter(const D2xxApi& api, FT_HANDLE h, uint8_t counter, uint16_t preset);

// The configuration block of the module settings: scan entries, the period in ticks, the
// enables' low bytes, the presets and the settle times' low bytes.
TimerConfigBlock EncodeTimerConfig(const ModuleSettings& s);
// The standard configuration (usb/protocol.h) with the scan of the analog settings.
TimerConfigBlock StandardConfig(const std::array<uint8_t, cfgblock::kScanCount>& physInput,
                                const std::array<uint8_t, cfgblock::kScanCount>& rangeCode);
// Scan entry: (range code AND 7) x 16 + physical input, in 8 bits.
uint8_t ScanEntry(uint8_t rangeCode, uint8_t physInput);
// A period in microseconds as the module's ticks: rounded to the tick, kept to 50..65535.
uint16_t PeriodTicks(double periodUs);

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
