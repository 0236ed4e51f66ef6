# kit_add_deliverable(NAME <target> EXE <FILE.EXE> SOURCES <program sources> [ENTRY <sources of the entry>]
#                     [RC <resource script>] [LIBS <libs>])
#
# Every deliverable is compiled once into a library of its own code (<target>_program), which the
# tests link.  On the host the executable adds the platform's loader, which opens the machine image
# and calls the program's WinMain; on Windows it is a real GUI program built with its resources.
# String literals are code page 932 bytes, as the Windows ANSI interfaces expect.
#
# The 32-bit Windows build is the one that ships: each deliverable there gets a test of its binary
# (cmake/check_binary.cmake) against the list of imports checked in beside its sources as
# <FILE>.imports and the list of Windows 95 functions cmake/windows95.exports, and a test that its
# code holds only i486 instructions (cmake/check_processor.cmake); the target kit_update_imports
# rewrites the <FILE>.imports lists from the build.
function(kit_add_deliverable)
  cmake_parse_arguments(D "" "NAME;EXE;RC" "SOURCES;ENTRY;LIBS" ${ARGN})
  add_library(${D_NAME}_program STATIC ${D_SOURCES})
  target_compile_options(${D_NAME}_program PRIVATE -fexec-charset=CP932)
  target_include_directories(${D_NAME}_program PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})
  target_link_libraries(${D_NAME}_program PUBLIC ${D_LIBS})
  if(KIT_TARGET STREQUAL "host")
    target_link_libraries(${D_NAME}_program PUBLIC w9x_platform)
    # The C runtime's stdio.h and io.h open the machine's files; only the program's own sources see them.
    target_include_directories(${D_NAME}_program BEFORE PRIVATE ${PROJECT_SOURCE_DIR}/platform/win9x/msvcrt/include)
    add_executable(${D_NAME} ${D_ENTRY})
    target_link_libraries(${D_NAME} PRIVATE ${D_NAME}_program w9x_loader)
  else()
    string(REGEX MATCH "^(.*)(\\.[^.]*)$" exe_parts "${D_EXE}")
    add_executable(${D_NAME} WIN32 ${D_ENTRY} ${D_RC})
    set_target_properties(${D_NAME} PROPERTIES OUTPUT_NAME ${CMAKE_MATCH_1} SUFFIX ${CMAKE_MATCH_2})
    # The program carries its own small runtime (platform/runtime) and imports only from the
    # system DLLs.  Windows 95 and 98 load only programs that ask for subsystem and OS version
    # 4.0 at most.
    target_link_libraries(${D_NAME}_program PUBLIC kit_runtime)
    target_link_libraries(${D_NAME} PRIVATE ${D_NAME}_program)
    if(CMAKE_SIZEOF_VOID_P EQUAL 4)
      set(start_symbol _WinMainCRTStartup)
    else()
      set(start_symbol WinMainCRTStartup)
    endif()
    target_link_options(${D_NAME} PRIVATE -Wl,--undefined,${start_symbol} -Wl,--entry,${start_symbol}
                        -Wl,--major-subsystem-version,4 -Wl,--minor-subsystem-version,0
                        -Wl,--major-os-version,4 -Wl,--minor-os-version,0)
    if(CMAKE_SIZEOF_VOID_P EQUAL 4)
      kit_check_shipping_binary(${D_NAME} ${D_EXE})
    endif()
  endif()
endfunction()

# The test that a shipping image holds only i486 instructions (cmake/check_processor.cmake).
function(kit_check_processor target exe)
  add_test(NAME binary.${exe}.i486
           COMMAND ${CMAKE_COMMAND} -DOBJDUMP=${CMAKE_OBJDUMP} -DBINARY=$<TARGET_FILE:${target}>
                   -P ${KIT_CMAKE_DIR}/check_processor.cmake)
endfunction()

# The tests of a shipping binary, and its share of kit_update_imports.
function(kit_check_shipping_binary target exe)
  kit_check_processor(${target} ${exe})
  set(imports ${CMAKE_CURRENT_SOURCE_DIR}/${exe}.imports)
  set(args -DOBJDUMP=${CMAKE_OBJDUMP} -DBINARY=$<TARGET_FILE:${target}> -DIMPORTS=${imports}
      -DALLOWED=${KIT_CMAKE_DIR}/windows95.exports)
  add_test(NAME binary.${exe} COMMAND ${CMAKE_COMMAND} ${args} -P ${KIT_CMAKE_DIR}/check_binary.cmake)
  if(NOT TARGET kit_update_imports)
    add_custom_target(kit_update_imports)
  endif()
  add_custom_target(kit_update_imports_${target}
                    COMMAND ${CMAKE_COMMAND} ${args} -DUPDATE=ON -P ${KIT_CMAKE_DIR}/check_binary.cmake
                    DEPENDS ${target} VERBATIM)
  add_dependencies(kit_update_imports kit_update_imports_${target})
endfunction()

set(KIT_CMAKE_DIR ${CMAKE_CURRENT_LIST_DIR})
