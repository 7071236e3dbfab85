// TEMPORARY until the simulator lands: an empty D2XX table.
#include "usb/d2xx.h"
namespace zelk::usb {
const D2xxApi& ProcessD2xx() {
    static D2xxApi api{};
    api.missing = "simulator";
    return api;
}
}  // namespace zelk::usb
