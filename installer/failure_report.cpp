// SPDX-FileCopyrightText: 2026 The install authors
// SPDX-License-Identifier: MIT
#include "failure_report.h"

#include <windows.h>

#include <stdio.h>
#include <wchar.h>

namespace {

// FORMAT_MESSAGE_IGNORE_INSERTS is deliberately absent: the lookup is the
// plain system one, and a failed lookup falls back to the code itself.
const DWORD kSystemTextFlags =
    FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM;
const DWORD kUserDefaultLanguage = MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT);

// Room for the whole console line: the operation's name, the separator, the
// system text and the line break. A longer line takes the narrow path.
const size_t kConsoleLineSize = 1024;
const wchar_t kSeparator[] = L" FAILURE: ";
// What text mode makes of the format's final line feed.
const wchar_t kLineBreak[] = L"\r\n";

// Appends a NUL-terminated text to line at length; false when it does not
// fit with its terminator.
bool append(wchar_t (&line)[kConsoleLineSize], size_t &length,
            const wchar_t *text) {
  const size_t size = wcslen(text);
  if (size >= kConsoleLineSize - length) {
    return false;
  }
  wmemcpy(line + length, text, size + 1);
  length += size;
  return true;
}

// Writes the failure line to standard output in UTF-16 when that is a
// console, which shows it in any script, whatever its own code page. False,
// with nothing written, when standard output is not a console, the system
// has no text for the code, or the line cannot be written whole.
bool report_on_console(const char *operation, DWORD code) {
  const HANDLE output = GetStdHandle(STD_OUTPUT_HANDLE);
  DWORD mode = 0;
  if (output == INVALID_HANDLE_VALUE || !GetConsoleMode(output, &mode)) {
    return false;
  }

  wchar_t line[kConsoleLineSize];
  if (MultiByteToWideChar(CP_ACP, 0, operation, -1, line, kConsoleLineSize) ==
      0) {
    return false;
  }
  size_t length = wcslen(line);

  wchar_t *text = nullptr;
  // With ALLOCATE_BUFFER the system stores a pointer to its own buffer
  // through the buffer argument, hence the cast.
  const DWORD found =
      FormatMessageW(kSystemTextFlags, nullptr, code, kUserDefaultLanguage,
                     reinterpret_cast<wchar_t *>(&text), 0, nullptr);
  // The system text keeps its own line break, if it has one.
  const bool composed =
      found != 0 && text != nullptr && append(line, length, kSeparator) &&
      append(line, length, text) && append(line, length, kLineBreak);
  if (text != nullptr) {
    LocalFree(text);
  }
  if (!composed) {
    return false;
  }

  // Whatever the C runtime still holds for standard output goes first.
  fflush(stdout);
  DWORD written = 0;
  return WriteConsoleW(output, line, static_cast<DWORD>(length), &written,
                       nullptr) != FALSE &&
         written == static_cast<DWORD>(length);
}

// Writes the failure line through the C runtime, in the ANSI code page: the
// bytes that pipes and files receive.
void report_in_ansi_code_page(const char *operation, DWORD code) {
  char *text = nullptr;
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
}

} // namespace

int report_failure(const char *operation) {
  const DWORD code = GetLastError();

  if (!report_on_console(operation, code)) {
    report_in_ansi_code_page(operation, code);
  }

  SetLastError(code);
  return 0;
}
