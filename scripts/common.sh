# SPDX-FileCopyrightText: 2026 The install authors
# SPDX-License-Identifier: MIT
# Shared by demo.sh, test.sh, fresh-root-check.sh and wine-loader.sh:
# checks the host, installs what building and running the programs under
# Wine needs on Debian, and only what is missing, and chooses how Wine
# starts each architecture's programs.

# Building the x64 programs and running them under Wine's 64-bit loader: all
# that the demo needs. Without its preloader, Wine reserves the addresses
# that Windows programs expect only once its loader runs, and now and then
# finds the loader's heap, which the kernel places anywhere in the GiB above
# the loader, on the page that Windows keeps at 0x7ffe0000: the program
# then ends with status 1 before it starts.
readonly DEMO_PACKAGES=(
  cmake ninja-build python3 python3-pefile clang-19 lld-19 llvm-19
  mingw-w64-x86-64-dev wine64 wine64-preloader
)
# What the test command needs besides: the x86 runtime, the analysers,
# signing with a software token, package normalization, locales, the
# licence linter, what builds the arm64 runtime from source, the emulators
# that the x86 and arm64 Wine run under, what makes the apt check's
# repository, and strace, which watches what a signing run starts.
readonly TEST_PACKAGES=(
  clang-tidy-19 cppcheck mingw-w64-i686-dev openssl osslsigncode
  libengine-pkcs11-openssl softhsm2 opensc strip-nondeterminism util-linux
  locales reuse dpkg-dev make qemu-user-static apt-utils strace
)
# Node.js and npm, for the bills' schema check, where the machine has none.
readonly NODE_PACKAGES=(nodejs npm)
# The suite runs programs under these, since Wine takes its code pages and
# its message texts' language from LANG: Japanese (932), Russian (1251) and
# French (1252).
readonly SUITE_LOCALES=(ja_JP.UTF-8 ru_RU.UTF-8 fr_FR.UTF-8)

readonly WINE64_LOADER=/usr/lib/wine/wine64
readonly WINE64_PRELOADER=/usr/lib/wine/wine64-preloader
readonly WINESERVER=/usr/lib/wine/wineserver
readonly HOST_WINE_I386_ZLIB=/usr/lib/x86_64-linux-gnu/wine/i386-windows/zlib1.dll
readonly QEMU_I386=/usr/bin/qemu-i386-static
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
source "$BUILD_SCRIPTS/apt-refresh.sh"

as_root() {
  if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi
}

# Stops, saying what the scripts need in one line, on a host other than
# x86-64 Debian: they build with Debian's own amd64 packages.
require_supported_host() {
  local machine architecture
  machine=$(uname -m)
  architecture=$(dpkg --print-architecture 2>/dev/null) || architecture=none
  if [ "$machine" = x86_64 ] && [ "$architecture" = amd64 ] &&
    debian_codename >/dev/null 2>&1; then
    return 0
  fi
  echo "These scripts need an x86-64 Debian machine (amd64) with apt and" \
    "Debian's archive; this one is $(host_description) on $machine" >&2
  exit 1
}

host_description() {
  (
    . /etc/os-release 2>/dev/null || true
    echo "${PRETTY_NAME:-a system without /etc/os-release}"
  )
}

# Installs those of the given packages that are not installed yet. apt's
# own output goes to APT_LOG; it is shown in part if apt fails.
install_packages() {
  local missing=() package plan count
  for package in "$@"; do
    if [ "$(dpkg-query -W -f='${Status}' "$package" 2>/dev/null)" != \
      "install ok installed" ]; then
      missing+=("$package")
    fi
  done
  [ "${#missing[@]}" -gt 0 ] || return 0
  mkdir -p "$(dirname "$APT_LOG")"
  refresh_system_lists
  if [ -z "$APT_STALE_INDEXES" ]; then
    require_available "${missing[@]}" || return 1
  else
    require_installable_from_old_lists "${missing[@]}" || return 1
  fi
  # How many packages apt will install, dependencies included.
  plan=$(apt-get install -s --no-install-recommends "${missing[@]}" 2>/dev/null) || true
  count=$(grep -c '^Inst ' <<<"$plan") || true
  echo "Installing ${missing[*]} with apt, $count packages in all with" \
    "their dependencies: about $((APT_SECONDS_FIXED + count * APT_TENTHS_PER_PACKAGE / 10)) s" \
    "(apt's output: $APT_LOG)"
  apt_logged install -y --no-install-recommends "${missing[@]}"
}

