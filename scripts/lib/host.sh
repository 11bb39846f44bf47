# SPDX-FileCopyrightText: 2026 The install authors
# SPDX-License-Identifier: MIT
# shellcheck shell=bash
# Sourced first by every script: where the project lies, what machine runs
# it, and how a command runs as root.

PROJECT_ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
readonly PROJECT_ROOT
# The shell helpers that CMake runs too (the arm64 runtime's recipe): the
# cache folder, the release and its suites, apt's refresh, the private apt.
readonly CMAKE_HELPERS="$PROJECT_ROOT/cmake"
# shellcheck source=cmake/debian-release.sh
source "$CMAKE_HELPERS/debian-release.sh"

as_root() {
  if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi
}

# Stops, saying what the scripts need in one line, on a host other than
# x86-64 Debian: they build with Debian's own amd64 packages.
require_supported_host() {
  local machine architecture
  machine=$(uname -m)
  architecture=$(dpkg --print-architecture 2>/dev/null) || architecture=none
  if [ "$machine" = x86_64 ] && [ "$architecture" = amd64 ] &&
    debian_codename >/dev/null 2>&1; then
    return 0
  fi
  echo "These scripts need an x86-64 Debian machine (amd64) with apt and" \
    "Debian's archive; this one is $(host_description) on $machine" >&2
  exit 1
}

host_description() {
  local name
  name=$(os_release_name /etc/os-release 2>/dev/null) || true
  echo "${name:-a system without /etc/os-release}"
}

# The name that an os-release file gives its system (PRETTY_NAME).
os_release_name() {
  sed -n 's/^PRETTY_NAME="\{0,1\}\([^"]*\)"\{0,1\}$/\1/p' "$1"
}
