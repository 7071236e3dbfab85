// TEMPORARY: definitions that the subsystems under construction replace. Each subsystem
// deletes its entry here when it defines the real one. This file must be gone at the end.
#include "core/Pomocny.h"

namespace zelk {

// config/log (replaced by the log subsystem)
struct LogState {};
void LogStateDeleter::operator()(LogState* s) const { delete s; }

// window (replaced by the window subsystem)
void DestroyWindowObject(TForm1*) {}

// acquisition, host, records (replaced by their subsystems)
void TThreadZELK::Execute() {}
void TThreadCallBack::Execute() {}
void TThreadKonverze::Execute() {}

}  // namespace zelk
