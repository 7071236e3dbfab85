# Release: version resources, install rules and CPack. Included by the top-level
# CMakeLists.txt after every target exists; PROJECT_VERSION is the one version.

# The files a package ships, with the description their version resource carries.
set(ZELK_SHIPPED_TARGETS rq_zelk2716e rq_zelk2716e_sim ftd2xx zelk)
set(ZELK_DESCRIPTION_rq_zelk2716e "ZELK-2716E driver (D2XX)")
set(ZELK_DESCRIPTION_rq_zelk2716e_sim "ZELK-2716E driver with the simulated module")
set(ZELK_DESCRIPTION_ftd2xx "D2XX library backed by the ZELK-2716E simulator - for use without hardware")
set(ZELK_DESCRIPTION_zelk "ZELK-2716E host tool")
set(ZELK_DESCRIPTION_zelk_c_host "ZELK-2716E example host in C")
foreach(t ${ZELK_SHIPPED_TARGETS})
  if(NOT TARGET ${t})
    message(FATAL_ERROR "release: target ${t} is missing")
  endif()
endforeach()

if(WIN32)
  # A VERSIONINFO resource on every DLL and EXE we build: Explorer's Properties show it.
  enable_language(RC)
  foreach(t ${ZELK_SHIPPED_TARGETS} zelk_c_host)
    if(NOT TARGET ${t})
      continue()
    endif()
    get_target_property(type ${t} TYPE)
    get_target_property(name ${t} OUTPUT_NAME)
    if(NOT name)
      set(name ${t})
    endif()
    set(ZELK_RC_NAME ${name})
    set(ZELK_RC_DESCRIPTION "${ZELK_DESCRIPTION_${t}}")
    if(type STREQUAL "EXECUTABLE")
      set(ZELK_RC_FILE ${name}.exe)
      set(ZELK_RC_FILETYPE VFT_APP)
    else()
      set(ZELK_RC_FILE ${name}.dll)
      set(ZELK_RC_FILETYPE VFT_DLL)
    endif()
    configure_file(${PROJECT_SOURCE_DIR}/packaging/version.rc.in ${PROJECT_BINARY_DIR}/version/${t}.rc @ONLY)
    target_sources(${t} PRIVATE ${PROJECT_BINARY_DIR}/version/${t}.rc)
  endforeach()
endif()

# Layouts. "portable" (the zips and the tarball, and a plain `cmake --install`): bin/ holds
# zelk and, on Windows, the DLLs beside it; lib/ the Linux libraries, found by zelk through
# its run path; d2xx/ the simulator's D2XX library. "deb" (the .deb only): the system's
# folders, the simulator's D2XX library kept out of the library path.
set(ZELK_PACKAGE_NAME zelk2716e)
set(ZELK_DOC_FILES ${PROJECT_SOURCE_DIR}/packaging/QUICKSTART.md ${PROJECT_SOURCE_DIR}/docs/host-integration.md
    ${PROJECT_SOURCE_DIR}/docs/channels.md ${PROJECT_SOURCE_DIR}/docs/parameter-file.md
    ${PROJECT_SOURCE_DIR}/docs/troubleshooting.md ${PROJECT_SOURCE_DIR}/docs/simulator.md
    ${PROJECT_SOURCE_DIR}/docs/data-files.md ${PROJECT_SOURCE_DIR}/docs/python.md)
set(ZELK_D2XX_NOTE ${PROJECT_BINARY_DIR}/packaging/NO-HARDWARE-SIMULATOR.txt)
file(WRITE ${ZELK_D2XX_NOTE}
  "The D2XX library in this folder is the ZELK-2716E simulator, for use without hardware.\n"
  "It answers like one or more simulated modules (see docs/simulator.md). Never put it where\n"
  "the real D2XX library is found: a real module needs the vendor's library.\n")

