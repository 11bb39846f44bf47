// SPDX-FileCopyrightText: 2026 The install authors
// SPDX-License-Identifier: MIT
// simdevice: registers simulated root-enumerated Plug and Play devices and
// shows which driver they are bound to.
//   simdevice add <hardware-id>     register a device that reports the ID
//   simdevice arrive <hardware-id>  register one and install its driver as
//                                   Plug and Play does when a device
//                                   arrives: the best of the drivers that
//                                   the system's INF folder has for it
//   simdevice show <hardware-id>    list the devices that report the ID
#include <windows.h>

#include <cfgmgr32.h>

#include <devguid.h>
#include <setupapi.h>
#include <stdio.h>
#include <string.h>

namespace {

const char kDeviceName[] = "ZORQSIM";
const DWORD kPropertySize = 1024;

int print_usage() {
  fprintf(stderr, "usage: simdevice add|arrive|show <hardware-id>\n");
  return 2;
}

int print_failure(const char *operation) {
  fprintf(stderr, "simdevice: %s failed (error %lu)\n", operation,
          GetLastError());
  return 1;
}

// Installs the best driver that the system's INF folder has for the device,
// as Plug and Play does for a device that arrives.
int install_from_system_infs(HDEVINFO devices, SP_DEVINFO_DATA *device) {
  if (!SetupDiBuildDriverInfoList(devices, device, SPDIT_COMPATDRIVER)) {
    return print_failure("SetupDiBuildDriverInfoList");
  }
  if (!SetupDiSelectBestCompatDrv(devices, device)) {
    return print_failure("SetupDiSelectBestCompatDrv");
  }
  if (!SetupDiInstallDevice(devices, device)) {
    return print_failure("SetupDiInstallDevice");
  }
  printf("installed the best driver of the system's INF folder\n");
  return 0;
}

// Registers a device that reports the hardware ID, and with arrive installs
// its driver as Plug and Play does.
int add_device(const char *hardware_id, bool arrive) {
  // The hardware ID property is a list of strings ended by an empty one.
  char id_list[kPropertySize] = {};
  const size_t id_length = strlen(hardware_id);
  if (id_length + 2 > sizeof id_list) {
    return print_usage();
  }
  memcpy(id_list, hardware_id, id_length + 1);

  const HDEVINFO devices = SetupDiCreateDeviceInfoList(nullptr, nullptr);
  if (devices == INVALID_HANDLE_VALUE) {
    return print_failure("SetupDiCreateDeviceInfoList");
  }
  SP_DEVINFO_DATA device = {};
  device.cbSize = sizeof device;
  int status = 0;
  if (!SetupDiCreateDeviceInfoA(devices, kDeviceName, &GUID_DEVCLASS_UNKNOWN,
                                nullptr, nullptr, DICD_GENERATE_ID, &device)) {
    status = print_failure("SetupDiCreateDeviceInfo");
  } else if (!SetupDiSetDeviceRegistryPropertyA(
                 devices, &device, SPDRP_HARDWAREID,
                 reinterpret_cast<const BYTE *>(id_list),
                 static_cast<DWORD>(id_length) + 2)) {
    status = print_failure("SetupDiSetDeviceRegistryProperty");
  } else if (!SetupDiRegisterDeviceInfo(devices, &device, 0, nullptr, nullptr,
                                        nullptr)) {
    status = print_failure("SetupDiRegisterDeviceInfo");
  } else {
    char instance[MAX_DEVICE_ID_LEN] = "?";
    SetupDiGetDeviceInstanceIdA(devices, &device, instance, sizeof instance,
                                nullptr);
    printf("registered %s with hardware ID %s\n", instance, hardware_id);
    if (arrive) {
      status = install_from_system_infs(devices, &device);
    }
  }
  SetupDiDestroyDeviceInfoList(devices);
  return status;
}

// Reads a string property; an absent one reads as the given placeholder.
void read_property(HDEVINFO devices, SP_DEVINFO_DATA *device, DWORD property,
                   char (&value)[kPropertySize], const char *placeholder) {
  if (!SetupDiGetDeviceRegistryPropertyA(devices, device, property, nullptr,
                                         reinterpret_cast<BYTE *>(value),
                                         sizeof value - 2, nullptr)) {
    lstrcpynA(value, placeholder, kPropertySize);
  }
  value[sizeof value - 2] = '\0';
  value[sizeof value - 1] = '\0';
}

bool reports_id(const char *id_list, const char *hardware_id) {
  for (const char *id = id_list; *id != '\0'; id += strlen(id) + 1) {
    if (_stricmp(id, hardware_id) == 0) {
      return true;
    }
  }
  return false;
}

int show_devices(const char *hardware_id) {
  const HDEVINFO devices =
      SetupDiGetClassDevsA(nullptr, nullptr, nullptr, DIGCF_ALLCLASSES);
  if (devices == INVALID_HANDLE_VALUE) {
    return print_failure("SetupDiGetClassDevs");
  }
  int found = 0;
  SP_DEVINFO_DATA device = {};
  device.cbSize = sizeof device;
  for (DWORD i = 0; SetupDiEnumDeviceInfo(devices, i, &device); ++i) {
    char ids[kPropertySize];
    read_property(devices, &device, SPDRP_HARDWAREID, ids, "");
    if (!reports_id(ids, hardware_id)) {
      continue;
    }
    char instance[MAX_DEVICE_ID_LEN] = "?";
    SetupDiGetDeviceInstanceIdA(devices, &device, instance, sizeof instance,
                                nullptr);
    char driver[kPropertySize];
    char description[kPropertySize];
    read_property(devices, &device, SPDRP_DRIVER, driver, "none");
    read_property(devices, &device, SPDRP_DEVICEDESC, description, "none");
    printf("%s  hardware ID %s\n  driver: %s\n  description: %s\n", instance,
           hardware_id, driver, description);
    ++found;
  }
  SetupDiDestroyDeviceInfoList(devices);
  if (found == 0) {
    printf("no device reports hardware ID %s\n", hardware_id);
    return 1;
  }
  return 0;
}

} // namespace

int main(int argc, char *argv[]) {
  if (argc != 3) {
    return print_usage();
  }
  if (strcmp(argv[1], "add") == 0 || strcmp(argv[1], "arrive") == 0) {
    return add_device(argv[2], strcmp(argv[1], "arrive") == 0);
  }
  if (strcmp(argv[1], "show") == 0) {
    return show_devices(argv[2]);
  }
  return print_usage();
}
