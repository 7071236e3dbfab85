// TEMPORARY until src/config/log.cpp defines LogState; delete this file then.
#include "core/Pomocny.h"
namespace zelk {
struct LogState {};
void LogStateDeleter::operator()(LogState* s) const { delete s; }
}  // namespace zelk
