# SPDX-FileCopyrightText: 2026 The install authors
# SPDX-License-Identifier: MIT
# shellcheck shell=bash
# Which Wine starts each architecture's programs. Needs host.sh and apt.sh.

# shellcheck source=scripts/lib/private-root.sh
source "$PROJECT_ROOT/scripts/lib/private-root.sh"
# shellcheck source=scripts/lib/wine-x86.sh
source "$PROJECT_ROOT/scripts/lib/wine-x86.sh"
# shellcheck source=scripts/lib/wine-arm64.sh
source "$PROJECT_ROOT/scripts/lib/wine-arm64.sh"

# Chooses how Wine starts the programs of one architecture (x86, x64 or
# arm64). Prints three lines on standard output: the kind (wine64, emulated
# or arm64), the loader and the Wine server to use; and on standard error
# which loader is used. x64 programs run under Debian's 64-bit loader; x86
# and arm64 programs under private Wine set-ups, emulated, the same on every
# host. arm64 programs need register_aarch64_programs.
wine_loader() {
  local folder
  case $1 in
  x64)
    echo "Wine for x64 programs: $WINE64_LOADER" >&2
    printf 'wine64\n%s\n%s\n' "$WINE64_LOADER" "$WINESERVER"
    ;;
  x86)
    folder=$(set_up_wine_i386) || return 1
    echo "Wine for x86 programs: Debian's 32-bit Wine under" \
      "$(basename "$QEMU_I386"), from $folder" >&2
    printf 'emulated\n%s\n%s\n' "$folder/usr/lib/wine/wine64" "$WINESERVER"
    ;;
  arm64)
    folder=$(set_up_wine_arm64) || return 1
    echo "Wine for arm64 programs: Debian's arm64 Wine under" \
      "$(basename "$QEMU_AARCH64"), from $folder" >&2
    printf 'arm64\n%s\n%s\n' "$folder/wine64" "$folder/wineserver"
    ;;
  *)
    echo "wine_loader: no architecture $1 (x86, x64 or arm64)" >&2
    return 1
    ;;
  esac
}
