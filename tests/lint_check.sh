#!/usr/bin/env bash
# SPDX-FileCopyrightText: 2026 The install authors
# SPDX-License-Identifier: MIT
# Holds every shell and Python file of the project to Debian's shellcheck
# and pyflakes3: any finding fails. A shell file is one named *.sh or one
# whose first line starts a shell; shellcheck follows what each sources,
# named from the project's root.
set -euo pipefail
cd "$(dirname "$0")/.."

shell_files() {
  local file
  git ls-files -z | while IFS= read -r -d '' file; do
    case ${file##*/} in
    *.sh) echo "$file" ;;
    *.*) ;;
    *) if head -n 1 -- "$file" | grep -qE '^#!.*/(env )?(ba)?sh\b'; then
      echo "$file"
    fi ;;
    esac
  done
}

mapfile -t shell < <(shell_files)
mapfile -t python < <(git ls-files '*.py')
status=0
shellcheck --external-sources "${shell[@]}" || status=1
pyflakes3 "${python[@]}" || status=1
if [ "$status" -eq 0 ]; then
  echo "shellcheck: no findings in ${#shell[@]} shell files"
  echo "pyflakes3: no findings in ${#python[@]} Python files"
fi
exit "$status"
