# SPDX-FileCopyrightText: 2026 The install authors
# SPDX-License-Identifier: MIT
"""What a package's files say, each read here and nowhere else: the version
information's strings of a program, the time that BUILDINFO.txt gives the
build, and the property that names a component's file in the bill."""

import re
from typing import Dict, Optional

import pefile

BUILD_INFO = "BUILDINFO.txt"
BILL = "sbom.cdx.json"
FILE_NAME_PROPERTY = "bsi:component:filename"
SOURCE_DATE_EPOCH = re.compile(r"^SOURCE_DATE_EPOCH: (\d+)$", re.MULTILINE)


def version_strings(pe: pefile.PE) -> Dict[str, str]:
    """The StringFileInfo values of a program's version information."""
    strings = {}
    for info in getattr(pe, "FileInfo", [[]])[0]:
        for table in getattr(info, "StringTable", []):
            strings.update((key.decode(), value.decode())
                           for key, value in table.entries.items())
    return strings


def source_date_epoch(build_info: str) -> Optional[int]:
    """The build's time, in seconds since 1970, from BUILDINFO.txt's text."""
    match = SOURCE_DATE_EPOCH.search(build_info)
    return int(match[1]) if match else None
