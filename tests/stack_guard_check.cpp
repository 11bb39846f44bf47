// SPDX-FileCopyrightText: 2026 The install authors
// SPDX-License-Identifier: MIT
// Exercises the deliverables' stack protector runtime, the very object they
// link:
//   stack_guard_check guard          prints the guard value in effect
//   stack_guard_check fill <count>   writes <count> bytes into an 8-byte
//                                    stack buffer; more than fit must end
//                                    the process as an overrun
#include <windows.h>

#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

// The protected functions' guard, by the compiler's name for it.
// NOLINTNEXTLINE(bugprone-reserved-identifier,cert-dcl37-c,cert-dcl51-cpp)
extern "C" uintptr_t __stack_chk_guard;

namespace {

const size_t kBufferSize = 8;

// Not inlined, so that this frame's guard is checked on return, here.
__attribute__((noinline)) void fill_buffer(size_t count) {
  char buffer[kBufferSize];
  // Volatile writes, which the compiler must keep as they are.
  volatile char *target = buffer;
  for (size_t i = 0; i < count; ++i) {
    target[i] = 'x';
  }
}

} // namespace

int main(int argc, char *argv[]) {
  if (argc == 2 && strcmp(argv[1], "guard") == 0) {
    printf("%llx\n", static_cast<unsigned long long>(__stack_chk_guard));
    return 0;
  }
  if (argc == 3 && strcmp(argv[1], "fill") == 0) {
    fill_buffer(strtoul(argv[2], nullptr, 10));
    return 0;
  }
  fprintf(stderr, "usage: stack_guard_check guard | fill <count>\n");
  return 2;
}
