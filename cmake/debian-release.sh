# SPDX-FileCopyrightText: 2026 The install authors
# SPDX-License-Identifier: MIT
# Sourced by private-apt.sh and scripts/common.sh: which Debian release this
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

# Prints the address of the archive that this system's apt sources take the
# given release's main component from, in either of apt's formats (one-line
# sources.list or deb822 .sources), so that a mirror the user chose is used.
# A source named by its suite (stable, say) counts once apt's lists are
# updated, which tells its codename.
debian_archive() {
  apt-get indextargets \
    --format '$(TARGET_OF) $(COMPONENT) $(RELEASE) $(CODENAME) $(REPO_URI)' \
    'Identifier: Packages' 2>/dev/null |
    awk -v release="$1" '$1 == "deb" && $2 == "main" &&
      ($3 == release || $4 == release) { print $5; exit }'
}
