// SPDX-FileCopyrightText: 2026 The install authors
// SPDX-License-Identifier: MIT
// ___chkstk_ms for Windows on x86 and x64, which code calls before it takes
// a stack frame of more than a page; the MinGW-w64 runtime's own start-up
// code calls it too. GCC's libgcc has it, but the programs link no libgcc.
// eax (rax) holds the frame's size. It touches one word in every page of
// the frame, from the top down and ending at the frame's lowest address, so
// that the stack's guard page is met in order and the stack grows. It
// changes neither the stack pointer nor memory nor any register but the
// flags. The registers' width gives each instruction its operand size.
#ifdef __x86_64__
#define SIZE_REGISTER %rax
#define PROBE_REGISTER %rcx
#define STACK_POINTER %rsp
#else
#define SIZE_REGISTER %eax
#define PROBE_REGISTER %ecx
#define STACK_POINTER %esp
#endif
// Above the stack pointer once both registers are saved: the two of them
// and the return address.
#define CALLER_STACK (3 * __SIZEOF_POINTER__)
#define PAGE_SIZE 4096

        .text
        .globl  ___chkstk_ms
        .p2align 4
___chkstk_ms:
        push    PROBE_REGISTER
        push    SIZE_REGISTER
        lea     CALLER_STACK(STACK_POINTER), PROBE_REGISTER
1:      cmp     $PAGE_SIZE, SIZE_REGISTER
        jbe     2f
        sub     $PAGE_SIZE, PROBE_REGISTER
        test    PROBE_REGISTER, (PROBE_REGISTER)
        sub     $PAGE_SIZE, SIZE_REGISTER
        jmp     1b
2:      sub     SIZE_REGISTER, PROBE_REGISTER   // the frame's lowest address
        test    PROBE_REGISTER, (PROBE_REGISTER)
        pop     SIZE_REGISTER
        pop     PROBE_REGISTER
        ret
