#!/usr/bin/env bash
# SPDX-FileCopyrightText: 2026 The install authors
# SPDX-License-Identifier: MIT
# Runs the README's two commands, scripts/demo.sh and then scripts/test.sh,
# as root in a fresh clone of this checkout's HEAD, inside a fresh minimal
# root of a Debian suite (stable unless given: Debian's current release).
# The root is made by mmdebstrap from the archive this system's apt uses,
# with git and ca-certificates only, as a newcomer's machine would be.
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
source scripts/common.sh
require_supported_host

readonly SUITE=${1:-stable}
readonly WORK=$PWD/build/fresh-root
readonly ROOT=$WORK/$SUITE
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

make_root() {
  local archive options
  archive=$(debian_archive "$(debian_codename)")
  if [ -z "$archive" ]; then
    echo "The system's apt sources name no Debian archive to make the root from" >&2
    return 1
  fi
  mapfile -t options < <(proxy_options)
  mmdebstrap --quiet --variant=minbase --include="$BASE_PACKAGES" \
    "${options[@]}" "$SUITE" "$ROOT" "$archive"
  cp -L /etc/resolv.conf "$ROOT/etc/resolv.conf"
  if compgen -G "$LOCAL_AUTHORITIES/*.crt" >/dev/null; then
    cp "$LOCAL_AUTHORITIES"/*.crt "$ROOT$LOCAL_AUTHORITIES/"
    chroot "$ROOT" update-ca-certificates >/dev/null
  fi
  git clone --quiet "$PWD" "$ROOT$CLONE"
  echo "$(. "$ROOT/etc/os-release" && echo "$PRETTY_NAME") in $ROOT," \
    "with a clone of $(git rev-parse --short HEAD)"
}

# Runs a command in the root as a newcomer's root shell would, in a mount
# namespace that holds the root's /proc, /sys and /dev while it runs. The
# suite's aarch64 registration is the kernel's, not the namespace's, so it
# is taken back first.
in_root() {
  unshare --mount --propagation private -- bash -c '
    set -e
    root=$1 registration=$1$2
    shift 2
    leave() {
      [ ! -e "$registration" ] || echo -1 >"$registration"
      umount --recursive --lazy "$root/proc" "$root/sys" "$root/dev"
    }
    trap leave EXIT
    mount -t proc proc "$root/proc"
    mount -t sysfs sysfs "$root/sys"
    mount --rbind /dev "$root/dev"
    chroot "$root" /usr/bin/env -i HOME=/root TERM="${TERM:-dumb}" \
      PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin "$@"
  ' in-root "$ROOT" "$BINFMT_MISC/$AARCH64_BINFMT" "$@"
}

# Ends whatever still runs in the root (a Wine server, say), and removes
# the root when nothing is mounted inside it.
remove_root() {
  local link
  for link in /proc/[0-9]*/root; do
    if [ "$(readlink "$link" 2>/dev/null)" = "$ROOT" ]; then
      kill -KILL "$(basename "$(dirname "$link")")" 2>/dev/null || true
    fi
  done
  if findmnt --list --noheadings --output TARGET |
    awk -v root="$ROOT" 'index($0, root "/") == 1 { found = 1 } END { exit !found }'; then
    echo "Something is still mounted inside $ROOT: it is left in place" >&2
    return 1
  fi
  rm -rf --one-file-system "$ROOT"
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
stage "Installing what makes a root" install_packages "${BUILDER_PACKAGES[@]}"
remove_root
mkdir -p "$WORK"
stage "Making a minimal Debian $SUITE root" make_root
stage "scripts/demo.sh in the root" in_root bash -c "cd $CLONE && scripts/demo.sh"
check_no_foreign_architecture
check_demo_ended_wine
stage "scripts/test.sh in the root" in_root bash -c "cd $CLONE && scripts/test.sh"
echo "Both commands passed in a fresh Debian $SUITE root in $((SECONDS - start)) s"
