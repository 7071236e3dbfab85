/* zelk2716e.h: the host interface of the ZELK-2716E driver library.
 *
 * One header for every host, C or C++, and for the driver itself, which compiles its
 * exports against it. The 18 exports are cdecl on 32-bit x86 and undecorated; their C
 * types are the same on every platform. The instance is the pointer that MakeDriver
 * returns. Texts are zero-terminated Windows-1250 strings. Booleans are one byte, 1 or 0.
 *
 * A host that loads the library at run time (LoadLibrary/dlopen) uses the ZelkXxxFn
 * pointer types below; define ZELK2716E_NO_PROTOTYPES before including this header to
 * leave the function declarations out. */
#ifndef ZELK2716E_H
#define ZELK2716E_H

#include <stdint.h>

#if defined(_WIN32)
#if defined(ZELK_BUILDING_DRIVER)
#define ZELK_EXPORT __declspec(dllexport)
#else
#define ZELK_EXPORT __declspec(dllimport)
#endif
#if defined(__i386__) || defined(_M_IX86)
#define ZELK_CDECL __cdecl
#else
#define ZELK_CDECL
#endif
#else
#define ZELK_EXPORT __attribute__((visibility("default")))
#if defined(__i386__)
#define ZELK_CDECL __attribute__((cdecl))
#else
#define ZELK_CDECL
#endif
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* The host's value record: a type tag and 8 payload bytes (boolean: byte 0; longcard:
 * uint32; real: IEEE 754 double; string: a pointer to the host's character buffer).
 * 12 bytes, alignment 4: passed by value it is three 32-bit stack words on i386. Read and
 * write the payload through memcpy. */
typedef struct ZelkValue {
    int32_t tag;
    uint8_t payload[8];
} ZelkValue;

#if defined(__cplusplus)
static_assert(sizeof(ZelkValue) == 12 && alignof(ZelkValue) == 4, "the host value record is 12 bytes, alignment 4");
#elif defined(__STDC_VERSION__) && __STDC_VERSION__ >= 201112L
_Static_assert(sizeof(ZelkValue) == 12 && _Alignof(ZelkValue) == 4, "the host value record is 12 bytes, alignment 4");
#else
typedef char zelk_value_record_is_12_bytes[sizeof(ZelkValue) == 12 ? 1 : -1];
#endif

/* Type tags of the value record. */
enum {
    ZELK_TAG_BOOLEAN = 2,
    ZELK_TAG_LONGCARD = 5,
    ZELK_TAG_REAL = 10,
    ZELK_TAG_STRING = 11
};

/* Channel numbers (0..203; numbers not named here are not defined). */
enum {
    ZELK_CH_AIN0 = 0,               /* real input: analog channel n = 0..15, (U + B) x A */
    ZELK_CH_AIN_LAST = 15,
    ZELK_CH_DIN0 = 50,              /* boolean input: digital input DIN0 (51: DIN1) */
    ZELK_CH_DIN1 = 51,
    ZELK_CH_DIN = 58,               /* longcard input: both digital inputs as one number */
    ZELK_CH_DOUT_BOOL = 70,         /* boolean output: digital output as 0 or 1 */
    ZELK_CH_DOUT = 78,              /* longcard output: digital output, 2 bits */
    ZELK_CH_CNT0 = 80,              /* longcard input: counter values (81: CNT1) */
    ZELK_CH_CNT1 = 81,
    ZELK_CH_CNT0_PRESET = 82,       /* longcard output: preset a counter now (83: CNT1) */
    ZELK_CH_CNT1_PRESET = 83,
    ZELK_CH_DEVICE_FAULT = 97,      /* boolean input: 1 while the device status is not 0 */
    ZELK_CH_DEVICE_STATUS = 98,     /* longcard input: device status code (ZELK_STATUS_...) */
    ZELK_CH_DEVICE_TEXT = 99,       /* string input: device status text */
    ZELK_CH_RANGE0 = 100,           /* longcard output: range code of analog channel n = ch - 100 */
    ZELK_CH_RANGE_LAST = 115,
    ZELK_CH_INPUT0 = 132,           /* longcard output: physical input of analog channel n = ch - 132 */
    ZELK_CH_INPUT_LAST = 147,
    ZELK_CH_TIMER_CHANNELS = 164,   /* longcard output: channels the timer measures */
    ZELK_CH_TIMER_PERIOD = 165,     /* real bidirectional: timer period in microseconds */
    ZELK_CH_TIMER_CNT0_PRESET = 166,
    ZELK_CH_TIMER_CNT0_ENABLE = 167,
    ZELK_CH_TIMER_CNT1_PRESET = 168,
    ZELK_CH_TIMER_CNT1_ENABLE = 169,
    ZELK_CH_TIMER_DIO_ENABLE = 170,
    ZELK_CH_SETTLE0 = 171,          /* longcard output: settle time in us of range code ch - 171 */
    ZELK_CH_SETTLE_LAST = 176,
    ZELK_CH_MEASURE_START = 200,    /* longcard output: non-zero starts, 0 stops the measurement */
    ZELK_CH_MEASURE_STORED = 201,   /* longcard input: records stored */
    ZELK_CH_MEASURE_RECORDS = 202,  /* longcard output: records wanted, 0 = no limit */
    ZELK_CH_MEASURE_STATUS = 203,   /* longcard input: ZELK_MEASURE_... */
    ZELK_CHANNEL_COUNT = 204
};

