// The configuration as MakeDriver leaves it, and the module settings a configuration gives.
#include "config/TCFG.h"
#include "domain/text.h"

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

ModuleSettings SettingsOfConfig(const TCFG& cfg) {
    ModuleSettings s;
    for (int i = 0; i < kAnalogCount; ++i) {
        s.PhysInput[i] = cfg.ChannelInput[i];
        s.RangeCode[i] = cfg.ChannelRange[i];
    }
    static_cast<TimerSettings&>(s) = cfg.Timer;
    // The module is sent the low byte of a settle time.
    for (int& t : s.SettleTime) t &= 0xFF;
    return s;
}


}  // namespace zelk
