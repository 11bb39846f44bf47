// SPDX-FileCopyrightText: 2026 The install authors
// SPDX-License-Identifier: MIT
// Shows Control Flow Guard consulted under Wine, which never enforces it, by
// doing what an enforcing Windows loader does: it points the program's guard
// at a strict check of the program's table of valid call targets, then
// makes an indirect call.
//   cfg_check function   calls the start of a function through a pointer:
//                        prints "checked" and exits with 0
//   cfg_check middle     calls into the middle of that function: the check
//                        ends the process with STATUS_STACK_BUFFER_OVERRUN
#include <windows.h>

#include <stdint.h>
#include <stdio.h>
#include <string.h>

namespace {

// The Control Flow Guard fields of the load configuration, which follow the
// fields that this version of the MinGW-w64 headers names.
using Guard = void (*)();
struct GuardFields {
  Guard *check_pointer;          // where the check's address is kept
  Guard *dispatch_pointer;       // where x64's dispatch's address is kept
  const uint8_t *function_table; // valid call targets, ascending offsets
  uintptr_t function_count;
  uint32_t flags;
};
// Each table entry is a 4-byte offset followed by this many bytes of flags.
const uint32_t kEntryExtraMask = 0xF0000000;
const int kEntryExtraShift = 28;
const size_t kEntryOffsetSize = 4;

const uint8_t *image_base() {
  return reinterpret_cast<const uint8_t *>(GetModuleHandleW(nullptr));
}

const IMAGE_NT_HEADERS *image_headers() {
  const auto *dos = reinterpret_cast<const IMAGE_DOS_HEADER *>(image_base());
  return reinterpret_cast<const IMAGE_NT_HEADERS *>(image_base() +
                                                    dos->e_lfanew);
}

const GuardFields &guard_fields() {
  const IMAGE_DATA_DIRECTORY &directory =
      image_headers()
          ->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_LOAD_CONFIG];
  return *reinterpret_cast<const GuardFields *>(
      image_base() + directory.VirtualAddress +
      sizeof(IMAGE_LOAD_CONFIG_DIRECTORY));
}

bool in_function_table(uint32_t offset) {
  const GuardFields &guard = guard_fields();
  const size_t stride =
      kEntryOffsetSize + ((guard.flags & kEntryExtraMask) >> kEntryExtraShift);
  const uint8_t *entry = guard.function_table;
  for (uintptr_t i = 0; i < guard.function_count; ++i, entry += stride) {
    uint32_t valid = 0;
    memcpy(&valid, entry, sizeof valid);
    if (valid == offset) {
      return true;
    }
  }
  return false;
}

volatile bool checked = false;

// The loader writes the guard's pointer in a read-only page, as this does.
void replace_pointer(Guard *pointer, Guard with) {
  void *page = static_cast<void *>(pointer);
  DWORD protection = 0;
  VirtualProtect(page, sizeof with, PAGE_READWRITE, &protection);
  *pointer = with;
  VirtualProtect(page, sizeof with, protection, &protection);
}

} // namespace

extern "C" {

// Ends the process, as Windows does, when a call's target lies in the image
// but is not in its table. Targets elsewhere belong to other modules' tables.
__attribute__((used)) void check_call_target(uintptr_t target) {
  checked = true;
  const auto base = reinterpret_cast<uintptr_t>(image_base());
  if (target - base < image_headers()->OptionalHeader.SizeOfImage &&
      !in_function_table(static_cast<uint32_t>(target - base))) {
    TerminateProcess(GetCurrentProcess(), STATUS_STACK_BUFFER_OVERRUN);
  }
}

// The strict check, in the guard's calling convention: the target in ecx
// (x86) or x15 (arm64), or on x64 the dispatch, with the target in rax,
// which then makes the call. Each keeps the call's argument registers.
#if defined(__i386__)
__attribute__((naked)) void strict_guard() {
  asm("pushl %eax\n pushl %ecx\n pushl %edx\n pushl %ecx\n"
      "call _check_call_target\n addl $4, %esp\n"
      "popl %edx\n popl %ecx\n popl %eax\n ret");
}
#elif defined(__x86_64__)
__attribute__((naked)) void strict_guard() {
  asm("pushq %rcx\n pushq %rdx\n pushq %r8\n pushq %r9\n pushq %rax\n"
      "subq $32, %rsp\n movq %rax, %rcx\n call check_call_target\n"
      "addq $32, %rsp\n popq %rax\n popq %r9\n popq %r8\n popq %rdx\n"
      "popq %rcx\n jmp *%rax");
}
#else
__attribute__((naked)) void strict_guard() {
  asm("stp x29, x30, [sp, #-96]!\n mov x29, sp\n"
      "stp x0, x1, [sp, #16]\n stp x2, x3, [sp, #32]\n"
      "stp x4, x5, [sp, #48]\n stp x6, x7, [sp, #64]\n"
      "stp x8, x15, [sp, #80]\n mov x0, x15\n bl check_call_target\n"
      "ldp x8, x15, [sp, #80]\n ldp x6, x7, [sp, #64]\n"
      "ldp x4, x5, [sp, #48]\n ldp x2, x3, [sp, #32]\n"
      "ldp x0, x1, [sp, #16]\n ldp x29, x30, [sp], #96\n ret");
}
#endif

// Returns from wherever in it a call lands, so that a call into its middle
// that nothing stops comes back.
__attribute__((naked)) void landing() {
  asm("nop\n nop\n nop\n nop\n nop\n nop\n nop\n nop\n ret");
}

} // extern "C"

int main(int argc, char *argv[]) {
  const bool middle = argc == 2 && strcmp(argv[1], "middle") == 0;
  if (argc != 2 || (!middle && strcmp(argv[1], "function") != 0)) {
    fprintf(stderr, "usage: cfg_check function|middle\n");
    return 2;
  }
  const GuardFields &guard = guard_fields();
#if defined(__x86_64__)
  replace_pointer(guard.dispatch_pointer, strict_guard);
#else
  replace_pointer(guard.check_pointer, strict_guard);
#endif

  // The offset lands on an instruction on every architecture.
  const size_t kMiddle = 4;
  Guard volatile call = landing;
  if (middle) {
    call = reinterpret_cast<Guard>(reinterpret_cast<char *>(landing) + kMiddle);
  }
  call();
  if (checked) {
    printf("checked\n");
  }
  return 0;
}
