// install: installs or updates the Plug and Play driver for the devices that
// carry this build's hardware ID, from an INF file in the program's own
// directory.
#include "failure_report.h"

#include <windows.h>

#include <stdio.h>
#include <string.h>

#ifndef TARGET_HARDWARE_ID
#error "TARGET_HARDWARE_ID must name the hardware ID this build installs for"
#endif

namespace {

enum ExitStatus : int {
  kUpdated = 0,
  kUpdatedRestartNeeded = 1,
  kNotUpdated = 2,
};

const int kExpectedArgumentCount = 2; // program name and the INF's name
const DWORD kNoInstallFlags = 0;      // in particular, no INSTALLFLAG_FORCE

// The device installer's update entry point, taken from the system's newdev.
typedef BOOL(WINAPI *UpdateDriverFunction)(HWND parent, LPCSTR hardware_id,
                                           LPCSTR inf_path, DWORD flags,
                                           PBOOL restart_needed);
const char kDeviceInstallerLibrary[] = "\\newdev.dll";
const char kUpdateDriverFunction[] = "UpdateDriverForPlugAndPlayDevicesA";

// Restricts the default library search of the whole process; in kernel32
// from Windows 8, and on Windows 7 only with an update.
typedef BOOL(WINAPI *SetDefaultDllDirectoriesFunction)(DWORD directories);
const char kSystemLibrary[] = "kernel32.dll";
const char kSetDefaultDllDirectories[] = "SetDefaultDllDirectories";
const char kNoCurrentDirectory[] = "";

const char kUsageLine[] = "usage: install <INF_File>\n";
const char kNotFoundLine[] = "  File not found.\n";
const char kRestartLine[] = "(Reboot Required)\n";

bool is_separator(char c) { return c == '\\' || c == '/'; }

bool is_drive_prefix(const char *path) {
  return path[0] != '\0' && path[1] == ':';
}

// Length of the directory part of a full path: everything up to and
// including its last separator, or just the drive when there is none. The
// trail byte of a double-byte character is never taken for a separator.
size_t directory_length(const char *path) {
  const size_t start = is_drive_prefix(path) ? 2 : 0;
  size_t length = start;
  for (size_t i = start; path[i] != '\0'; ++i) {
    if (IsDBCSLeadByte(static_cast<BYTE>(path[i])) && path[i + 1] != '\0') {
      ++i;
    } else if (is_separator(path[i])) {
      length = i + 1;
    }
  }
  return length;
}

// Rewrites the program's own path in place into its directory followed by
// the INF's name, exactly as given. Returns false when that does not fit.
bool compose_inf_path(char (&path)[MAX_PATH], const char *inf_name) {
  const size_t directory = directory_length(path);
  const size_t name = strlen(inf_name);
  if (name >= MAX_PATH - directory) {
    return false;
  }
  memcpy(path + directory, inf_name, name + 1);
  return true;
}

bool file_exists(const char *path) {
  WIN32_FIND_DATAA found;
  const HANDLE search = FindFirstFileA(path, &found);
  if (search == INVALID_HANDLE_VALUE) {
    return false;
  }
  FindClose(search);
  return true;
}

// Keeps every library that is loaded from now on, by the device installer's
// components too, out of the program's own folder and the current directory.
// The program runs elevated from folders that others may write to, and both
// come early in the standard search order. Where the system can, the search
// is restricted to the system directory; elsewhere the current directory at
// least is taken out. Sets the LoadLibraryEx flags that load a library by
// full path with its own dependencies from the system directory under that
// restriction. Returns false, with the reason in the last-error code, when
// the restriction cannot be made.
bool restrict_library_search(DWORD &load_flags) {
  const auto set_default_dll_directories =
      reinterpret_cast<SetDefaultDllDirectoriesFunction>(
          reinterpret_cast<void *>(GetProcAddress(
              GetModuleHandleA(kSystemLibrary), kSetDefaultDllDirectories)));
  if (set_default_dll_directories != nullptr) {
    load_flags = LOAD_LIBRARY_SEARCH_SYSTEM32;
    return set_default_dll_directories(LOAD_LIBRARY_SEARCH_SYSTEM32) != FALSE;
  }
  // These systems know no LOAD_LIBRARY_SEARCH_* flag; the altered search
  // path looks for the library's dependencies in its own directory first.
  load_flags = LOAD_WITH_ALTERED_SEARCH_PATH;
  return SetDllDirectoryA(kNoCurrentDirectory) != FALSE;
}

// Loads the device installer from the system directory and nowhere else, once
// the process's library search is restricted. Returns null, with the reason
// in the last-error code, when it cannot.
UpdateDriverFunction load_update_driver() {
  DWORD load_flags = 0;
  if (!restrict_library_search(load_flags)) {
    return nullptr;
  }

  char library[MAX_PATH];
  const UINT directory = GetSystemDirectoryA(library, MAX_PATH);
  if (directory == 0) {
    return nullptr;
  }
  if (directory + sizeof kDeviceInstallerLibrary > MAX_PATH) {
    SetLastError(ERROR_FILENAME_EXCED_RANGE);
    return nullptr;
  }
  memcpy(library + directory, kDeviceInstallerLibrary,
         sizeof kDeviceInstallerLibrary);

  const HMODULE module = LoadLibraryExA(library, nullptr, load_flags);
  if (module == nullptr) {
    return nullptr;
  }
  // The library stays loaded until the process ends, as the returned
  // function lives in it.
  const FARPROC function = GetProcAddress(module, kUpdateDriverFunction);
  // cppcheck-suppress resourceLeak
  return reinterpret_cast<UpdateDriverFunction>(
      reinterpret_cast<void *>(function));
}

int usage_error() {
  fputs(kUsageLine, stdout);
  return kNotUpdated;
}

int inf_not_found() {
  fputs(kNotFoundLine, stdout);
  return usage_error();
}

} // namespace

int main(int argc, char *argv[]) {
  BOOL restart_needed = FALSE;

  if (argc != kExpectedArgumentCount) {
    return usage_error();
  }

  // A result of 0 is a failure; a full buffer means the path was cut short
  // (and older systems leave it unterminated). Neither names our directory.
  char path[MAX_PATH] = {};
  const DWORD path_length = GetModuleFileNameA(nullptr, path, MAX_PATH);
  if (path_length == 0 || path_length >= MAX_PATH) {
    report_failure("GetModuleFileName");
    return kNotUpdated;
  }

  if (!compose_inf_path(path, argv[1]) || !file_exists(path)) {
    return inf_not_found();
  }

  const UpdateDriverFunction update_driver = load_update_driver();
  if (update_driver == nullptr ||
      !update_driver(nullptr, TARGET_HARDWARE_ID, path, kNoInstallFlags,
                     &restart_needed)) {
    report_failure("UpdateDriverForPlugAndPlayDevices");
    return kNotUpdated;
  }
  if (restart_needed) {
    fputs(kRestartLine, stdout);
    return kUpdatedRestartNeeded;
  }
  return kUpdated;
}
