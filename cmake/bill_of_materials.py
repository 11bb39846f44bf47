#!/usr/bin/env python3
# SPDX-FileCopyrightText: 2026 The install authors
# SPDX-License-Identifier: MIT
"""Writes a package's bill of materials, CycloneDX 1.6 JSON, from what the
build knows: each program's bytes and imports, each program's link map
(lld's -Map), which names every object that went into it, and the
toolchain's Debian packages. An object that no rule here accounts for fails
the build, as its licence and notice would be unknown.

Nothing in the bill depends on where or when the build ran: no paths of the
build machine, the build's SOURCE_DATE_EPOCH as the time, a serial number
derived from the content, and lists in a fixed order.
"""

import argparse
import json
import re
import subprocess
import sys
from datetime import datetime, timezone
from pathlib import Path
from typing import Dict, List, Optional
from urllib.parse import quote

import pefile

from build_tree import (PROGRAM, LinkInput, link_map_inputs, link_map_path,
                        program_path, project_object, read_deliverables)

# The bill's hashes and serial number, as release/sign-package.sh gives
# them to the signed package's bill, and what a package's files say.
sys.path.insert(0, str(Path(__file__).resolve().parent.parent / "release"))
from bill_identity import file_hashes, with_serial_number  # noqa: E402
from package_facts import (BUILD_INFO, FILE_NAME_PROPERTY,  # noqa: E402
                           source_date_epoch, version_strings)

PROJECT_AUTHORS = "The install authors"
PROJECT_LICENSE = "MIT"
# The MinGW-w64 runtime's start-up code is public domain where its files say
# so, and under the Zope Public License 2.1 (the upstream default) where they
# do not. Its import libraries are made from definition files that carry no
# mark, so they are under the ZPL alone.
RUNTIME_LICENSE = "ZPL-2.1 AND LicenseRef-public-domain"
IMPORT_LIBRARY_LICENSE = "ZPL-2.1"
RUNTIME_NOTICE = "COPYING.MinGW-w64-runtime.txt"
RUNTIME_SOURCE_PACKAGE = "mingw-w64"
RUNTIME_SOURCE_VERSION_FROM = "mingw-w64-common"
# Loaded at run time by full path from the system directory, so no import
# names it.
# What every program loads at run time, and what a staging program loads too.
LOADED_LIBRARIES = ["newdev.dll"]
STAGING_LIBRARIES = ["setupapi.dll"]


# What the arm64 runtime's recipe writes about the source it built from.
RUNTIME_ORIGIN = "origin.txt"


def debian_purl(package: str, version: str, arch: str,
                distribution: str) -> str:
    return (f"pkg:deb/debian/{package}@{quote(version, safe='.-_~')}"
            f"?arch={arch}&distro={distribution}")


def prop(name: str, value: str) -> Dict[str, str]:
    return {"name": name, "value": value}


def file_properties(file_name: str, executable: bool) -> List[Dict[str, str]]:
    return [prop(FILE_NAME_PROPERTY, file_name),
            prop("bsi:component:executable",
                 "executable" if executable else "non-executable")]


def archive_members(archiver: str, library: Path) -> List[str]:
    listing = subprocess.run([archiver, "t", str(library)], check=True,
                             capture_output=True, text=True).stdout
    return listing.splitlines()


