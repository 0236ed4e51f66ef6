# Cross build for 64-bit Windows (the same programs, run here under Wine) with Debian's mingw-w64
# x86_64 toolchain.  Its posix thread model gives the standard library the std::mutex that
# GoogleTest needs (winpthread is linked in statically).
set(KIT_MINGW_TRIPLET x86_64-w64-mingw32)
set(KIT_MINGW_THREADS posix)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
