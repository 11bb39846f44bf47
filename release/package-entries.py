#!/usr/bin/env python3
# SPDX-FileCopyrightText: 2026 The install authors
# SPDX-License-Identifier: MIT
"""The entries of a package, for sign-package.sh.

programs <package.zip>
    Prints the programs that the package's bill of materials lists, a line
    each.
product <package.zip>
    Prints the product name in the first program's version information.
unpack <package.zip> <folder> <entry>...
    Extracts the package into a new folder, with each file's mode, and
    checks that it holds the given entries and a BUILDINFO.txt.
rehash <folder>
    Gives the bill of materials in an unpacked package's folder the hashes
    of its programs as they are now (signed), and the serial number that
    follows from them.
compare <package.zip> <signed.zip> <changed entry>...
    Checks that the signed package holds the same entries in the same order
    with the same times and modes, and that every entry but the changed
    ones is byte for byte the package's.
"""

import json
import sys
import zipfile
from pathlib import Path, PurePosixPath

import pefile

# The bill's hashes and serial number, as the build writes them, and what a
# package's files say.
from bill_identity import file_hashes, with_serial_number
from package_facts import BILL, BUILD_INFO, FILE_NAME_PROPERTY, version_strings


def fail(message: str) -> int:
    print(f"sign-package.sh: {message}", file=sys.stderr)
    return 1


def open_package(path: str) -> zipfile.ZipFile:
    try:
        return zipfile.ZipFile(path)
    except (OSError, zipfile.BadZipFile) as error:
        raise SystemExit(fail(f"{path}: not a ZIP package ({error})"))


def bill_programs(bill: dict) -> list:
    """Each application of a bill, with its file name, in the bill's order."""
    return [(component, prop["value"])
            for component in bill.get("components", [])
            if component.get("type") == "application"
            for prop in component.get("properties", [])
            if prop.get("name") == FILE_NAME_PROPERTY]


def listed_programs(package: str) -> list:
    """The file names of the bill's applications, in the bill's order."""
    archive = open_package(package)
    try:
        bill = json.loads(archive.read(BILL))
    except (KeyError, ValueError) as error:
        raise SystemExit(fail(f"{package}: no bill of materials that lists "
                              f"its programs ({error})"))
    names = [name for _, name in bill_programs(bill)]
    if not names:
        raise SystemExit(fail(f"{package}: its bill of materials lists no "
                              "program"))
    return names


def programs(package: str) -> int:
    print("\n".join(listed_programs(package)))
    return 0


def product(package: str) -> int:
    names = listed_programs(package)
    program = pefile.PE(data=open_package(package).read(names[0]))
    name = version_strings(program).get("ProductName")
    if name:
        print(name)
        return 0
    return fail(f"{names[0]}: its version information names no product")


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


def rehash(folder: str) -> int:
    root = Path(folder)
    bill = json.loads((root / BILL).read_text())
    del bill["serialNumber"]
    for component, name in bill_programs(bill):
        component["hashes"] = file_hashes((root / name).read_bytes())
    (root / BILL).write_text(json.dumps(with_serial_number(bill), indent=2)
                             + "\n")
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
    command, arguments = sys.argv[1:2], sys.argv[2:]
    if command == ["programs"] and len(arguments) == 1:
        return programs(arguments[0])
    if command == ["product"] and len(arguments) == 1:
        return product(arguments[0])
    if command == ["unpack"] and len(arguments) >= 2:
        return unpack(arguments[0], arguments[1], arguments[2:])
    if command == ["rehash"] and len(arguments) == 1:
        return rehash(arguments[0])
    if command == ["compare"] and len(arguments) >= 2:
        return compare(arguments[0], arguments[1], arguments[2:])
    print(__doc__, file=sys.stderr)
    return 2


if __name__ == "__main__":
    sys.exit(main())
