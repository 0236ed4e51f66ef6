# Checks the shipping 32-bit driver image KORVEX.SYS, as the cross binutils show it:
#   - a PE32 image for the native subsystem, relocatable (it has base relocations), whose entry
#     point is DriverEntry;
#   - it imports from ntoskrnl.exe, hal.dll and HIDCLASS.SYS only, and exactly the functions of
#     the checked-in list IMPORTS ("DLL function" per line; -DUPDATE=ON rewrites the list);
#   - the keyboard filter's hook procedure: the 8 bytes before KeyboardFilterHook are the
#     preamble EB 06 FF 25 <address of PreviousFilter>; the procedure calls FilterScanCode, puts
#     its result into CL and jumps through PreviousFilter;
#   - the VxD calls: an int 20h followed by the service word 0x00010090 (Hook_Device_Service) in
#     VxdHookDeviceService, with ESI = KeyboardFilterHook; 0x0001011C (Unhook_Device_Service) in
#     VxdUnhookDeviceService; 0x00270012 (the VXDLDR module load) in VxdLoadModule; and
#     VxdGetProcAddress calling a routine that is int 20h with 0x0027800B, the jump form of
#     _PELDR_GetProcAddress.
#
# cmake -DOBJDUMP=<objdump> -DNM=<nm> -DBINARY=<KORVEX.SYS> -DIMPORTS=<list> [-DUPDATE=ON] -P check_driver.cmake
cmake_minimum_required(VERSION 3.25)

set(problems "")
macro(problem text)
  string(APPEND problems "  ${text}\n")
endmacro()

function(run_tool out)
  execute_process(COMMAND ${ARGN} OUTPUT_VARIABLE text RESULT_VARIABLE status ERROR_VARIABLE error)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "${ARGN} failed: ${error}")
  endif()
  set(${out} "${text}" PARENT_SCOPE)
endfunction()

# lines(<var> <text>): the text as a CMake list of lines. Semicolons in it are made commas and
# square brackets parentheses, which would otherwise join or split the list's elements.
function(lines out text)
  string(REPLACE ";" "," text "${text}")
  string(REPLACE "[" "(" text "${text}")
  string(REPLACE "]" ")" text "${text}")
  string(REGEX REPLACE "\r?\n" ";" text "${text}")
  set(${out} "${text}" PARENT_SCOPE)
endfunction()

# --- headers and imports ------------------------------------------------------------------------
run_tool(dump ${OBJDUMP} -p ${BINARY})
lines(dump_lines "${dump}")
include(${CMAKE_CURRENT_LIST_DIR}/pe_headers.cmake)
read_pe_headers(dump_lines "^(NTOSKRNL\\.EXE|HAL\\.DLL|HIDCLASS\\.SYS)$")

if(NOT magic STREQUAL "010b")
  problem("not a PE32 image (magic ${magic})")
endif()
if(NOT subsystem STREQUAL "00000001")
  problem("subsystem ${subsystem}, not native (1)")
endif()
if(NOT relocations OR relocations MATCHES "^0+$")
  problem("no base relocations: the image could only be loaded at its preferred base")
endif()
if(NOT imports)
  problem("no imports found in the objdump output")
endif()

list(SORT imports)
list(REMOVE_DUPLICATES imports)
string(REPLACE ";" "\n" actual "${imports}")
string(APPEND actual "\n")
if(UPDATE)
  file(WRITE ${IMPORTS} "${actual}")
  message(STATUS "wrote ${IMPORTS}")
else()
  set(expected_list "")
  if(EXISTS ${IMPORTS})
    file(STRINGS ${IMPORTS} expected_list)
  endif()
  foreach(entry IN LISTS imports)
    if(NOT entry IN_LIST expected_list)
      problem("new import, not in the list: ${entry}")
      set(imports_changed ON)
    endif()
  endforeach()
  foreach(entry IN LISTS expected_list)
    if(NOT entry IN_LIST imports)
      problem("listed import no longer used: ${entry}")
      set(imports_changed ON)
    endif()
  endforeach()
endif()

