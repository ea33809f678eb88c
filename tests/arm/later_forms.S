@ One instruction per line that an ARMv6 core with VFPv2 lacks (ARMv6K, ARMv6T2, ARMv7
@ and its extensions, VFPv3/VFPv4, NEON) or that is not ARM state: the checker must
@ report every one. Never run.
    .arch armv7-a
    .arch_extension idiv
    .arch_extension mp
    .fpu neon-vfpv4
    .eabi_attribute 28, 1       @ arguments in VFP registers
    .syntax unified
    .text
    .arm
    .global later_forms
    .type later_forms, %function
later_forms:
    movw r0, #1
    movt r0, #1
    movweq r0, #2
    bfc r0, #0, #4
    bfi r0, r1, #0, #4
    sbfx r0, r1, #0, #4
    ubfx r0, r1, #0, #4
    rbit r0, r1
    mls r0, r1, r2, r3
    sdiv r0, r1, r2
    udiv r0, r1, r2
    ldrexb r0, [r1]
    ldrexh r0, [r1]
    ldrexd r0, r1, [r2]
    strexb r0, r1, [r2]
    strexh r0, r1, [r2]
    strexd r0, r2, r3, [r4]
    clrex
    dmb ish
    dsb sy
    isb sy
    pli [r0]
    pldw [r0]
    yield
    wfe
    wfi
    sev
    nop
    ldrht r0, [r1]
    strht r0, [r1]
    vmov.f32 s0, #1.0
    vmov.f64 d0, #-2.0
    vcvt.f32.s32 s0, s0, #16
    vcvtb.f32.f16 s0, s1
    vfma.f32 s0, s1, s2
    vldr d16, [r0]
    vmov.f64 d17, d0
    vadd.f32 d0, d1, d2
    vmul.f32 q0, q1, q2
    vadd.i32 d0, d1, d2
    vld1.32 {d0}, [r0]
    vmov d0, d1
    vmov.i32 d0, #0
    vmov.8 d0[1], r0
    vdup.32 d0, r0
    veor d0, d1, d2
    .thumb
    .type thumb_forms, %function
thumb_forms:
    adds r0, r0, #1
    movw r0, #1
    bx lr
