// The parameter file: read into a working copy of TCFG, checked in a fixed order.
#pragma once
#include <cstdint>
#include <string>

namespace zelk {

struct TCFG;

// True with "V pořádku", or false with the first problem as a Czech message (cp1250).
// `path` may be null (read as a missing file).
bool ReadParameterFile(const char* path, TCFG& cfg, std::string& message);

// "10V" 0, "5V" 1, "2V" 2, "1V" 3, "500mV" 4, "200mV" 5, anything else 0 (exact case).
uint8_t RangeCodeOf(const std::string& text);

// A real text: "." and "," both mean the decimal point; blanks around allowed.
bool ParseRealText(const std::string& text, double& value);

// An integer text: decimal (int32 range), or hexadecimal after "0x", "0X" or "$" (a 32-bit
// pattern, so $FFFFFFFF is -1); optional sign, blanks around allowed. False leaves `value`.
bool ParseIntegerText(const std::string& text, int32_t& value);

}  // namespace zelk
