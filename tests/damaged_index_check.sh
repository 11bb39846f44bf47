#!/usr/bin/env bash
# SPDX-FileCopyrightText: 2026 The install authors
# SPDX-License-Identifier: MIT
# What the scripts' package installs do when an index cannot be refreshed:
# against a local repository of two suites, served on 127.0.0.1, one of which
# has its i386 index damaged after its Release file was written (apt then
# keeps none of that suite's new lists), a package of the sound suite is
# installed with the lists apt has, and one that only the damaged index
# lists stops the run with one message and nothing installed. apt runs with
# a private configuration (APT_CONFIG) that reads no file of the machine's
# apt set-up and hands nothing to dpkg, so that the machine's apt sources
# and package database are never touched.
set -euo pipefail
source "$(dirname "$0")/../scripts/common.sh"

readonly WORK="$(dirname "$BUILD_SCRIPTS")/build/damaged-index"
readonly SOUND_SUITE=sound
readonly DAMAGED_SUITE=damaged
readonly SOUND_PACKAGE=fixture-tool       # amd64, in the sound suite
readonly BLOCKED_PACKAGE=fixture-lib:i386 # only in the damaged index
APT_UPDATE_PAUSE=0

# Builds an empty package <name> of <arch> into <suite>'s pool.
build_package() {
  local name=$1 arch=$2 suite=$3 tree="$WORK/trees/$1"
  mkdir -p "$tree/DEBIAN" "$WORK/repository/pool/$suite/$arch"
  printf '%s\n' "Package: $name" "Version: 1.0" "Architecture: $arch" \
    "Maintainer: The install authors <nobody@example.invalid>" \
    "Description: a package of the damaged index check" >"$tree/DEBIAN/control"
  dpkg-deb --root-owner-group --build "$tree" \
    "$WORK/repository/pool/$suite/$arch/${name}_1.0_$arch.deb" >/dev/null
}

# Writes the index of each architecture's pool folder, and the Release file
# that names their sizes and digests, for one suite.
write_suite() {
  local suite=$1 arch dists="dists/$1"
  for arch in amd64 i386; do
    mkdir -p "$dists/main/binary-$arch" "pool/$suite/$arch"
    apt-ftparchive packages "pool/$suite/$arch" >"$dists/main/binary-$arch/Packages"
  done
  apt-ftparchive -o "APT::FTPArchive::Release::Suite=$suite" \
    -o "APT::FTPArchive::Release::Codename=$suite" \
    -o "APT::FTPArchive::Release::Architectures=amd64 i386" \
    -o APT::FTPArchive::Release::Components=main release "$dists" >"$WORK/Release"
  mv "$WORK/Release" "$dists/Release"
}

make_repository() {
  build_package fixture-tool amd64 "$SOUND_SUITE"
  build_package fixture-lib i386 "$DAMAGED_SUITE"
  (
    cd "$WORK/repository"
    write_suite "$SOUND_SUITE"
    write_suite "$DAMAGED_SUITE"
    # The index changes after the Release file has named its size.
    echo "Package: changed-after-release" \
      >>"dists/$DAMAGED_SUITE/main/binary-i386/Packages"
  )
}

# Serves the repository on a free port of 127.0.0.1, in the background.
serve_repository() {
  python3 -u -m http.server --bind 127.0.0.1 --directory "$WORK/repository" 0 \
    >"$WORK/server.log" 2>&1 &
  SERVER_PID=$!
}

# Prints the port the server listens on, once it does.
server_port() {
  local tries
  for tries in $(seq 50); do
    if grep -q "port [0-9]" "$WORK/server.log"; then
      sed -n 's/.* port \([0-9]*\) .*/\1/p' "$WORK/server.log" | head -n 1
      return 0
    fi
    sleep 0.1
  done
  echo "the repository's server did not start: $(cat "$WORK/server.log")" >&2
  return 1
}

