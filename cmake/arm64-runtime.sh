#!/bin/sh
# SPDX-FileCopyrightText: 2026 The install authors
# SPDX-License-Identifier: MIT
# Prints the folder of the MinGW-w64 C runtime for Windows on ARM64, and
# builds it there first when it is missing. Debian has no aarch64 MinGW
# package, so the runtime is built with clang from Debian's own mingw-w64
# source, of the same version as the installed headers. Only the pieces the
# programs link are built: the start-up objects (narrow, wide and DLL, and
# the empty crtbegin.o and crtend.o that clang links around them),
# libmingw32, libmingwex, libmoldname, libuuid and the import libraries
# below, with the runtime's notice from the source. Its missing __chkstk is
# the project's own, in runtime/.
#   usage: arm64-runtime.sh
# The source is Debian's source package; only where the archive serves no
# .dsc for the version (its Sources index lists none, or it answers 404 Not
# Found), its upstream tarball, checked against the SHA-256 that the signed
# index gives. The file origin.txt in the folder says which. The folder is a
# cache outside any build tree, keyed by the source version, the compiler's
# version, this recipe and the source's origin; INSTALLER_RUNTIME_CACHE
# chooses where the caches go.
set -eu

readonly TRIPLET=aarch64-w64-mingw32
readonly HEADERS=/usr/share/mingw-w64/include
readonly IMPORT_LIBRARIES="kernel32 msvcrt advapi32 setupapi user32 shell32"

here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=cmake/cache-root.sh
. "$here/cache-root.sh"
# shellcheck source=cmake/apt-refresh.sh
. "$here/apt-refresh.sh"
version=$(dpkg-query -W -f='${Version}' mingw-w64-common)
cache_root=$(installer_cache_root)
recipe=$({
  cat "$0" "$here/private-apt.sh" "$here/debian-release.sh" "$here/apt-refresh.sh"
  dpkg-query -W -f='${Package} ${Version}\n' clang-19 llvm-19
} | sha256sum | cut -c1-12)
key="$cache_root/mingw-w64-$TRIPLET-$version-$recipe"
# A runtime built from the whole source package needs no word from the archive.
if [ -f "$key-debian/complete" ]; then
  echo "$key-debian"
  exit 0
fi

say() { echo "arm64 runtime: $*" >&2; }
mkdir -p "$cache_root"
work=$(mktemp -d)
log="$key.log"
# The build's own output goes to the log, which is shown if it fails.
exec 3>&2 2>"$log"
# On every exit: the work folder goes, and a failed build shows its log.
end_build() {
  status=$?
  rm -rf "$work"
  if [ "$status" -ne 0 ]; then
    tail -n 30 "$log" >&3
    echo "arm64 runtime: the build failed; its whole output is in $log" >&3
  fi
}
trap end_build EXIT

# The private apt set-up for the source. Its lists start empty, so after a
# failed refresh none hold the source.
source_apt() { sh "$here/private-apt.sh" "$work/apt" deb-src apt-get "$@"; }
if ! failures=$(refresh_apt_lists "$log" source_apt); then
  say_blocked_by_stale_lists "$failures" "mingw-w64 $version's source" 2>&3
  exit 1
fi
# The source's files as the release's Sources index lists them, a line
# each: 'address' name size SHA256:digest.
files=$(source_apt source --print-uris "mingw-w64=$version")
# Debian's source package where the archive serves its .dsc; the upstream
# tarball alone where the index lists no .dsc, or the archive answers that
# it has none (404). Any other failure stops the build.
origin_key=upstream
dsc=$(printf '%s\n' "$files" | grep "^'[^']*\.dsc' ") || true
if [ -n "$dsc" ]; then
  # shellcheck disable=SC2086 # the line's four fields
  set -- $dsc
  if /usr/lib/apt/apt-helper download-file "$(echo "$1" | tr -d "'")" \
    "$work/$2" "$4" >"$work/dsc.log" 2>&1; then
    origin_key=debian
  else
    cat "$work/dsc.log" >&2
    grep -q " 404 " "$work/dsc.log" || exit 1
  fi
fi
runtime="$key-$origin_key"
if [ -f "$runtime/complete" ]; then
  echo "$runtime"
  exit 0
fi
say "building the MinGW-w64 $version runtime for $TRIPLET into $runtime" \
  "(about a minute, once per machine)" 2>&3

mkdir -p "$work/source"
if [ "$origin_key" = debian ]; then
  (cd "$work/source" && source_apt source "mingw-w64=$version") >&2
  origin="Debian's mingw-w64 $version source package"
else
  say "the archive serves no .dsc for mingw-w64 $version;" \
    "building from its upstream tarball" 2>&3
  tarball=$(printf '%s\n' "$files" | grep "^'[^']*\.orig\.tar\.[a-z0-9]*'" |
    head -n 1) || true
  # shellcheck disable=SC2086 # the line's four fields
  set -- $tarball
  [ "$#" -eq 4 ] || { echo "no upstream tarball of mingw-w64 $version" >&2; exit 1; }
  /usr/lib/apt/apt-helper download-file "$(echo "$1" | tr -d "'")" \
    "$work/$2" "$4" >&2
  tar -xf "$work/$2" -C "$work/source"
  origin="the upstream tarball $2 of Debian's mingw-w64 $version source package,
without Debian's changes (the archive serves no .dsc for the version), its
${4%%:*} checked against the release's signed Sources index: ${4#*:}"
fi

# The runtime's configure looks for the headers under <sysroot>/include.
mkdir -p "$work/sysroot" "$work/build"
ln -s "$HEADERS" "$work/sysroot/include"
compiler="clang-19 --target=$TRIPLET -isystem $HEADERS"
cd "$work/build"
# shellcheck disable=SC2211 # the source's one folder, named with its version
"$work"/source/mingw-w64-*/mingw-w64-crt/configure --host="$TRIPLET" \
  --with-sysroot="$work/sysroot" --disable-lib32 --disable-lib64 \
  --enable-libarm64 --with-default-msvcrt=msvcrt \
  CC="$compiler" CXX="clang++-19 --target=$TRIPLET -isystem $HEADERS" \
  AS="clang-19 --target=$TRIPLET -c" AR=llvm-ar-19 RANLIB=llvm-ranlib-19 \
  DLLTOOL=llvm-dlltool-19 >&2
pieces="libarm64/crt2.o libarm64/crt2u.o libarm64/dllcrt2.o
  libarm64/crtbegin.o libarm64/crtend.o libarm64/libmingw32.a
  libarm64/libmingwex.a libarm64/libmoldname.a libarm64/libuuid.a"
for library in $IMPORT_LIBRARIES; do
  pieces="$pieces libarm64/lib$library.a"
done
mkdir -p libarm64
# shellcheck disable=SC2086 # the pieces are separate make targets
make -j"$(nproc)" $pieces >&2

# Install by renaming a complete folder, so that a build cut short is never
# taken for a runtime.
rm -rf "$runtime.new"
mkdir -p "$runtime.new/lib"
# shellcheck disable=SC2086
cp $pieces "$runtime.new/lib/"
ln -s "$HEADERS" "$runtime.new/include"
# The notice that binary distributions of the runtime carry, as the source
# package has it.
cp "$work"/source/mingw-w64-*/COPYING.MinGW-w64-runtime/COPYING.MinGW-w64-runtime.txt \
  "$runtime.new/"
echo "$origin" >"$runtime.new/origin.txt"
echo "$version" >"$runtime.new/complete"
rm -rf "$runtime"
mv "$runtime.new" "$runtime"
exec 2>&3
say "built and cached in $runtime"
echo "$runtime"
