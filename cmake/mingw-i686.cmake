# Cross build for 32-bit Windows (the shipping binaries) with Debian's mingw-w64 i686 toolchain.
# Its win32 thread model needs no threading DLL or library beyond the system's.
set(KIT_MINGW_TRIPLET i686-w64-mingw32)
set(KIT_MINGW_THREADS win32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