class Runtime:
    """The MinGW-w64 runtime the programs link: its folder of start-up
    objects and libraries, which libraries the link names, and where the
    build took it from."""

    def __init__(self, options: argparse.Namespace,
                 toolchain: Dict[str, tuple]):
        self.lib = Path(options.runtime_dir).resolve() / "lib"
        self.version = toolchain[RUNTIME_SOURCE_VERSION_FROM][0]
        self.binary_package = options.runtime_package
        self.binary = toolchain.get(options.runtime_package)
        self.built_by = options.runtime_built_by
        self.distribution = options.distribution
        self.archive_of: Dict[str, str] = {}
        for library in options.library:
            archive = f"lib{library}.a"
            for member in archive_members(options.archiver,
                                          self.lib / archive):
                if self.archive_of.get(member, archive) != archive:
                    raise SystemExit(f"{member} is in two of the linked "
                                     "libraries; the bill cannot tell which")
                self.archive_of[member] = archive

    def component(self, ref: str, name: str, license_expression: str,
                  description: str, objects: List[dict]) -> dict:
        return {
            "type": "library",
            "bom-ref": ref,
            "supplier": {"name": "Debian"},
            "name": name,
            "version": self.version,
            "description": description,
            "licenses": [{"expression": license_expression}],
            "purl": debian_purl(RUNTIME_SOURCE_PACKAGE, self.version,
                                "source", self.distribution),
            "pedigree": self.pedigree(),
            "properties": [prop("install:notice", RUNTIME_NOTICE)],
            "components": objects,
        }

    def pedigree(self) -> dict:
        if self.binary is None:
            origin = " ".join((self.lib.parent / RUNTIME_ORIGIN).read_text()
                              .split())
            return {"notes": f"Built by this project's {self.built_by} with "
                             f"clang from {origin}. Debian has no arm64 "
                             "binaries of it."}
        version, arch = self.binary
        return {"ancestors": [{
            "type": "library",
            "name": self.binary_package,
            "version": version,
            "purl": debian_purl(self.binary_package, version, arch,
                                self.distribution),
        }]}


