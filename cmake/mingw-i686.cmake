# Cross build for 32-bit Windows (the shipping binaries) with Debian's mingw-w64 i686 toolchain.
# Its win32 thread model needs no threading DLL or library beyond the system's.
set(KIT_MINGW_TRIPLET i686-w64-mingw32)
set(KIT_MINGW_THREADS win32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)

# Every shipping image runs on the i486, the least processor of Windows 98, with its x87
# floating point; the compiler's default (the Pentium Pro) would bring CMOV and FCOMI.
set(CMAKE_C_FLAGS_INIT "-march=i486 -mtune=generic -mfpmath=387")
set(CMAKE_CXX_FLAGS_INIT "-march=i486 -mtune=generic -mfpmath=387")
