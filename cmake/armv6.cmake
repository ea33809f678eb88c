# Code for the 32-bit ARM boards the library runs on: ARMv6 with VFPv2, hard-float
# calling convention, ARM (not Thumb) state, scheduled for the ARM11's VFP11 pipeline.
set(TAVRELLE_ARMV6_FLAGS -marm -march=armv6+fp -mfpu=vfp -mfloat-abi=hard -mtune=arm1136jf-s)
