// English meaning of the driver's status codes, shown beside its Czech texts.
#pragma once
#include <string>

namespace zelk::tool {

// English meaning of a device or channel status code; empty for a code without one.
std::string StatusGloss(int code);

}  // namespace zelk::tool
