#!/usr/bin/env python3
# SPDX-FileCopyrightText: 2026 The install authors
# SPDX-License-Identifier: MIT
"""The entries of a package, for sign-package.sh.

unpack <package.zip> <folder> <entry>...
    Extracts the package into a new folder, with each file's mode, and
    checks that it holds the given entries and a BUILDINFO.txt.
compare <package.zip> <signed.zip> <changed entry>...
    Checks that the signed package holds the same entries in the same order
    with the same times and modes, and that every entry but the changed
    ones is byte for byte the package's.
"""

import sys
import zipfile
from pathlib import Path, PurePosixPath

BUILD_INFO = "BUILDINFO.txt"


def fail(message: str) -> int:
    print(f"sign-package.sh: {message}", file=sys.stderr)
    return 1


def open_package(path: str) -> zipfile.ZipFile:
    try:
        return zipfile.ZipFile(path)
    except (OSError, zipfile.BadZipFile) as error:
        raise SystemExit(fail(f"{path}: not a ZIP package ({error})"))


def unpack(package: str, folder: str, entries: list) -> int:
    archive = open_package(package)
    names = archive.namelist()
    for name in entries + [BUILD_INFO]:
        if name not in names:
            return fail(f"{package} holds no {name}: not a package of "
                        "install as the build makes them")
    root = Path(folder)
    root.mkdir()
    for entry in archive.infolist():
        path = PurePosixPath(entry.filename)
        if path.is_absolute() or ".." in path.parts or "\\" in entry.filename:
            return fail(f"{package}: the entry {entry.filename} would land "
                        "outside the package's folder")
        target = root.joinpath(*path.parts)
        if entry.is_dir():
            target.mkdir(parents=True, exist_ok=True)
            continue
        target.parent.mkdir(parents=True, exist_ok=True)
        target.write_bytes(archive.read(entry))
        target.chmod((entry.external_attr >> 16) & 0o777 or 0o644)
    return 0


def compare(package: str, signed: str, changed: list) -> int:
    before, after = open_package(package), open_package(signed)
    old, new = before.infolist(), after.infolist()
    if [entry.filename for entry in old] != [entry.filename for entry in new]:
        return fail("the signed package's entries are not the package's, in "
                    "the same order")
    for was, now in zip(old, new):
        if (was.date_time, was.external_attr) != (now.date_time,
                                                  now.external_attr):
            return fail(f"{now.filename}: its time or mode in the signed "
                        "package is not the package's")
        if was.filename not in changed and not was.is_dir() and \
                before.read(was) != after.read(now):
            return fail(f"{now.filename} changed in the signed package")
    return 0


def main() -> int:
    if len(sys.argv) < 4 or sys.argv[1] not in ("unpack", "compare"):
        print(__doc__, file=sys.stderr)
        return 2
    command, first, second, rest = (sys.argv[1], sys.argv[2], sys.argv[3],
                                    sys.argv[4:])
    if command == "unpack":
        return unpack(first, second, rest)
    return compare(first, second, rest)


if __name__ == "__main__":
    sys.exit(main())
