// SPDX-FileCopyrightText: 2026 The install authors
// SPDX-License-Identifier: MIT
// install: installs or updates the Plug and Play driver for the devices that
// carry this build's hardware ID, from an INF file in the program's own
// directory.
#include "failure_report.h"

#include <windows.h>

#include <stdio.h>
#include <wchar.h>

#ifndef TARGET_HARDWARE_ID
#error "TARGET_HARDWARE_ID must name the hardware ID this build installs for"
#endif

// Every path and name stays UTF-16 from the command line to the device
// installer. A conversion to the ANSI code page would turn the characters it
// lacks into '?', a wildcard, and others into best-fit look-alikes (a
// fullwidth letter into its ASCII one, the yen sign into a backslash under
// code page 932): names of files the caller never named.
#define WIDE_LITERAL(text) L##text
#define WIDE(text) WIDE_LITERAL(text)

namespace {

enum ExitStatus : int {
  kUpdated = 0,
  kUpdatedRestartNeeded = 1,
  kNotUpdated = 2,
};

const int kExpectedArgumentCount = 2; // program name and the INF's name
const DWORD kNoInstallFlags = 0;      // in particular, no INSTALLFLAG_FORCE

// The device installer's update entry point, taken from the system's newdev.
typedef BOOL(WINAPI *UpdateDriverFunction)(HWND parent, LPCWSTR hardware_id,
                                           LPCWSTR inf_path, DWORD flags,
                                           PBOOL restart_needed);
const wchar_t kHardwareId[] = WIDE(TARGET_HARDWARE_ID);
const wchar_t kDeviceInstallerLibrary[] = L"\\newdev.dll";
const char kUpdateDriverFunction[] = "UpdateDriverForPlugAndPlayDevicesW";

// Restricts the default library search of the whole process; in kernel32
// from Windows 8, and on Windows 7 only with an update.
typedef BOOL(WINAPI *SetDefaultDllDirectoriesFunction)(DWORD directories);
const wchar_t kSystemLibrary[] = L"kernel32.dll";
const char kSetDefaultDllDirectories[] = "SetDefaultDllDirectories";
const wchar_t kNoCurrentDirectory[] = L"";

const char kUsageLine[] = "usage: install <INF_File>\n";
const char kNotFoundLine[] = "  File not found.\n";
const char kRestartLine[] = "(Reboot Required)\n";

bool is_separator(wchar_t c) { return c == L'\\' || c == L'/'; }

bool is_drive_prefix(const wchar_t *path) {
  return path[0] != L'\0' && path[1] == L':';
}

// Length of the directory part of a full path: everything up to and
// including its last separator, or just the drive when there is none. In
// UTF-16 no unit of another character equals a separator.
size_t directory_length(const wchar_t *path) {
  const size_t start = is_drive_prefix(path) ? 2 : 0;
  size_t length = start;
  for (size_t i = start; path[i] != L'\0'; ++i) {
    if (is_separator(path[i])) {
      length = i + 1;
    }
  }
  return length;
}

// Rewrites the program's own path in place into its directory followed by
// the INF's name, exactly as given. Returns false when that does not fit;
// the limit counts UTF-16 units, so a surrogate pair counts as two.
bool compose_inf_path(wchar_t (&path)[MAX_PATH], const wchar_t *inf_name) {
  const size_t directory = directory_length(path);
  const size_t name = wcslen(inf_name);
  if (name >= MAX_PATH - directory) {
    return false;
  }
  wmemcpy(path + directory, inf_name, name + 1);
  return true;
}

bool file_exists(const wchar_t *path) {
  WIN32_FIND_DATAW found;
  const HANDLE search = FindFirstFileW(path, &found);
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
              GetModuleHandleW(kSystemLibrary), kSetDefaultDllDirectories)));
  if (set_default_dll_directories != nullptr) {
    load_flags = LOAD_LIBRARY_SEARCH_SYSTEM32;
    return set_default_dll_directories(LOAD_LIBRARY_SEARCH_SYSTEM32) != FALSE;
  }
  // These systems know no LOAD_LIBRARY_SEARCH_* flag; the altered search
  // path looks for the library's dependencies in its own directory first.
  load_flags = LOAD_WITH_ALTERED_SEARCH_PATH;
  return SetDllDirectoryW(kNoCurrentDirectory) != FALSE;
}

// Loads the device installer from the system directory and nowhere else, once
// the process's library search is restricted. Returns null, with the reason
// in the last-error code, when it cannot.
UpdateDriverFunction load_update_driver() {
  DWORD load_flags = 0;
  if (!restrict_library_search(load_flags)) {
    return nullptr;
  }

  wchar_t library[MAX_PATH];
  const UINT directory = GetSystemDirectoryW(library, MAX_PATH);
  if (directory == 0) {
    return nullptr;
  }
  // The library's name in UTF-16 units, its terminator included.
  const size_t name = sizeof kDeviceInstallerLibrary / sizeof(wchar_t);
  if (directory + name > MAX_PATH) {
    SetLastError(ERROR_FILENAME_EXCED_RANGE);
    return nullptr;
  }
  wmemcpy(library + directory, kDeviceInstallerLibrary, name);

  const HMODULE module = LoadLibraryExW(library, nullptr, load_flags);
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

// The runtime's wide entry point: the arguments come from the UTF-16 command
// line and never pass through the ANSI code page.
int wmain(int argc, wchar_t *argv[]) {
  BOOL restart_needed = FALSE;

  if (argc != kExpectedArgumentCount) {
    return usage_error();
  }

  // A result of 0 is a failure; a full buffer means the path was cut short
  // (and older systems leave it unterminated). Neither names our directory.
  wchar_t path[MAX_PATH] = {};
  const DWORD path_length = GetModuleFileNameW(nullptr, path, MAX_PATH);
  if (path_length == 0 || path_length >= MAX_PATH) {
    report_failure("GetModuleFileName");
    return kNotUpdated;
  }

  if (!compose_inf_path(path, argv[1]) || !file_exists(path)) {
    return inf_not_found();
  }

  const UpdateDriverFunction update_driver = load_update_driver();
  if (update_driver == nullptr ||
      !update_driver(nullptr, kHardwareId, path, kNoInstallFlags,
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
