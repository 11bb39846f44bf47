// SPDX-FileCopyrightText: 2026 The install authors
// SPDX-License-Identifier: MIT
// The load configuration and the Control Flow Guard pointers of every
// program built with -mguard=cf. The platform compiler's runtime carries
// them; the MinGW-w64 runtime (versions 10 and 12) has neither, and
// without them the loader sees no guard at all.
//
// Guarded code calls through __guard_check_icall_fptr before each indirect
// call, with the target in ecx (x86) or x15 (arm64); x64 code calls through
// __guard_dispatch_icall_fptr, with the target in rax, which makes the call.
// The pointers lie in .00cfg, which the linker merges into the read-only
// .rdata as Windows expects: a loader that enforces the guard makes their
// page writable, points them at its own check and dispatch, and makes it
// read-only again. Until then, and on a system without the guard, the check
// returns and the dispatch jumps to the target.
//
// lld fills in the __guard_* symbols: the table of valid call targets, its
// flags and the other tables. It checks that each field lies at its offset.

#if defined(__i386__)
#define SYMBOL(name) _##name
#define POINTER .long
#define POINTER_ALIGNMENT 2
// The fields before the guard's, up to the exception handler table, whose
// order differs between the 32-bit and the 64-bit layout.
#define LEADING_FIELDS_SIZE 72
#else
#define SYMBOL(name) name
#define POINTER .quad
#define POINTER_ALIGNMENT 3
#define LEADING_FIELDS_SIZE 112
#endif
#if defined(__x86_64__)
#define DISPATCH_POINTER __guard_dispatch_icall_fptr
#else
#define DISPATCH_POINTER 0 // x64 only
#endif

        .section .00cfg,"dr"
        .p2align POINTER_ALIGNMENT
        .globl  SYMBOL(__guard_check_icall_fptr)
SYMBOL(__guard_check_icall_fptr):
        POINTER guard_check_icall_unchecked
#if defined(__x86_64__)
        .globl  __guard_dispatch_icall_fptr
__guard_dispatch_icall_fptr:
        POINTER guard_dispatch_icall_unchecked
#endif

        .text
        .p2align 2
guard_check_icall_unchecked:
        ret
#if defined(__x86_64__)
guard_dispatch_icall_unchecked:
        jmp     *%rax
#endif

// IMAGE_LOAD_CONFIG_DIRECTORY32 or 64, in the layout of Windows 11's SDK;
// fields not named here are zero. The x86 programs have no SEH handlers
// (NO_SEH), so their handler table stays empty.
        .section .rdata,"dr"
        .p2align POINTER_ALIGNMENT
        .globl  SYMBOL(_load_config_used)
SYMBOL(_load_config_used):
        .long   load_config_end - SYMBOL(_load_config_used) // Size
        .fill   LEADING_FIELDS_SIZE - 4, 1, 0
        POINTER SYMBOL(__guard_check_icall_fptr)
        POINTER DISPATCH_POINTER
        POINTER SYMBOL(__guard_fids_table)
        POINTER SYMBOL(__guard_fids_count)
        .long   SYMBOL(__guard_flags)
        .fill   12, 1, 0                        // CodeIntegrity
        POINTER SYMBOL(__guard_iat_table)
        POINTER SYMBOL(__guard_iat_count)
        POINTER SYMBOL(__guard_longjmp_table)
        POINTER SYMBOL(__guard_longjmp_count)
        // Dynamic relocations to volatile metadata: seven pointers and four
        // 32-bit fields.
        .fill   7 * __SIZEOF_POINTER__ + 16, 1, 0
        POINTER SYMBOL(__guard_eh_cont_table)
        POINTER SYMBOL(__guard_eh_cont_count)
        // XFG's three pointers, the cast guard's mode, the memcpy pointer.
        .fill   5 * __SIZEOF_POINTER__, 1, 0
load_config_end:
