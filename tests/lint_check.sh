#!/usr/bin/env bash
# SPDX-FileCopyrightText: 2026 The install authors
# SPDX-License-Identifier: MIT
# Holds every shell and Python file of the project to Debian's shellcheck
# and pyflakes3: any finding fails. A shell file is one named *.sh or one
# whose first line starts a shell; shellcheck follows what each sources,
# named from the project's root. In a program (a file with a #! line),
# an uppercase variable that nothing it sources assigns is a finding too:
# a file sourced for its functions names what it needs of its caller.
set -euo pipefail
cd "$(dirname "$0")/.."

readonly SHELL_LINE='^#!.*/(env )?(ba)?sh\b'

# The shell files of the tree: programs if <kind> is programs, otherwise
# the files that are sourced.
shell_files() {
  local kind=$1 file first
  git ls-files -z | while IFS= read -r -d '' file; do
    first=$(head -n 1 -- "$file")
    case ${file##*/} in
    *.sh) ;;
    *.*) continue ;;
    *) grep -qE "$SHELL_LINE" <<<"$first" || continue ;;
    esac
    if grep -qE "$SHELL_LINE" <<<"$first"; then
      if [ "$kind" = programs ]; then echo "$file"; fi
    elif [ "$kind" != programs ]; then
      echo "$file"
    fi
  done
}

mapfile -t programs < <(shell_files programs)
mapfile -t sourced < <(shell_files sourced)
mapfile -t python < <(git ls-files '*.py')
status=0
shellcheck --external-sources --enable=check-unassigned-uppercase \
  "${programs[@]}" || status=1
shellcheck --external-sources "${sourced[@]}" || status=1
pyflakes3 "${python[@]}" || status=1
if [ "$status" -eq 0 ]; then
  echo "shellcheck: no findings in ${#programs[@]} shell programs and" \
    "${#sourced[@]} sourced shell files"
  echo "pyflakes3: no findings in ${#python[@]} Python files"
fi
exit "$status"
