#!/usr/bin/env python3
"""Writes the PE checksum into a Windows program's header, in place. GNU ld
computes it, but lld leaves it zero; signing tools compute it too, so a
program must carry it already for a signed copy, with its signature removed,
to be the same bytes as the program.

usage: pe-checksum.py <program>
"""

import struct
import sys
from pathlib import Path

PE_OFFSET_FIELD = 0x3C
CHECKSUM_IN_OPTIONAL_HEADER = 64
OPTIONAL_HEADER_IN_PE = 24


def fold(total: int) -> int:
    return (total & 0xFFFF) + (total >> 16)


def pe_checksum(data: bytes, checksum_offset: int) -> int:
    """The sum of the file's 16-bit words, carries folded back in, the
    checksum field itself left out, plus the file's length."""
    padded = data + b"\0" * (len(data) % 2)
    total = 0
    for offset in range(0, len(padded), 2):
        if checksum_offset <= offset < checksum_offset + 4:
            continue
        total = fold(total + (padded[offset] | padded[offset + 1] << 8))
    return (fold(total) + len(data)) & 0xFFFFFFFF


def main() -> None:
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    program = Path(sys.argv[1])
    data = bytearray(program.read_bytes())
    pe_header = struct.unpack_from("<I", data, PE_OFFSET_FIELD)[0]
    field = pe_header + OPTIONAL_HEADER_IN_PE + CHECKSUM_IN_OPTIONAL_HEADER
    struct.pack_into("<I", data, field, pe_checksum(bytes(data), field))
    program.write_bytes(data)


if __name__ == "__main__":
    main()