/* Measurement status (channel 203). */
enum {
    ZELK_MEASURE_IDLE = 0,
    ZELK_MEASURE_RUNNING = 3,
    ZELK_MEASURE_CONVERTING = 5,
    ZELK_MEASURE_NO_DATA = 256,         /* no record within the USB timeout */
    ZELK_MEASURE_COMMAND_FAILED = 512,  /* a module command or D2XX call failed */
    ZELK_MEASURE_FILE_FAILED = 1024     /* the record file could not be written */
};

/* Device status codes (channel 98) and a channel's own statuses (InputFinalized err). */
enum {
    ZELK_STATUS_OK = 0,
    ZELK_STATUS_LIBRARY_ALLOC = 1,
    ZELK_STATUS_LIBRARY_POINTER = 2,
    ZELK_STATUS_LIBRARY_DATA = 3,
    ZELK_STATUS_PARAMETER_FILE = 4,
    ZELK_STATUS_MODULE_NOT_FOUND = 5,   /* modules plugged in, none with the serial number */
    ZELK_STATUS_REAL_VALUE = 7,
    ZELK_STATUS_WINDOW = 8,
    ZELK_STATUS_NO_USB_MODULE = 9,
    ZELK_STATUS_D2XX_CALL = 10,
    ZELK_STATUS_OPEN = 11,
    ZELK_STATUS_MODULE_RESTART = 12,
    ZELK_STATUS_COMMAND = 13,
    ZELK_STATUS_LINK_SYNC = 14,
    ZELK_STATUS_LINK_TIMEOUT = 15,
    ZELK_STATUS_DISK = 16,
    ZELK_STATUS_UNSUPPORTED_MODULE = 17,
    ZELK_STATUS_CHANNEL_UNUSED = 99,     /* defined channel, no request finished yet */
    ZELK_STATUS_CHANNEL_UNDEFINED = 100  /* the number names no channel */
};

/* DriverProc functions: the driver window. */
enum {
    ZELK_WINDOW_HIDE = 0,
    ZELK_WINDOW_SHOW = 1,
    ZELK_WINDOW_MINIMIZE = 2,
    ZELK_WINDOW_RESTORE = 3,
    ZELK_WINDOW_FOCUS = 4,
    ZELK_WINDOW_PLACE = 5  /* move and size to left, top, width, height */
};

/* Notification function: called on the driver's notification thread with the user value
 * given to Init, kind 0 (input class) or 1 (output class) and the instance. A result of 1
 * asks for one more call with the same arguments. */
typedef int32_t(ZELK_CDECL* ZelkCallback)(uint32_t userValue, int32_t kind, void* instance);

/* The exports as pointers, for hosts that load the library at run time. */
typedef int32_t(ZELK_CDECL* ZelkVersionFn)(void);
typedef uint8_t(ZELK_CDECL* ZelkCheckFn)(void);
typedef void(ZELK_CDECL* ZelkGetDriverInfoFn)(int32_t maxLen, char* text);
typedef void*(ZELK_CDECL* ZelkMakeDriverFn)(void);
typedef void(ZELK_CDECL* ZelkDisposeDriverFn)(void* instance);
typedef uint8_t(ZELK_CDECL* ZelkInitFn)(void* instance, uint32_t reserved1, const char* paramFile, int32_t msgMax,
                                        char* msgBuf, uint32_t reserved2, uint32_t reserved3, uint32_t userValue,
                                        ZelkCallback callback);
