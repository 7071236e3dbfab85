#include "core/Pomocny.h"

namespace zelk {

TDriverThread::TDriverThread(TData* data) : data_(data), thread_([this](plat::Thread&) { Execute(); }) {}

TDriverThread::~TDriverThread() {
    thread_.RequestTerminate();
    thread_.Join();
}

// Each derived class joins before its own part is destroyed, so Execute never runs on a
// half-destroyed object.
TThreadZELK::~TThreadZELK() {
    Terminate();
    Join();
}
TThreadCallBack::~TThreadCallBack() {
    Terminate();
    Join();
}
TThreadKonverze::~TThreadKonverze() {
    Terminate();
    Join();
}

}  // namespace zelk
