# SPDX-FileCopyrightText: 2026 The install authors
# SPDX-License-Identifier: MIT
# shellcheck shell=bash
# The locales that the suite runs programs under. Needs host.sh.

# Wine takes its code pages and its message texts' language from LANG:
# Japanese (932), Russian (1251) and French (1252).
readonly SUITE_LOCALES=(ja_JP.UTF-8 ru_RU.UTF-8 fr_FR.UTF-8)

# Enables in /etc/locale.gen, and generates, those of the suite's locales
# that are missing.
generate_suite_locales() {
  local name available missing=()
  available=$(locale -a 2>/dev/null) || true
  for name in "${SUITE_LOCALES[@]}"; do
    if ! grep -qix "${name%.UTF-8}\.utf-\?8" <<<"$available"; then
      missing+=("$name")
      as_root sed -i "s/^# *\($name UTF-8\)/\1/" /etc/locale.gen
      grep -q "^$name UTF-8" /etc/locale.gen ||
        echo "$name UTF-8" | as_root tee -a /etc/locale.gen >/dev/null
    fi
  done
  if [ "${#missing[@]}" -gt 0 ]; then
    echo "Generating the locales ${missing[*]}"
    as_root locale-gen >/dev/null
  fi
}
