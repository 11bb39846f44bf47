# SPDX-FileCopyrightText: 2026 The install authors
# SPDX-License-Identifier: MIT
# shellcheck shell=bash
# The x86 programs' Wine: Debian's own 32-bit Wine in a private root, run
# under the emulator on every host. Needs host.sh, apt.sh and
# private-root.sh.

# The host's 64-bit Wine, which runs the x64 programs and beside whose
# loader the x86 Wine's own is started.
readonly WINE64_LOADER=/usr/lib/wine/wine64
readonly WINE64_PRELOADER=/usr/lib/wine/wine64-preloader
readonly WINESERVER=/usr/lib/wine/wineserver
readonly HOST_WINE_I386_ZLIB=/usr/lib/x86_64-linux-gnu/wine/i386-windows/zlib1.dll
readonly QEMU_I386=/usr/bin/qemu-i386-static

# Sets up, once per machine, Debian's own 32-bit Wine (wine32 and its
# preloader, i386), the host's Wine version, unpacked into a private root in
# the cache, and run under qemu-i386-static on every host, as no i386 library
# is on the system. Wine looks for its 32-bit loader beside the real file of
# the running 64-bit one, so the folder holds a copy of wine64 (a link would
# resolve back to the system's) and of the preloader that it starts itself
# through, with a script named wine beside them, which
# starts the root's loader through its preloader under the emulator; the
# root's loader finds the 64-bit one beside it the same way. Wine's 64-bit
# libraries and data are linked in at their relative places. Prints the
# folder; its callers take its output, where errors do not end the shell,
# so each step is checked.
set_up_wine_i386() {
  local folder staging version
  version=$(dpkg-query -W -f='${Version}' wine64) || return 1
  folder=$(private_wine_folder wine-i386 set_up_wine_i386 "$version")
  if [ -d "$folder" ]; then
    echo "$folder"
    return 0
  fi
  echo "x86 Wine: fetching Debian's wine32:i386 $version into $folder" >&2
  staging="$folder.new"
  rm -rf "$staging"
  unpack_private_root "$staging" i386 "wine32=$version" \
    "wine32-preloader=$version" || return 1
  mkdir -p "$staging/usr/lib/wine" || return 1
  cp "$WINE64_LOADER" "$WINE64_PRELOADER" "$staging/usr/lib/wine/" || return 1
  ln -s "$WINESERVER" "$staging/usr/lib/wine/wineserver" || return 1
  ln -s /usr/share "$staging/usr/share" || return 1
  ln -s /usr/lib/x86_64-linux-gnu "$staging/usr/lib/x86_64-linux-gnu" || return 1
  ln -s "$folder/root/usr/lib/i386-linux-gnu" \
    "$staging/usr/lib/i386-linux-gnu" || return 1
  ln -s "$folder/usr/lib/wine/wine64" "$staging/root/usr/lib/wine/wine64" ||
    return 1
  # Wine's zlib, which libwine's maintainer script makes on installation:
  # the host's libwine made the same for 32-bit programs.
  cp "$HOST_WINE_I386_ZLIB" "$staging/root/usr/lib/i386-linux-gnu/wine/i386-windows/" ||
    return 1
  # The preloader has already placed the loader, so it must not start the
  # preloader again itself.
  write_script "$staging/usr/lib/wine/wine" <<SCRIPT || return 1
#!/bin/sh
QEMU_LD_PREFIX="$folder/root" WINELOADERNOEXEC=1 exec $QEMU_I386 \\
  "$folder/root/usr/lib/wine/wine-preloader.static" "$folder/root/usr/lib/wine/wine" "\$@"
SCRIPT
  put_in_place "$staging" "$folder" usr/lib/wine/wine64 \
    usr/lib/wine/wine64-preloader usr/lib/wine/wine \
    root/usr/lib/wine/wine root/usr/lib/wine/wine-preloader.static \
    "root/usr/lib/i386-linux-gnu/wine/i386-windows/$(basename "$HOST_WINE_I386_ZLIB")" ||
    return 1
  echo "$folder"
}
