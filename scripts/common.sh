# SPDX-FileCopyrightText: 2026 The install authors
# SPDX-License-Identifier: MIT
# Shared by demo.sh, test.sh and wine-loader.sh: installs what building and
# running the programs under Wine needs on Debian, and only what is missing,
# and chooses how Wine starts each architecture's programs on this host.

# Building and running the x64 programs, all that the demo needs. Wine's
# 32-bit loader is among them, as whether it runs decides how Wine starts.
readonly X64_PACKAGES=(
  cmake ninja-build python3 python3-pefile clang-19 lld-19 llvm-19
  mingw-w64-x86-64-dev wine wine64 wine32:i386
)
# What the test command needs besides: the x86 runtime, the analysers,
# signing with a software token, package normalization, locales and the
# licence linter.
readonly TEST_PACKAGES=(
  clang-tidy-19 cppcheck mingw-w64-i686-dev openssl osslsigncode
  libengine-pkcs11-openssl softhsm2 opensc strip-nondeterminism util-linux
  locales reuse
)
# Node.js and npm, for the bills' schema check, where the machine has none.
readonly NODE_PACKAGES=(nodejs npm)
# Needed only where 32-bit programs run under emulation.
readonly I386_EMULATION_PACKAGES=(qemu-user-static wine32-preloader:i386)
# The arm64 programs: what builds their runtime from source, and the
# emulator their Wine runs under.
readonly ARM64_PACKAGES=(dpkg-dev make qemu-user-static)
# The suite runs programs under these, since Wine takes its code pages and
# its message texts' language from LANG: Japanese (932), Russian (1251) and
# French (1252).
readonly SUITE_LOCALES=(ja_JP.UTF-8 ru_RU.UTF-8 fr_FR.UTF-8)

readonly WINE32_LOADER=/usr/lib/wine/wine
readonly WINE64_LOADER=/usr/lib/wine/wine64
readonly WINE32_PRELOADER=/usr/lib/wine/wine-preloader.static
readonly QEMU_I386=qemu-i386-static
readonly QEMU_AARCH64=/usr/bin/qemu-aarch64-static
# The processor the emulator presents to the arm64 Wine: an ARMv8.2 core of
# the class of Windows on ARM PCs' first. Under qemu's default, every
# optional extension at once, the arm64 build of Wine 10 loops on illegal
# instruction exceptions while it sets a prefix up (turning SVE or pointer
# authentication off alone does not help).
readonly QEMU_AARCH64_CPU=cortex-a76
readonly BINFMT_MISC=/proc/sys/fs/binfmt_misc
# The name of the binfmt_misc entry that runs aarch64 programs for the suite.
readonly AARCH64_BINFMT=install-exe-aarch64
readonly BUILD_SCRIPTS="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)/cmake"
readonly APT_LOG="$(dirname "$BUILD_SCRIPTS")/build/apt.log"
# What an install through apt takes here, roughly: a fixed part, and a part
# per package (in tenths of a second), downloads included.
readonly APT_SECONDS_FIXED=10
readonly APT_TENTHS_PER_PACKAGE=3
readonly PRIVATE_APT="$BUILD_SCRIPTS/private-apt.sh"
source "$BUILD_SCRIPTS/cache-root.sh"
source "$BUILD_SCRIPTS/debian-release.sh"

as_root() {
  if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi
}

# Installs those of the given packages that are not installed yet. apt's
# own output goes to APT_LOG; it is shown in part if apt fails.
install_packages() {
  local missing=() package count
  for package in "$@"; do
    if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "ok installed"; then
      missing+=("$package")
    fi
  done
  [ "${#missing[@]}" -gt 0 ] || return 0
  mkdir -p "$(dirname "$APT_LOG")"
  # The package lists, once per run of the script.
  if [ -z "${APT_LISTS_UPDATED:-}" ]; then
    apt_logged update || return 1
    APT_LISTS_UPDATED=1
  fi
  require_available "${missing[@]}" || return 1
  # How many packages apt will install, dependencies included.
  count=$(apt-get install -s --no-install-recommends "${missing[@]}" \
    2>/dev/null | grep -c '^Inst ') || true
  echo "Installing ${missing[*]} with apt, $count packages in all with" \
    "their dependencies: about $((APT_SECONDS_FIXED + count * APT_TENTHS_PER_PACKAGE / 10)) s" \
    "(apt's output: $APT_LOG)"
  apt_logged install -y --no-install-recommends "${missing[@]}"
}

# Fails, naming them in one line, when this release's archive lacks any of
# the given packages: a later release may have dropped one.
require_available() {
  local package lacking=()
  for package in "$@"; do
    if ! apt-cache show --no-all-versions "$package" >/dev/null 2>&1; then
      lacking+=("$package")
    fi
  done
  [ "${#lacking[@]}" -gt 0 ] || return 0
  echo "Debian $(debian_codename) has no package ${lacking[*]}, which the" \
    "build needs" >&2
  return 1
}