# Refreshes the system's package lists, once per run of a script. What could
# not be refreshed is kept in APT_STALE_INDEXES, for every later install.
# Only dpkg's architectures are refreshed: the native one, which the scripts
# install for, and any foreign one the machine has, whose Multi-Arch: same
# packages must move with their native twins when an install upgrades them.
refresh_system_lists() {
  [ -z "${APT_LISTS_REFRESHED:-}" ] || return 0
  APT_STALE_INDEXES=$(refresh_apt_lists "$APT_LOG" apt_as_root \
    -o "APT::Architectures=$(dpkg_architectures)") || true
  APT_LISTS_REFRESHED=1
}

# dpkg's architectures, native first, separated by commas.
dpkg_architectures() {
  { dpkg --print-architecture && dpkg --print-foreign-architectures; } |
    paste -sd,
}

# Runs apt-get as root, without questions. sudo's env_reset drops the
# caller's environment, so APT_CONFIG is handed on where it is set: an apt
# set-up of the caller's own is the one used.
apt_as_root() {
  as_root env DEBIAN_FRONTEND=noninteractive \
    ${APT_CONFIG:+"APT_CONFIG=$APT_CONFIG"} apt-get -q "$@"
}

# After a failed refresh: goes on, saying so, where the lists apt has give
# every package; otherwise names those they block and stops.
require_installable_from_old_lists() {
  local package blocked=()
  echo "== apt-get install -s --no-install-recommends $*" >>"$APT_LOG"
  if apt-get install -s --no-install-recommends "$@" >>"$APT_LOG" 2>&1; then
    say_going_on_with_old_lists "$APT_STALE_INDEXES" "every package needed"
    return 0
  fi
  for package in "$@"; do
    if ! apt-get install -s --no-install-recommends "$package" \
      >/dev/null 2>&1; then
      blocked+=("$package")
    fi
  done
  tail -n 20 "$APT_LOG" >&2
  say_blocked_by_stale_lists "$APT_STALE_INDEXES" \
    "what it takes to install ${blocked[*]:-$*}"
  echo "Nothing was installed; apt's whole output is in $APT_LOG" >&2
  return 1
}

# Fails, naming them in one line, when this release's archive lacks any of
# the given packages: a later release may have dropped one. Only lists that
# were just refreshed can tell.
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
  if ! apt_as_root "$@" >>"$APT_LOG" 2>&1; then
    tail -n 20 "$APT_LOG" >&2
    echo "apt-get $1 failed; its whole output is in $APT_LOG" >&2
    return 1
  fi
}

# What the demo needs: the x64 programs, built and run under Wine.
install_demo_prerequisites() {
  require_supported_host
  install_packages "${DEMO_PACKAGES[@]}"
}

# What the test command needs: every architecture, built, run and checked.
install_prerequisites() {
  require_supported_host
  local packages=("${DEMO_PACKAGES[@]}" "${TEST_PACKAGES[@]}")
  if ! command -v node >/dev/null || ! command -v npm >/dev/null; then
    packages+=("${NODE_PACKAGES[@]}")
  fi
  install_packages "${packages[@]}"
  generate_suite_locales
  # The signing tools as a signing machine gets them: an osslsigncode too old
  # to check revocation (Debian 12's own) is replaced from the backports.
  "$(dirname "$BUILD_SCRIPTS")/release/sign-package.sh" --install-prerequisites
}

