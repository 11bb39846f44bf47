#!/usr/bin/env python3
# SPDX-FileCopyrightText: 2026 The install authors
# SPDX-License-Identifier: MIT
"""Reads a vendor build folder back against the vendor file it was built
from: deliverables.json and BUILDINFO.txt give each build, the version and
the package as declared, and each program's version information holds the
names and the version exactly as written. Prints the version information,
and what differs; fails where anything does."""

import json
import sys
from pathlib import Path
from typing import List

import pefile

from readers import PROGRAM, read_deliverables, version_strings


def declared_builds(vendor: dict) -> List[dict]:
    """The vendor file's builds as the build gives them: the one-ID form as a
    list, and no staging where the file says none."""
    return [{"folder": build["folder"],
             "hardware_ids": build.get("hardware_ids")
             or [build["hardware_id"]],
             "stage": build.get("stage", False),
             "description": build["description"]}
            for build in vendor["builds"]]


def build_info_line(build: dict) -> str:
    staging = "stages the driver package" if build["stage"] else "no staging"
    return (f"  {build['folder']}, {' '.join(build['hardware_ids'])}, "
            f"{staging}, {build['description']}")


def program_problems(program: Path, vendor: dict, build: dict) -> List[str]:
    pe = pefile.PE(str(program))
    strings = version_strings(pe)
    version = vendor["version"]
    expected = {"CompanyName": vendor["company"],
                "LegalCopyright": vendor["copyright"],
                "ProductName": vendor["product"],
                "FileDescription": build["description"],
                "FileVersion": version, "ProductVersion": version}
    for key in expected:
        print(f"{program}: {key}: {strings.get(key)}")
    problems = [f"{program}: {key} is not {value!r}"
                for key, value in expected.items() if strings.get(key) != value]
    major, minor, patch = (int(number) for number in version.split("."))
    fixed = pe.VS_FIXEDFILEINFO[0]
    numbers = (fixed.FileVersionMS, fixed.FileVersionLS,
               fixed.ProductVersionMS, fixed.ProductVersionLS)
    if numbers != (major << 16 | minor, patch << 16) * 2:
        problems.append(f"{program}: version numbers {numbers}")
    return problems


def main() -> int:
    vendor_file, build_dir = Path(sys.argv[1]), Path(sys.argv[2])
    vendor = json.loads(vendor_file.read_text(encoding="utf-8"))
    made = read_deliverables(build_dir)
    builds = declared_builds(vendor)
    version = vendor["version"]
    problems = []
    if made["builds"] != builds or made["version"] != version:
        problems.append(f"deliverables.json gives {made}")
    package = f"packages/{vendor['package']}-{version}-windows-x64.zip"
    if made["package"] != package:
        problems.append(f"deliverables.json names the package "
                        f"{made['package']}, not {package}")
    lines = (build_dir / "BUILDINFO.txt").read_text(
        encoding="utf-8").splitlines()
    problems += [f"BUILDINFO.txt lacks the line {line!r}"
                 for line in map(build_info_line, builds) if line not in lines]
    if f"programs' and package's version: {version}" not in lines:
        problems.append(f"BUILDINFO.txt gives no version {version}")
    for build in builds:
        problems += program_problems(build_dir / build["folder"] / PROGRAM,
                                     vendor, build)
    for problem in problems:
        print("FAIL", problem)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
