# Cross build for 32-bit ARM boards: an ARMv6 core with VFPv2, hard-float calling
# convention, ARM (not Thumb) instructions, scheduled for the ARM11's VFP11 pipeline.
# Uses Debian's arm-linux-gnueabihf cross compiler; programs built for the target
# (the test host) run under qemu-arm with the cross C library as their root.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR arm)

set(TAVRELLE_TRIPLE arm-linux-gnueabihf)
set(TAVRELLE_SYSROOT /usr/${TAVRELLE_TRIPLE})
set(CMAKE_C_COMPILER ${TAVRELLE_TRIPLE}-gcc)
set(CMAKE_CXX_COMPILER ${TAVRELLE_TRIPLE}-g++)

set(TAVRELLE_ARM_FLAGS "-marm -march=armv6+fp -mfpu=vfp -mfloat-abi=hard -mtune=arm1136jf-s")
set(CMAKE_C_FLAGS_INIT "${TAVRELLE_ARM_FLAGS}")
set(CMAKE_CXX_FLAGS_INIT "${TAVRELLE_ARM_FLAGS}")
set(CMAKE_ASM_FLAGS_INIT "${TAVRELLE_ARM_FLAGS}")

# Libraries and packages come from the target's root only; headers may also come from
# the build machine (Pd's m_pd.h and GoogleTest's headers are the same for every target).
set(CMAKE_FIND_ROOT_PATH ${TAVRELLE_SYSROOT})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE BOTH)

set(CMAKE_CROSSCOMPILING_EMULATOR qemu-arm -L ${TAVRELLE_SYSROOT})
