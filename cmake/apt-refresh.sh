# SPDX-FileCopyrightText: 2026 The install authors
# SPDX-License-Identifier: MIT
# shellcheck shell=sh
# Sourced by arm64-runtime.sh and scripts/lib/apt.sh: refreshes apt's package
# lists so that an index the archive serves damaged for a while (a mirror in
# the middle of a sync, say) stops only a run that needs what it lists.

# How often an update is tried, and the pause between tries, in seconds.
APT_UPDATE_TRIES=3
APT_UPDATE_PAUSE=5

# Runs <apt-get command...> update, with its output appended to <log>, until
# it succeeds or has been tried APT_UPDATE_TRIES times. It fetches no
# translations: nothing here reads a package's long description, and a
# suite's translation that the archive serves damaged would cost the whole
# suite's new lists (apt keeps or drops them together). After the last
# failure, prints each index that could not be refreshed with apt's reason,
# "<index> (<reason>)", a line each (or apt's errors as they stand, where
# they name no index, or the output's last line, where it has none), and
# fails.
#   usage: refresh_apt_lists <log> <apt-get command...>
refresh_apt_lists() {
  # shellcheck disable=SC3043 # dash, Debian's sh, has local
  local refresh_log="$1" refresh_try=1 refresh_output
  shift
  while :; do
    echo "== $* update (try $refresh_try of $APT_UPDATE_TRIES)" >>"$refresh_log"
    if refresh_output=$("$@" -o Acquire::Languages=none update 2>&1); then
      printf '%s\n' "$refresh_output" >>"$refresh_log"
      return 0
    fi
    printf '%s\n' "$refresh_output" >>"$refresh_log"
    [ "$refresh_try" -lt "$APT_UPDATE_TRIES" ] || break
    sleep "$APT_UPDATE_PAUSE"
    refresh_try=$((refresh_try + 1))
  done
  printf '%s\n' "$refresh_output" | awk '
    /^[EW]: Failed to fetch / {
      sub(/^[EW]: Failed to fetch /, "")
      index_address = $1
      reason = substr($0, length($1) + 1)
      sub(/^ +/, "", reason)
      sub(/ *\[IP: [^]]*\]$/, "", reason)
      print index_address " (" reason ")"
      named = 1
      next
    }
    /^E: / && !/^E: Some index files failed to download/ {
      other[++others] = substr($0, 4)
    }
    NF { last = $0 }
    END {
      if (!named && !others && last != "") other[++others] = last
      if (!named) for (i = 1; i <= others; i++) print other[i]
    }'
  return 1
}

# Joins refresh_apt_lists' lines into one.
apt_failures_in_a_line() {
  printf '%s\n' "$1" | awk '{ printf "%s%s", (NR > 1 ? "; " : ""), $0 }'
}

# After a failed refresh, where they do not: what to do.
#   usage: say_blocked_by_stale_lists <failures> <what they lack>
say_blocked_by_stale_lists() {
  echo "apt could not refresh $(apt_failures_in_a_line "$1"), and the" \
    "package lists it has do not hold $2: try again later, or use another" \
    "mirror in apt's sources" >&2
}