# Runs apt-get as root with its output appended to APT_LOG; on failure,
# shows the log's last lines and where it is.
apt_logged() {
  echo "== apt-get $*" >>"$APT_LOG"
  if ! as_root env DEBIAN_FRONTEND=noninteractive apt-get -q "$@" \
    >>"$APT_LOG" 2>&1; then
    tail -n 20 "$APT_LOG" >&2
    echo "apt-get $1 failed; its whole output is in $APT_LOG" >&2
    return 1
  fi
}

# What the demo needs: the x64 programs, built and run under Wine.
install_x64_prerequisites() {
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    as_root dpkg --add-architecture i386
  fi
  install_packages "${X64_PACKAGES[@]}"
}

# What the test command needs: every architecture, built, run and checked.
install_prerequisites() {
  install_x64_prerequisites
  install_packages "${TEST_PACKAGES[@]}" "${ARM64_PACKAGES[@]}"
  if ! command -v node >/dev/null || ! command -v npm >/dev/null; then
    install_packages "${NODE_PACKAGES[@]}"
  fi
  if i386_emulation_reason >/dev/null; then
    install_packages "${I386_EMULATION_PACKAGES[@]}"
  fi
  generate_suite_locales
}

# Enables in /etc/locale.gen, and generates, those of the suite's locales
# that are missing.
generate_suite_locales() {
  local name missing=()
  for name in "${SUITE_LOCALES[@]}"; do
    if ! locale -a 2>/dev/null | grep -qix "${name%.UTF-8}\.utf-\?8"; then
      missing+=("$name")
      as_root sed -i "s/^# *\($name UTF-8\)/\1/" /etc/locale.gen
      grep -q "^$name UTF-8" /etc/locale.gen ||
        echo "$name UTF-8" | as_root tee -a /etc/locale.gen >/dev/null
    fi
  done
  if [ "${#missing[@]}" -gt 0 ]; then
    echo "Generating the locales ${missing[*]}"
    as_root locale-gen >/dev/null
  fi
}

# Prints why 32-bit programs must run under emulation here, or fails when
# this host runs them natively. Debian's wine always starts its 32-bit
# loader, an i386 program, which some x86-64 kernels refuse to execute.
i386_emulation_reason() {
  local status=0
  if [ "${WINE_EMULATE_I386:-}" = 1 ]; then
    echo "forced by WINE_EMULATE_I386=1"
    return 0
  fi
  "$WINE32_LOADER" --version >/dev/null 2>&1 || status=$?
  if [ "$status" -eq 0 ]; then
    return 1
  fi
  echo "this host cannot execute 32-bit code: $WINE32_LOADER --version" \
    "exits with status $status"
}

# Sets up, once, a private Wine installation whose 32-bit loader runs under
# qemu-i386-static. Wine looks for its 32-bit loader beside the real file of
# the running 64-bit one, so the folder holds a copy of wine64 (a link would
# resolve back to the system's) with a script named wine beside it; every
# 32-bit process, children included, then starts through that script.
# Wine's libraries and data are linked in at the same relative places. The
# preloader reserves Wine's address space in a way qemu honours.
set_up_emulated_loader() {
  local folder=$1 staging="$1.new" lib
  [ -x "$folder/usr/lib/wine/wine64" ] && return 0
  if ! command -v "$QEMU_I386" >/dev/null || [ ! -f "$WINE32_PRELOADER" ]; then
    echo "32-bit programs need $QEMU_I386 and $WINE32_PRELOADER:" \
      "apt-get install ${I386_EMULATION_PACKAGES[*]}" >&2
    return 1
  fi
  rm -rf "$staging"
  mkdir -p "$staging/usr/lib/wine"
  cp "$WINE64_LOADER" "$staging/usr/lib/wine/wine64"
  ln -s /usr/lib/wine/wineserver "$staging/usr/lib/wine/wineserver"
  ln -s /usr/share "$staging/usr/share"
  for lib in x86_64-linux-gnu i386-linux-gnu; do
    ln -s "/usr/lib/$lib" "$staging/usr/lib/$lib"
  done
  cat >"$staging/usr/lib/wine/wine" <<SCRIPT
#!/bin/sh
# Wine's 32-bit loader, emulated. The preloader has already placed it, so
# it must not start the preloader again itself.
WINELOADERNOEXEC=1 exec $QEMU_I386 $WINE32_PRELOADER $WINE32_LOADER "\$@"
SCRIPT
  chmod +x "$staging/usr/lib/wine/wine"
  rm -rf "$folder"
  mv "$staging" "$folder"
}

