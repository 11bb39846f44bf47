# SPDX-FileCopyrightText: 2026 The install authors
# SPDX-License-Identifier: MIT
"""What the checks read from the project's documents: the programs' size
limits, in bytes, as the README states them, so that the programs are held
to the README's words rather than to numbers of the checks' own, and the
blocks of commands that a document shows and a check runs."""

import re
import sys
from pathlib import Path

SOURCE_DIR = Path(__file__).resolve().parent.parent
README = SOURCE_DIR / "README.md"
UNSIGNED_CLAIM = re.compile(r"Unsigned, each is under (\d+) KiB")
SIGNED_CLAIM = re.compile(r"and a time stamp, each is under (\d+) KiB")


def readme_limit(claim: re.Pattern) -> int:
    readme = " ".join(README.read_text().split())
    found = claim.search(readme)
    if not found:
        raise SystemExit(f"{README} gives no size limit ({claim.pattern})")
    return int(found[1]) * 1024


def unsigned_size_limit() -> int:
    return readme_limit(UNSIGNED_CLAIM)


def signed_size_limit() -> int:
    return readme_limit(SIGNED_CLAIM)


def document_block(document: str, marker: str) -> str:
    """A document's indented block after a marker line and an empty line,
    unindented."""
    lines = (SOURCE_DIR / document).read_text().splitlines()
    block = []
    for line in lines[lines.index(marker) + 2:]:
        if line and not line.startswith("    "):
            break
        block.append(line[4:])
    return "\n".join(block)


def main(arguments: list) -> int:
    if len(arguments) != 3 or arguments[0] != "block":
        print("usage: documents.py block <document> <marker line>",
              file=sys.stderr)
        return 2
    print(document_block(arguments[1], arguments[2]))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
