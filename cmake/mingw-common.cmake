# Shared part of the mingw-w64 toolchain files: KIT_MINGW_TRIPLET names the target.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR ${KIT_MINGW_TRIPLET})

# The win32 thread model of the toolchain: no winpthread DLL to ship or to import from.
set(CMAKE_C_COMPILER ${KIT_MINGW_TRIPLET}-gcc-win32)
set(CMAKE_CXX_COMPILER ${KIT_MINGW_TRIPLET}-g++-win32)
set(CMAKE_RC_COMPILER ${KIT_MINGW_TRIPLET}-windres)
set(CMAKE_OBJDUMP ${KIT_MINGW_TRIPLET}-objdump)

set(CMAKE_FIND_ROOT_PATH /usr/${KIT_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Resource scripts are UTF-8 like every source; windres stores their texts as UTF-16.
set(CMAKE_RC_FLAGS_INIT "-c 65001")