# --- symbols ------------------------------------------------------------------------------------
# Every code and data symbol with its address (address_of_<name as a C identifier>); the code of a routine runs to the next code symbol.
run_tool(symbols ${NM} --numeric-sort ${BINARY})
lines(symbol_lines "${symbols}")
set(code_addresses "")
foreach(line IN LISTS symbol_lines)
  if(line MATCHES "^([0-9a-f]+) ([A-Za-z]) (.+)$")
    string(MAKE_C_IDENTIFIER "${CMAKE_MATCH_3}" name)
    set(address_of_${name} ${CMAKE_MATCH_1})
    if(CMAKE_MATCH_2 MATCHES "^[Tt]$")
      list(APPEND code_addresses ${CMAKE_MATCH_1})
    endif()
  endif()
endforeach()

set(required _DriverEntry@8 _KeyboardFilterHook _PreviousFilter _FilterScanCode _VxdHookDeviceService
    _VxdUnhookDeviceService _VxdLoadModule _VxdGetProcAddress)
foreach(symbol IN LISTS required)
  string(MAKE_C_IDENTIFIER "${symbol}" name)
  if(NOT DEFINED address_of_${name})
    problem("no symbol ${symbol} in the image")
  endif()
endforeach()
if(problems)
  message(FATAL_ERROR "${BINARY}:\n${problems}")
endif()

math(EXPR entry "0x${image_base} + 0x${entry_rva}" OUTPUT_FORMAT HEXADECIMAL)
math(EXPR driver_entry "0x${address_of__DriverEntry_8}" OUTPUT_FORMAT HEXADECIMAL)
if(NOT entry STREQUAL driver_entry)
  problem("entry point ${entry} is not DriverEntry (${driver_entry})")
endif()

# hex(<var> <address>): the address as objdump prints it in code (lower case, no leading zeros).
function(hex out address)
  math(EXPR value "0x${address}" OUTPUT_FORMAT HEXADECIMAL)
  string(TOLOWER "${value}" value)
  string(REGEX REPLACE "^0x" "" value "${value}")
  set(${out} ${value} PARENT_SCOPE)
endfunction()

# routine_end(<var> <address>): the address of the next code symbol after a routine.
function(routine_end out address)
  math(EXPR start "0x${address}")
  foreach(other IN LISTS code_addresses)
    math(EXPR value "0x${other}")
    if(value GREATER start)
      set(${out} ${other} PARENT_SCOPE)
      return()
    endif()
  endforeach()
  math(EXPR value "${start} + 256" OUTPUT_FORMAT HEXADECIMAL)
  string(REGEX REPLACE "^0x" "" value "${value}")
  set(${out} ${value} PARENT_SCOPE)
endfunction()

# bytes(<var> <from> <to>): the image's bytes in [from, to) as one lower-case hex string.
function(bytes out from to)
  # objdump lays the lines out in fixed columns only from a 16-byte boundary.
  math(EXPR aligned "0x${from} & ~15" OUTPUT_FORMAT HEXADECIMAL)
  math(EXPR skip "(0x${from} - ${aligned}) * 2")
  math(EXPR length "(0x${to} - 0x${from}) * 2")
  run_tool(dump ${OBJDUMP} -s -j .text --start-address=${aligned} --stop-address=0x${to} ${BINARY})
  lines(dump_lines "${dump}")
  set(hex "")
  foreach(line IN LISTS dump_lines)
    # " ADDRESS " then four groups of 8 hex digits (35 columns), then the bytes as text.
    if(line MATCHES "^ [0-9a-f]+ ")
      string(LENGTH "${CMAKE_MATCH_0}" prefix)
      string(SUBSTRING "${line}" ${prefix} 35 chunk)
      string(REPLACE " " "" chunk "${chunk}")
      string(APPEND hex "${chunk}")
    endif()
  endforeach()
  string(SUBSTRING "${hex}" ${skip} ${length} hex)
  set(${out} "${hex}" PARENT_SCOPE)
endfunction()

# disassembly(<var> <from> <to>): objdump's disassembly of [from, to).
function(disassembly out from to)
  run_tool(text ${OBJDUMP} -d --no-show-raw-insn --start-address=0x${from} --stop-address=0x${to} ${BINARY})
  set(${out} "${text}" PARENT_SCOPE)
endfunction()

