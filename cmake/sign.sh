#!/bin/sh
# SPDX-FileCopyrightText: 2026 The install authors
# SPDX-License-Identifier: MIT
# Signs a Windows program in place with Authenticode, using osslsigncode.
#   usage: sign.sh <program> <pkcs12-file> <password-variable> [timestamp-url]
# The certificate's password is read from the environment variable named by
# <password-variable> and handed to osslsigncode through a pipe, so it never
# appears on a command line or in a build log.
set -eu

program=$1
certificate=$2
password_variable=$3
timestamp_url=${4:-}

password=$(printenv "$password_variable" || true)
signed="$program.signed"
trap 'rm -f "$signed"' EXIT

set -- sign -pkcs12 "$certificate" -readpass /dev/stdin -h sha256 \
  -n "Plug and Play driver installer" -in "$program" -out "$signed"
if [ -n "$timestamp_url" ]; then
  set -- "$@" -ts "$timestamp_url"
fi
printf '%s' "$password" | osslsigncode "$@" >/dev/null
# Overwrite in place, so that the program keeps its file mode.
cat "$signed" >"$program"
