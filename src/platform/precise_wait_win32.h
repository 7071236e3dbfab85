// Inside the Windows platform layer: a wait for an event (or only for the time, with a null
// event) that lasts `ms` as precisely as the system allows, on `timer` when the caller keeps
// a high-resolution timer (else on one made for this wait). True when the event was set.
#pragma once
#include <windows.h>

#include <cstdint>

namespace zelk::plat {
bool PreciseWait(HANDLE event, uint32_t ms, HANDLE timer = nullptr);
}
