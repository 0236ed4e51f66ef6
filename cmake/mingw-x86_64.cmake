# Cross build for 64-bit Windows (the same programs, run here under Wine) with Debian's mingw-w64
# x86_64 toolchain.
set(KIT_MINGW_TRIPLET x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
