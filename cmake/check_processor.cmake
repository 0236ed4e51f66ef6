# Checks that the code of a 32-bit image runs on the i486: its disassembled code sections hold no
# instruction that a later processor brought (CMOV and FCMOV, FCOMI and FUCOMI, CMPXCHG8B, RDTSC,
# and any MMX or SSE instruction or register).  Only code is disassembled (objdump -d), so data
# that happens to look like such an instruction does not count.
#
# cmake -DOBJDUMP=<objdump> -DBINARY=<image or object file> -P check_processor.cmake
cmake_minimum_required(VERSION 3.25)

execute_process(COMMAND ${OBJDUMP} -d --no-show-raw-insn ${BINARY}
                OUTPUT_VARIABLE code RESULT_VARIABLE status ERROR_VARIABLE error)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "${OBJDUMP} -d ${BINARY} failed: ${error}")
endif()
string(REPLACE ";" "," code "${code}")
string(REPLACE "[" "(" code "${code}")
string(REPLACE "]" ")" code "${code}")
string(REGEX REPLACE "\r?\n" ";" lines "${code}")

# Mnemonics as objdump writes them in AT&T syntax, with an optional size suffix.
set(later_mnemonics
    "cmov[a-z]+"                               # Pentium Pro
    "fcmov[a-z]+" "fu?comip?"                  # Pentium Pro
    "cmpxchg8b" "rdtscp?" "rdmsr" "wrmsr"      # Pentium
    "emms" "femms"                             # MMX, 3DNow!
    "ldmxcsr" "stmxcsr" "fxsave" "fxrstor" "[lsm]fence" "prefetch[a-z0-9]*" "movnti" "clflush"
    "sysenter" "sysexit")
list(JOIN later_mnemonics "|" mnemonic_pattern)

set(function "")
set(found "")
set(count 0)
foreach(line IN LISTS lines)
  if(line MATCHES "^[0-9a-f]+ <(.+)>:$")
    set(function "${CMAKE_MATCH_1}")
  elseif(line MATCHES "^ +([0-9a-f]+):\t([a-z0-9]+)(.*)$")
    set(address ${CMAKE_MATCH_1})
    set(mnemonic ${CMAKE_MATCH_2})
    set(operands "${CMAKE_MATCH_3}")
    if(mnemonic MATCHES "^(${mnemonic_pattern})$" OR operands MATCHES "%x?mm[0-9]")
      math(EXPR count "${count} + 1")
      if(count LESS_EQUAL 20)
        string(STRIP "${mnemonic}${operands}" instruction)
        string(APPEND found "  ${address} <${function}>: ${instruction}\n")
      endif()
    endif()
  endif()
endforeach()

if(count GREATER 0)
  if(count GREATER 20)
    string(APPEND found "  ... (${count} in all)\n")
  endif()
  message(FATAL_ERROR "${BINARY}: ${count} instructions of a later processor than the i486:\n${found}")
endif()
message(STATUS "${BINARY}: only i486 instructions")