class Program:
    """One program of the package: its file, and what its link map says it
    is made of."""

    def __init__(self, build_dir: Path, directory: str, stages: bool):
        self.directory = directory
        self.loads = LOADED_LIBRARIES + (STAGING_LIBRARIES if stages else [])
        self.file_name = f"{directory}/{PROGRAM}"
        self.data = program_path(build_dir, directory).read_bytes()
        pe = pefile.PE(data=self.data, fast_load=True)
        pe.parse_data_directories(directories=[
            pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_IMPORT"],
            pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_RESOURCE"]])
        self.imports = sorted(entry.dll.decode()
                              for entry in pe.DIRECTORY_ENTRY_IMPORT)
        self.description = version_strings(pe).get("FileDescription", "")
        self.inputs = link_map_inputs(
            link_map_path(build_dir, directory).read_text())

    def ref(self, part: str = "") -> str:
        return self.file_name + (f"#{part}" if part else "")


def object_component(program: Program, file_name: str, name: str,
                     description: str,
                     license_id: Optional[str] = None) -> dict:
    component = {"type": "file", "bom-ref": program.ref(file_name),
                 "name": name, "description": description}
    if license_id:
        component["licenses"] = [{"license": {"id": license_id}}]
    component["properties"] = file_properties(file_name, False)
    return component


def program_contents(program: Program, runtime: Runtime, source_dir: Path,
                     generated: Dict[str, str]) -> List[dict]:
    """The program's own objects, named by their sources, then the runtime
    and each import library with the objects the link took from them."""
    own, runtime_objects = [], []
    stubs: Dict[str, List[dict]] = {}
    for name, linked in sorted(program.inputs.items()):
        project = project_object(name)
        path = Path(name)
        if project:
            own.append(own_object(program, project, source_dir, generated))
        elif path.is_absolute() and path.resolve().parent == runtime.lib:
            runtime_objects.append(object_component(
                program, path.name, path.name,
                "start-up object of the MinGW-w64 runtime"))
        elif "/" not in name and name in runtime.archive_of:
            archive = runtime.archive_of[name]
            if linked.has_section(".idata$"):
                stubs.setdefault(archive, []).append(object_component(
                    program, name, name, import_description(archive, linked)))
            else:
                runtime_objects.append(object_component(
                    program, name, name, f"member of {archive}"))
        else:
            raise SystemExit(f"{program.file_name} links {name}, which is "
                             "neither the project's nor the MinGW-w64 "
                             "runtime's: add it to the bill with its notice")

    # By source, whichever target's folder CMake compiled each one in.
    own.sort(key=lambda component: component["bom-ref"])
    contents = own + [runtime.component(
        program.ref("mingw-w64-runtime"), "MinGW-w64 runtime",
        RUNTIME_LICENSE, "The start-up code that calls wmain, and the "
        "runtime members it needs", runtime_objects)]
    for dll in program.imports:
        archive = f"lib{dll.lower().removesuffix('.dll')}.a"
        if archive not in runtime.archive_of.values():
            raise SystemExit(f"{program.file_name} imports {dll}, but the "
                             f"link names no {archive}")
        contents.append(runtime.component(
            program.ref(archive), archive, IMPORT_LIBRARY_LICENSE,
            f"MinGW-w64's import library for {dll}. Where lld makes the "
            "stubs itself from short import records, the link map lists no "
            "objects for it.", stubs.pop(archive, [])))
    if stubs:
        raise SystemExit(f"{program.file_name} has import stubs from "
                         f"{sorted(stubs)} but imports none of their DLLs")
    return contents


def import_description(archive: str, linked: LinkInput) -> str:
    if linked.imports:
        return f"import stub from {archive}: {', '.join(linked.imports)}"
    return f"import table entry from {archive}"


def own_object(program: Program, object_path: str, source_dir: Path,
               generated: Dict[str, str]) -> dict:
    """One of the project's objects, named by the source it is built from.
    A generated source is named by the project file it is made from."""
    source = re.sub(r"\.(obj|res)$", "", object_path)
    if (source_dir / source).is_file():
        name, description = source, "compiled from the project's source"
    elif source in generated:
        name = generated[source]
        description = f"compiled from {source}, which the build makes from it"
    else:
        raise SystemExit(f"{program.file_name} links {object_path}, whose "
                         f"source {source} is not in the project")
    return object_component(program, object_path, name, description,
                            PROJECT_LICENSE)


def program_component(program: Program, contents: List[dict], version: str,
                      supplier: Optional[dict]) -> dict:
    component = {"type": "application", "bom-ref": program.ref()}
    if supplier:
        component["supplier"] = supplier
    component.update({
        "authors": [{"name": PROJECT_AUTHORS}],
        "name": f"install ({program.directory})",
        "version": version,
        "description": program.description,
        "hashes": file_hashes(program.data),
        "licenses": [{"license": {"id": PROJECT_LICENSE}}],
        "properties": file_properties(program.file_name, True),
        "components": contents,
    })
    return component


def system_library(name: str, imported: bool) -> dict:
    how = ("imported by the programs" if imported else
           "loaded by the programs at run time, by full path from the "
           "system directory")
    return {"type": "library", "bom-ref": f"windows:{name}",
            "supplier": {"name": "Microsoft"}, "name": name,
            "description": f"Part of Windows, not of the package: {how}"}


def read_toolchain(path: Path) -> Dict[str, tuple]:
    """The build's toolchain file: a line of package, version and
    architecture for each Debian package."""
    toolchain = {}
    for line in path.read_text().splitlines():
        package, version, arch = line.split()
        toolchain[package] = (version, arch)
    return toolchain


def build_epoch(build_info: Path) -> int:
    """The packages' time, as the build's BUILDINFO.txt gives it."""
    epoch = source_date_epoch(build_info.read_text())
    if epoch is None:
        raise SystemExit(f"{build_info} gives no SOURCE_DATE_EPOCH")
    return epoch


def formulation(toolchain: Dict[str, tuple], distribution: str) -> List[dict]:
    return [{"bom-ref": "toolchain", "components": [
        {"type": "application", "bom-ref": f"toolchain:{package}",
         "name": package, "version": version,
         "purl": debian_purl(package, version, arch, distribution)}
        for package, (version, arch) in sorted(toolchain.items())]}]


def bill(options: argparse.Namespace) -> dict:
    toolchain = read_toolchain(Path(options.toolchain))
    runtime = Runtime(options, toolchain)
    source_dir = Path(options.source_dir).resolve()
    generated = dict(pair.split("=", 1) for pair in options.generated)
    supplier = {"name": options.supplier} if options.supplier else None
    # Each build's program and link map, where the build writes them.
    build_dir = Path(options.build_dir)
    programs = [Program(build_dir, build["folder"], build["stage"])
                for build in read_deliverables(build_dir)["builds"]]
    imported = sorted({dll for program in programs for dll in program.imports},
                      key=str.lower)
    loaded = [dll for dll in LOADED_LIBRARIES + STAGING_LIBRARIES
              if any(dll in program.loads for program in programs)]
    system = ([system_library(dll, True) for dll in imported]
              + [system_library(dll, False) for dll in loaded])
    package = {
        "type": "application",
        "bom-ref": "package",
        "name": options.name,
        "version": options.version,
        "description": f"{options.name} {options.version} for "
                       f"windows-{options.architecture}",
        "licenses": [{"license": {"id": PROJECT_LICENSE}}],
        "properties": [prop(FILE_NAME_PROPERTY, options.package_file)],
    }
    if supplier:
        package = {"supplier": supplier, **package}
    timestamp = datetime.fromtimestamp(build_epoch(Path(options.build_info)),
                                       timezone.utc)
    metadata = {"timestamp": timestamp.strftime("%Y-%m-%dT%H:%M:%SZ"),
                "lifecycles": [{"phase": "build"}],
                "authors": [{"name": PROJECT_AUTHORS}],
                "component": package}
    if supplier:
        metadata["supplier"] = supplier
    return {
        "bomFormat": "CycloneDX",
        "specVersion": "1.6",
        "version": 1,
        "metadata": metadata,
        "components": [program_component(
            program, program_contents(program, runtime, source_dir, generated),
            options.version, supplier) for program in programs]
        + system,
        "dependencies": [
            {"ref": "package", "dependsOn": [p.ref() for p in programs]},
            *[{"ref": p.ref(), "dependsOn": [library["bom-ref"]
                                             for library in system
                                             if library["name"] in p.imports
                                             or library["name"] in p.loads]}
              for p in programs],
            *[{"ref": library["bom-ref"]} for library in system],
        ],
        "formulation": formulation(toolchain, options.distribution),
    }


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--output", required=True)
    parser.add_argument("--name", required=True)
    parser.add_argument("--version", required=True,
                        help="the package's version, which its programs "
                        "carry")
    parser.add_argument("--distribution", required=True,
                        help="the codename of the Debian release building")
    parser.add_argument("--architecture", required=True)
    parser.add_argument("--package-file", required=True)
    parser.add_argument("--supplier", default="")
    parser.add_argument("--build-info", required=True,
                        help=f"{BUILD_INFO}, with the SOURCE_DATE_EPOCH")
    parser.add_argument("--source-dir", required=True)
    parser.add_argument("--toolchain", required=True)
    parser.add_argument("--archiver", required=True)
    parser.add_argument("--runtime-dir", required=True)
    parser.add_argument("--runtime-package", default="",
                        help="the Debian package the runtime comes from")
    parser.add_argument("--runtime-built-by", default="",
                        help="the recipe that built the runtime, otherwise")
    parser.add_argument("--library", action="append", default=[],
                        help="a library the link names (-l<library>)")
    parser.add_argument("--generated", action="append", default=[],
                        help="<generated source>=<project file it is made "
                        "from>")
    parser.add_argument("--build-dir", required=True,
                        help="the build folder, whose deliverables.json "
                        "gives each build's folder and staging")
    options = parser.parse_args()
    content = with_serial_number(bill(options))
    Path(options.output).write_text(json.dumps(content, indent=2) + "\n")
    return 0


if __name__ == "__main__":
    sys.exit(main())
