# Cross build for 64-bit Pd on Windows (x86-64), tested under wine64.
set(CMAKE_SYSTEM_PROCESSOR AMD64)
set(TAVRELLE_TRIPLE x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)
set(CMAKE_CROSSCOMPILING_EMULATOR /usr/lib/wine/wine64)
