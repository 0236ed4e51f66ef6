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
    # The loader comes first: a program whose WinMain lives in its library (ENTRY no_entry.cpp)
    # has it taken from the library only once the loader's main asks for it.
    target_link_libraries(${D_NAME} PRIVATE w9x_loader ${D_NAME}_program)
    if(D_RC)
      kit_embed_resources(${D_NAME}_program ${CMAKE_CURRENT_SOURCE_DIR}/${D_RC})
    endif()
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

# kit_compile_resources(<resource script> <.res output>)
#
# Compiles a resource script with the mingw resource compiler, as the Windows builds do, into a
# .res file for the host.  The script is UTF-8; headers and icons beside it are its inputs.
function(kit_compile_resources rc res)
  find_program(KIT_WINDRES NAMES i686-w64-mingw32-windres REQUIRED)
  get_filename_component(rc_dir ${rc} DIRECTORY)
  file(GLOB inputs CONFIGURE_DEPENDS ${rc_dir}/*.h ${rc_dir}/*.ico)
  add_custom_command(OUTPUT ${res}
                     COMMAND ${KIT_WINDRES} -c 65001 -I ${rc_dir} -O res -i ${rc} -o ${res}
                     DEPENDS ${rc} ${inputs}
                     COMMENT "Compiling resources ${rc}" VERBATIM)
endfunction()

# kit_embed_resources(<program library> <resource script>)
#
# The host build of a program carries its compiled resources in its own library, as a byte
# array in a generated source that defines w9x_program_resources (user32/resources.h); the
# platform reads them from there.  Whatever links the library (the executable, unit tests) gets
# them: the link is told to take that definition out of the library.
function(kit_embed_resources library rc)
  get_filename_component(base ${rc} NAME_WE)
  set(res ${CMAKE_CURRENT_BINARY_DIR}/${base}.res)
  set(source ${CMAKE_CURRENT_BINARY_DIR}/${base}_res.cpp)
  kit_compile_resources(${rc} ${res})
  add_custom_command(OUTPUT ${source}
                     COMMAND ${CMAKE_COMMAND} -DRES=${res} -DSOURCE=${source} -P ${KIT_CMAKE_DIR}/embed_resources.cmake
                     DEPENDS ${res} ${KIT_CMAKE_DIR}/embed_resources.cmake
                     COMMENT "Embedding resources ${res}" VERBATIM)
  target_sources(${library} PRIVATE ${source})
  target_link_options(${library} INTERFACE -Wl,--undefined=w9x_program_resources)
endfunction()

# The test of a shipping binary, and its share of kit_update_imports.
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
