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
# The source is Debian's source package where the archive serves it whole,
# otherwise its upstream tarball, checked against the SHA-256 that the
# release's signed Sources index gives; the file origin.txt in the folder
# says which. The folder is a cache outside any build tree, keyed by the
# source version, the compiler's version and this recipe;
# INSTALLER_RUNTIME_CACHE chooses where the caches go.
set -eu

readonly TRIPLET=aarch64-w64-mingw32
readonly HEADERS=/usr/share/mingw-w64/include
readonly IMPORT_LIBRARIES="kernel32 msvcrt advapi32 setupapi user32 shell32"

here=$(cd "$(dirname "$0")" && pwd)
. "$here/cache-root.sh"
version=$(dpkg-query -W -f='${Version}' mingw-w64-common)
cache_root=$(installer_cache_root)
recipe=$({
  cat "$0" "$here/private-apt.sh" "$here/debian-release.sh"
  dpkg-query -W -f='${Package} ${Version}\n' clang-19 llvm-19
} | sha256sum | cut -c1-12)
runtime="$cache_root/mingw-w64-$TRIPLET-$version-$recipe"
if [ -f "$runtime/complete" ]; then
  echo "$runtime"
  exit 0
fi

say() { echo "arm64 runtime: $*" >&2; }
say "building the MinGW-w64 $version runtime for $TRIPLET into $runtime" \
  "(about a minute, once per machine)"
mkdir -p "$cache_root"
work=$(mktemp -d)
log="$runtime.log"
# The build's own output goes to the log, which is shown if it fails.
exec 3>&2 2>"$log"
failed() {
  status=$?
  rm -rf "$work"
  if [ "$status" -ne 0 ]; then
    tail -n 30 "$log" >&3
    echo "arm64 runtime: the build failed; its whole output is in $log" >&3
  fi
}
trap failed EXIT

# The source, through a deb-src line of a private apt set-up: the whole
# source package, or else its upstream tarball alone.
mkdir -p "$work/source"
sh "$here/private-apt.sh" "$work/apt" deb-src update >&2
if (cd "$work/source" &&
  sh "$here/private-apt.sh" "$work/apt" deb-src source "mingw-w64=$version") >&2; then
  origin="Debian's mingw-w64 $version source package"
else
  say "the archive does not serve the whole mingw-w64 $version source package;" \
    "building from its upstream tarball" 2>&3
  # Each line: 'address' name size SHA256:digest, from the signed index.
  tarball=$(sh "$here/private-apt.sh" "$work/apt" deb-src source --print-uris \
    "mingw-w64=$version" | grep "^'[^']*\.orig\.tar\.[a-z0-9]*'" | head -n 1)
  # shellcheck disable=SC2086 # the line's four fields
  set -- $tarball
  [ "$#" -eq 4 ] || { echo "no upstream tarball of mingw-w64 $version" >&2; exit 1; }
  /usr/lib/apt/apt-helper download-file "$(echo "$1" | tr -d "'")" \
    "$work/$2" "$4" >&2
  tar -xf "$work/$2" -C "$work/source"
  origin="the upstream tarball $2 of Debian's mingw-w64 $version source package,
without Debian's changes (the archive served no whole source package), its
${4%%:*} checked against the release's signed Sources index: ${4#*:}"
fi

# The runtime's configure looks for the headers under <sysroot>/include.
mkdir -p "$work/sysroot" "$work/build"
ln -s "$HEADERS" "$work/sysroot/include"
compiler="clang-19 --target=$TRIPLET -isystem $HEADERS"
cd "$work/build"
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