# Sets up, once per machine, Debian's own arm64 Wine, unpacked into a
# private root in the cache: the same Wine version as the host's, fetched
# with a private apt set-up, so nothing is installed system-wide. Beside the
# root, the scripts wine64 and wineserver start the root's loader and server;
# the emulator finds the root's libraries through QEMU_LD_PREFIX, and takes
# its processor from QEMU_CPU, which every process Wine starts inherits. The
# folder's name holds Wine's version and a digest of this function and the
# processor. Prints the folder. Its callers take its output, where errors do
# not end the shell, so each step is checked.
set_up_arm64_wine() {
  local version folder package directory
  version=$(dpkg-query -W -f='${Version}' wine64)
  folder="$(installer_cache_root)/wine-arm64-$version-$({
    declare -f set_up_arm64_wine
    echo "$QEMU_AARCH64_CPU"
  } | sha256sum | cut -c1-12)"
  if [ -f "$folder/complete" ]; then
    echo "$folder"
    return 0
  fi
  echo "arm64 Wine: fetching Debian's wine64:arm64 $version into $folder" >&2
  rm -rf "$folder"
  mkdir -p "$folder/root" || return 1
  # The private set-up's empty package status gives the root every
  # dependency, down to libc.
  set -- "$folder/apt" deb -o APT::Architecture=arm64 \
    -o APT::Architectures::=arm64
  sh "$PRIVATE_APT" "$@" update >/dev/null || return 1
  sh "$PRIVATE_APT" "$@" install -y --download-only --no-install-recommends \
    "wine64=$version" >/dev/null || return 1
  for package in "$folder"/apt/archives/*.deb; do
    dpkg-deb -x "$package" "$folder/root" || return 1
  done
  # The merged /usr that Debian's systems have, where a release's packages
  # ship only under /usr (the emulator looks for /lib/ld-linux-aarch64.so.1).
  for directory in lib bin sbin; do
    if [ ! -e "$folder/root/$directory" ]; then
      ln -s "usr/$directory" "$folder/root/$directory"
    fi
  done
  rm -rf "$folder/apt"
  # Debian's wineserver script names the host's server by absolute path.
  cat >"$folder/wineserver" <<SCRIPT
#!/bin/sh
QEMU_LD_PREFIX="$folder/root" QEMU_CPU=$QEMU_AARCH64_CPU exec "$folder/root/usr/lib/wine/wineserver64" -p0 "\$@"
SCRIPT
  cat >"$folder/wine64" <<SCRIPT
#!/bin/sh
export QEMU_LD_PREFIX="$folder/root" QEMU_CPU=$QEMU_AARCH64_CPU
exec "$folder/root/usr/lib/wine/wine64" "\$@"
SCRIPT
  ln -sf "$folder/wineserver" "$folder/root/usr/lib/wine/wineserver"
  chmod +x "$folder/wineserver" "$folder/wine64"
  touch "$folder/complete"
  echo "$folder"
}

# Lets the kernel start aarch64 programs through qemu-aarch64-static, for as
# long as the suite runs; release_aarch64_programs takes it back.
register_aarch64_programs() {
  [ -e "$BINFMT_MISC/$AARCH64_BINFMT" ] && return 0
  if [ ! -e "$BINFMT_MISC/register" ]; then
    as_root mount -t binfmt_misc binfmt_misc "$BINFMT_MISC"
  fi
  # The ELF header of an aarch64 executable, and which of its bits count.
  local magic='\x7fELF\x02\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\xb7\x00'
  local mask='\xff\xff\xff\xff\xff\xff\xff\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff'
  # F: the emulator is opened now, so it is found whatever root a process sees.
  echo ":$AARCH64_BINFMT:M::$magic:$mask:$QEMU_AARCH64:F" |
    as_root tee "$BINFMT_MISC/register" >/dev/null
}

release_aarch64_programs() {
  if [ -e "$BINFMT_MISC/$AARCH64_BINFMT" ]; then
    echo -1 | as_root tee "$BINFMT_MISC/$AARCH64_BINFMT" >/dev/null
  fi
}

# Chooses how Wine starts the programs of one architecture (x86, x64 or
# arm64), and wineboot for their prefix. Prints three lines on standard
# output: the kind (native for Debian's wine, wine64, emulated or arm64),
# the loader and the Wine server to use; and on standard error which loader
# is used and why. The emulated x86 loader is set up under <build-dir> on
# first use; arm64 programs need register_aarch64_programs.
wine_loader() {
  local arch=$1 build_dir=$2 reason folder
  if [ "$arch" = arm64 ]; then
    folder=$(set_up_arm64_wine) || return 1
    echo "Wine for arm64 programs: Debian's arm64 Wine under" \
      "$(basename "$QEMU_AARCH64"), from $folder" >&2
    printf 'arm64\n%s\n%s\n' "$folder/wine64" "$folder/wineserver"
  elif ! reason=$(i386_emulation_reason); then
    echo "Wine for $arch programs: Debian's wine (this host executes 32-bit code)" >&2
    printf 'native\nwine\nwineserver\n'
  elif [ "$arch" = x64 ]; then
    echo "Wine for x64 programs: $WINE64_LOADER, since Debian's wine" \
      "starts its 32-bit loader first ($reason)" >&2
    printf 'wine64\n%s\nwineserver\n' "$WINE64_LOADER"
  else
    folder=$(realpath -m "$build_dir/wine-i386-emulation")
    set_up_emulated_loader "$folder"
    echo "Wine for x86 programs: Wine's 32-bit loader under $QEMU_I386," \
      "started from $folder ($reason)" >&2
    printf 'emulated\n%s\nwineserver\n' "$folder/usr/lib/wine/wine64"
  fi
}
