// The driver's status texts in UTF-8, to tell a status code from a text the driver shows.
#pragma once
#include <string>

namespace zelk::tool {

constexpr int kStatusCount = 18;

// The code of a status text (UTF-8) as a channel or the device reports it: 0..17, 99
// "Kanál nepoužit", 100 "Kanál nedefinován"; -1 when it matches none.
int StatusCodeOfText(const std::string& text);

}  // namespace zelk::tool
