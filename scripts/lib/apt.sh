# SPDX-FileCopyrightText: 2026 The install authors
# SPDX-License-Identifier: MIT
# shellcheck shell=bash
# Installs Debian packages through the system's apt, only those missing,
# refreshing its lists once a run; an index that the archive serves damaged
# stops only a run that needs what it lists. Needs host.sh.

# shellcheck source=cmake/apt-refresh.sh
source "$CMAKE_HELPERS/apt-refresh.sh"

# Where apt's own output goes; a check of the scripts' apt gives its own.
APT_LOG=${APT_LOG:-$PROJECT_ROOT/build/apt.log}
# What an install through apt takes here, roughly: a fixed part, and a part
# per package (in tenths of a second), downloads included.
readonly APT_SECONDS_FIXED=10
readonly APT_TENTHS_PER_PACKAGE=3

# Installs those of the given packages that are not installed yet. apt's
# own output goes to APT_LOG; it is shown in part if apt fails.
install_missing_packages() {
  local missing=() package plan count
  for package in "$@"; do
    if [ "$(dpkg-query -W -f='${Status}' "$package" 2>/dev/null)" != \
      "install ok installed" ]; then
      missing+=("$package")
    fi
  done
  [ "${#missing[@]}" -gt 0 ] || return 0
  mkdir -p "$(dirname "$APT_LOG")"
  refresh_system_lists
  if [ -z "$APT_STALE_INDEXES" ]; then
    require_available "${missing[@]}" || return 1
  else
    require_installable_from_old_lists "${missing[@]}" || return 1
  fi
  # How many packages apt will install, dependencies included.
  plan=$(apt-get install -s --no-install-recommends "${missing[@]}" 2>/dev/null) || true
  count=$(grep -c '^Inst ' <<<"$plan") || true
  echo "Installing ${missing[*]} with apt, $count packages in all with" \
    "their dependencies: about $((APT_SECONDS_FIXED + count * APT_TENTHS_PER_PACKAGE / 10)) s" \
    "(apt's output: $APT_LOG)"
  apt_logged install -y --no-install-recommends "${missing[@]}"
}

# Refreshes the system's package lists, once per run of a script. What could
# not be refreshed is kept in APT_STALE_INDEXES, for every later install.
# Only dpkg's architectures are refreshed: the native one, which the scripts
# install for, and any foreign one the machine has, whose Multi-Arch: same
# packages must move with their native twins when an install upgrades them.
refresh_system_lists() {
  [ -z "${APT_LISTS_REFRESHED:-}" ] || return 0
  APT_STALE_INDEXES=$(refresh_apt_lists "$APT_LOG" apt_as_root \
    -o "APT::Architectures=$(dpkg_architectures)") || true
  APT_LISTS_REFRESHED=1
}

# dpkg's architectures, native first, separated by commas.
dpkg_architectures() {
  { dpkg --print-architecture && dpkg --print-foreign-architectures; } |
    paste -sd,
}

# Runs apt-get as root, without questions. sudo's env_reset drops the
# caller's environment, so APT_CONFIG is handed on where it is set: an apt
# set-up of the caller's own is the one used.
apt_as_root() {
  as_root env DEBIAN_FRONTEND=noninteractive \
    ${APT_CONFIG:+"APT_CONFIG=$APT_CONFIG"} apt-get -q "$@"
}

# After a failed refresh: goes on, saying so, where the lists apt has give
# every package; otherwise names those they block and stops.
require_installable_from_old_lists() {
  local package blocked=()
  echo "== apt-get install -s --no-install-recommends $*" >>"$APT_LOG"
  if apt-get install -s --no-install-recommends "$@" >>"$APT_LOG" 2>&1; then
    say_going_on_with_old_lists "$APT_STALE_INDEXES" "every package needed"
    return 0
  fi
  for package in "$@"; do
    if ! apt-get install -s --no-install-recommends "$package" \
      >/dev/null 2>&1; then
      blocked+=("$package")
    fi
  done
  tail -n 20 "$APT_LOG" >&2
  say_blocked_by_stale_lists "$APT_STALE_INDEXES" \
    "what it takes to install ${blocked[*]:-$*}"
  echo "Nothing was installed; apt's whole output is in $APT_LOG" >&2
  return 1
}

# Fails, naming them in one line, when this release's archive lacks any of
# the given packages: a later release may have dropped one. Only lists that
# were just refreshed can tell.
require_available() {
  local package lacking=()
  for package in "$@"; do
    if ! apt-cache show --no-all-versions "$package" >/dev/null 2>&1; then
      lacking+=("$package")
    fi
  done
  [ "${#lacking[@]}" -gt 0 ] || return 0
  echo "Debian $(debian_codename) has no package ${lacking[*]}, which the" \
    "build needs" >&2
  return 1
}

# Runs apt-get as root with its output appended to APT_LOG; on failure,
# shows the log's last lines and where it is.
apt_logged() {
  echo "== apt-get $*" >>"$APT_LOG"
  if ! apt_as_root "$@" >>"$APT_LOG" 2>&1; then
    tail -n 20 "$APT_LOG" >&2
    echo "apt-get $1 failed; its whole output is in $APT_LOG" >&2
    return 1
  fi
}

# After a failed refresh, where the lists apt has hold what a run needs.
#   usage: say_going_on_with_old_lists <failures> <what the run needs>
say_going_on_with_old_lists() {
  echo "apt could not refresh $(apt_failures_in_a_line "$1"); going on with" \
    "the package lists it has, which hold $2" >&2
}
