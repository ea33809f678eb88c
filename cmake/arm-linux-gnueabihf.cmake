# Cross build for 32-bit ARM boards: an ARMv6 core with VFPv2, hard-float calling
# convention, ARM (not Thumb) instructions, scheduled for the ARM11's VFP11 pipeline.
# Uses Debian's arm-linux-gnueabihf cross compiler. Target libraries the tests link
# (libsndfile, for instance) come from Debian's armhf multiarch packages, and programs
# built for the target run under qemu-arm.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR arm)

set(TAVRELLE_TRIPLE arm-linux-gnueabihf)
set(CMAKE_LIBRARY_ARCHITECTURE ${TAVRELLE_TRIPLE})
set(CMAKE_C_COMPILER ${TAVRELLE_TRIPLE}-gcc)
set(CMAKE_CXX_COMPILER ${TAVRELLE_TRIPLE}-g++)

set(TAVRELLE_ARM_FLAGS "-marm -march=armv6+fp -mfpu=vfp -mfloat-abi=hard -mtune=arm1136jf-s")
set(CMAKE_C_FLAGS_INIT "${TAVRELLE_ARM_FLAGS}")
set(CMAKE_CXX_FLAGS_INIT "${TAVRELLE_ARM_FLAGS}")
set(CMAKE_ASM_FLAGS_INIT "${TAVRELLE_ARM_FLAGS}")

# Libraries are searched in the target's multiarch folders (lib/arm-linux-gnueabihf),
# never the build machine's; pkg-config reads the target's .pc files only.
set(ENV{PKG_CONFIG_LIBDIR} "/usr/lib/${TAVRELLE_TRIPLE}/pkgconfig:/usr/share/pkgconfig")

# One C library for every target program: the armhf multiarch runtime where it is
# installed (Pd's libraries need it), otherwise the cross compiler's own. Mixing the
# loader of one with the C library of the other is not safe.
if(EXISTS /lib/ld-linux-armhf.so.3)
    set(CMAKE_CROSSCOMPILING_EMULATOR qemu-arm)
else()
    set(CMAKE_CROSSCOMPILING_EMULATOR qemu-arm -L /usr/${TAVRELLE_TRIPLE})
endif()
