# SPDX-FileCopyrightText: 2026 The install authors
# SPDX-License-Identifier: MIT
# shellcheck shell=bash
# Lets the kernel start aarch64 programs, the arm64 Wine's, through the
# emulator while the suite runs. Needs host.sh and wine-arm64.sh.

readonly BINFMT_MISC=/proc/sys/fs/binfmt_misc
# The name of the binfmt_misc entry that runs aarch64 programs for the suite.
readonly AARCH64_BINFMT=install-exe-aarch64

# Lets the kernel start aarch64 programs through qemu-aarch64-static, for as
# long as the suite runs; release_aarch64_programs takes it back.
register_aarch64_programs() {
  [ -e "$BINFMT_MISC/$AARCH64_BINFMT" ] && return 0
  if [ ! -e "$BINFMT_MISC/register" ]; then
    as_root mount -t binfmt_misc binfmt_misc "$BINFMT_MISC"
  fi
  # The ELF header of an aarch64 executable, and which of its bits count.
  local magic='\x7fELF\x02\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\xb7\x00'
  local mask='\xff\xff\xff\xff\xff\xff\xff\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff'
  # F: the emulator is opened now, so it is found whatever root a process sees.
  echo ":$AARCH64_BINFMT:M::$magic:$mask:$QEMU_AARCH64:F" |
    as_root tee "$BINFMT_MISC/register" >/dev/null
}

release_aarch64_programs() {
  if [ -e "$BINFMT_MISC/$AARCH64_BINFMT" ]; then
    echo -1 | as_root tee "$BINFMT_MISC/$AARCH64_BINFMT" >/dev/null
  fi
}
