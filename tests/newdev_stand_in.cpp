// SPDX-FileCopyrightText: 2026 The install authors
// SPDX-License-Identifier: MIT
// A stand-in for the platform's newdev.dll. It records where it was loaded from
// and the arguments of each UpdateDriverForPlugAndPlayDevices call, its
// strings in UTF-8, and answers with an outcome the test scripts through the
// environment:
//   NEWDEV_STAND_IN_OUTCOME  "success" (the default), "restart", or
//                            "failure:<code>" (code in C notation, e.g. 0x5)
//   NEWDEV_STAND_IN_RECORD   file to write the received arguments to
//   NEWDEV_STAND_IN_LOADS    file to add a line to, with this copy's path,
//                            whenever a copy is loaded; copies of it under
//                            other libraries' names show whether those were
//                            loaded from where they lie
// Both entry points are exported, as by the system's library; the record
// names the one called, and the narrow one's strings are read in the ANSI
// code page, as the system reads them.
#include <windows.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

namespace {

const DWORD kVariableSize = 512;
// Room for a MAX_PATH name in UTF-8, at most three bytes per UTF-16 unit.
const int kUtf8Size = 3 * MAX_PATH + 1;

// Where this copy of the library was loaded from, in UTF-8.
void library_path(char (&path)[kUtf8Size]) {
  HMODULE self = nullptr;
  wchar_t wide[MAX_PATH];
  if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                              GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                          reinterpret_cast<LPCWSTR>(&library_path), &self) ||
      GetModuleFileNameW(self, wide, MAX_PATH) == 0 ||
      WideCharToMultiByte(CP_UTF8, 0, wide, -1, path, kUtf8Size, nullptr,
                          nullptr) == 0) {
    lstrcpynA(path, "unknown", kUtf8Size);
  }
}

// Reads an environment variable into value; false when it is unset or too long.
bool read_variable(const char *name, char (&value)[kVariableSize]) {
  const DWORD length = GetEnvironmentVariableA(name, value, kVariableSize);
  return length != 0 && length < kVariableSize;
}

// A received string in UTF-8; "(too long)" rather than a cut one.
struct Utf8 {
  char text[kUtf8Size];
};

Utf8 from_wide(const wchar_t *wide) {
  Utf8 utf8;
  if (WideCharToMultiByte(CP_UTF8, 0, wide, -1, utf8.text, kUtf8Size, nullptr,
                          nullptr) == 0) {
    lstrcpynA(utf8.text, "(too long)", kUtf8Size);
  }
  return utf8;
}

Utf8 from_ansi(const char *ansi) {
  wchar_t wide[kUtf8Size];
  if (MultiByteToWideChar(CP_ACP, 0, ansi, -1, wide, kUtf8Size) == 0) {
    return from_wide(L"(too long)");
  }
  return from_wide(wide);
}

void record_call(const char *function, HWND parent, const Utf8 &hardware_id,
                 const Utf8 &inf_path, DWORD flags,
                 const BOOL *restart_needed) {
  char record_path[kVariableSize];
  if (!read_variable("NEWDEV_STAND_IN_RECORD", record_path)) {
    return;
  }
  FILE *record = fopen(record_path, "wb");
  if (record == nullptr) {
    return;
  }
  char library[kUtf8Size];
  library_path(library);
  fprintf(record, "library=%s\n", library);
  fprintf(record, "function=%s\n", function);
  fprintf(record, "parent=%s\n", parent == nullptr ? "null" : "set");
  fprintf(record, "hardware_id=%s\n", hardware_id.text);
  fprintf(record, "inf_path=%s\n", inf_path.text);
  fprintf(record, "flags=%lu\n", flags);
  if (restart_needed == nullptr) {
    fprintf(record, "restart_flag=null\n");
  } else {
    fprintf(record, "restart_flag=%d\n", *restart_needed);
  }
  fclose(record);
}

void record_load() {
  char loads_path[kVariableSize];
  if (!read_variable("NEWDEV_STAND_IN_LOADS", loads_path)) {
    return;
  }
  // Plain kernel32 calls: this runs while the loader is busy with this
  // library, where the C runtime's stdio is best left alone.
  const HANDLE loads =
      CreateFileA(loads_path, FILE_APPEND_DATA, FILE_SHARE_READ, nullptr,
                  OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (loads == INVALID_HANDLE_VALUE) {
    return;
  }
  char path[kUtf8Size];
  library_path(path);
  DWORD written = 0;
  WriteFile(loads, path, static_cast<DWORD>(strlen(path)), &written, nullptr);
  WriteFile(loads, "\n", 1, &written, nullptr);
  CloseHandle(loads);
}

// Answers as NEWDEV_STAND_IN_OUTCOME says.
BOOL scripted_outcome(BOOL *restart_needed) {
  char outcome[kVariableSize] = "success";
  read_variable("NEWDEV_STAND_IN_OUTCOME", outcome);
  const char kFailurePrefix[] = "failure:";
  if (strncmp(outcome, kFailurePrefix, sizeof kFailurePrefix - 1) == 0) {
    const DWORD code = strtoul(outcome + sizeof kFailurePrefix - 1, nullptr, 0);
    SetLastError(code);
    return FALSE;
  }
  if (strcmp(outcome, "restart") == 0 && restart_needed != nullptr) {
    *restart_needed = TRUE;
  }
  return TRUE;
}

// Either entry point: records the call, then answers as scripted.
BOOL update_driver(const char *function, HWND parent, const Utf8 &hardware_id,
                   const Utf8 &inf_path, DWORD flags, BOOL *restart_needed) {
  record_call(function, parent, hardware_id, inf_path, flags, restart_needed);
  return scripted_outcome(restart_needed);
}

} // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) {
    record_load();
  }
  return TRUE;
}

extern "C" __declspec(dllexport) BOOL WINAPI
    UpdateDriverForPlugAndPlayDevicesW(HWND parent, const wchar_t *hardware_id,
                                       const wchar_t *inf_path, DWORD flags,
                                       BOOL *restart_needed) {
  return update_driver("UpdateDriverForPlugAndPlayDevicesW", parent,
                       from_wide(hardware_id), from_wide(inf_path), flags,
                       restart_needed);
}

extern "C" __declspec(dllexport) BOOL WINAPI
    UpdateDriverForPlugAndPlayDevicesA(HWND parent, const char *hardware_id,
                                       const char *inf_path, DWORD flags,
                                       BOOL *restart_needed) {
  return update_driver("UpdateDriverForPlugAndPlayDevicesA", parent,
                       from_ansi(hardware_id), from_ansi(inf_path), flags,
                       restart_needed);
}
