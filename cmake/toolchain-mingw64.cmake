# x86-64 Windows with Debian's mingw-w64; programs run here under wine64.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(CORVEL_MINGW_TRIPLE x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
find_program(CORVEL_WINE64 wine64 PATHS /usr/lib/wine /usr/bin NO_CMAKE_FIND_ROOT_PATH)
if(CORVEL_WINE64)
  set(CMAKE_CROSSCOMPILING_EMULATOR "${CORVEL_WINE64}")
endif()
