# kit_add_deliverable(NAME <target> EXE <FILE.EXE> SOURCES <program sources> [ENTRY <sources of the entry>]
#                     [RC <resource script>] [LIBS <libs>])
#
# Every deliverable is compiled once into a library of its own code (<target>_program), which the
# tests link.  On the host the executable adds the platform's loader, which opens the machine image
# and calls the program's WinMain; on Windows it is a real GUI program built with its resources.
# String literals are code page 932 bytes, as the Windows ANSI interfaces expect.
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
    string(REGEX REPLACE "\\.EXE$" "" exe_base "${D_EXE}")
    add_executable(${D_NAME} WIN32 ${D_ENTRY} ${D_RC})
    set_target_properties(${D_NAME} PROPERTIES OUTPUT_NAME ${exe_base})
    target_link_libraries(${D_NAME} PRIVATE ${D_NAME}_program)
    target_link_options(${D_NAME} PRIVATE -static -static-libgcc -static-libstdc++
                        -Wl,--major-subsystem-version,4 -Wl,--minor-subsystem-version,0
                        -Wl,--major-os-version,4 -Wl,--minor-os-version,0)
  endif()
endfunction()
