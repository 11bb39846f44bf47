// SPDX-FileCopyrightText: 2026 The install authors
// SPDX-License-Identifier: MIT
// __chkstk for Windows on ARM64, which the compiler calls before a function
// takes a stack frame of more than a page; the MinGW-w64 runtime built from
// Debian's source lacks it. x15 holds the frame's size in units of 16 bytes.
// It reads one word in every page of the frame, from the top down and ending
// at the frame's lowest address, so that the stack's guard page is met in
// order and the stack grows. It changes neither the stack pointer nor
// memory, and clobbers x16 and x17 only.
        .text
        .globl  __chkstk
        .p2align 2
__chkstk:
        lsl     x16, x15, #4            // bytes of the frame not yet probed
        mov     x17, sp                 // the address probed last
1:      cmp     x16, #4096
        b.ls    2f
        sub     x17, x17, #4096
        ldr     xzr, [x17]
        sub     x16, x16, #4096
        b       1b
2:      sub     x17, x17, x16           // the frame's lowest address
        ldr     xzr, [x17]
        ret