write_apt_config() {
  local port=$1
  mkdir -p "$WORK/apt/parts" "$WORK/apt/sources" "$WORK/apt/state" "$WORK/apt/cache"
  touch "$WORK/apt/status"
  printf 'deb [trusted=yes] http://127.0.0.1:%s %s main\n' \
    "$port" "$SOUND_SUITE" "$port" "$DAMAGED_SUITE" >"$WORK/apt/sources.list"
  cat >"$WORK/apt/apt.conf" <<CONF
Dir::Etc::Parts "$WORK/apt/parts";
Dir::Etc::PreferencesParts "$WORK/apt/parts";
Dir::Etc::SourceList "$WORK/apt/sources.list";
Dir::Etc::SourceParts "$WORK/apt/sources";
Dir::State "$WORK/apt/state";
Dir::State::status "$WORK/apt/status";
Dir::Cache "$WORK/apt/cache";
Dir::Log "$WORK/apt";
APT::Architecture "amd64";
APT::Architectures { "amd64"; "i386"; };
APT::Sandbox::User "root";
Acquire::Languages "none";
Acquire::http::Proxy "DIRECT";
Debug::pkgDPkgPm "true";
CONF
}

passed=0 failed=0
# Counts a check: <what> passed where the rest, a command, succeeds.
check() {
  local what=$1
  shift
  if "$@"; then
    passed=$((passed + 1))
    echo "ok: $what"
  else
    failed=$((failed + 1))
    echo "FAIL: $what"
  fi
}

# Whether <text> holds the line <line>; shows the text where it does not.
has_line() {
  grep -qxF -- "$2" <<<"$1" && return 0
  echo "     no line: $2"
  sed 's/^/     | /' <<<"$1"
  return 1
}

# What apt wrote to the log during this check.
apt_log_now() {
  tail -c +$((LOG_START + 1)) "$APT_LOG"
}

rm -rf "$WORK"
mkdir -p "$WORK"
make_repository
serve_repository
trap 'kill "$SERVER_PID"' EXIT
port=$(server_port)
write_apt_config "$port"
export APT_CONFIG="$WORK/apt/apt.conf"
damaged="dists/$DAMAGED_SUITE/main/binary-i386/Packages"
index="http://127.0.0.1:$port/$damaged"
size_reason="File has unexpected size ($(stat -c %s "$WORK/repository/$damaged") != $(
  awk '/^SHA256:/ { sha = 1 } sha && $3 == "main/binary-i386/Packages" { print $2; exit }' \
    "$WORK/repository/dists/$DAMAGED_SUITE/Release")). Mirror sync in progress?"

mkdir -p "$(dirname "$APT_LOG")"
touch "$APT_LOG"
LOG_START=$(stat -c %s "$APT_LOG")
downloads="$WORK/apt/cache/archives"

# Both installs in one run, as the scripts' installs share one refresh.
status=0
output=$(install_packages "$SOUND_PACKAGE" 2>&1) || status=$?
check "a package of the sound suite installs" [ "$status" -eq 0 ]
check "one line names the damaged index and apt's reason" has_line "$output" \
  "apt could not refresh $index ($size_reason); going on with the package lists it has, which hold every package needed"
check "the update was tried $APT_UPDATE_TRIES times" has_line "$(apt_log_now)" \
  "== as_root env DEBIAN_FRONTEND=noninteractive apt-get -q update (try $APT_UPDATE_TRIES of $APT_UPDATE_TRIES)"
check "apt fetched the package to install it" \
  [ -f "$downloads/${SOUND_PACKAGE}_1.0_amd64.deb" ]

status=0
output=$(install_packages "$SOUND_PACKAGE" "$BLOCKED_PACKAGE" 2>&1) || status=$?
check "a package that only the damaged index lists stops the run" [ "$status" -eq 1 ]
check "one message names the index, apt's reason, the package and what to do" \
  has_line "$output" \
  "apt could not refresh $index ($size_reason), and the package lists it has do not hold what it takes to install $BLOCKED_PACKAGE: try again later, or use another mirror in apt's sources"
check "it says nothing was installed, and where apt's log is" has_line "$output" \
  "Nothing was installed; apt's whole output is in $APT_LOG"
check "apt was asked to install nothing more" \
  [ "$(apt_log_now | grep -c '^== apt-get install -y')" -eq 1 ]
check "nothing of the blocked package was fetched" \
  [ ! -e "$downloads/fixture-lib_1.0_i386.deb" ]

echo "damaged-index: $passed passed, $failed failed"
[ "$failed" -eq 0 ] || exit 1
rm -rf "$WORK"
