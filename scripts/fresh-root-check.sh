#!/usr/bin/env bash
# SPDX-FileCopyrightText: 2026 The install authors
# SPDX-License-Identifier: MIT
# Runs the README's two commands, scripts/demo.sh and then scripts/test.sh,
# as root in a fresh clone of this checkout's HEAD, inside a fresh minimal
# root of a Debian release's suite (stable unless given: Debian's current
# release; oldstable, say, for the one before). The root is made by
# mmdebstrap from the archives this system's apt uses, with the suite's
# release, its updates and its security suite in its apt sources, named by
# the release's codename, and git and ca-certificates only, as a newcomer's
# machine would be.
#   usage: fresh-root-check.sh [suite]
# The suite is a name alone (letters, digits, dots and hyphens), as the
# root's folder is named after it. Everything runs in a mount namespace of
# its own: what the script mounts there is unmounted when it ends, however
# it ends, and the root is removed only when nothing is mounted inside it.
set -Eeuo pipefail
cd "$(dirname "$0")/.."

if [ "$#" -gt 1 ] || { [ "$#" -eq 1 ] && ! [[ $1 =~ ^[A-Za-z0-9][A-Za-z0-9.-]*$ ]]; }; then
  echo "usage: fresh-root-check.sh [suite], where the suite is a Debian" \
    "suite's name (letters, digits, dots and hyphens), stable by default" >&2
  exit 2
fi
if [ "$(id -u)" -ne 0 ]; then
  echo "fresh-root-check.sh makes a root and mounts inside it: run it as root" >&2
  exit 2
fi
source scripts/lib/host.sh
source scripts/lib/apt.sh
source scripts/lib/wine-arm64.sh
source scripts/lib/binfmt.sh
require_supported_host

readonly SUITE=${1:-stable}
readonly WORK=$PWD/build/fresh-root
readonly ROOT=$WORK/$SUITE
readonly MOUNTS_LEFT=$WORK/$SUITE.mounts-left
readonly CLONE=/root/install # the project's clone, inside the root
readonly BASE_PACKAGES=git,ca-certificates
readonly BUILDER_PACKAGES=(mmdebstrap)
# Certificate authorities that the host's network adds, and so a machine on
# it trusts (a proxy that inspects TLS, say): the root trusts them too.
readonly LOCAL_AUTHORITIES=/usr/local/share/ca-certificates

stage_times=()
current_stage="" # and when it started: stage_start
# Runs one stage, a command, and says how long it took.
stage() {
  current_stage=$1
  stage_start=$SECONDS
  shift
  echo "== $current_stage"
  "$@"
  stage_times+=("$current_stage: $((SECONDS - stage_start)) s")
  echo "== $current_stage took $((SECONDS - stage_start)) s"
  current_stage=""
}

# The host's own apt proxy settings, for the root's apt too: a line each.
# Like its name servers and local certificate authorities, they belong to
# the network the root shares.
proxy_options() {
  local setting value
  for setting in Acquire::http::Proxy Acquire::https::Proxy; do
    value=$(apt-config shell value "$setting" | sed -n "s/^value='\(.*\)'$/\1/p")
    [ -z "$value" ] || echo "--aptopt=$setting \"$value\""
  done
}

# The codename of the suite, as the archive's Release file for it gives it:
# a stock install's apt sources name the release by it, and the archive may
# let an alias's updates or security suite go stale (oldstable-security's
# Release file expired while the codename's was current).
#   usage: suite_codename <archive>
suite_codename() {
  local release="$WORK/$SUITE.Release"
  # As root into the work folder, which apt's own user cannot write to.
  /usr/lib/apt/apt-helper -o APT::Sandbox::User=root download-file \
    "${1%/}/dists/$SUITE/Release" "$release" >/dev/null || return 1
  sed -n 's/^Codename: //p' "$release"
  rm "$release"
}

# The root's apt sources, a line each: the release <codename> with its
# updates and security suites, as a stock install names them, from the
# archives that this system's apt takes its own release's from.
root_sources() {
  debian_suites "$(debian_codename)" | awk -v release="$1" '
    $3 == "-" { print "deb " $1 " " release " main" }
    $3 == "-updates" || $3 == "-security" { print "deb " $1 " " release $3 " main" }'
}

# The address of the archive of the given release's own suite.
debian_archive() {
  debian_suites "$1" | awk '$3 == "-" { print $1; exit }'
}

