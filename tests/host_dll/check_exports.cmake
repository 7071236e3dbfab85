# cmake -DOBJDUMP=... -DDLL=... -P check_exports.cmake
# The DLL exports exactly the 18 names of the host interface and imports nothing beyond
# the system's own libraries.
set(expected BufferInfo Check DisposeDriver Done DriverProc GetDriverInfo GetInput Init
    InputFinalized InputRequest InputRequestCompleted MakeDriver OutputFinalized OutputRequest
    OutputRequestCompleted QueryProc SetBufferAddr Version)
set(system_dlls ADVAPI32.dll COMCTL32.dll GDI32.dll KERNEL32.dll msvcrt.dll USER32.dll
    SHELL32.dll OLE32.dll WS2_32.dll)

execute_process(COMMAND ${OBJDUMP} -p ${DLL} OUTPUT_VARIABLE dump RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "objdump failed on ${DLL}")
endif()

# Export names: the lines of the name pointer table, "\t[   n] Name" (the address table's
# lines read "\t[   n] +base[...").
string(REGEX MATCHALL "\t\\[ *[0-9]+\\] [A-Za-z_][A-Za-z0-9_@]*(\n|$)" rows "${dump}")
set(names)
foreach(row ${rows})
  string(REGEX REPLACE "^\t\\[ *[0-9]+\\] ([A-Za-z0-9_@]+)\n?$" "\\1" name "${row}")
  list(APPEND names "${name}")
endforeach()
list(SORT names)
if(NOT names STREQUAL expected)
  message(FATAL_ERROR "exports of ${DLL}:\n  ${names}\nexpected:\n  ${expected}")
endif()

string(REGEX MATCHALL "DLL Name: [^\n]+" imports "${dump}")
foreach(entry ${imports})
  string(REPLACE "DLL Name: " "" dll "${entry}")
  string(TOUPPER "${dll}" upper)
  set(found FALSE)
  foreach(s ${system_dlls})
    string(TOUPPER "${s}" su)
    if(upper STREQUAL su)
      set(found TRUE)
    endif()
  endforeach()
  if(NOT found)
    message(FATAL_ERROR "${DLL} imports ${dll}, which is not a system library")
  endif()
endforeach()
message(STATUS "${DLL}: ${names}; imports ${imports}")
