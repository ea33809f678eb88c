# Cross build for 32-bit Pd on Windows (i386 with SSE2), run under wine where Debian's
# 32-bit wine (wine32:i386) is installed.
set(CMAKE_SYSTEM_PROCESSOR X86)
set(TAVRELLE_TRIPLE i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)
if(EXISTS /usr/lib/wine/wine)
    set(CMAKE_CROSSCOMPILING_EMULATOR /usr/lib/wine/wine)
endif()
