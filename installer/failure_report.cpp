#include "failure_report.h"

#include <windows.h>

#include <stdio.h>

namespace {

// FORMAT_MESSAGE_IGNORE_INSERTS is deliberately absent: the lookup is the
// plain system one, and a failed lookup falls back to the code itself.
const DWORD kSystemTextFlags =
    FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM;
const DWORD kUserDefaultLanguage = MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT);

} // namespace

int report_failure(const char *operation) {
  const DWORD code = GetLastError();

  char *text = nullptr;
  // With ALLOCATE_BUFFER the system stores a pointer to its own buffer
  // through the buffer argument, hence the cast.
  const DWORD length =
      FormatMessageA(kSystemTextFlags, nullptr, code, kUserDefaultLanguage,
                     reinterpret_cast<char *>(&text), 0, nullptr);
  if (length != 0 && text != nullptr) {
    // The system text keeps its own line break, if it has one.
    printf("%s FAILURE: %s\n", operation, text);
  } else {
    printf("%s FAILURE: (0x%08lx)\n", operation, code);
  }
  if (text != nullptr) {
    LocalFree(text);
  }

  SetLastError(code);
  return 0;
}