# zelk_install_layout(component bin lib d2xx include doc examples udev python [EXCLUDE_FROM_ALL])
# `python` is the folder that receives the Python package zelk2716e.
function(zelk_install_layout component bindir libdir d2xxdir incdir docdir exampledir udevdir pythondir)
  set(extra ${ARGN})
  # On Windows the drivers' import libraries go to lib/ for hosts that link them.
  install(TARGETS rq_zelk2716e rq_zelk2716e_sim zelk COMPONENT ${component} ${extra}
          RUNTIME DESTINATION ${bindir} LIBRARY DESTINATION ${libdir} ARCHIVE DESTINATION lib)
  install(TARGETS ftd2xx COMPONENT ${component} ${extra}
          RUNTIME DESTINATION ${d2xxdir} LIBRARY DESTINATION ${d2xxdir}
          ARCHIVE DESTINATION lib COMPONENT unshipped EXCLUDE_FROM_ALL)
  install(FILES ${ZELK_D2XX_NOTE} DESTINATION ${d2xxdir} COMPONENT ${component} ${extra})
  install(FILES ${PROJECT_SOURCE_DIR}/include/zelk2716e.h DESTINATION ${incdir} COMPONENT ${component} ${extra})
  install(FILES ${ZELK_DOC_FILES} DESTINATION ${docdir} COMPONENT ${component} ${extra})
  install(FILES ${PROJECT_SOURCE_DIR}/tools/zelk/README.md DESTINATION ${docdir} RENAME zelk-tool.md
          COMPONENT ${component} ${extra})
  install(FILES ${PROJECT_SOURCE_DIR}/examples/demo.ini DESTINATION ${exampledir} COMPONENT ${component} ${extra})
  install(DIRECTORY ${PROJECT_SOURCE_DIR}/examples/c_host ${PROJECT_SOURCE_DIR}/examples/python_host
          DESTINATION ${exampledir} COMPONENT ${component} ${extra})
  if(udevdir)
    install(FILES ${PROJECT_SOURCE_DIR}/packaging/99-zelk2716e.rules DESTINATION ${udevdir}
            COMPONENT ${component} ${extra})
  endif()
  install(DIRECTORY ${PROJECT_SOURCE_DIR}/python/zelk2716e DESTINATION ${pythondir} COMPONENT ${component} ${extra}
          FILES_MATCHING PATTERN "*.py" PATTERN "__pycache__" EXCLUDE)
endfunction()

if(WIN32)
  zelk_install_layout(portable bin bin d2xx include docs examples "" python)
else()
  # zelk finds the driver through its run path; the libraries need none of their own.
  set_target_properties(zelk PROPERTIES INSTALL_RPATH "$ORIGIN/../lib")
  zelk_install_layout(portable bin lib d2xx include docs examples udev python)
  if(CMAKE_LIBRARY_ARCHITECTURE)
    set(multiarch lib/${CMAKE_LIBRARY_ARCHITECTURE})
  else()
    set(multiarch lib)
  endif()
  zelk_install_layout(deb bin ${multiarch} ${multiarch}/${ZELK_PACKAGE_NAME}/d2xx include
                      share/doc/${ZELK_PACKAGE_NAME} share/doc/${ZELK_PACKAGE_NAME}/examples lib/udev/rules.d
                      lib/python3/dist-packages EXCLUDE_FROM_ALL)
endif()

# The archives also carry what `pip install ./python` needs beside the package; the package
# finds the driver from there in ../lib (Linux) or ../bin (Windows).
install(FILES ${PROJECT_SOURCE_DIR}/python/pyproject.toml ${PROJECT_SOURCE_DIR}/python/README.md DESTINATION python
        COMPONENT portable)

# CPack: a zip for Windows (win32 or win64 by the pointer size), a tarball and a .deb for Linux.
if(WIN32)
  if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    set(ZELK_PACKAGE_SYSTEM win64)
  else()
    set(ZELK_PACKAGE_SYSTEM win32)
  endif()
  set(CPACK_GENERATOR ZIP)
else()
  set(ZELK_PACKAGE_SYSTEM linux-${CMAKE_SYSTEM_PROCESSOR})
  set(CPACK_GENERATOR "TGZ;DEB")
endif()
set(CPACK_PACKAGE_NAME ${ZELK_PACKAGE_NAME})
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "ZELK-2716E driver project")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Driver library and host tool for the ZELK-2716E USB data-acquisition module")
set(CPACK_PACKAGE_FILE_NAME ${ZELK_PACKAGE_NAME}-${PROJECT_VERSION}-${ZELK_PACKAGE_SYSTEM})
set(CPACK_PACKAGE_DIRECTORY ${PROJECT_BINARY_DIR}/package)
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
set(CPACK_COMPONENT_INCLUDE_TOPLEVEL_DIRECTORY ON)
set(CPACK_STRIP_FILES ON)
# Components choose the layout per generator (cmake/cpack-options.cmake); each package
# holds its layout's components in one file.
set(CPACK_ARCHIVE_COMPONENT_INSTALL ON)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_GROUPING ALL_COMPONENTS_IN_ONE)
set(CPACK_COMPONENTS_ALL portable)
set(CPACK_PROJECT_CONFIG_FILE ${PROJECT_SOURCE_DIR}/cmake/cpack-options.cmake)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "ZELK-2716E driver project <zelk2716e@localhost>")
set(CPACK_DEBIAN_PACKAGE_SECTION libs)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS OFF)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libc6, libstdc++6, libgcc-s1")
# The Python package goes to /usr/lib/python3/dist-packages: it needs python3 and numpy, and uses
# pandas and matplotlib when they are there.
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "python3-pandas, python3-matplotlib")
# `zelk plot -o NAME.png` loads librsvg when it is asked for a PNG; everything else runs without it.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "librsvg2-2, python3, python3-numpy")
# The libraries are loaded by name (dlopen) and carry no soname: no shlibs file, but the
# loader's cache is refreshed after install and removal.
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${PROJECT_SOURCE_DIR}/packaging/debian/triggers)
include(CPack)
