# Checks a shipping 32-bit Windows program, as `objdump -p` of the cross binutils shows it:
#   - a PE32 image for the GUI subsystem, asking for subsystem and OS version 4.0, so that
#     Windows 95 and 98 load it;
#   - it imports from KERNEL32.DLL, USER32.DLL, ADVAPI32.DLL and GDI32.DLL only (no C runtime
#     DLL: the program carries its own runtime), no function whose name ends in W (the wide
#     forms, which Windows 95 lacks or only stubs), and only functions of the checked-in list
#     ALLOWED of what the first Windows 95 exports, each with the documentation it was checked
#     against;
#   - its imported functions are exactly those of the checked-in list IMPORTS, one
#     "DLL function" per line, so that every new import shows up in review.
# With -DUPDATE=ON the list IMPORTS is rewritten from the binary instead; without IMPORTS that
# comparison is left out.
#
# cmake -DOBJDUMP=<objdump> -DBINARY=<FILE.EXE> -DALLOWED=<list> [-DIMPORTS=<list> [-DUPDATE=ON]]
#       -P check_binary.cmake
cmake_minimum_required(VERSION 3.25)

execute_process(COMMAND ${OBJDUMP} -p ${BINARY} OUTPUT_VARIABLE dump RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "${OBJDUMP} -p ${BINARY} failed")
endif()
string(REPLACE ";" "," dump "${dump}")
string(REGEX REPLACE "\r?\n" ";" lines "${dump}")

set(problems "")
include(${CMAKE_CURRENT_LIST_DIR}/pe_headers.cmake)
read_pe_headers(lines "^(KERNEL32|USER32|ADVAPI32|GDI32)\\.DLL$")

if(NOT magic STREQUAL "010b")
  string(APPEND problems "  not a PE32 image (magic ${magic})\n")
endif()
if(NOT subsystem STREQUAL "00000002")
  string(APPEND problems "  subsystem ${subsystem}, not the Windows GUI (2)\n")
endif()
foreach(field Subsystem OSystem)
  if(NOT "${Major${field}}.${Minor${field}}" STREQUAL "4.0")
    string(APPEND problems "  ${field} version ${Major${field}}.${Minor${field}}, not 4.0\n")
  endif()
endforeach()
if(NOT imports)
  string(APPEND problems "  no imports found in the objdump output\n")
endif()

list(SORT imports)
list(REMOVE_DUPLICATES imports)
string(REPLACE ";" "\n" actual "${imports}")
string(APPEND actual "\n")

# The allow-list: "DLL function  # documentation" per line; a line without its documentation
# does not count.
set(allowed "")
file(STRINGS ${ALLOWED} allowed_lines)
foreach(line IN LISTS allowed_lines)
  if(line MATCHES "^([A-Z0-9]+\\.DLL) ([A-Za-z0-9_]+) +# *[^ ]")
    list(APPEND allowed "${CMAKE_MATCH_1} ${CMAKE_MATCH_2}")
  elseif(line MATCHES "^[A-Z0-9]+\\.DLL ")
    string(APPEND problems "  ${ALLOWED}: '${line}' gives no documentation the function was checked against\n")
  endif()
endforeach()
foreach(entry IN LISTS imports)
  if(entry MATCHES "W$")
    string(APPEND problems "  imports the wide-character function ${entry}\n")
  elseif(NOT entry IN_LIST allowed)
    string(APPEND problems "  imports ${entry}, which is not on the list of Windows 95 functions (${ALLOWED})\n")
  endif()
endforeach()

if(NOT IMPORTS)
  # Only the rules above.
elseif(UPDATE)
  file(WRITE ${IMPORTS} "${actual}")
  message(STATUS "wrote ${IMPORTS}")
else()
  if(EXISTS ${IMPORTS})
    file(STRINGS ${IMPORTS} expected_list)
  else()
    set(expected_list "")
  endif()
  foreach(entry IN LISTS imports)
    if(NOT entry IN_LIST expected_list)
      string(APPEND problems "  new import, not in the list: ${entry}\n")
    endif()
  endforeach()
  foreach(entry IN LISTS expected_list)
    if(NOT entry IN_LIST imports)
      string(APPEND problems "  listed import no longer used: ${entry}\n")
    endif()
  endforeach()
  if(problems)
    string(APPEND problems "  (after a reviewed change of imports: cmake --build --preset win32 --target kit_update_imports)\n")
  endif()
endif()

if(problems)
  message(FATAL_ERROR "${BINARY}:\n${problems}")
endif()
