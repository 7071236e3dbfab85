// The instance's log file: one line per call of WriteLog, filtered by the configured level.
#pragma once
#include <cstdint>
#include <string_view>

namespace zelk {

struct TData;

// Opens (appends to) Cfg.LogFileName when Cfg.LogLevel is not 0; closes an earlier open
// log of the instance first.
void OpenLog(TData* d);
// "[" date time "." ms "] - " serial " - " text, CR LF. Never fails towards the caller;
// a line written while the log is closed is dropped.
void WriteLog(TData* d, std::string_view text, uint8_t level);
void CloseLog(TData* d);

}  // namespace zelk
