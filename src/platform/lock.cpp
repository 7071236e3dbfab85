#include "platform/platform.h"

#include <mutex>

namespace zelk::plat {

struct RecursiveLock::Impl {
    std::recursive_mutex m;
};

RecursiveLock::RecursiveLock() : impl_(std::make_unique<Impl>()) {}
RecursiveLock::~RecursiveLock() = default;
void RecursiveLock::Lock() { impl_->m.lock(); }
void RecursiveLock::Unlock() { impl_->m.unlock(); }

}  // namespace zelk::plat
