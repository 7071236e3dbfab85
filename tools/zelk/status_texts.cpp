#include "status_texts.h"

#include "config/status_texts.h"
#include "config/text.h"

namespace zelk::tool {

namespace {
// The driver's status table, shown as UTF-8.
std::string Utf8Status(int code) { return zelk::text::Cp1250ToUtf8(zelk::StatusTexts[code]); }
}  // namespace

int StatusCodeOfText(const std::string& text) {
    // A channel's own statuses first: they share the texts of entries 5 and 6.
    if (text == Utf8Status(5)) return 99;
    if (text == Utf8Status(6)) return 100;
    if (text == "Nenalezen požadovaný USB modul.") return 5;
    for (int code = 0; code < kStatusCount; ++code) {
        std::string t = Utf8Status(code);
        if (text == t || text.rfind(t + " - ", 0) == 0) return code;
    }
    return -1;
}

}  // namespace zelk::tool
