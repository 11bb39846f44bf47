#!/usr/bin/env python3
# SPDX-FileCopyrightText: 2026 The install authors
# SPDX-License-Identifier: MIT
"""BUILDINFO.txt tells where a package came from.

follows-tree
    Builds the x64 package in a throwaway clone, then changes a tracked
    file, then commits the change, building and packaging again after each
    without re-configuring: each package's BUILDINFO.txt and entry times
    must be those of the tree at that moment.
provenance
    A checkout that another user owns, as in a container's root build of a
    mounted one, with a change not committed: BUILDINFO.txt gives its commit
    and says so; with its .git gone, it says that it is no checkout.
"""

import calendar
import os
import shutil
import subprocess
import sys
import zipfile
from pathlib import Path

from readers import BUILD_INFO, read_deliverables, source_date_epoch

SOURCE_DIR = Path(__file__).resolve().parent.parent

BUILD = SOURCE_DIR / "build"
PRESET = "windows-x64"
# Who owns the checkout in the provenance check: nobody.
OTHER_OWNER = "65534:65534"
# When the follows-tree check commits its change.
COMMIT_DATE = "@1800000000"


def run(*command: str, cwd: Path = SOURCE_DIR, **options) -> str:
    return subprocess.run(command, cwd=cwd, check=True, text=True,
                          stdout=subprocess.PIPE, **options).stdout


def as_root(*command: str) -> None:
    prefix = [] if os.geteuid() == 0 else ["sudo"]
    subprocess.run(prefix + list(command), check=True)


def configure(source: Path, build: Path) -> None:
    run("cmake", "-S", str(source), "-B", str(build), "--preset", PRESET,
        "-DBUILD_TESTING=OFF", cwd=source)


def tree_commit(clone: Path) -> str:
    """The commit that BUILDINFO.txt should give for the clone as it is."""
    commit = run("git", "rev-parse", "HEAD", cwd=clone).strip()
    if run("git", "status", "--porcelain", "--untracked-files=no",
           cwd=clone).strip():
        commit += " with uncommitted changes"
    return commit


def entry_times(package: zipfile.ZipFile) -> set:
    return {calendar.timegm(entry.date_time + (0, 0, 0))
            for entry in package.infolist()}


def package_problems(clone: Path, state: str) -> list:
    """Builds and packages the clone, and checks its package against the
    tree."""
    build = clone / "build" / PRESET
    run("cmake", "--build", str(build))
    run("cpack", cwd=build)
    with zipfile.ZipFile(build / read_deliverables(build)["package"]) as package:
        build_info = package.read(BUILD_INFO).decode()
        times = entry_times(package)
    commit = tree_commit(clone)
    epoch = int(run("git", "log", "-1", "--format=%ct", cwd=clone))
    print(f"{BUILD_INFO} {state}:")
    for line in build_info.splitlines()[1:4]:
        print("  " + line)
    # A ZIP entry's time counts in steps of two seconds.
    if (f"source commit: {commit}" not in build_info.splitlines()
            or source_date_epoch(build_info) != epoch
            or times != {epoch // 2 * 2}):
        return [f"the package {state} does not give commit {commit} and "
                f"time {epoch} in {BUILD_INFO} and its entries"]
    return []


def follows_tree() -> list:
    clone = BUILD / "build-info-clone"
    shutil.rmtree(clone, ignore_errors=True)
    run("git", "clone", "-q", ".", str(clone))
    configure(clone, clone / "build" / PRESET)
    problems = package_problems(clone, "as cloned")
    with (clone / "README.md").open("a") as readme:
        readme.write("a change\n")
    problems += package_problems(clone, "with a change not committed")
    run("git", "-c", "user.name=test", "-c", "user.email=test@example.invalid",
        "commit", "-q", "-a", "-m", "A change", cwd=clone,
        env=dict(os.environ, GIT_COMMITTER_DATE=COMMIT_DATE))
    problems += package_problems(clone, "after committing it")
    shutil.rmtree(clone)
    return problems


def provenance() -> list:
    clone, build = BUILD / "provenance-clone", BUILD / "provenance"
    as_root("rm", "-rf", str(clone), str(build))
    run("git", "clone", "-q", ".", str(clone))
    commit = run("git", "rev-parse", "HEAD", cwd=clone).strip()
    with (clone / "README.md").open("a") as readme:
        readme.write("a change\n")
    as_root("chown", "-R", OTHER_OWNER, str(clone))
    configure(clone, build)
    for expected in (f"{commit} with uncommitted changes",
                     "unknown: not built from a git checkout"):
        run("cmake", "--build", str(build), "--target", "build_info")
        lines = (build / BUILD_INFO).read_text().splitlines()
        if f"source commit: {expected}" not in lines:
            return [f"{BUILD_INFO} gives {lines[1:2]}, not: "
                    f"source commit: {expected}"]
        print(f"source commit: {expected}")
        as_root("rm", "-rf", str(clone / ".git"))
    as_root("rm", "-rf", str(clone), str(build))
    return []


CHECKS = {"follows-tree": follows_tree, "provenance": provenance}


def main(arguments: list) -> int:
    if len(arguments) != 1 or arguments[0] not in CHECKS:
        print(f"usage: build_info_check.py <{'|'.join(CHECKS)}>",
              file=sys.stderr)
        return 2
    problems = CHECKS[arguments[0]]()
    for problem in problems:
        print("FAIL " + problem)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
