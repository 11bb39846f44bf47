# SPDX-FileCopyrightText: 2026 The install authors
# SPDX-License-Identifier: MIT
# shellcheck shell=bash
# The arm64 programs' Wine: Debian's own arm64 Wine in a private root, run
# under the emulator. Needs host.sh, apt.sh and private-root.sh.

# shellcheck disable=SC2034 # read by binfmt.sh and wine-choice.sh
readonly QEMU_AARCH64=/usr/bin/qemu-aarch64-static
# The processor the emulator presents to the arm64 Wine: an ARMv8.2 core of
# the class of Windows on ARM PCs' first. Under qemu's default, every
# optional extension at once, the arm64 build of Wine 10 loops on illegal
# instruction exceptions while it sets a prefix up (turning SVE or pointer
# authentication off alone does not help).
readonly QEMU_AARCH64_CPU=cortex-a76

# Sets up, once per machine, Debian's own arm64 Wine, unpacked into a
# private root in the cache: the same Wine version as the host's. Beside the
# root, the scripts wine64 and wineserver start the root's loader and server;
# the emulator finds the root's libraries through QEMU_LD_PREFIX, and takes
# its processor from QEMU_CPU, which every process Wine starts inherits.
# Prints the folder, as set_up_wine_i386 does.
set_up_wine_arm64() {
  local folder staging version
  version=$(dpkg-query -W -f='${Version}' wine64) || return 1
  folder=$(private_wine_folder wine-arm64 set_up_wine_arm64 "$version" \
    "$QEMU_AARCH64_CPU")
  if [ -d "$folder" ]; then
    echo "$folder"
    return 0
  fi
  echo "arm64 Wine: fetching Debian's wine64:arm64 $version into $folder" >&2
  staging="$folder.new"
  rm -rf "$staging"
  unpack_private_root "$staging" arm64 "wine64=$version" || return 1
  # Debian's wineserver script names the host's server by absolute path.
  write_script "$staging/wineserver" <<SCRIPT || return 1
#!/bin/sh
QEMU_LD_PREFIX="$folder/root" QEMU_CPU=$QEMU_AARCH64_CPU exec "$folder/root/usr/lib/wine/wineserver64" -p0 "\$@"
SCRIPT
  write_script "$staging/wine64" <<SCRIPT || return 1
#!/bin/sh
export QEMU_LD_PREFIX="$folder/root" QEMU_CPU=$QEMU_AARCH64_CPU
exec "$folder/root/usr/lib/wine/wine64" "\$@"
SCRIPT
  ln -sf "$folder/wineserver" "$staging/root/usr/lib/wine/wineserver" ||
    return 1
  put_in_place "$staging" "$folder" wine64 wineserver \
    root/usr/lib/wine/wine64 root/usr/lib/wine/wineserver64 || return 1
  echo "$folder"
}
