# Shared by demo.sh and test.sh: installs what building and running the
# programs under Wine needs on Debian, and only what is missing.

readonly REQUIRED_PACKAGES=(
  cmake ninja-build python3 clang-tidy cppcheck
  g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix
  openssl osslsigncode
  wine wine64 wine32:i386
  locales
)
readonly JAPANESE_LOCALE="ja_JP.UTF-8"

as_root() {
  if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi
}

install_prerequisites() {
  local missing=() package
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    as_root dpkg --add-architecture i386
  fi
  for package in "${REQUIRED_PACKAGES[@]}"; do
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
  # The suite runs a program under code page 932, which Wine takes from LANG.
  if ! locale -a 2>/dev/null | grep -qix 'ja_JP\.utf-\?8'; then
    echo "Generating the $JAPANESE_LOCALE locale"
    as_root sed -i "s/^# *\($JAPANESE_LOCALE UTF-8\)/\1/" /etc/locale.gen
    grep -q "^$JAPANESE_LOCALE UTF-8" /etc/locale.gen ||
      echo "$JAPANESE_LOCALE UTF-8" | as_root tee -a /etc/locale.gen >/dev/null
    as_root locale-gen >/dev/null
  fi
}
