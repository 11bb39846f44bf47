#!/bin/sh
# SPDX-FileCopyrightText: 2026 The install authors
# SPDX-License-Identifier: MIT
# Runs apt-get or apt-cache against this system's Debian release, from every
# suite of it that its own apt sources name (the release, its updates,
# security, backports), with an apt set-up of its own in <folder>: its own
# sources, lists, download cache and an empty package status, so that the
# system's apt set-up and installed packages are left as they are. apt's
# configuration (a proxy, say) still applies. <kind> is the sources lines'
# type, deb or deb-src.
#   usage: private-apt.sh <folder> <deb|deb-src> <apt-get|apt-cache> <arguments...>
set -eu

readonly KEYRING=/usr/share/keyrings/debian-archive-keyring.gpg

# shellcheck source=cmake/debian-release.sh
. "$(dirname "$0")/debian-release.sh"
folder=$1
kind=$2
tool=$3
shift 3
case $tool in
apt-get | apt-cache) ;;
*)
  echo "private-apt.sh: runs apt-get or apt-cache, not $tool" >&2
  exit 2
  ;;
esac
release=$(debian_codename)
suites=$(debian_suites "$release")
if [ -z "$suites" ]; then
  echo "The system's apt sources name no archive for Debian $release main" \
    "(after apt-get update, if they name it by its suite)" >&2
  exit 1
fi
mkdir -p "$folder/lists/partial" "$folder/archives/partial" "$folder/parts"
touch "$folder/status"
printf '%s\n' "$suites" |
  awk -v kind="$kind" -v keyring="$KEYRING" \
    '{ print kind " [signed-by=" keyring "] " $1 " " $2 " main" }' \
    >"$folder/sources.list"
exec "$tool" -q -o Dir::Etc::SourceList="$folder/sources.list" \
  -o Dir::Etc::SourceParts="$folder/parts" -o Dir::State="$folder" \
  -o Dir::State::status="$folder/status" -o Dir::Cache="$folder" \
  -o APT::Sandbox::User=root "$@"