# le32(<var> <address>): a 32-bit value as its 4 bytes in memory order, in hex.
function(le32 out address)
  math(EXPR value "0x${address}" OUTPUT_FORMAT HEXADECIMAL)
  string(REGEX REPLACE "^0x" "" value "${value}")
  string(TOLOWER "${value}" value)
  string(LENGTH "${value}" length)
  while(length LESS 8)
    string(PREPEND value "0")
    string(LENGTH "${value}" length)
  endwhile()
  string(REGEX REPLACE "^(..)(..)(..)(..)$" "\\4\\3\\2\\1" value "${value}")
  set(${out} ${value} PARENT_SCOPE)
endfunction()

# --- the hook procedure -------------------------------------------------------------------------
set(hook ${address_of__KeyboardFilterHook})
hex(hook_hex ${hook})
hex(previous_hex ${address_of__PreviousFilter})
hex(filter_hex ${address_of__FilterScanCode})
math(EXPR preamble_start "0x${hook} - 8" OUTPUT_FORMAT HEXADECIMAL)
string(REGEX REPLACE "^0x" "" preamble_start "${preamble_start}")
bytes(preamble ${preamble_start} ${hook})
le32(previous_bytes ${address_of__PreviousFilter})
if(NOT preamble STREQUAL "eb06ff25${previous_bytes}")
  problem("the 8 bytes before KeyboardFilterHook are '${preamble}', not EB 06 FF 25 and the address of PreviousFilter (${previous_hex})")
endif()
routine_end(hook_end ${hook})
disassembly(hook_code ${hook} ${hook_end})
if(NOT hook_code MATCHES "call +(0x)?${filter_hex} <_FilterScanCode>")
  problem("KeyboardFilterHook does not call FilterScanCode")
endif()
if(NOT hook_code MATCHES "mov +%al,%cl")
  problem("KeyboardFilterHook does not put FilterScanCode's result into CL")
endif()
if(NOT hook_code MATCHES "jmp +\\*0x${previous_hex}")
  problem("KeyboardFilterHook does not jump through PreviousFilter")
endif()

# --- the VxD calls ------------------------------------------------------------------------------
# vxd_call(<routine> <service word>): the routine's code holds int 20h followed by the word.
function(vxd_call routine word)
  set(address ${address_of__${routine}})
  routine_end(end ${address})
  bytes(code ${address} ${end})
  le32(word_bytes ${word})
  if(NOT code MATCHES "cd20${word_bytes}")
    set(problems "${problems}  ${routine} holds no int 20h with the service word 0x${word}\n" PARENT_SCOPE)
  endif()
endfunction()
vxd_call(VxdHookDeviceService 00010090)
vxd_call(VxdUnhookDeviceService 0001011c)
vxd_call(VxdLoadModule 00270012)

foreach(routine VxdHookDeviceService VxdUnhookDeviceService)
  routine_end(end ${address_of__${routine}})
  disassembly(code ${address_of__${routine}} ${end})
  if(NOT code MATCHES "mov +\\$0x${hook_hex},%esi")
    problem("${routine} does not pass KeyboardFilterHook in ESI")
  endif()
endforeach()

# The jump form is made from a routine of its own that VxdGetProcAddress calls.
set(getproc ${address_of__VxdGetProcAddress})
routine_end(getproc_end ${getproc})
disassembly(getproc_code ${getproc} ${getproc_end})
if(getproc_code MATCHES "call +(0x)?([0-9a-f]+) <")
  set(target ${CMAKE_MATCH_2})
  math(EXPR target_end "0x${target} + 6" OUTPUT_FORMAT HEXADECIMAL)
  string(REGEX REPLACE "^0x" "" target_end "${target_end}")
  bytes(jump ${target} ${target_end})
  if(NOT jump STREQUAL "cd200b802700")
    problem("the routine that VxdGetProcAddress calls (${target}) is '${jump}', not int 20h with 0x0027800B")
  endif()
else()
  problem("VxdGetProcAddress calls no routine")
endif()
if(NOT getproc_code MATCHES "push +\\$0x0")
  problem("VxdGetProcAddress does not pass 0 as the third argument")
endif()

if(problems)
  if(imports_changed)
    string(APPEND problems "  (after a reviewed change of imports: cmake --build --preset win32 --target kit_update_imports)\n")
  endif()
  message(FATAL_ERROR "${BINARY}:\n${problems}")
endif()
message(STATUS "${BINARY}: PE32 native image, entry DriverEntry, imports as listed, hook preamble and VxD calls in place")