typedef void(ZELK_CDECL* ZelkDoneFn)(void* instance);
typedef int32_t(ZELK_CDECL* ZelkBufferInfoFn)(void* instance, uint32_t ch);
typedef void(ZELK_CDECL* ZelkSetBufferAddrFn)(void* instance, uint32_t ch);
typedef void(ZELK_CDECL* ZelkInputRequestFn)(void* instance, uint32_t ch);
typedef void(ZELK_CDECL* ZelkInputRequestCompletedFn)(void* instance);
typedef uint8_t(ZELK_CDECL* ZelkInputFinalizedFn)(void* instance, uint32_t ch, int32_t* err);
typedef void(ZELK_CDECL* ZelkGetInputFn)(void* instance, uint32_t ch, ZelkValue* value);
typedef void(ZELK_CDECL* ZelkOutputRequestFn)(void* instance, uint32_t ch, ZelkValue value);
typedef void(ZELK_CDECL* ZelkOutputRequestCompletedFn)(void* instance);
typedef uint8_t(ZELK_CDECL* ZelkOutputFinalizedFn)(void* instance, uint32_t ch, int32_t* err);
typedef void(ZELK_CDECL* ZelkDriverProcFn)(void* instance, uint32_t function, int32_t left, int32_t top,
                                           int32_t width, int32_t height);
typedef void(ZELK_CDECL* ZelkQueryProcFn)(void* instance, int32_t kind, const char* name, int32_t reserved,
                                          ZelkValue* value);

#ifndef ZELK2716E_NO_PROTOTYPES
/* Lifecycle. */
ZELK_EXPORT int32_t ZELK_CDECL Version(void);
ZELK_EXPORT uint8_t ZELK_CDECL Check(void);
ZELK_EXPORT void ZELK_CDECL GetDriverInfo(int32_t maxLen, char* text);
ZELK_EXPORT void* ZELK_CDECL MakeDriver(void);
ZELK_EXPORT void ZELK_CDECL DisposeDriver(void* instance);
ZELK_EXPORT uint8_t ZELK_CDECL Init(void* instance, uint32_t reserved1, const char* paramFile, int32_t msgMax,
                                    char* msgBuf, uint32_t reserved2, uint32_t reserved3, uint32_t userValue,
                                    ZelkCallback callback);
ZELK_EXPORT void ZELK_CDECL Done(void* instance);

/* Input services: request, end the batch, finalize, fetch. */
ZELK_EXPORT int32_t ZELK_CDECL BufferInfo(void* instance, uint32_t ch);
ZELK_EXPORT void ZELK_CDECL SetBufferAddr(void* instance, uint32_t ch);
ZELK_EXPORT void ZELK_CDECL InputRequest(void* instance, uint32_t ch);
ZELK_EXPORT void ZELK_CDECL InputRequestCompleted(void* instance);
ZELK_EXPORT uint8_t ZELK_CDECL InputFinalized(void* instance, uint32_t ch, int32_t* err);
ZELK_EXPORT void ZELK_CDECL GetInput(void* instance, uint32_t ch, ZelkValue* value);

/* Output services: request, end the batch, finalize. */
ZELK_EXPORT void ZELK_CDECL OutputRequest(void* instance, uint32_t ch, ZelkValue value);
ZELK_EXPORT void ZELK_CDECL OutputRequestCompleted(void* instance);
ZELK_EXPORT uint8_t ZELK_CDECL OutputFinalized(void* instance, uint32_t ch, int32_t* err);

/* Window control (ZELK_WINDOW_...) and queries. */
ZELK_EXPORT void ZELK_CDECL DriverProc(void* instance, uint32_t function, int32_t left, int32_t top, int32_t width,
                                       int32_t height);
ZELK_EXPORT void ZELK_CDECL QueryProc(void* instance, int32_t kind, const char* name, int32_t reserved,
                                      ZelkValue* value);
#endif

#ifdef __cplusplus
}
#endif

#endif
