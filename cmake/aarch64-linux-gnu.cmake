# Cross build for 64-bit ARM boards (Raspberry Pi 3, 4, 5 and Zero 2 on a 64-bit system:
# ARMv8-A) with Debian's aarch64-linux-gnu cross compiler. Target libraries the tests link
# come from Debian's arm64 multiarch packages, and programs built for the target run under
# qemu-aarch64. The plain ARMv8-A instruction set, whatever the compiler's defaults; the
# project's -ffp-contract=off keeps aarch64's fused multiply-adds out.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)

set(TAVRELLE_TRIPLE aarch64-linux-gnu)
set(CMAKE_LIBRARY_ARCHITECTURE ${TAVRELLE_TRIPLE})
set(CMAKE_C_COMPILER ${TAVRELLE_TRIPLE}-gcc)
set(CMAKE_CXX_COMPILER ${TAVRELLE_TRIPLE}-g++)
set(CMAKE_C_FLAGS_INIT "-march=armv8-a")
set(CMAKE_CXX_FLAGS_INIT "-march=armv8-a")

set(ENV{PKG_CONFIG_LIBDIR} "/usr/lib/${TAVRELLE_TRIPLE}/pkgconfig:/usr/share/pkgconfig")

# One C library for every target program: the arm64 multiarch runtime where it is
# installed (Pd's libraries need it), otherwise the cross compiler's own.
if(EXISTS /lib/ld-linux-aarch64.so.1)
    set(CMAKE_CROSSCOMPILING_EMULATOR qemu-aarch64)
else()
    set(CMAKE_CROSSCOMPILING_EMULATOR qemu-aarch64 -L /usr/${TAVRELLE_TRIPLE})
endif()
