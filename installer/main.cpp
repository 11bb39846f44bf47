// SPDX-FileCopyrightText: 2026 The install authors
// SPDX-License-Identifier: MIT
// install: installs or updates the Plug and Play driver for the devices that
// carry this build's hardware IDs, from an INF file in the program's own
// directory; a build that stages its driver package first puts the package
// where Windows finds it for a device connected later.
#include "build_declaration.h"
#include "failure_report.h"

#include <windows.h>

#include <setupapi.h>
#include <stdio.h>
#include <string.h>
#include <wchar.h>

// The build's declaration: TARGET_HARDWARE_ID, the hardware IDs it installs
// for in the order they are tried, a string literal for each, separated by
// "\0" literals, as Windows lists a device's IDs; STAGE_DRIVER_PACKAGE, 1
// where it stages the driver package before the update.
#if !defined(TARGET_HARDWARE_ID) || !defined(STAGE_DRIVER_PACKAGE)
#error "build_declaration.h must declare the build's hardware IDs and staging"
#endif

// Every path and name stays UTF-16 from the command line to the device
// installer. A conversion to the ANSI code page would turn the characters it
// lacks into '?', a wildcard, and others into best-fit look-alikes (a
// fullwidth letter into its ASCII one, the yen sign into a backslash under
// code page 932): names of files the caller never named.

