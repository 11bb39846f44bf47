// The load configuration and the Control Flow Guard pointers of every
// program built with -mguard=cf. The platform compiler's runtime carries
// them; the MinGW-w64 runtime (version 10, Debian 12's) has neither, and
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
#else
#define SYMBOL(name) name
#define POINTER .quad
#define POINTER_ALIGNMENT 3
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
#if defined(__i386__)
        .long   192                             // Size
        .fill   68, 1, 0
        .long   ___guard_check_icall_fptr       // 72
        .long   0                               // dispatch: x64 only
        .long   ___guard_fids_table             // 80
        .long   ___guard_fids_count
        .long   ___guard_flags
        .fill   12, 1, 0                        // CodeIntegrity
        .long   ___guard_iat_table              // 104
        .long   ___guard_iat_count
        .long   ___guard_longjmp_table
        .long   ___guard_longjmp_count
        .fill   44, 1, 0
        .long   ___guard_eh_cont_table          // 164
        .long   ___guard_eh_cont_count
        .fill   20, 1, 0                        // up to 192
#else
        .long   320                             // Size
        .fill   108, 1, 0
        .quad   __guard_check_icall_fptr        // 112
#if defined(__x86_64__)
        .quad   __guard_dispatch_icall_fptr
#else
        .quad   0                               // dispatch: x64 only
#endif
        .quad   __guard_fids_table              // 128
        .quad   __guard_fids_count
        .long   __guard_flags
        .fill   12, 1, 0                        // CodeIntegrity
        .quad   __guard_iat_table               // 160
        .quad   __guard_iat_count
        .quad   __guard_longjmp_table
        .quad   __guard_longjmp_count
        .fill   72, 1, 0
        .quad   __guard_eh_cont_table           // 264
        .quad   __guard_eh_cont_count
        .fill   40, 1, 0                        // up to 320
#endif
