// SPDX-FileCopyrightText: 2026 The install authors
// SPDX-License-Identifier: MIT
// The stack protector's runtime, linked into every deliverable: the guard
// value that each protected function keeps between its locals and its
// return address, and the end of the process when a function finds it
// overwritten.
//
// MinGW's libssp seeds its guard through ADVAPI32's cryptographic providers,
// which load further libraries by bare name while the program starts, before
// it can restrict where libraries come from. This seeds the guard from
// kernel32's clocks and identifiers and the module's randomised address
// instead, as the platform compiler's own stack cookie does.
#include <windows.h>

#include <stdint.h>

namespace {

// In effect until the guard is seeded, and if seeding gives zero.
const uintptr_t kUnseededGuard = static_cast<uintptr_t>(0x2B992DDFA232ULL);

} // namespace

// The names are the compiler's: protected functions refer to them.
extern "C" {

// NOLINTNEXTLINE(bugprone-reserved-identifier,cert-dcl37-c,cert-dcl51-cpp)
uintptr_t __stack_chk_guard = kUnseededGuard;

// The C runtime runs this before main, and before any protected function of
// the program starts; it must not protect its own frame.
__attribute__((constructor, no_stack_protector)) static void
seed_stack_guard() {
  FILETIME now = {};
  GetSystemTimeAsFileTime(&now);
  LARGE_INTEGER counter = {};
  QueryPerformanceCounter(&counter);

  uintptr_t guard = reinterpret_cast<uintptr_t>(&__stack_chk_guard);
  guard ^= static_cast<uintptr_t>(now.dwLowDateTime) ^
           (static_cast<uintptr_t>(now.dwHighDateTime) << 7);
  guard ^= static_cast<uintptr_t>(counter.QuadPart) ^
           (static_cast<uintptr_t>(counter.QuadPart >> 32) << 13);
  guard ^= static_cast<uintptr_t>(GetCurrentProcessId()) << 3;
  guard ^= static_cast<uintptr_t>(GetCurrentThreadId()) << 17;
  guard ^= static_cast<uintptr_t>(GetTickCount64());
  __stack_chk_guard = guard != 0 ? guard : kUnseededGuard;
}

// A stack buffer was overrun: end at once, with the status Windows reports
// for it, running nothing more of the program.
// NOLINTNEXTLINE(bugprone-reserved-identifier,cert-dcl37-c,cert-dcl51-cpp)
__attribute__((noreturn)) void __stack_chk_fail() {
  TerminateProcess(GetCurrentProcess(), STATUS_STACK_BUFFER_OVERRUN);
  __builtin_trap();
}

} // extern "C"
