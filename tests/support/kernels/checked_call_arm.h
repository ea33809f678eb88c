// A call of a routine written by hand for the 32-bit ARM build that fails where the
// routine does not keep what the calling convention asks of it: r4-r11, s16-s31 and the
// FPSCR's control bits (rounding, flushing, default NaN, vector length and stride, trap
// enables). Sets bit 1, 2 or 4 of *changed for each that it changed.
#pragma once

#include <m_pd.h>

#include <cstdint>

extern "C" t_int *probe_checked_call(t_perfroutine fn, t_int *w, std::uint32_t *changed);

asm(R"(
    .text
    .arm
    .align 2
    .weak probe_checked_call
    .type probe_checked_call, %function
probe_checked_call:
    push {r4-r11, lr}
    vpush {d8-d15}
    sub sp, sp, #12
    str r2, [sp]
    vmrs r3, fpscr
    str r3, [sp, #4]
    mov ip, r0
    mov r0, r1
    adr r1, 9f
    vldmia r1, {s16-s31}
    ldmia r1, {r4-r11}
    blx ip
    adr r1, 9f
    mov r3, #0
    ldr r2, [r1, #0]
    cmp r4, r2
    ldreq r2, [r1, #4]
    cmpeq r5, r2
    ldreq r2, [r1, #8]
    cmpeq r6, r2
    ldreq r2, [r1, #12]
    cmpeq r7, r2
    ldreq r2, [r1, #16]
    cmpeq r8, r2
    ldreq r2, [r1, #20]
    cmpeq r9, r2
    ldreq r2, [r1, #24]
    cmpeq r10, r2
    ldreq r2, [r1, #28]
    cmpeq r11, r2
    orrne r3, r3, #1
    vpush {d8-d15}
    mov r4, #0
8:  ldr r2, [sp, r4]
    ldr ip, [r1, r4]
    cmp r2, ip
    orrne r3, r3, #2
    add r4, r4, #4
    cmp r4, #64
    blo 8b
    add sp, sp, #64
    vmrs r2, fpscr
    ldr ip, [sp, #4]
    eor r2, r2, ip
    ldr ip, =0x0fffff00
    tst r2, ip
    orrne r3, r3, #4
    ldr r2, [sp]
    str r3, [r2]
    add sp, sp, #12
    vpop {d8-d15}
    pop {r4-r11, pc}
    .ltorg
9:  .word 0x4a5a6a01, 0x4a5a6a02, 0x4a5a6a03, 0x4a5a6a04, 0x4a5a6a05, 0x4a5a6a06
    .word 0x4a5a6a07, 0x4a5a6a08, 0x3f5a6a09, 0x3f5a6a0a, 0x3f5a6a0b, 0x3f5a6a0c
    .word 0x3f5a6a0d, 0x3f5a6a0e, 0x3f5a6a0f, 0x3f5a6a10
    .size probe_checked_call, .-probe_checked_call
)");
