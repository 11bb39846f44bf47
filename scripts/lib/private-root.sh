# SPDX-FileCopyrightText: 2026 The install authors
# SPDX-License-Identifier: MIT
# shellcheck shell=bash
# Private roots: Debian's packages of another architecture, fetched through
# an apt set-up of their own and unpacked into a folder of the cache, with
# nothing installed system-wide. Needs host.sh and apt.sh.

# shellcheck source=cmake/cache-root.sh
source "$CMAKE_HELPERS/cache-root.sh"
readonly PRIVATE_APT="$CMAKE_HELPERS/private-apt.sh"

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
