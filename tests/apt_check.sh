#!/usr/bin/env bash
# SPDX-FileCopyrightText: 2026 The install authors
# SPDX-License-Identifier: MIT
# What the scripts' apt does, against a local repository served on 127.0.0.1,
# with a private configuration (APT_CONFIG) that reads no file of the
# machine's apt set-up and hands nothing to dpkg, so that the machine's apt
# sources and package database are never touched:
#  - the system's installs, on a machine with no lists yet, through sudo,
#    both in one shell, so that they share one refresh. The suite that
#    holds the package to install has its translation and its i386 index
#    damaged after its Release file was written, and this machine installs
#    for amd64 only: neither is fetched. A second suite has its amd64 index
#    damaged, so apt keeps none of its new lists: the package is installed
#    with one line that names it, and a package only it lists stops the run
#    with one message and nothing installed.
#  - the private roots: a package of another architecture at a version that
#    only the release's updates or backports hold is fetched from there,
#    with its dependencies of the same suite; one at a version that no suite
#    of the release holds is refused in one line.
set -euo pipefail
cd "$(dirname "$0")/.."
readonly WORK="$PWD/build/apt-check"
# The check's own log of apt's output, which it reads back.
export APT_LOG="$WORK/apt.log"
source scripts/lib/host.sh
source scripts/lib/apt.sh
source scripts/lib/private-root.sh

RELEASE=$(debian_codename)
readonly RELEASE
readonly SOUND_SUITE=current
readonly DAMAGED_SUITE=extra
readonly SOUND_PACKAGE=fixture-tool # amd64, in the sound suite
readonly BLOCKED_PACKAGE=fixture-lib # amd64, only in the damaged index
readonly PRIVATE_PACKAGE=fixture-wine # i386, in each of the release's suites
APT_UPDATE_PAUSE=0

# Builds an empty package <name> <version> of <arch> into <suite>'s pool,
# with a file that names it and the given control fields.
build_package() {
  local name=$1 version=$2 arch=$3 suite=$4 tree="$WORK/trees/$1-$2-$4"
  shift 4
  mkdir -p "$tree/DEBIAN" "$tree/usr/share/fixture" \
    "$WORK/repository/pool/$suite/$arch"
  touch "$tree/usr/share/fixture/$name-$version"
  printf '%s\n' "Package: $name" "Version: $version" "Architecture: $arch" \
    "Maintainer: The install authors <nobody@example.invalid>" "$@" \
    "Description: a package of the apt check" >"$tree/DEBIAN/control"
  dpkg-deb --root-owner-group --build "$tree" \
    "$WORK/repository/pool/$suite/$arch/${name}_${version}_$arch.deb" >/dev/null
}

# Writes the indexes of a suite's pool, a translation, and the Release file
# that names their sizes and digests, with the given further options of
# apt-ftparchive's Release fields.
write_suite() {
  local suite=$1 arch dists="dists/$1"
  shift
  for arch in amd64 i386; do
    mkdir -p "$dists/main/binary-$arch" "pool/$suite/$arch"
    apt-ftparchive packages "pool/$suite/$arch" >"$dists/main/binary-$arch/Packages"
  done
  mkdir -p "$dists/main/i18n"
  printf '%s\n' "Package: $SOUND_PACKAGE" "Description-md5: 0" \
    "Description-en: a package of the apt check" >"$dists/main/i18n/Translation-en"
  apt-ftparchive -o "APT::FTPArchive::Release::Suite=$suite" \
    -o "APT::FTPArchive::Release::Codename=$suite" \
    -o "APT::FTPArchive::Release::Architectures=amd64 i386" \
    -o APT::FTPArchive::Release::Components=main "$@" release "$dists" \
    >"$WORK/Release"
  mv "$WORK/Release" "$dists/Release"
}

# An index that changes after the Release file has named its size.
damage() {
  echo "Package: changed-after-release" >>"$WORK/repository/dists/$1"
}

make_repository() {
  build_package "$SOUND_PACKAGE" 1.0 amd64 "$SOUND_SUITE"
  build_package "$BLOCKED_PACKAGE" 1.0 amd64 "$DAMAGED_SUITE"
  build_package "$PRIVATE_PACKAGE" 1.0 i386 "$RELEASE"
  build_package "$PRIVATE_PACKAGE" 1.1 i386 "$RELEASE-updates" \
    "Depends: fixture-dep (= 1.1)"
  build_package fixture-dep 1.1 i386 "$RELEASE-updates"
  build_package "$PRIVATE_PACKAGE" 2.0 i386 "$RELEASE-backports" \
    "Depends: fixture-dep (= 2.0)"
  build_package fixture-dep 2.0 i386 "$RELEASE-backports"
  build_package "$PRIVATE_PACKAGE" 3.0 i386 other
  (
    cd "$WORK/repository"
    write_suite "$SOUND_SUITE"
    write_suite "$DAMAGED_SUITE"
    write_suite "$RELEASE"
    write_suite "$RELEASE-updates"
    write_suite "$RELEASE-backports" \
      -o APT::FTPArchive::Release::NotAutomatic=yes \
      -o APT::FTPArchive::Release::ButAutomaticUpgrades=yes
    write_suite other
  )
  damage "$SOUND_SUITE/main/i18n/Translation-en"
  damage "$SOUND_SUITE/main/binary-i386/Packages"
  damage "$DAMAGED_SUITE/main/binary-amd64/Packages"
}

