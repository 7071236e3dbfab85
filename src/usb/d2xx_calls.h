// Calls into a D2XX table. A missing function (null entry) behaves as a call that failed,
// so the link and open code needs no checks of its own and never calls through null.
#pragma once
#include <string>

#include "usb/d2xx.h"

namespace zelk::usb::call {

// The status a missing function reports; any status other than FT_OK is a failure.
constexpr FT_STATUS kMissing = FT_OTHER_ERROR;

FT_STATUS ListDevices(const D2xxApi& api, void* arg1, void* arg2, DWORD flags);
FT_STATUS Open(const D2xxApi& api, int deviceIndex, FT_HANDLE* handle);
FT_STATUS Close(const D2xxApi& api, FT_HANDLE h);
FT_STATUS ResetDevice(const D2xxApi& api, FT_HANDLE h);
FT_STATUS SetLatencyTimer(const D2xxApi& api, FT_HANDLE h, UCHAR ms);
FT_STATUS Purge(const D2xxApi& api, FT_HANDLE h, ULONG mask);
FT_STATUS Write(const D2xxApi& api, FT_HANDLE h, void* buffer, DWORD bytes, DWORD* written);
FT_STATUS Read(const D2xxApi& api, FT_HANDLE h, void* buffer, DWORD bytes, DWORD* read);
FT_STATUS GetQueueStatus(const D2xxApi& api, FT_HANDLE h, DWORD* queued);

// Name of the first of the nine functions the table lacks; null when it is complete.
const char* FirstMissingFunction(const D2xxApi& api);
// For the log: what is missing, e.g. "libftd2xx.so nenalezena" or "funkce FT_Purge nenalezena";
// empty when the table is complete.
std::string MissingText(const D2xxApi& api);

// The serial number or description of a device by index, from a 65-byte buffer that is
// terminated here whatever the library wrote. Empty text when the call fails.
FT_STATUS ListTextByIndex(const D2xxApi& api, int index, DWORD what, std::string& text);

}  // namespace zelk::usb::call
