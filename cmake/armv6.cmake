# Code for the 32-bit ARM boards the library runs on: ARMv6 with VFPv2, hard-float
# calling convention, ARM (not Thumb) state, scheduled for the ARM11's VFP11 pipeline.
# GCC's default register-pressure scheduling puts independent chains of floating-point
# work one after another, so the in-order VFP11 waits out each result's latency; its
# "model" algorithm still watches the pressure but interleaves them.
set(TAVRELLE_ARMV6_FLAGS -marm -march=armv6+fp -mfpu=vfp -mfloat-abi=hard -mtune=arm1136jf-s
    --param=sched-pressure-algorithm=2)
