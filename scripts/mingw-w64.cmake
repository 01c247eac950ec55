# Cross-builds Velmora for Windows with Debian's MinGW-w64. VELMORA_MINGW_ARCH picks the target:
# i686 (the default) for the program itself, as only a 32-bit program finds the Jet driver every
# Windows has, and for its tests; x86_64 for the tests on machines that run no 32-bit programs,
# under wine or otherwise. The -posix compilers, because the -win32 ones have no std::mutex, which GoogleTest
# needs. Built programs run under wine.
set(VELMORA_MINGW_ARCH i686 CACHE STRING "i686 or x86_64")
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES VELMORA_MINGW_ARCH)
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR ${VELMORA_MINGW_ARCH})
set(CMAKE_C_COMPILER ${VELMORA_MINGW_ARCH}-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER ${VELMORA_MINGW_ARCH}-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER ${VELMORA_MINGW_ARCH}-w64-mingw32-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${VELMORA_MINGW_ARCH}-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_CROSSCOMPILING_EMULATOR wine)
