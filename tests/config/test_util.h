// Helpers of the configuration tests.
#pragma once
#include <string>

#include "domain/text.h"

namespace zelk {

// UTF-8 source text as bytes, and its Windows-1250 form.
inline std::string U8(const char8_t* s) { return std::string(reinterpret_cast<const char*>(s)); }
inline std::string Cp(const char8_t* s) { return text::Utf8ToCp1250(U8(s)); }

}  // namespace zelk
