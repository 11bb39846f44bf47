#!/usr/bin/env python3
# SPDX-FileCopyrightText: 2026 The install authors
# SPDX-License-Identifier: MIT
"""Writes the PE checksum into a Windows program's header, in place. GNU ld
computes it, but lld leaves it zero; signing tools compute it too, so a
program must carry it already for a signed copy, with its signature removed,
to be the same bytes as the program.

usage: pe-checksum.py <program>
"""

import sys
from pathlib import Path

import pefile

if __name__ == "__main__":
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    program = Path(sys.argv[1])
    pe = pefile.PE(data=program.read_bytes())
    pe.OPTIONAL_HEADER.CheckSum = pe.generate_checksum()
    program.write_bytes(pe.write())
