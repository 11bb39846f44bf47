# SPDX-FileCopyrightText: 2026 The install authors
# SPDX-License-Identifier: MIT
# shellcheck shell=bash
# Ending a Wine prefix: every process that runs in or serves it, and the
# folder of its server's socket. Needs nothing else.

# The processes that run in or serve a Wine prefix, Wine's server and
# services included, one PID a line: every one has the prefix in its
# environment. The search's own commands go without it, whatever the
# caller exports.
wine_prefix_processes() {
  (
    unset WINEPREFIX
    grep -lzxF "WINEPREFIX=$1" /proc/[0-9]*/environ 2>/dev/null |
      cut -d/ -f3 || true
  )
}

# The folder that Debian's Wine made for a prefix's server socket in the
# temporary directory, and named in the prefix; nothing if it named none.
wine_server_folder() {
  local name
  [ -f "$1/wineserver" ] || return 0
  name=$(cat "$1/wineserver")
  if [[ $name =~ ^wine-[A-Za-z0-9]{6}$ ]]; then
    echo "${TMPDIR:-/tmp}/$name"
  fi
}

# Ends every process of a Wine prefix, through its server and then by
# force, and removes its server's folder.
end_wine_prefix() {
  local prefix=$1 server=$2 left folder tries=0
  if [ -d "$prefix" ]; then
    WINEPREFIX=$prefix "$server" -k >/dev/null 2>&1 || true
  fi
  left=$(wine_prefix_processes "$prefix")
  while [ -n "$left" ] && [ "$tries" -lt 100 ]; do
    # shellcheck disable=SC2086 # one PID a line, an argument each
    kill -KILL $left 2>/dev/null || true
    sleep 0.1
    tries=$((tries + 1))
    left=$(wine_prefix_processes "$prefix")
  done
  folder=$(wine_server_folder "$prefix")
  [ -z "$folder" ] || rm -rf -- "$folder"
  if [ -n "$left" ]; then
    echo "processes of $prefix still run: ${left//$'\n'/ }" >&2
    return 1
  fi
}

# Fails, saying what is left, where anything that the suite of build folder
# <folder> started outlives it, passed or failed: a process of its Wine
# prefix, or the folder of the prefix's server socket.
require_wine_ended() {
  local prefix left folder
  prefix=$(cd "$1" && pwd -P)/wine-prefix
  left=$(wine_prefix_processes "$prefix")
  folder=$(wine_server_folder "$prefix")
  if [ -n "$left" ] || { [ -n "$folder" ] && [ -e "$folder" ]; }; then
    echo "FAIL: the suite of $1 left behind processes: ${left:-none}" \
      "and the folder ${folder:-(none named)}"
    return 1
  fi
  echo "The suite of $1 left no process of its Wine prefix running, and" \
    "removed ${folder:-the folder of its server}"
}
