# SPDX-FileCopyrightText: 2026 The install authors
# SPDX-License-Identifier: MIT
# shellcheck shell=sh
# Sourced by private-apt.sh and scripts/lib/host.sh: which Debian release this
# system runs, and where its apt takes that release from. Nothing else names
# a release or an archive.

# Prints the codename of this system's Debian release (from /etc/os-release).
debian_codename() {
  (
    . /etc/os-release 2>/dev/null || true
    if [ "${ID:-}" != debian ] || [ -z "${VERSION_CODENAME:-}" ]; then
      echo "/etc/os-release names no Debian release with a codename:" \
        "the build needs Debian's own packages" >&2
      exit 1
    fi
    echo "$VERSION_CODENAME"
  )
}

# Prints the suites of the given release that this system's apt sources
# take the main component from, in either of apt's formats (one-line
# sources.list or deb822 .sources), so that a mirror the user chose is used:
# a line each, "<archive address> <suite as the sources name it> <kind>",
# where the kind is what follows the release in the suite's codename
# (-updates, -security, -backports), or "-" for the release's own suite. A
# suite named by its alias (stable, say) counts once apt's lists are
# updated, which tells its codename.
debian_suites() {
  # shellcheck disable=SC2016 # apt's own placeholders, not the shell's
  apt-get indextargets \
    --format '$(TARGET_OF) $(COMPONENT) $(CODENAME) $(RELEASE) $(REPO_URI)' \
    'Identifier: Packages' 2>/dev/null |
    awk -v release="$1" '$1 == "deb" && $2 == "main" {
      codename = ($3 ~ /^\$\(/) ? $4 : $3
      if (codename == release) kind = "-"
      else if (index(codename, release "-") == 1)
        kind = substr(codename, length(release) + 1)
      else next
      if (!seen[$5 " " $4]++) print $5, $4, kind
    }'
}
