#include <exception>
#include <string>

#include "core/log.h"
#include "core/Pomocny.h"

namespace zelk {

TDriverThread::TDriverThread(TData* data) : data_(data), thread_([this](plat::Thread&) { RunGuarded(); }) {}

TDriverThread::~TDriverThread() {
    thread_.RequestTerminate();
    thread_.Join();
}

void TDriverThread::Terminate() {
    thread_.RequestTerminate();
    if (data_) {
        data_->AcqWake.Raise();
        data_->NotifyWake.Raise();
    }
}

void TDriverThread::RunGuarded() {
    std::string what;
    try {
        Execute();
        return;
    } catch (const std::exception& e) {
        what = e.what();
    } catch (...) {
        what = "?";
    }
    try {
        if (data_) WriteLog(data_, std::string(LogTag()) + "97 " + InternalErrorText() + what, 1);
    } catch (...) {
    }
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
