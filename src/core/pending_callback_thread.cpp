// TEMPORARY until src/host defines TThreadCallBack::Execute; delete this file then.
#include "core/Pomocny.h"
namespace zelk {
void TThreadCallBack::Execute() {}
}  // namespace zelk
