// English glosses of the driver's status codes, apart from the rest of the tool so that
// the Python package's constants generator links them alone.
#include "status_gloss.h"

#include "config/status_texts.h"

namespace zelk::tool {

std::string StatusGloss(int code) {
    static const char* const kGloss[] = {
        "OK",
        "library error: cannot create the data structure",
        "library error: invalid pointer",
        "library error: invalid data",
        "bad parameter file",
        "requested USB module not found",
        "channel not defined",
        "bad REAL value of the channel",
        "cannot create the driver window",
        "USB module not found",
        "FTDI library call failed",
        "cannot open the USB module",
        "USB module error (restart)",
        "module command failed",
        "USB link data out of step",
        "USB link timeout",
        "disk access error",
        "this ZELK module is not supported by the driver",
    };
    static_assert(sizeof kGloss / sizeof kGloss[0] == kStatusTextCount, "one gloss per status text");
    if (code >= 0 && code < kStatusTextCount) return kGloss[code];
    if (code == kChannelStatusUnused) return "channel not used yet";
    if (code == kChannelStatusUndefined) return "channel not defined";
    return "";
}

}  // namespace zelk::tool
