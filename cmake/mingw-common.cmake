# What both Windows toolchains share. The posix-threads compilers (GoogleTest
# needs std::mutex), with the compiler runtime and the threads library linked
# statically, so that a built DLL or program needs nothing installed beside it.
set(CMAKE_C_COMPILER ${CORVEL_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${CORVEL_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${CORVEL_MINGW_TRIPLE}-windres)
set(CMAKE_DLLTOOL ${CORVEL_MINGW_TRIPLE}-dlltool)
set(CORVEL_OBJDUMP ${CORVEL_MINGW_TRIPLE}-objdump)
set(CMAKE_FIND_ROOT_PATH /usr/${CORVEL_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-static")
