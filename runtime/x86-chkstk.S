// ___chkstk_ms for Windows on x86 and x64, which code calls before it takes
// a stack frame of more than a page; the MinGW-w64 runtime's own start-up
// code calls it too. GCC's libgcc has it, but the programs link no libgcc.
// eax (rax) holds the frame's size. It touches one word in every page of
// the frame, from the top down and ending at the frame's lowest address, so
// that the stack's guard page is met in order and the stack grows. It
// changes neither the stack pointer nor memory nor any register but the
// flags.
        .text
        .globl  ___chkstk_ms
        .p2align 4
___chkstk_ms:
#ifdef __x86_64__
        pushq   %rcx
        pushq   %rax
        leaq    24(%rsp), %rcx          // the caller's stack pointer
1:      cmpq    $4096, %rax
        jbe     2f
        subq    $4096, %rcx
        testq   %rcx, (%rcx)
        subq    $4096, %rax
        jmp     1b
2:      subq    %rax, %rcx              // the frame's lowest address
        testq   %rcx, (%rcx)
        popq    %rax
        popq    %rcx
        ret
#else
        pushl   %ecx
        pushl   %eax
        leal    12(%esp), %ecx          // the caller's stack pointer
1:      cmpl    $4096, %eax
        jbe     2f
        subl    $4096, %ecx
        testl   %ecx, (%ecx)
        subl    $4096, %eax
        jmp     1b
2:      subl    %eax, %ecx              // the frame's lowest address
        testl   %ecx, (%ecx)
        popl    %eax
        popl    %ecx
        ret
#endif
