/* The driver's exported functions, as the host application sees them.
 *
 * All exports are cdecl on 32-bit x86, undecorated, with C types that are the same on every
 * platform. The instance is the pointer that MakeDriver returns. Texts are zero-terminated
 * Windows-1250 strings. Booleans are one byte, 1 or 0. */
#ifndef ZELK_HOST_EXPORTS_H
#define ZELK_HOST_EXPORTS_H

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

/* The host's value record: a type tag (2 boolean, 5 longcard, 10 real, 11 string) and
 * 8 payload bytes (boolean: byte 0; longcard: uint32; real: IEEE 754 double; string: a
 * pointer to the host's character buffer). 12 bytes, alignment 4: passed by value it is
 * three 32-bit stack words on i386. Read and write the payload through memcpy. */
struct ZelkValue {
    int32_t tag;
    uint8_t payload[8];
};

enum {
    ZELK_TAG_BOOLEAN = 2,
    ZELK_TAG_LONGCARD = 5,
    ZELK_TAG_REAL = 10,
    ZELK_TAG_STRING = 11
};

/* Notification function: called on the driver's notification thread with the user value
 * given to Init, kind 0 (input class) or 1 (output class) and the instance. A result of 1
 * asks for one more call with the same arguments. */
typedef int32_t(ZELK_CDECL* ZelkCallback)(uint32_t userValue, int32_t kind, void* instance);

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

/* Input services. */
ZELK_EXPORT int32_t ZELK_CDECL BufferInfo(void* instance, uint32_t ch);
ZELK_EXPORT void ZELK_CDECL SetBufferAddr(void* instance, uint32_t ch);
ZELK_EXPORT void ZELK_CDECL InputRequest(void* instance, uint32_t ch);
ZELK_EXPORT void ZELK_CDECL InputRequestCompleted(void* instance);
ZELK_EXPORT uint8_t ZELK_CDECL InputFinalized(void* instance, uint32_t ch, int32_t* err);
ZELK_EXPORT void ZELK_CDECL GetInput(void* instance, uint32_t ch, struct ZelkValue* value);

/* Output services. */
ZELK_EXPORT void ZELK_CDECL OutputRequest(void* instance, uint32_t ch, struct ZelkValue value);
ZELK_EXPORT void ZELK_CDECL OutputRequestCompleted(void* instance);
ZELK_EXPORT uint8_t ZELK_CDECL OutputFinalized(void* instance, uint32_t ch, int32_t* err);

/* Window control and queries. */
ZELK_EXPORT void ZELK_CDECL DriverProc(void* instance, uint32_t function, int32_t left, int32_t top, int32_t width,
                                       int32_t height);
ZELK_EXPORT void ZELK_CDECL QueryProc(void* instance, int32_t kind, const char* name, int32_t reserved,
                                      struct ZelkValue* value);

#ifdef __cplusplus
}
#endif

#endif
