#!/usr/bin/env python3
# SPDX-FileCopyrightText: 2026 The install authors
# SPDX-License-Identifier: MIT
"""Checks the documentation: every relative link in README.md and docs/
leads to a file, and to a heading where it names one; none of it writes out
a release number, which would go stale; and the packaged README.txt gives
the README's exit statuses with their output, and the failure codes of the
README and docs/using.md.

usage: docs_check.py <source folder>
"""

import re
import sys
from functools import lru_cache
from pathlib import Path
from typing import List, Set, Tuple

LINK = re.compile(r"\]\(([^)\s]+)\)")
# Three numbers with dots, not part of a longer run such as an address.
# A vendor file's own version, in an example, is no release of this project.
RELEASE_NUMBER = re.compile(
    r'(?<!\d)(?<!\d\.)(?<!"version": ")\d+\.\d+\.\d+(?!\.?\d)')
CODE_SPAN = re.compile(r"`([^`]+)`")
TABLE_ROW = re.compile(r"^\|(.+)\|$")
# The packaged README.txt's rows: a status or a failure code, two spaces,
# and the rest.
PACKAGED_STATUS = re.compile(r"^  ([0-9])  (.*)$")
PACKAGED_CODE = re.compile(r"^  (0x[0-9A-F]{8}|\d+(?:, (?:\d+|others))?)  ")
NO_OUTPUT = "(no output)"
# The lines that introduce README.txt's lists.
STATUS_LIST = "Exit status and output:"
CODE_LIST = "Look a failure up by the number:"


@lru_cache(maxsize=None)
def headings(document: Path) -> Set[str]:
    """The anchors of a Markdown file's headings, as GitHub makes them."""
    anchors = set()
    for line in document.read_text().splitlines():
        if line.startswith("#"):
            title = line.lstrip("#").strip().lower().replace("`", "")
            anchors.add(re.sub(r"[^\w\- ]", "", title).replace(" ", "-"))
    return anchors


def link_problems(document: Path, source_dir: Path) -> List[str]:
    problems = []
    for target in LINK.findall(document.read_text()):
        if "://" in target or target.startswith("mailto:"):
            continue
        path, _, anchor = target.partition("#")
        linked = (document.parent / path).resolve() if path else document
        where = f"{document.relative_to(source_dir)}: {target}"
        if not linked.exists():
            problems.append(f"{where}: no such file")
        elif anchor and anchor not in headings(linked):
            problems.append(f"{where}: no such heading")
    return problems


def table_rows(text: str, first_header: str) -> List[List[str]]:
    """The cells of each row of the table whose first column is headed so."""
    rows, inside = [], False
    for line in text.splitlines():
        row = TABLE_ROW.match(line)
        cells = [cell.strip() for cell in row[1].split("|")] if row else None
        if cells and cells[0] == first_header:
            inside = True
        elif inside and not cells:
            inside = False
        elif inside and not set(cells[0]) <= set("-: "):
            rows.append(cells)
    return rows


def packaged_list(packaged: str, introduction: str) -> List[str]:
    """README.txt's indented lines after the line that ends so."""
    lines = packaged.splitlines()
    start = next(i for i, line in enumerate(lines)
                 if line.endswith(introduction)) + 1
    listed = []
    for line in lines[start:]:
        if line and not line.startswith(" "):
            break
        listed.append(line)
    return listed


def output_start(cell: str) -> str:
    """What an output cell starts with, up to its first placeholder."""
    spans = CODE_SPAN.findall(cell)
    return spans[0].split("<")[0].strip() if spans else NO_OUTPUT


def status_problems(readme: str, packaged: str) -> List[str]:
    documented: List[Tuple[str, str]] = [
        (cells[0], output_start(cells[2]))
        for cells in table_rows(readme, "Status")]
    given = [match.groups() for match in map(
        PACKAGED_STATUS.match, packaged_list(packaged, STATUS_LIST)) if match]
    if [status for status, _ in documented] != [s for s, _ in given]:
        return [f"README.txt gives the statuses {[s for s, _ in given]}, the "
                f"README {[s for s, _ in documented]}"]
    return [f"README.txt gives status {status} without {start!r}"
            for (status, start), (_, text) in zip(documented, given)
            if start not in text]


def code_problems(documents: List[str], packaged: str) -> List[str]:
    documented = {cells[0] for text in documents
                  for cells in table_rows(text, "Code")}
    given = {match[1] for match in map(
        PACKAGED_CODE.match, packaged_list(packaged, CODE_LIST)) if match}
    problems = [f"README.txt lacks the failure code {code}"
                for code in sorted(documented - given)]
    return problems + [f"README.txt gives {code}, which the README and "
                       "docs/using.md do not" for code in sorted(given - documented)]


def main() -> int:
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    source_dir = Path(sys.argv[1]).resolve()
    documents = [source_dir / "README.md",
                 *sorted((source_dir / "docs").glob("*.md"))]
    problems = []
    for document in documents:
        problems += link_problems(document, source_dir)
        problems += [f"{document.relative_to(source_dir)}: the release "
                     f"number {number} will go stale; write <version>"
                     for number in RELEASE_NUMBER.findall(document.read_text())]
    readme = documents[0].read_text()
    packaged = (source_dir / "packaging" / "README.txt.in").read_text()
    problems += status_problems(readme, packaged)
    problems += code_problems(
        [readme, (source_dir / "docs" / "using.md").read_text()], packaged)
    for problem in problems:
        print(f"FAIL {problem}")
    if not problems:
        print(f"ok   {len(documents)} documents: every link resolves, no "
              "release number; README.txt gives their statuses and codes")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
