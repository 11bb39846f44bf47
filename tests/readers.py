# SPDX-FileCopyrightText: 2026 The install authors
# SPDX-License-Identifier: MIT
"""The project's own readers, for the checks: of what a build folder says
(cmake/build_tree.py) and of what a package's files say
(release/package_facts.py), as the build and the release read them."""

import sys
from pathlib import Path

SOURCE_DIR = Path(__file__).resolve().parent.parent
sys.path[:0] = [str(SOURCE_DIR / "cmake"), str(SOURCE_DIR / "release")]

from build_tree import (PROGRAM, link_map_inputs, link_map_path,  # noqa: E402
                        object_name, program_path, project_object,
                        read_deliverables)
from package_facts import (BILL, BUILD_INFO,  # noqa: E402
                           FILE_NAME_PROPERTY, source_date_epoch,
                           version_strings)

__all__ = ["PROGRAM", "link_map_inputs", "link_map_path", "object_name",
           "program_path", "project_object", "read_deliverables", "BILL",
           "BUILD_INFO", "FILE_NAME_PROPERTY", "source_date_epoch",
           "version_strings"]