# Serves the repository on a free port of 127.0.0.1, in the background.
serve_repository() {
  python3 -u -m http.server --bind 127.0.0.1 --directory "$WORK/repository" 0 \
    >"$WORK/server.log" 2>&1 &
  SERVER_PID=$!
}

# Prints the port the server listens on, once it does.
server_port() {
  for _ in $(seq 50); do
    if grep -q "port [0-9]" "$WORK/server.log"; then
      sed -n 's/.* port \([0-9]*\) .*/\1/p' "$WORK/server.log" | head -n 1
      return 0
    fi
    sleep 0.1
  done
  echo "the repository's server did not start: $(cat "$WORK/server.log")" >&2
  return 1
}

# Writes the apt set-up of a machine, <name>, whose sources are the given
# suites of the repository; further lines of its configuration follow on
# standard input. It installs for amd64 and keeps the languages of apt's
# default, which fetches translations.
write_apt_config() {
  local name=$1 folder="$WORK/$1" suite
  shift
  mkdir -p "$folder/parts" "$folder/sources" "$folder/state" "$folder/cache"
  touch "$folder/status"
  for suite in "$@"; do
    echo "deb [trusted=yes] $REPOSITORY $suite main"
  done >"$folder/sources.list"
  {
    cat <<CONF
Dir::Etc::Parts "$folder/parts";
Dir::Etc::PreferencesParts "$folder/parts";
Dir::Etc::SourceList "$folder/sources.list";
Dir::Etc::SourceParts "$folder/sources";
Dir::State "$folder/state";
Dir::State::status "$folder/status";
Dir::Cache "$folder/cache";
Dir::Log "$folder";
APT::Architecture "amd64";
APT::Architectures { "amd64"; "i386"; };
APT::Sandbox::User "root";
Acquire::http::Proxy "DIRECT";
Debug::pkgDPkgPm "true";
CONF
    cat
  } >"$folder/apt.conf"
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

# Standard input, set off as quoted output.
quoted() {
  sed 's/^/     | /'
}

# Whether <text> holds the line <line>; shows the text where it does not.
has_line() {
  grep -qxF -- "$2" <<<"$1" && return 0
  echo "     no line: $2"
  quoted <<<"$1"
  return 1
}

# Whether <text> has no line that matches <pattern>; shows those it has.
lacks() {
  local found
  found=$(grep -e "$2" <<<"$1") || return 0
  quoted <<<"$found"
  echo "     lines that match $2, above"
  return 1
}

# What apt wrote to the log during this check.
apt_log_now() {
  tail -c +$((LOG_START + 1)) "$APT_LOG"
}

# The install, run as a user who is not root: as_root takes sudo, which
# runs the command with an environment reset as sudo's env_reset resets it.
# apt-get there refuses to run without the check's APT_CONFIG, which would
# leave it the machine's own apt set-up.
id() { if [ "$*" = -u ]; then echo 1000; else command id "$@"; fi; }
sudo() { env -i PATH="$WORK/as-root:$PATH" "$@"; }
write_apt_get_guard() {
  mkdir -p "$WORK/as-root"
  write_script "$WORK/as-root/apt-get" <<SCRIPT
#!/bin/sh
case \${APT_CONFIG:-} in
"$WORK"/*) exec /usr/bin/apt-get "\$@" ;;
esac
echo "apt-get as root without the check's APT_CONFIG" >&2
exit 100
SCRIPT
}

# One install, in this shell, with its output in INSTALL_OUTPUT and its
# status in INSTALL_STATUS.
install_here() {
  INSTALL_STATUS=0
  install_missing_packages "$@" >"$WORK/install.out" 2>&1 || INSTALL_STATUS=$?
  INSTALL_OUTPUT=$(cat "$WORK/install.out")
}

check_system_installs() {
  local downloads="$WORK/machine/cache/archives" index size_reason
  write_apt_config machine "$SOUND_SUITE" "$DAMAGED_SUITE" </dev/null
  write_apt_get_guard
  export APT_CONFIG="$WORK/machine/apt.conf"
  index="$REPOSITORY/dists/$DAMAGED_SUITE/main/binary-amd64/Packages"
  size_reason="File has unexpected size ($(stat -c %s \
    "$WORK/repository/dists/$DAMAGED_SUITE/main/binary-amd64/Packages") != $(
    awk '/^SHA256:/ { sha = 1 } sha && $3 == "main/binary-amd64/Packages" { print $2; exit }' \
      "$WORK/repository/dists/$DAMAGED_SUITE/Release")). Mirror sync in progress?"
  LOG_START=$(stat -c %s "$APT_LOG")

  install_here "$SOUND_PACKAGE"
  check "a package of the sound suite installs" [ "$INSTALL_STATUS" -eq 0 ]
  check "one line names the damaged index that was fetched, and apt's reason" \
    has_line "$INSTALL_OUTPUT" \
    "apt could not refresh $index ($size_reason); going on with the package lists it has, which hold every package needed"
  check "no translation and no i386 index was fetched" \
    lacks "$(apt_log_now)" 'i18n\|Translation\|binary-i386\| i386 '
  check "apt fetched the package to install it" \
    [ -f "$downloads/${SOUND_PACKAGE}_1.0_amd64.deb" ]

  install_here "$SOUND_PACKAGE" "$BLOCKED_PACKAGE"
  check "a package that only the damaged index lists stops the run" \
    [ "$INSTALL_STATUS" -eq 1 ]
  check "one message names the index, apt's reason, the package and what to do" \
    has_line "$INSTALL_OUTPUT" \
    "apt could not refresh $index ($size_reason), and the package lists it has do not hold what it takes to install $BLOCKED_PACKAGE: try again later, or use another mirror in apt's sources"
  check "it says nothing was installed, and where apt's log is" \
    has_line "$INSTALL_OUTPUT" \
    "Nothing was installed; apt's whole output is in $APT_LOG"
  check "both installs shared one refresh, tried $APT_UPDATE_TRIES times" \
    [ "$(apt_log_now | grep -c '^== apt_as_root .*update (try ')" -eq \
      "$APT_UPDATE_TRIES" ]
  check "apt was asked to install nothing more" \
    [ "$(apt_log_now | grep -c '^== apt-get install -y')" -eq 1 ]
  check "nothing of the blocked package was fetched" \
    [ ! -e "$downloads/${BLOCKED_PACKAGE}_1.0_amd64.deb" ]
  unset APT_CONFIG
}

# Whether the private root <staging>/root holds exactly the given packages'
# files, "<name>-<version>" each.
root_holds() {
  local staging=$1 found
  shift
  found=$(find "$staging/root/usr/share/fixture" -mindepth 1 -printf '%f\n' \
    2>/dev/null | sort | paste -sd' ')
  [ "$found" = "$*" ] && return 0
  echo "     the private root holds: ${found:-nothing}; expected: $*"
  return 1
}

check_private_roots() {
  local staging status output
  # The repository is not signed; the private apt names Debian's keyring.
  write_apt_config host "$RELEASE" "$RELEASE-updates" "$RELEASE-backports" \
    other <<CONF
Acquire::AllowInsecureRepositories "true";
APT::Get::AllowUnauthenticated "true";
CONF
  export APT_CONFIG="$WORK/host/apt.conf"
  # The private apt reads the host's suites from its lists.
  apt-get -q update >"$WORK/host/update.log" 2>&1 ||
    echo "     the host's lists: $(tail -n 1 "$WORK/host/update.log")"
  for staging in 1.1:fixture-dep-1.1 2.0:fixture-dep-2.0; do
    status=0
    (unpack_private_root "$WORK/private-${staging%%:*}" i386 \
      "$PRIVATE_PACKAGE=${staging%%:*}") >"$WORK/private.out" 2>&1 || status=$?
    check "$PRIVATE_PACKAGE=${staging%%:*} is fetched from the suite that holds it" \
      [ "$status" -eq 0 ]
    check "with its dependency of that suite" root_holds \
      "$WORK/private-${staging%%:*}" "${staging#*:} $PRIVATE_PACKAGE-${staging%%:*}"
  done
  status=0
  output=$(unpack_private_root "$WORK/private-3.0" i386 \
    "$PRIVATE_PACKAGE=3.0" 2>&1) || status=$?
  check "a version that no suite of the release holds is refused" \
    [ "$status" -eq 1 ]
  check "in one line" has_line "$output" \
    "No suite of Debian $RELEASE that apt's sources name holds $PRIVATE_PACKAGE=3.0 for i386"
  unset APT_CONFIG
}

rm -rf "$WORK"
mkdir -p "$WORK" "$(dirname "$APT_LOG")"
touch "$APT_LOG"
make_repository
serve_repository
trap 'kill "$SERVER_PID"' EXIT
REPOSITORY="http://127.0.0.1:$(server_port)"
readonly REPOSITORY
check_system_installs
check_private_roots
echo "apt: $passed passed, $failed failed"
[ "$failed" -eq 0 ] || exit 1
rm -rf "$WORK"
