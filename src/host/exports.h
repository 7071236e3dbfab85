/* The driver's exported functions: the public header, and a compile-time check that each
 * export has exactly the type of its pointer type there, so that hosts loading the library
 * at run time call what the driver defines. */
#ifndef ZELK_HOST_EXPORTS_H
#define ZELK_HOST_EXPORTS_H

#include "zelk2716e.h"

#ifdef __cplusplus
#include <type_traits>

#define ZELK_EXPORT_HAS_TYPE(name) \
    static_assert(std::is_same_v<decltype(&name), Zelk##name##Fn>, #name " differs from its pointer type")
ZELK_EXPORT_HAS_TYPE(Version);
ZELK_EXPORT_HAS_TYPE(Check);
ZELK_EXPORT_HAS_TYPE(GetDriverInfo);
ZELK_EXPORT_HAS_TYPE(MakeDriver);
ZELK_EXPORT_HAS_TYPE(DisposeDriver);
ZELK_EXPORT_HAS_TYPE(Init);
ZELK_EXPORT_HAS_TYPE(Done);
ZELK_EXPORT_HAS_TYPE(BufferInfo);
ZELK_EXPORT_HAS_TYPE(SetBufferAddr);
ZELK_EXPORT_HAS_TYPE(InputRequest);
ZELK_EXPORT_HAS_TYPE(InputRequestCompleted);
ZELK_EXPORT_HAS_TYPE(InputFinalized);
ZELK_EXPORT_HAS_TYPE(GetInput);
ZELK_EXPORT_HAS_TYPE(OutputRequest);
ZELK_EXPORT_HAS_TYPE(OutputRequestCompleted);
ZELK_EXPORT_HAS_TYPE(OutputFinalized);
ZELK_EXPORT_HAS_TYPE(DriverProc);
ZELK_EXPORT_HAS_TYPE(QueryProc);
#undef ZELK_EXPORT_HAS_TYPE
#endif

#endif
