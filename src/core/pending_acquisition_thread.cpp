// TEMPORARY until src/acquisition defines TThreadZELK::Execute; delete this file then.
#include "core/Pomocny.h"
namespace zelk {
void TThreadZELK::Execute() {}
}  // namespace zelk
