// A stand-in for the platform's newdev.dll. It records where it was loaded from
// and the arguments of each UpdateDriverForPlugAndPlayDevicesA call, and
// answers with an outcome the test scripts through the environment:
//   NEWDEV_STAND_IN_OUTCOME  "success" (the default), "restart", or
//                            "failure:<code>" (code in C notation, e.g. 0x5)
//   NEWDEV_STAND_IN_RECORD   file to write the received arguments to
//   NEWDEV_STAND_IN_LOADS    file to add a line to, with this copy's path,
//                            whenever a copy is loaded; copies of it under
//                            other libraries' names show whether those were
//                            loaded from where they lie
#include <windows.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

namespace {

const DWORD kVariableSize = 512;

// Where this copy of the library was loaded from.
void library_path(char (&path)[MAX_PATH]) {
  HMODULE self = nullptr;
  if (!GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                              GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                          reinterpret_cast<LPCSTR>(&library_path), &self) ||
      GetModuleFileNameA(self, path, MAX_PATH) == 0) {
    lstrcpynA(path, "unknown", MAX_PATH);
  }
}

// Reads an environment variable into value; false when it is unset or too long.
bool read_variable(const char *name, char (&value)[kVariableSize]) {
  const DWORD length = GetEnvironmentVariableA(name, value, kVariableSize);
  return length != 0 && length < kVariableSize;
}

void record_call(HWND parent, const char *hardware_id, const char *inf_path,
                 DWORD flags, const BOOL *restart_needed) {
  char record_path[kVariableSize];
  if (!read_variable("NEWDEV_STAND_IN_RECORD", record_path)) {
    return;
  }
  FILE *record = fopen(record_path, "wb");
  if (record == nullptr) {
    return;
  }
  char library[MAX_PATH];
  library_path(library);
  fprintf(record, "library=%s\n", library);
  fprintf(record, "parent=%s\n", parent == nullptr ? "null" : "set");
  fprintf(record, "hardware_id=%s\n", hardware_id);
  fprintf(record, "inf_path=%s\n", inf_path);
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
  char path[MAX_PATH];
  library_path(path);
  DWORD written = 0;
  WriteFile(loads, path, static_cast<DWORD>(strlen(path)), &written, nullptr);
  WriteFile(loads, "\n", 1, &written, nullptr);
  CloseHandle(loads);
}

} // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) {
    record_load();
  }
  return TRUE;
}

extern "C" __declspec(dllexport) BOOL WINAPI
    UpdateDriverForPlugAndPlayDevicesA(HWND parent, const char *hardware_id,
                                       const char *inf_path, DWORD flags,
                                       BOOL *restart_needed) {
  record_call(parent, hardware_id, inf_path, flags, restart_needed);

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
