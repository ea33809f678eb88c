@ Instructions an ARMv6 core with VFPv2 has, in the forms a compiler emits for the
@ plug-ins, and a literal word that would decode as an ARMv7 instruction: the checker
@ must accept all of it. Never run.
    .arch armv6
    .fpu vfp
    .eabi_attribute 28, 1       @ arguments in VFP registers
    .syntax unified
    .arm
    .text
    .global armv6_forms
    .type armv6_forms, %function
armv6_forms:
    push {r4, lr}
    ldr r3, .Lpool
    ldrd r4, r5, [r0, #8]
    ldrex r1, [r2]
    strex r1, r3, [r2]
    rev r0, r1
    uxtb r0, r1
    sxth r0, r1
    usat r0, #8, r1
    smlabb r0, r1, r2, r3
    pld [r0, #32]
    nop
    movne r0, #255
    orr r0, r0, #65280
    vldr s15, [r0, #4]
    vldr d7, [r0, #8]
    vstr s15, [r0, #-4]
    vmov s0, r0
    vmov r0, s0
    vmov r0, r1, d0
    vmov d0, r0, r1
    vmov.32 d1[1], r2
    vmov.f32 s1, s2
    vmov.f64 d1, d2
    vmoveq.f32 s1, s2
    vadd.f32 s0, s1, s2
    vsub.f64 d0, d1, d2
    vmul.f32 s0, s1, s2
    vmla.f32 s0, s1, s2
    vnmls.f64 d0, d1, d2
    vdiv.f32 s0, s1, s2
    vsqrt.f32 s0, s1
    vabs.f32 s0, s1
    vneg.f64 d0, d1
    vcvt.f64.f32 d0, s1
    vcvt.f32.f64 s0, d1
    vcvt.s32.f32 s0, s1
    vcvtr.s32.f32 s0, s1
    vcvt.f32.u32 s0, s1
    vcmpe.f32 s0, #0
    vcmp.f64 d0, d1
    vmrs APSR_nzcv, fpscr
    vmsr fpscr, r0
    vpush {d8-d15}
    vpop {d8-d15}
    vldmia r0!, {s0-s7}
    vstmdb r1!, {d0-d3}
    pop {r4, pc}
.Lpool:
    .word 0xe3000000            @ movw r0, #0 if it were code
    .size armv6_forms, . - armv6_forms
