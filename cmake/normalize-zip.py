#!/usr/bin/env python3
"""Rewrites a ZIP package so that the same files always give the same bytes:
entries in name order, every timestamp the given Unix time, fixed modes
(0755 for folders, 0644 for files), no extra fields, and the same deflate
settings, whoever builds it, where and when.

usage: normalize-zip.py <package.zip> <source-date-epoch>
"""

import sys
import time
import zipfile
from pathlib import Path

# A ZIP entry's DOS time holds nothing before 1980.
EARLIEST_ZIP_TIME = (1980, 1, 1, 0, 0, 0)
FOLDER_MODE = 0o40755
FILE_MODE = 0o100644
MS_DOS_FOLDER = 0x10
UNIX = 3


def entry_time(epoch: int) -> tuple:
    return max(time.gmtime(epoch)[:6], EARLIEST_ZIP_TIME)


def normalize(package: Path, epoch: int) -> None:
    with zipfile.ZipFile(package) as source:
        entries = sorted((info.filename, source.read(info))
                         for info in source.infolist())
    normalized = package.with_suffix(".normalized")
    with zipfile.ZipFile(normalized, "w") as target:
        for name, data in entries:
            info = zipfile.ZipInfo(name, entry_time(epoch))
            info.create_system = UNIX
            if name.endswith("/"):
                info.external_attr = FOLDER_MODE << 16 | MS_DOS_FOLDER
                info.compress_type = zipfile.ZIP_STORED
            else:
                info.external_attr = FILE_MODE << 16
                info.compress_type = zipfile.ZIP_DEFLATED
            target.writestr(info, data, compresslevel=9)
    normalized.replace(package)


if __name__ == "__main__":
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    normalize(Path(sys.argv[1]), int(sys.argv[2]))
