# i386 Windows with Debian's mingw-w64, SSE2 arithmetic as on every x86 build
# (x87's wider intermediates would change results). Nothing here runs 32-bit
# Windows code: this build is checked as files.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(CORVEL_MINGW_TRIPLE i686-w64-mingw32)
set(CMAKE_C_FLAGS_INIT "-msse2 -mfpmath=sse")
set(CMAKE_CXX_FLAGS_INIT "-msse2 -mfpmath=sse")
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