namespace {

enum ExitStatus : int {
  kUpdated = 0,
  kUpdatedRestartNeeded = 1,
  kNotUpdated = 2,
  kStaged = 0, // no device yet: Plug and Play installs it on arrival
};

const int kExpectedArgumentCount = 2; // program name and the INF's name
const DWORD kNoInstallFlags = 0;      // in particular, no INSTALLFLAG_FORCE
const bool kStagesDriverPackage = STAGE_DRIVER_PACKAGE != 0;

// The hardware IDs one after another, each ended by its NUL; the array's
// size marks the end of the last. Windows takes IDs of printable ASCII, in
// which every character is its own UTF-16 unit: kept narrow, they take half
// the room, and each is widened as it is passed on.
constexpr char kHardwareIds[] = TARGET_HARDWARE_ID;
const char *const kHardwareIdsEnd = kHardwareIds + sizeof kHardwareIds;
const size_t kMaxHardwareIdLength = 200;

constexpr bool is_printable_ascii(char c) { return c >= '!' && c <= '~'; }

// Whether every ID is 1 to kMaxHardwareIdLength printable ASCII characters.
constexpr bool are_hardware_ids(const char *ids, size_t size) {
  size_t length = 0;
  for (size_t i = 0; i < size; ++i) {
    if (ids[i] != '\0') {
      ++length;
      if (!is_printable_ascii(ids[i]) || length > kMaxHardwareIdLength) {
        return false;
      }
    } else if (length == 0) {
      return false;
    } else {
      length = 0;
    }
  }
  return true;
}
static_assert(are_hardware_ids(kHardwareIds, sizeof kHardwareIds),
              "hardware IDs are 1 to 200 printable ASCII characters");

typedef wchar_t WideHardwareId[kMaxHardwareIdLength + 1];

void widen_hardware_id(const char *id, WideHardwareId &wide) {
  size_t i = 0;
  for (; id[i] != '\0'; ++i) {
    wide[i] = static_cast<wchar_t>(id[i]);
  }
  wide[i] = L'\0';
}

// The device installer's update entry point, taken from the system's newdev.
typedef BOOL(WINAPI *UpdateDriverFunction)(HWND parent, LPCWSTR hardware_id,
                                           LPCWSTR inf_path, DWORD flags,
                                           PBOOL restart_needed);
const wchar_t kDeviceInstallerLibrary[] = L"\\newdev.dll";
const char *const kUpdateDriverFunction = "UpdateDriverForPlugAndPlayDevicesW";

// Staging, taken from the system's setupapi: the package goes into the
// driver store, where Plug and Play finds it for a device connected later.
typedef BOOL(WINAPI *CopyOemInfFunction)(PCWSTR inf_path, PCWSTR media_location,
                                         DWORD media_type, DWORD style,
                                         PWSTR destination,
                                         DWORD destination_size,
                                         PDWORD required_size,
                                         PWSTR *destination_name);
const wchar_t kSetupLibrary[] = L"\\setupapi.dll";
const char *const kCopyOemInfFunction = "SetupCopyOEMInfW";
const DWORD kNoCopyStyle = 0;

// Restricts the default library search of the whole process; in kernel32
// from Windows 8, and on Windows 7 only with an update.
typedef BOOL(WINAPI *SetDefaultDllDirectoriesFunction)(DWORD directories);
const wchar_t *const kSystemLibrary = L"kernel32.dll";
const char *const kSetDefaultDllDirectories = "SetDefaultDllDirectories";
const wchar_t kNoCurrentDirectory[] = L"";

// The texts are pointers to literals, which the compiler lays out one after
// another; named arrays of 16 bytes or more it aligns to 16 on x64.
const char *const kUsageLine = "usage: install <INF_File>\n";
const char *const kNotFoundLine = "  File not found.\n";
const char *const kRestartLine = "(Reboot Required)\n";
const char *const kStagedLine =
    "(Driver staged: Windows installs it when the device is connected)\n";
const char *const kStagingOperation = "SetupCopyOEMInf";
const char *const kUpdateOperation = "UpdateDriverForPlugAndPlayDevices";

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

// Loads a library from the system directory and nowhere else, once the
// process's library search is restricted, and returns one of its functions.
// The library's name starts with a backslash; name_size counts its
// terminator. Returns null, with the reason in the last-error code, when it
// cannot.
FARPROC load_system_function(const wchar_t *library_name, size_t name_size,
                             const char *function) {
  DWORD load_flags = 0;
  if (!restrict_library_search(load_flags)) {
    return nullptr;
  }

  wchar_t library[MAX_PATH];
  const UINT directory = GetSystemDirectoryW(library, MAX_PATH);
  if (directory == 0) {
    return nullptr;
  }
  if (directory + name_size > MAX_PATH) {
    SetLastError(ERROR_FILENAME_EXCED_RANGE);
    return nullptr;
  }
  wmemcpy(library + directory, library_name, name_size);

  const HMODULE module = LoadLibraryExW(library, nullptr, load_flags);
  if (module == nullptr) {
    return nullptr;
  }
  // The library stays loaded until the process ends, as the returned
  // function lives in it.
  // cppcheck-suppress resourceLeak
  return GetProcAddress(module, function);
}

template <typename Function, size_t name_size>
Function load_system_function(const wchar_t (&library_name)[name_size],
                              const char *function) {
  return reinterpret_cast<Function>(reinterpret_cast<void *>(
      load_system_function(library_name, name_size, function)));
}

// Puts the driver package into the driver store. False, with the reason in
// the last-error code, when it cannot.
bool stage_driver_package(const wchar_t *inf_path) {
  const auto copy_oem_inf = load_system_function<CopyOemInfFunction>(
      kSetupLibrary, kCopyOemInfFunction);
  return copy_oem_inf != nullptr &&
         copy_oem_inf(inf_path, nullptr, SPOST_PATH, kNoCopyStyle, nullptr, 0,
                      nullptr, nullptr) != FALSE;
}

// What one update call answered, in rising order of weight: of all the
// calls, the weightiest answer decides, and among equals the first.
enum UpdateAnswer : int {
  kNoDevice,    // no device carries the ID
  kNoMoreItems, // ERROR_NO_MORE_ITEMS
  kDone,        // updated
  kFailed,      // any other failure
};

struct UpdateResult {
  UpdateAnswer answer;
  DWORD code; // the last-error code the call left, for a failure
};

UpdateAnswer failure_answer(DWORD code) {
  switch (code) {
  case ERROR_NO_SUCH_DEVINST:
    return kNoDevice;
  case ERROR_NO_MORE_ITEMS:
    return kNoMoreItems;
  default:
    return kFailed;
  }
}

// One update call for each hardware ID, in order, whatever the earlier
// ones answered; restart_needed tells whether an update that was done
// needs a restart.
UpdateResult update_every_id(UpdateDriverFunction update_driver,
                             const wchar_t *inf_path, bool &restart_needed) {
  UpdateResult combined = {kNoDevice, ERROR_NO_SUCH_DEVINST};
  for (const char *id = kHardwareIds; id < kHardwareIdsEnd;
       id += strlen(id) + 1) {
    WideHardwareId wide_id;
    widen_hardware_id(id, wide_id);
    BOOL restart = FALSE;
    UpdateResult result = {kDone, ERROR_SUCCESS};
    if (!update_driver(nullptr, wide_id, inf_path, kNoInstallFlags, &restart)) {
      result.code = GetLastError();
      result.answer = failure_answer(result.code);
    } else if (restart) {
      restart_needed = true;
    }
    if (result.answer > combined.answer) {
      combined = result;
    }
  }
  return combined;
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

  if (kStagesDriverPackage && !stage_driver_package(path)) {
    report_failure(kStagingOperation);
    return kNotUpdated;
  }

  const auto update_driver = load_system_function<UpdateDriverFunction>(
      kDeviceInstallerLibrary, kUpdateDriverFunction);
  if (update_driver == nullptr) {
    report_failure(kUpdateOperation);
    return kNotUpdated;
  }
  bool restart_needed = false;
  const UpdateResult result =
      update_every_id(update_driver, path, restart_needed);
  if (result.answer == kDone) {
    if (restart_needed) {
      fputs(kRestartLine, stdout);
      return kUpdatedRestartNeeded;
    }
    return kUpdated;
  }
  // No device carries any of the IDs: a staged package is installed by
  // Plug and Play when one is connected.
  if (result.answer == kNoDevice && kStagesDriverPackage) {
    fputs(kStagedLine, stdout);
    return kStaged;
  }
  SetLastError(result.code);
  report_failure(kUpdateOperation);
  return kNotUpdated;
}
