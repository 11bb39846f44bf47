# SPDX-FileCopyrightText: 2026 The install authors
# SPDX-License-Identifier: MIT
"""What identifies a package's bill of materials and the files it lists:
each file's hashes, and the bill's serial number, named by its content. The
build writes the bill with these, and sign-package.sh rewrites it with them
for the signed programs."""

import hashlib
import json
import uuid
from typing import Dict, List

# A name-based serial number: this namespace and the bill's content.
SERIAL_NAMESPACE = uuid.UUID("6f3b8c1e-2f4a-5d7b-9e0c-1a2b3c4d5e6f")


def file_hashes(data: bytes) -> List[Dict[str, str]]:
    return [{"alg": "SHA-256", "content": hashlib.sha256(data).hexdigest()},
            {"alg": "SHA-512", "content": hashlib.sha512(data).hexdigest()}]


def with_serial_number(content: dict) -> dict:
    digest = hashlib.sha256(json.dumps(content, sort_keys=True).encode())
    serial = uuid.uuid5(SERIAL_NAMESPACE, digest.hexdigest())
    return {"bomFormat": content["bomFormat"],
            "specVersion": content["specVersion"],
            "serialNumber": serial.urn, **content}
