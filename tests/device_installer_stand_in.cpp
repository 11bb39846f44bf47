// SPDX-FileCopyrightText: 2026 The install authors
// SPDX-License-Identifier: MIT
// A stand-in for the platform's device installer libraries, newdev.dll and
// setupapi.dll, whose names copies of it take. It records where it was
// loaded from and the arguments of each UpdateDriverForPlugAndPlayDevices
// and SetupCopyOEMInf call, its strings in UTF-8, one call after another,
// and answers with outcomes the test scripts through the environment:
//   NEWDEV_STAND_IN_OUTCOME    the updates' answers: entries separated by
//                              spaces, each "<hardware ID>=<outcome>" for the
//                              calls with that ID, or a bare "<outcome>" for
//                              the others; an outcome is "success" (the
//                              default), "restart", or "failure:<code>" (code
//                              in C notation, e.g. 0x5)
//   SETUPAPI_STAND_IN_OUTCOME  the staging's answer: "success" (the default)
//                              or "failure:<code>"
//   NEWDEV_STAND_IN_RECORD     file to add the received arguments to
//   NEWDEV_STAND_IN_LOADS      file to add a line to, with this copy's path,
//                              whenever a copy is loaded; copies of it under
//                              other libraries' names show whether those were
//                              loaded from where they lie
// Both update entry points are exported, as by the system's library; the
// record names the one called, and the narrow one's strings are read in the
// ANSI code page, as the system reads them.
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

// The record, opened to add a call to, which starts with the library this
// copy was loaded from and the function called; null where none is asked
// for.
FILE *open_record(const char *function) {
  char record_path[kVariableSize];
  if (!read_variable("NEWDEV_STAND_IN_RECORD", record_path)) {
    return nullptr;
  }
  FILE *record = fopen(record_path, "ab");
  if (record == nullptr) {
    return nullptr;
  }
  char library[kUtf8Size];
  library_path(library);
  fprintf(record, "library=%s\n", library);
  fprintf(record, "function=%s\n", function);
  return record;
}

// How a pointer argument was given: "null", or "set" with no more said.
template <typename Pointee> const char *given(const Pointee *pointer) {
  return pointer == nullptr ? "null" : "set";
}

void record_update(const char *function, HWND parent, const Utf8 &hardware_id,
                   const Utf8 &inf_path, DWORD flags,
                   const BOOL *restart_needed) {
  FILE *record = open_record(function);
  if (record == nullptr) {
    return;
  }
  fprintf(record, "parent=%s\n", given(parent));
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

// The outcome for hardware_id among NEWDEV_STAND_IN_OUTCOME's entries,
// into outcome; "success" where none is given.
void update_outcome(const char *hardware_id, char (&outcome)[kVariableSize]) {
  char entries[kVariableSize];
  lstrcpynA(outcome, "success", kVariableSize);
  if (!read_variable("NEWDEV_STAND_IN_OUTCOME", entries)) {
    return;
  }
  char *next = nullptr;
  for (char *entry = strtok_s(entries, " ", &next); entry != nullptr;
       entry = strtok_s(nullptr, " ", &next)) {
    // An ID may hold '=', an outcome never does.
    char *separator = strrchr(entry, '=');
    if (separator == nullptr) {
      lstrcpynA(outcome, entry, kVariableSize);
    } else {
      *separator = '\0';
      if (strcmp(entry, hardware_id) == 0) {
        lstrcpynA(outcome, separator + 1, kVariableSize);
        return;
      }
    }
  }
}

// Answers as the outcome says.
BOOL answer(const char *outcome, BOOL *restart_needed) {
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

// Either update entry point: records the call, then answers as scripted.
BOOL update_driver(const char *function, HWND parent, const Utf8 &hardware_id,
                   const Utf8 &inf_path, DWORD flags, BOOL *restart_needed) {
  record_update(function, parent, hardware_id, inf_path, flags, restart_needed);
  char outcome[kVariableSize];
  update_outcome(hardware_id.text, outcome);
  return answer(outcome, restart_needed);
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

extern "C" __declspec(dllexport) BOOL WINAPI
    SetupCopyOEMInfW(const wchar_t *inf_path, const wchar_t *media_location,
                     DWORD media_type, DWORD style, wchar_t *destination,
                     DWORD destination_size, DWORD *required_size,
                     wchar_t **destination_name) {
  FILE *record = open_record("SetupCopyOEMInfW");
  if (record != nullptr) {
    fprintf(record, "inf_path=%s\n", from_wide(inf_path).text);
    fprintf(record, "media_location=%s\n", given(media_location));
    fprintf(record, "media_type=%lu\nstyle=%lu\n", media_type, style);
    fprintf(record, "destination=%s\ndestination_size=%lu\n",
            given(destination), destination_size);
    fprintf(record, "required_size=%s\ndestination_name=%s\n",
            given(required_size), given(destination_name));
    fclose(record);
  }
  char outcome[kVariableSize] = "success";
  read_variable("SETUPAPI_STAND_IN_OUTCOME", outcome);
  return answer(outcome, nullptr);
}
