#!/bin/sh
# SPDX-FileCopyrightText: 2026 The install authors
# SPDX-License-Identifier: MIT
# Runs apt-get against Debian 12's archive with an apt set-up of its own in
# <folder>: its own sources, lists, download cache and an empty package
# status, so that the system's apt set-up and installed packages are left as
# they are. <kind> is the sources line's type, deb or deb-src.
#   usage: private-apt.sh <folder> <deb|deb-src> <apt-get arguments...>
set -eu

readonly ARCHIVE="http://deb.debian.org/debian bookworm main"
readonly KEYRING=/usr/share/keyrings/debian-archive-keyring.gpg

folder=$1
kind=$2
shift 2
mkdir -p "$folder/lists/partial" "$folder/archives/partial" "$folder/parts"
touch "$folder/status"
echo "$kind [signed-by=$KEYRING] $ARCHIVE" >"$folder/sources.list"
exec apt-get -q -o Dir::Etc::SourceList="$folder/sources.list" \
  -o Dir::Etc::SourceParts="$folder/parts" -o Dir::State="$folder" \
  -o Dir::State::status="$folder/status" -o Dir::Cache="$folder" \
  -o APT::Sandbox::User=root "$@"
