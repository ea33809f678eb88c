# Cross build for 32-bit ARM boards (ARMv6 with VFPv2, hard-float; see armv6.cmake) with
# Debian's arm-linux-gnueabihf cross compiler. Target libraries the tests link
# (libsndfile, for instance) come from Debian's armhf multiarch packages, and programs
# built for the target run under qemu-arm.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR arm)

set(TAVRELLE_TRIPLE arm-linux-gnueabihf)
set(CMAKE_LIBRARY_ARCHITECTURE ${TAVRELLE_TRIPLE})
set(CMAKE_C_COMPILER ${TAVRELLE_TRIPLE}-gcc)
set(CMAKE_CXX_COMPILER ${TAVRELLE_TRIPLE}-g++)

include("${CMAKE_CURRENT_LIST_DIR}/armv6.cmake")
list(JOIN TAVRELLE_ARMV6_FLAGS " " flags)
set(CMAKE_C_FLAGS_INIT "${flags}")
set(CMAKE_CXX_FLAGS_INIT "${flags}")
set(CMAKE_ASM_FLAGS_INIT "${flags}")

# CMake looks for the target's libraries in its multiarch folders (lib/arm-linux-gnueabihf)
# rather than the build machine's; pkg-config reads the target's .pc files only.
set(ENV{PKG_CONFIG_LIBDIR} "/usr/lib/${TAVRELLE_TRIPLE}/pkgconfig:/usr/share/pkgconfig")

# One C library for every target program: the armhf multiarch runtime where it is
# installed (Pd's libraries need it), otherwise the cross compiler's own. Mixing the
# loader of one with the C library of the other is not safe.
if(EXISTS /lib/ld-linux-armhf.so.3)
    set(CMAKE_CROSSCOMPILING_EMULATOR qemu-arm)
else()
    set(CMAKE_CROSSCOMPILING_EMULATOR qemu-arm -L /usr/${TAVRELLE_TRIPLE})
endif()
