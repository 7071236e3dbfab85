// The live instances: what MakeDriver handed out and DisposeDriver has not taken back.
// Every export that takes an instance checks the host's pointer here first; any other
// pointer is treated as a null one. The check compares addresses only and never reads
// through the pointer, so a stale or foreign pointer is safe to pass.
#pragma once
#include <cstddef>

#include "core/Pomocny.h"

namespace zelk::host {

// A freed instance keeps its address out of use until this many later instances have been
// freed, so that the next MakeDriver cannot hand out the address a host may still hold.
constexpr size_t kHeldBackAddresses = 8;

// A new instance (constructed, not yet live); null when there is no memory.
TData* ConstructInstance();
// Makes a constructed instance live; false when the registry has no memory for it.
bool RegisterInstance(TData* d);
// Destroys a constructed instance that never became live.
void DiscardInstance(TData* d);

// DisposeDriver's check: the instance leaves the live ones, and the caller holds the host's
// reference from then on. Null when `p` is not live (never made, or disposed already).
TData* TakeInstance(void* p);

// Drops one reference (TData::Refs); the last one destroys the instance.
void ReleaseInstance(TData* d);

// One export call: the pointer checked against the live instances and, when live, the
// instance referenced until the call returns, so that a DisposeDriver on another thread
// cannot free it under the call.
class InstanceCall {
public:
    explicit InstanceCall(void* p) noexcept;
    ~InstanceCall();
    InstanceCall(const InstanceCall&) = delete;
    InstanceCall& operator=(const InstanceCall&) = delete;
    // The instance, or null when the pointer is not a live instance.
    TData* get() const { return d_; }

private:
    TData* d_ = nullptr;
};

}  // namespace zelk::host
