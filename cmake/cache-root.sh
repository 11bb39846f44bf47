# SPDX-FileCopyrightText: 2026 The install authors
# SPDX-License-Identifier: MIT
# shellcheck shell=sh
# Sourced by arm64-runtime.sh and scripts/lib/private-root.sh. Prints the folder for
# what is built or fetched once per machine, outside any build tree (the
# arm64 runtime, the arm64 Wine): INSTALLER_RUNTIME_CACHE, otherwise
# install-exe in the user's cache folder.
installer_cache_root() {
  echo "${INSTALLER_RUNTIME_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/install-exe}"
}
