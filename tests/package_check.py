#!/usr/bin/env python3
# SPDX-FileCopyrightText: 2026 The install authors
# SPDX-License-Identifier: MIT
"""Checks the ZIP package that cpack wrote for this build: it holds exactly
the built programs and the files that go with them, and its bill of
materials describes those programs. Says so and is skipped where no package
has been made yet."""

import argparse
import hashlib
import json
import sys
import zipfile
from pathlib import Path
from typing import List

from readers import (BILL, BUILD_INFO, FILE_NAME_PROPERTY, PROGRAM,
                     link_map_inputs, link_map_path, object_name, program_path,
                     read_deliverables)

SKIPPED = 77  # the status the test's SKIP_RETURN_CODE names
PACKAGE_FILES = {"README.txt", BUILD_INFO, "LICENSE.txt",
                 "COPYING.MinGW-w64-runtime.txt", BILL}
# Packaged files that are copies of the project's: (in the package, source).
PACKAGE_COPIES = [("LICENSE.txt", "LICENSE"),
                  ("COPYING.MinGW-w64-runtime.txt",
                   "packaging/COPYING.MinGW-w64-runtime.txt")]
# What each program needs from Windows, and a staging program besides.
SYSTEM_LIBRARIES = ["windows:KERNEL32.dll", "windows:msvcrt.dll",
                    "windows:newdev.dll"]
STAGING_LIBRARIES = ["windows:setupapi.dll"]


def link_map_objects(link_map: str) -> set:
    """The objects that lld's map lists, named as the bill names them."""
    return {object_name(name) for name in link_map_inputs(link_map)}


def bill_problems(bill: dict, file_name: str, program: bytes,
                  linked: set) -> List[str]:
    """The bill's entry for the program: the shipped bytes' hashes, and
    exactly the objects of its link map."""
    def file_names(components: List[dict]) -> List[str]:
        names = []
        for component in components:
            names += [p["value"] for p in component.get("properties", [])
                      if p["name"] == FILE_NAME_PROPERTY]
            names += file_names(component.get("components", []))
        return names

    entries = [c for c in bill["components"] if file_names([c])[:1] == [file_name]]
    if len(entries) != 1:
        return [f"the bill has {len(entries)} entries for {file_name}"]
    problems = []
    hashes = {h["alg"]: h["content"] for h in entries[0]["hashes"]}
    for algorithm in ("SHA-256", "SHA-512"):
        actual = hashlib.new(algorithm.replace("-", "").lower(), program)
        if hashes.get(algorithm) != actual.hexdigest():
            problems.append(f"the bill's {algorithm} is not the program's")
    billed = file_names(entries[0]["components"])
    if sorted(billed) != sorted(linked):
        problems.append("bill and link map differ: only in the bill "
                        f"{sorted(set(billed) - linked)}, only in the map "
                        f"{sorted(linked - set(billed))}")
    return problems


def package_problems(package: zipfile.ZipFile, build_dir: Path,
                     source_dir: Path, builds: List[dict]) -> List[str]:
    folders = [build["folder"] for build in builds]
    names = {n for n in package.namelist() if not n.endswith("/")}
    expected = PACKAGE_FILES | {f"{folder}/{PROGRAM}" for folder in folders}
    if names != expected:
        return [f"package holds {sorted(names)}, expected {sorted(expected)}"]
    problems = []
    readme = package.read("README.txt")
    # Read in Notepad on Windows: every line ends in CR LF.
    if b"\n" in readme.replace(b"\r\n", b""):
        problems.append("packaged README.txt has bare LF line ends")
    for packaged, source in PACKAGE_COPIES:
        if package.read(packaged) != (source_dir / source).read_bytes():
            problems.append(f"packaged {packaged} is not {source}")
        if packaged.encode() not in readme:
            problems.append(f"packaged README.txt does not name {packaged}")
    for build in builds:
        for named in (f"{build['folder']}\\{PROGRAM}", *build["hardware_ids"]):
            if named.encode() not in readme:
                problems.append(f"packaged README.txt does not name {named}")
    bill = json.loads(package.read(BILL))
    for folder in folders:
        program = program_path(build_dir, folder).read_bytes()
        if package.read(f"{folder}/{PROGRAM}") != program:
            problems.append(f"packaged {folder}/{PROGRAM} differs from the "
                            "build's")
        link_map = link_map_path(build_dir, folder).read_text()
        problems += bill_problems(bill, f"{folder}/{PROGRAM}", program,
                                  link_map_objects(link_map))
    for build in builds:
        needs = SYSTEM_LIBRARIES + (STAGING_LIBRARIES if build["stage"] else [])
        billed = [d.get("dependsOn") for d in bill["dependencies"]
                  if d["ref"] == f"{build['folder']}/{PROGRAM}"]
        if billed != [needs]:
            problems.append(f"the bill gives {build['folder']}/{PROGRAM} the "
                            f"dependencies {billed}, not {needs}")
    return problems


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--build-dir", type=Path, required=True)
    parser.add_argument("--source-dir", type=Path, required=True)
    options = parser.parse_args()
    made = read_deliverables(options.build_dir)
    path = options.build_dir / made["package"]
    if not path.is_file():
        print(f"no package {path}: cpack writes it")
        return SKIPPED
    with zipfile.ZipFile(path) as package:
        problems = package_problems(
            package, options.build_dir, options.source_dir, made["builds"])
    for problem in problems:
        print("FAIL " + problem)
    if not problems:
        print(f"ok   {path.name}: the built programs, the files that go "
              "with them, and a bill of materials of those programs")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
