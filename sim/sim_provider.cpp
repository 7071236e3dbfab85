// The simulated-module driver variant: D2XX is the in-process bench, configured once from
// the file named by ZELK_SIM_CONFIG.
#include "sim/sim.h"

namespace zelk::usb {

const D2xxApi& ProcessD2xx() {
    sim::ConfigureGlobalBenchFromEnvironment();
    return sim::InProcessD2xx();
}

}  // namespace zelk::usb
