# Shared by demo.sh, test.sh and wine-loader.sh: installs what building and
# running the programs under Wine needs on Debian, and only what is missing,
# and chooses how Wine starts each architecture's programs on this host.

readonly REQUIRED_PACKAGES=(
  cmake ninja-build python3 clang-tidy cppcheck
  g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix
  openssl osslsigncode
  wine wine64 wine32:i386
  locales
)
# Needed only where 32-bit programs run under emulation.
readonly I386_EMULATION_PACKAGES=(qemu-user-static wine32-preloader:i386)
readonly JAPANESE_LOCALE="ja_JP.UTF-8"

readonly WINE32_LOADER=/usr/lib/wine/wine
readonly WINE64_LOADER=/usr/lib/wine/wine64
readonly WINE32_PRELOADER=/usr/lib/wine/wine-preloader.static
readonly QEMU_I386=qemu-i386-static

as_root() {
  if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi
}

# Installs those of the given packages that are not installed yet.
install_packages() {
  local missing=() package
  for package in "$@"; do
    if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "ok installed"; then
      missing+=("$package")
    fi
  done
  if [ "${#missing[@]}" -gt 0 ]; then
    echo "Installing ${missing[*]}"
    as_root apt-get update -q
    as_root env DEBIAN_FRONTEND=noninteractive \
      apt-get install -y -q --no-install-recommends "${missing[@]}"
  fi
}

install_prerequisites() {
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    as_root dpkg --add-architecture i386
  fi
  install_packages "${REQUIRED_PACKAGES[@]}"
  if i386_emulation_reason >/dev/null; then
    install_packages "${I386_EMULATION_PACKAGES[@]}"
  fi
  # The suite runs a program under code page 932, which Wine takes from LANG.
  if ! locale -a 2>/dev/null | grep -qix 'ja_JP\.utf-\?8'; then
    echo "Generating the $JAPANESE_LOCALE locale"
    as_root sed -i "s/^# *\($JAPANESE_LOCALE UTF-8\)/\1/" /etc/locale.gen
    grep -q "^$JAPANESE_LOCALE UTF-8" /etc/locale.gen ||
      echo "$JAPANESE_LOCALE UTF-8" | as_root tee -a /etc/locale.gen >/dev/null
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

# Chooses how Wine starts the programs of one architecture (x86 or x64), and
# wineboot for their prefix. Prints "<kind> <loader>" on standard output,
# where kind is native (Debian's wine), wine64 or emulated, and on standard
# error which loader is used and why. The emulated loader is set up under
# <build-dir> on first use.
wine_loader() {
  local arch=$1 build_dir=$2 reason folder
  if ! reason=$(i386_emulation_reason); then
    echo "Wine for $arch programs: Debian's wine (this host executes 32-bit code)" >&2
    echo "native wine"
  elif [ "$arch" = x64 ]; then
    echo "Wine for x64 programs: $WINE64_LOADER, since Debian's wine" \
      "starts its 32-bit loader first ($reason)" >&2
    echo "wine64 $WINE64_LOADER"
  else
    folder=$(realpath -m "$build_dir/wine-i386-emulation")
    set_up_emulated_loader "$folder"
    echo "Wine for x86 programs: Wine's 32-bit loader under $QEMU_I386," \
      "started from $folder ($reason)" >&2
    echo "emulated $folder/usr/lib/wine/wine64"
  fi
}
