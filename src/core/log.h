// The instance's log file: one line per call of WriteLog, filtered by the configured level.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/platform.h"

namespace zelk {

struct TData;

// Opens (appends to) Cfg.LogFileName when Cfg.LogLevel is not 0; closes an earlier open
// log of the instance first.
void OpenLog(TData* d);
// "[" date time "." ms "] - " serial " - " text, CR LF. Never fails towards the caller;
// a line written while the log is closed is dropped.
void WriteLog(TData* d, std::string_view text, uint8_t level);
// Closes the file; the instance keeps its (closed) log state, so late lines are dropped.
void CloseLog(TData* d);

struct LogState;
// The log state of a new instance; it lives as long as the instance, so that a thread still
// writing never meets a state being replaced.
LogState* NewLogState();

// One line as WriteLog writes it, CR LF included, for the given local time.
std::string BuildLogLine(const plat::LocalTime& t, std::string_view serial, std::string_view text);
// "Vnitřní chyba ovladače: ", the start of the level-1 line of a failure that no step
// expected (an exception caught at the edge of a thread or a pass).
const char* InternalErrorText();
// True when the log is open (a file is being written).
bool LogIsOpen(const TData* d);

}  // namespace zelk
