#!/bin/sh
# SPDX-FileCopyrightText: 2026 The install authors
# SPDX-License-Identifier: MIT
# Runs apt-get against this system's Debian release, from the archive its own
# apt sources name, with an apt set-up of its own in <folder>: its own
# sources, lists, download cache and an empty package status, so that the
# system's apt set-up and installed packages are left as they are. apt's
# configuration (a proxy, say) still applies. <kind> is the sources line's
# type, deb or deb-src.
#   usage: private-apt.sh <folder> <deb|deb-src> <apt-get arguments...>
set -eu

readonly KEYRING=/usr/share/keyrings/debian-archive-keyring.gpg

. "$(dirname "$0")/debian-release.sh"
folder=$1
kind=$2
shift 2
release=$(debian_codename)
archive=$(debian_archive "$release")
if [ -z "$archive" ]; then
  echo "The system's apt sources name no archive for Debian $release main" \
    "(after apt-get update, if they name it by its suite)" >&2
  exit 1
fi
mkdir -p "$folder/lists/partial" "$folder/archives/partial" "$folder/parts"
touch "$folder/status"
echo "$kind [signed-by=$KEYRING] $archive $release main" >"$folder/sources.list"
exec apt-get -q -o Dir::Etc::SourceList="$folder/sources.list" \
  -o Dir::Etc::SourceParts="$folder/parts" -o Dir::State="$folder" \
  -o Dir::State::status="$folder/status" -o Dir::Cache="$folder" \
  -o APT::Sandbox::User=root "$@"
