// TEMPORARY until src/records defines TThreadKonverze::Execute; delete this file then.
#include "core/Pomocny.h"
namespace zelk {
void TThreadKonverze::Execute() {}
}  // namespace zelk
