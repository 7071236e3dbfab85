// The configuration as MakeDriver leaves it: pure, so that a host tool reading a parameter
// file starts from the same defaults as the driver.
#include "config/text.h"
#include "core/Pomocny.h"

namespace zelk {

void SetConfigDefaults(TCFG& cfg) {
    cfg = TCFG{};
    cfg.ModuleSerial = "00000000";
    cfg.LogFileName = "Rq_zelk2716e.log";
    for (int i = 0; i < kChannelCount; ++i) {
        cfg.ChannelName[i].clear();
        cfg.ChannelRangeName[i].clear();
        cfg.ChannelInput[i] = 0;
        cfg.ChannelRange[i] = 0;
        cfg.ChannelConstA[i] = 1.0;
        cfg.ChannelConstB[i] = 0.0;
    }
    for (int i = 0; i < kAnalogCount; ++i) {
        cfg.ChannelName[i] = "Kanál "_cp + std::to_string(i);
        cfg.ChannelRangeName[i] = "10V";
        cfg.ChannelInput[i] = static_cast<uint8_t>(i);
    }
    cfg.TimerPeriodText = "1000.0";
    cfg.ConvFileTypeName = "DBF";
    cfg.ConvFileType = 1;
}

}  // namespace zelk