make_root() {
  local archive codename sources options
  archive=$(debian_archive "$(debian_codename)")
  if [ -z "$archive" ]; then
    echo "The system's apt sources name no Debian archive to make the root from" >&2
    return 1
  fi
  codename=$(suite_codename "$archive") || true
  if [ -z "$codename" ]; then
    echo "$archive gives no codename for the suite $SUITE" >&2
    return 1
  fi
  mapfile -t sources < <(root_sources "$codename")
  mapfile -t options < <(proxy_options)
  mmdebstrap --quiet --variant=minbase --include="$BASE_PACKAGES" \
    "${options[@]}" "$codename" "$ROOT" "${sources[@]}"
  cp -L /etc/resolv.conf "$ROOT/etc/resolv.conf"
  if compgen -G "$LOCAL_AUTHORITIES/*.crt" >/dev/null; then
    cp "$LOCAL_AUTHORITIES"/*.crt "$ROOT$LOCAL_AUTHORITIES/"
    chroot "$ROOT" update-ca-certificates >/dev/null
  fi
  git clone --quiet "$PWD" "$ROOT$CLONE"
  echo "$(os_release_name "$ROOT/etc/os-release") in $ROOT," \
    "with a clone of $(git rev-parse --short HEAD), and the apt sources:"
  printf '  %s\n' "${sources[@]}"
}

# Runs a command in the root as a newcomer's root shell would, in a mount
# namespace that holds the root's /proc, /sys and /dev while it runs. The
# suite's aarch64 registration is the kernel's, not the namespace's, so it
# is taken back first. Once they are unmounted, whatever is still mounted
# inside the root, which only the namespace sees, is written to MOUNTS_LEFT
# and fails the command; remove_root then leaves the root in place.
in_root() {
  # shellcheck disable=SC2016 # the inner shell expands them
  unshare --mount --propagation private -- bash -c '
    set -e
    root=$1 registration=$1$2 mounts_left=$3
    shift 3
    leave() {
      local left
      [ ! -e "$registration" ] || echo -1 >"$registration"
      umount --recursive --lazy "$root/proc" "$root/sys" "$root/dev"
      left=$(findmnt --list --noheadings --output TARGET |
        awk -v root="$root" "index(\$0, root \"/\") == 1")
      if [ -n "$left" ]; then
        printf "%s\n" "$left" >"$mounts_left"
        echo "Still mounted inside $root when its command ended:" $left >&2
        exit 1
      fi
    }
    trap leave EXIT
    mount -t proc proc "$root/proc"
    mount -t sysfs sysfs "$root/sys"
    mount --rbind /dev "$root/dev"
    chroot "$root" /usr/bin/env -i HOME=/root TERM="${TERM:-dumb}" \
      PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin "$@"
  ' in-root "$ROOT" "$BINFMT_MISC/$AARCH64_BINFMT" "$MOUNTS_LEFT" "$@"
}

# Ends whatever still runs in the root (a Wine server, say), and removes
# the root, unless something was left mounted inside it.
remove_root() {
  local link
  for link in /proc/[0-9]*/root; do
    if [ "$(readlink "$link" 2>/dev/null)" = "$ROOT" ]; then
      kill -KILL "$(basename "$(dirname "$link")")" 2>/dev/null || true
    fi
  done
  if [ -s "$MOUNTS_LEFT" ]; then
    echo "$ROOT is left in place: $(paste -sd' ' "$MOUNTS_LEFT") stayed" \
      "mounted inside it (see $MOUNTS_LEFT; remove both once nothing is" \
      "mounted there)" >&2
    return 1
  fi
  rm -rf --one-file-system "$ROOT"
}

# The guard against removing a root that still has something mounted: a
# command in the root that mounts a file system of its own fails, naming
# it, and the mount ends with the namespace.
check_mount_guard() {
  local status=0 output
  output=$(in_root mount -t tmpfs guard-check /mnt 2>&1) || status=$?
  if [ "$status" -eq 0 ] || [ "$(cat "$MOUNTS_LEFT" 2>/dev/null)" != "$ROOT/mnt" ] ||
    ! grep -qxF "Still mounted inside $ROOT when its command ended: $ROOT/mnt" \
      <<<"$output"; then
    echo "A tmpfs left mounted in the root went unnoticed (status $status):" \
      "$output" >&2
    return 1
  fi
  rm "$MOUNTS_LEFT"
  if findmnt --list --noheadings --output TARGET | grep -qxF "$ROOT/mnt"; then
    echo "$ROOT/mnt is mounted outside the root's namespace" >&2
    return 1
  fi
  echo "A tmpfs left mounted in the root: named, and its command failed"
}

# The demo adds no architecture to the machine it runs on.
check_no_foreign_architecture() {
  local foreign
  foreign=$(chroot "$ROOT" dpkg --print-foreign-architectures)
  if [ -n "$foreign" ]; then
    echo "scripts/demo.sh added the architectures $foreign to the root's dpkg" >&2
    return 1
  fi
  echo "dpkg --print-foreign-architectures in the root: none"
}

# Nothing of Wine's outlives the demo: no process runs in the root, and its
# /tmp holds no folder of a Wine server.
check_demo_ended_wine() {
  local link left=() folders
  for link in /proc/[0-9]*/root; do
    if [ "$(readlink "$link" 2>/dev/null)" = "$ROOT" ]; then
      left+=("$(basename "$(dirname "$link")")")
    fi
  done
  folders=$(find "$ROOT/tmp" -mindepth 1 -maxdepth 1 -name 'wine-*')
  if [ "${#left[@]}" -gt 0 ] || [ -n "$folders" ]; then
    echo "scripts/demo.sh left processes in the root: ${left[*]:-none};" \
      "and in its /tmp: ${folders:-nothing}" >&2
    return 1
  fi
  echo "After the demo: no process in the root, no Wine server folder in its /tmp"
}

clean_up() {
  local status=$?
  trap - EXIT INT TERM
  if [ -n "$current_stage" ]; then
    stage_times+=("$current_stage: failed after $((SECONDS - stage_start)) s")
  fi
  remove_root || status=1
  if [ "${#stage_times[@]}" -gt 0 ]; then
    local IFS=";"
    echo "Stage times: ${stage_times[*]}" | sed 's/;/; /g'
  fi
  exit "$status"
}

trap clean_up EXIT
trap 'exit 130' INT
trap 'exit 143' TERM
start=$SECONDS
stage "Installing what makes a root" install_missing_packages "${BUILDER_PACKAGES[@]}"
remove_root
mkdir -p "$WORK"
stage "Making a minimal Debian $SUITE root" make_root
check_mount_guard
stage "scripts/demo.sh in the root" in_root bash -c "cd $CLONE && scripts/demo.sh"
check_no_foreign_architecture
check_demo_ended_wine
stage "scripts/test.sh in the root" in_root bash -c "cd $CLONE && scripts/test.sh"
echo "Both commands passed in a fresh Debian $SUITE root in $((SECONDS - start)) s"