# Enables in /etc/locale.gen, and generates, those of the suite's locales
# that are missing.
generate_suite_locales() {
  local name available missing=()
  available=$(locale -a 2>/dev/null) || true
  for name in "${SUITE_LOCALES[@]}"; do
    if ! grep -qix "${name%.UTF-8}\.utf-\?8" <<<"$available"; then
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

# Fetches Debian's packages of another architecture, given as
# <name>=<version>, with every dependency down to libc (the private set-up's
# package status is empty), through a private apt set-up in <staging>/apt,
# so nothing is installed system-wide and no architecture is added; unpacks
# them into <staging>/root with the merged /usr that Debian's systems have
# (a release's packages may ship only under /usr, and the emulator looks for
# /lib's dynamic loader). They come from the suite that holds the first
# package's version, the host's (its updates, security or backports, say),
# and so do their dependencies, where that suite has them.
unpack_private_root() {
  local staging=$1 arch=$2 failures package directory suite
  shift 2
  local options=(-o "APT::Architecture=$arch" -o "APT::Architectures::=$arch")
  local apt=(sh "$PRIVATE_APT" "$staging/apt" deb apt-get "${options[@]}")
  mkdir -p "$staging/root" "$(dirname "$APT_LOG")" || return 1
  # The private lists start empty: after a failed refresh, none hold them.
  if ! failures=$(refresh_apt_lists "$APT_LOG" "${apt[@]}"); then
    say_blocked_by_stale_lists "$failures" "$*"
    return 1
  fi
  suite=$(sh "$PRIVATE_APT" "$staging/apt" deb apt-cache "${options[@]}" \
    madison "${1%%=*}" | suite_holding "${1#*=}")
  if [ -z "$suite" ]; then
    echo "No suite of Debian $(debian_codename) that apt's sources name" \
      "holds $1 for $arch" >&2
    return 1
  fi
  echo "== private apt-get install --download-only -t $suite $*" >>"$APT_LOG"
  if ! "${apt[@]}" install -y --download-only --no-install-recommends \
    -t "$suite" "$@" >>"$APT_LOG" 2>&1; then
    tail -n 20 "$APT_LOG" >&2
    echo "fetching $* failed; apt's whole output is in $APT_LOG" >&2
    return 1
  fi
  for package in "$staging"/apt/archives/*.deb; do
    dpkg-deb -x "$package" "$staging/root" || return 1
  done
  for directory in lib bin sbin; do
    if [ ! -e "$staging/root/$directory" ]; then
      ln -s "usr/$directory" "$staging/root/$directory" || return 1
    fi
  done
  rm -rf "$staging/apt"
}

# Of apt-cache madison's lines on standard input, the suite of the first
# that gives <version>.
suite_holding() {
  awk -F ' [|] ' -v version="$1" '{ gsub(/ /, "", $2) }
    $2 == version { split($3, words, " "); sub(/\/.*/, "", words[2])
      print words[2]; exit }'
}

# Writes an executable script <file> from standard input.
write_script() {
  cat >"$1" && chmod +x "$1"
}

# Puts a private folder built under <staging> in place as <folder>, once the
# given files are there, so that a set-up cut short is never taken for a
# complete one.
put_in_place() {
  local staging=$1 folder=$2 file
  shift 2
  for file in "$@"; do
    if [ ! -e "$staging/$file" ]; then
      echo "$folder: $file is missing after the set-up" >&2
      return 1
    fi
  done
  rm -rf "$folder" && mv "$staging" "$folder"
}

# The cache folder for a private Wine: <name>-<version>-<digest of the
# function that sets it up, those it calls, and any further words given>.
private_wine_folder() {
  local name=$1 set_up=$2 version=$3
  shift 3
  echo "$(installer_cache_root)/$name-$version-$({
    declare -f unpack_private_root put_in_place "$set_up"
    echo "$*"
  } | sha256sum | cut -c1-12)"
}

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

# The processes that run in or serve a Wine prefix, Wine's server and
# services included, one PID a line: every one has the prefix in its
# environment. The search's own commands go without it, whatever the
# caller exports.
wine_prefix_processes() {
  (
    unset WINEPREFIX
    grep -lzxF "WINEPREFIX=$1" /proc/[0-9]*/environ 2>/dev/null |
      cut -d/ -f3 || true
  )
}

# The folder that Debian's Wine made for a prefix's server socket in the
# temporary directory, and named in the prefix; nothing if it named none.
wine_server_folder() {
  local name
  [ -f "$1/wineserver" ] || return 0
  name=$(cat "$1/wineserver")
  if [[ $name =~ ^wine-[A-Za-z0-9]{6}$ ]]; then
    echo "${TMPDIR:-/tmp}/$name"
  fi
}

# Ends every process of a Wine prefix, through its server and then by
# force, and removes its server's folder.
end_wine_prefix() {
  local prefix=$1 server=$2 left folder tries=0
  if [ -d "$prefix" ]; then
    WINEPREFIX=$prefix "$server" -k >/dev/null 2>&1 || true
  fi
  left=$(wine_prefix_processes "$prefix")
  while [ -n "$left" ] && [ "$tries" -lt 100 ]; do
    kill -KILL $left 2>/dev/null || true
    sleep 0.1
    tries=$((tries + 1))
    left=$(wine_prefix_processes "$prefix")
  done
  folder=$(wine_server_folder "$prefix")
  [ -z "$folder" ] || rm -rf -- "$folder"
  if [ -n "$left" ]; then
    echo "processes of $prefix still run:" $left >&2
    return 1
  fi
}

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
