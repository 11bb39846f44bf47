#!/usr/bin/env python3
# SPDX-FileCopyrightText: 2026 The install authors
# SPDX-License-Identifier: MIT
"""What a build folder tells those who read it, read here and nowhere else:
deliverables.json, which configure writes, and each program's link map
(lld's -Map), which names every input of the link.

For shell scripts, it prints one fact of a build folder:
    build_tree.py package <build folder>   the package that cpack writes
    build_tree.py programs <build folder>  each program, a line each
    build_tree.py first-build <build folder>
                                          the first build's folder and its
                                          first hardware ID, a line each
"""

import json
import re
import sys
from dataclasses import dataclass, field
from pathlib import Path
from typing import Dict, List, Optional

DELIVERABLES = "deliverables.json"
PROGRAM = "install.exe"  # each build's program, in its own folder
# An object of the project's own, as the link map names it: relative to its
# target's object folder.
PROJECT_OBJECT = re.compile(r"^CMakeFiles/[^/]+\.dir/(.+)$")
INPUT_SECTION = re.compile(r"(.+):\(([^()]*)\)")
# How the link map names the import address of a function.
DLLIMPORT = "__declspec(dllimport) "


def read_deliverables(build_dir: Path) -> dict:
    """What a build folder made, as configure wrote it."""
    return json.loads((Path(build_dir) / DELIVERABLES).read_text())


def program_path(build_dir: Path, folder: str) -> Path:
    return Path(build_dir) / folder / PROGRAM


def link_map_path(build_dir: Path, folder: str) -> Path:
    return Path(build_dir) / "link-maps" / f"{folder}.map"


@dataclass
class LinkSection:
    name: str
    address: int  # relative to the image base
    size: int


@dataclass
class LinkInput:
    sections: List[LinkSection] = field(default_factory=list)
    imports: List[str] = field(default_factory=list)  # its stubs' functions

    def has_section(self, prefix: str) -> bool:
        return any(section.name.startswith(prefix)
                   for section in self.sections)


def link_map_inputs(link_map: str) -> Dict[str, LinkInput]:
    """Every input file of the link, as the map names it, with its sections
    that went into the program and the imported functions it defines.
    Input sections are the lines whose text starts in the header's In
    column; the symbols they define follow them, further in."""
    lines = link_map.splitlines()
    column = lines[0].index("In")
    inputs: Dict[str, LinkInput] = {}
    current = None
    for line in lines[1:]:
        text = line[column:]
        if not text or line[column - 1] != " ":
            continue
        match = INPUT_SECTION.fullmatch(text)
        if text[0] != " " and match:
            address, size = line.split()[:2]
            current = inputs.setdefault(match[1], LinkInput())
            current.sections.append(
                LinkSection(match[2], int(address, 16), int(size, 16)))
        elif current and text.strip().startswith(DLLIMPORT):
            function = text.strip().removeprefix(DLLIMPORT)
            if function not in current.imports:
                current.imports.append(function)
    return inputs


def project_object(input_name: str) -> Optional[str]:
    """A project object's path under its target's object folder
    (installer/main.cpp.obj), or None for another input (the runtime's,
    the toolchain's)."""
    match = PROJECT_OBJECT.match(input_name)
    return match[1] if match else None


def object_name(input_name: str) -> str:
    """An input as the bill names it: the project's objects by their path
    in the source tree, the system's without their folder."""
    if input_name.startswith("/"):
        return input_name.rsplit("/", 1)[-1]
    return project_object(input_name) or input_name


def main(arguments: List[str]) -> int:
    if len(arguments) != 2 or arguments[0] not in (
            "package", "programs", "first-build"):
        print("usage: build_tree.py <package|programs|first-build> "
              "<build folder>", file=sys.stderr)
        return 2
    fact, build_dir = arguments
    made = read_deliverables(Path(build_dir))
    if fact == "package":
        print(made["package"])
    elif fact == "programs":
        for build in made["builds"]:
            print(f"{build['folder']}/{PROGRAM}")
    else:
        first = made["builds"][0]
        print(first["folder"], first["hardware_ids"][0], sep="\n")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
