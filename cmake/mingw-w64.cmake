# Cross build of Windows plug-ins with Debian's mingw-w64 compilers, included by the
# toolchain file of each CPU after it sets TAVRELLE_TRIPLE. Programs built for the target
# run under wine. The posix thread model gives GoogleTest its std::mutex; the test
# programs link its runtime statically, and the plug-ins link no C++ runtime at all.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_C_COMPILER ${TAVRELLE_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${TAVRELLE_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${TAVRELLE_TRIPLE}-windres)
set(TAVRELLE_DLLTOOL ${TAVRELLE_TRIPLE}-dlltool)
set(TAVRELLE_OBJDUMP ${TAVRELLE_TRIPLE}-objdump)

# The target's headers and libraries only; Pd's header from the build machine's
# puredata-dev, from its own folder (never all of /usr/include).
set(CMAKE_FIND_ROOT_PATH /usr/${TAVRELLE_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
set(PD_INCLUDE_DIR /usr/include/pd CACHE PATH "Pd's API header")
