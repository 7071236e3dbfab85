#include "host/instance_registry.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <mutex>
#include <new>
#include <shared_mutex>
#include <vector>

namespace zelk::host {
namespace {

static_assert(alignof(TData) <= __STDCPP_DEFAULT_NEW_ALIGNMENT__, "TData fits plain operator new");

struct Registry {
    // Export calls only read `live` (shared); MakeDriver and DisposeDriver change it
    // (exclusive). The standard shared mutex carries no annotations for the analysis:
    // `live` is touched only in the three functions that take it.
    std::shared_mutex lock;
    std::vector<uintptr_t> live;  // sorted addresses
    // The storage of the last freed instances, oldest at `next`.
    plat::Mutex heldLock;
    std::array<void*, kHeldBackAddresses> heldBack GUARDED_BY(heldLock){};
    size_t next GUARDED_BY(heldLock) = 0;
};

// Never destroyed: a reaper may release an instance while the process runs its exit.
Registry& TheRegistry() {
    static Registry* r = new Registry;
    return *r;
}

uintptr_t Key(const void* p) { return reinterpret_cast<uintptr_t>(p); }

// Keeps the storage of a destroyed instance and gives the oldest kept one back to the heap.
void HoldBack(void* storage) {
    Registry& r = TheRegistry();
    void* oldest;
    {
        plat::LockGuard g(r.heldLock);
        oldest = r.heldBack[r.next];
        r.heldBack[r.next] = storage;
        r.next = (r.next + 1) % r.heldBack.size();
    }
    ::operator delete(oldest);
}

}  // namespace

TData* ConstructInstance() {
    void* storage = ::operator new(sizeof(TData), std::nothrow);
    if (storage == nullptr) return nullptr;
    try {
        return new (storage) TData;
    } catch (...) {
        ::operator delete(storage);
        return nullptr;
    }
}

bool RegisterInstance(TData* d) {
    try {
        Registry& r = TheRegistry();
        std::unique_lock<std::shared_mutex> g(r.lock);
        r.live.insert(std::upper_bound(r.live.begin(), r.live.end(), Key(d)), Key(d));
        return true;
    } catch (...) {
        return false;
    }
}

void DiscardInstance(TData* d) {
    d->~TData();
    ::operator delete(static_cast<void*>(d));
}

TData* TakeInstance(void* p) {
    if (p == nullptr) return nullptr;
    try {
        Registry& r = TheRegistry();
        std::unique_lock<std::shared_mutex> g(r.lock);
        const auto it = std::lower_bound(r.live.begin(), r.live.end(), Key(p));
        if (it == r.live.end() || *it != Key(p)) return nullptr;
        r.live.erase(it);
        return static_cast<TData*>(p);
    } catch (...) {
        return nullptr;
    }
}

void ReleaseInstance(TData* d) {
    if (d->Refs.fetch_sub(1, std::memory_order_acq_rel) != 1) return;
    d->~TData();
    HoldBack(d);
}

InstanceCall::InstanceCall(void* p) noexcept {
    if (p == nullptr) return;
    try {
        Registry& r = TheRegistry();
        std::shared_lock<std::shared_mutex> g(r.lock);
        if (std::binary_search(r.live.begin(), r.live.end(), Key(p))) {
            d_ = static_cast<TData*>(p);
            // Taken under the lock: DisposeDriver cannot drop the host's reference before.
            d_->Refs.fetch_add(1, std::memory_order_relaxed);
        }
    } catch (...) {
        d_ = nullptr;
    }
}

InstanceCall::~InstanceCall() {
    if (d_ != nullptr) ReleaseInstance(d_);
}

}  // namespace zelk::host
