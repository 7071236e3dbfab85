// The nine D2XX functions the driver uses, with D2XX's own types and status values.
// The link, command and open code calls D2XX only through a D2xxApi table; the run-time
// loader of the real library, the in-process simulated module and test doubles fill it.
#pragma once
#include <cstdint>

namespace zelk::usb {

using FT_HANDLE = void*;
using FT_STATUS = uint32_t;
using DWORD = uint32_t;
using ULONG = uint32_t;
using UCHAR = uint8_t;

enum : FT_STATUS {
    FT_OK = 0,
    FT_INVALID_HANDLE = 1,
    FT_DEVICE_NOT_FOUND = 2,
    FT_DEVICE_NOT_OPENED = 3,
    FT_IO_ERROR = 4,
    FT_INSUFFICIENT_RESOURCES = 5,
    FT_INVALID_PARAMETER = 6,
    FT_INVALID_BAUD_RATE = 7,
    FT_DEVICE_NOT_OPENED_FOR_ERASE = 8,
    FT_DEVICE_NOT_OPENED_FOR_WRITE = 9,
    FT_FAILED_TO_WRITE_DEVICE = 10,
    FT_EEPROM_READ_FAILED = 11,
    FT_EEPROM_WRITE_FAILED = 12,
    FT_EEPROM_ERASE_FAILED = 13,
    FT_EEPROM_NOT_PRESENT = 14,
    FT_EEPROM_NOT_PROGRAMMED = 15,
    FT_INVALID_ARGS = 16,
    FT_NOT_SUPPORTED = 17,
    FT_OTHER_ERROR = 18,
    FT_DEVICE_LIST_NOT_READY = 19,
};

constexpr DWORD FT_LIST_NUMBER_ONLY = 0x80000000u;
constexpr DWORD FT_LIST_BY_INDEX = 0x40000000u;
constexpr DWORD FT_OPEN_BY_SERIAL_NUMBER = 1;
constexpr DWORD FT_OPEN_BY_DESCRIPTION = 2;
constexpr ULONG FT_PURGE_RX = 1;
constexpr ULONG FT_PURGE_TX = 2;

// Serial number and description buffers handed to FT_ListDevices.
constexpr int kD2xxTextBufferSize = 65;

// The handle value that D2XX never returns for an open device.
inline FT_HANDLE InvalidHandle() { return reinterpret_cast<FT_HANDLE>(static_cast<uintptr_t>(0xFFFFFFFFu)); }

#if defined(_WIN32) && !defined(_WIN64)
#define ZELK_D2XX_CALL __stdcall
#else
#define ZELK_D2XX_CALL
#endif

// Prototypes exactly as the library exports them.
using PFN_FT_ListDevices = FT_STATUS(ZELK_D2XX_CALL*)(void* arg1, void* arg2, DWORD flags);
using PFN_FT_Open = FT_STATUS(ZELK_D2XX_CALL*)(int deviceIndex, FT_HANDLE* handle);
using PFN_FT_Close = FT_STATUS(ZELK_D2XX_CALL*)(FT_HANDLE handle);
using PFN_FT_ResetDevice = FT_STATUS(ZELK_D2XX_CALL*)(FT_HANDLE handle);
using PFN_FT_SetLatencyTimer = FT_STATUS(ZELK_D2XX_CALL*)(FT_HANDLE handle, UCHAR ms);
using PFN_FT_Purge = FT_STATUS(ZELK_D2XX_CALL*)(FT_HANDLE handle, ULONG mask);
using PFN_FT_Write = FT_STATUS(ZELK_D2XX_CALL*)(FT_HANDLE handle, void* buffer, DWORD bytes, DWORD* written);
using PFN_FT_Read = FT_STATUS(ZELK_D2XX_CALL*)(FT_HANDLE handle, void* buffer, DWORD bytes, DWORD* read);
using PFN_FT_GetQueueStatus = FT_STATUS(ZELK_D2XX_CALL*)(FT_HANDLE handle, DWORD* queued);

// One provider of the D2XX functions. A null entry (a function the loaded library lacks)
// is a failed call; `missing` then names what was missing, for the log.
struct D2xxApi {
    PFN_FT_ListDevices ListDevices = nullptr;
    PFN_FT_Open Open = nullptr;
    PFN_FT_Close Close = nullptr;
    PFN_FT_ResetDevice ResetDevice = nullptr;
    PFN_FT_SetLatencyTimer SetLatencyTimer = nullptr;
    PFN_FT_Purge Purge = nullptr;
    PFN_FT_Write Write = nullptr;
    PFN_FT_Read Read = nullptr;
    PFN_FT_GetQueueStatus GetQueueStatus = nullptr;
    const char* missing = nullptr;  // e.g. "libftd2xx.so" or "FT_Purge"; null when complete
};

// The provider this build of the driver uses: the loader of the real library in the
// plain driver, the simulated module in the simulator variant. Defined once per variant.
const D2xxApi& ProcessD2xx();

}  // namespace zelk::usb
