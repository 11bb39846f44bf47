"""Reads what the suite checks from a Windows program file: its resources,
the strings of its version information, the DLLs it imports, and the
mitigations its header asks the loader for."""

import struct
from typing import Dict, List, Tuple

RT_VERSION = 16
RT_MANIFEST = 24
RESOURCE_DIRECTORY = 2
IMPORT_DIRECTORY = 1
# Optional header DllCharacteristics flags.
HIGH_ENTROPY_VA = 0x0020
DYNAMIC_BASE = 0x0040
NX_COMPAT = 0x0100
NO_SEH = 0x0400
TERMINAL_SERVER_AWARE = 0x8000


class PeFile:
    def __init__(self, data: bytes):
        self.data = data
        header = struct.unpack_from("<I", data, 0x3C)[0]
        if data[header:header + 4] != b"PE\0\0":
            raise ValueError("not a PE file")
        self.machine, sections, _, _, _, optional_size, _ = struct.unpack_from(
            "<HHIIIHH", data, header + 4)
        optional = header + 24
        self.magic = struct.unpack_from("<H", data, optional)[0]
        self.subsystem, self.dll_characteristics = struct.unpack_from(
            "<HH", data, optional + 68)
        directories = optional + (96 if self.magic == 0x10B else 112)
        self.directories = [struct.unpack_from("<II", data, directories + 8 * i)
                            for i in range(16)]
        table = optional + optional_size
        self.sections = [struct.unpack_from("<IIII", data, table + 40 * i + 8)
                         for i in range(sections)]

    def offset(self, rva: int) -> int:
        for virtual_size, address, raw_size, raw_offset in self.sections:
            if address <= rva < address + max(virtual_size, raw_size):
                return raw_offset + rva - address
        raise ValueError(f"address {rva:#x} is in no section")

    def c_string(self, rva: int) -> str:
        start = self.offset(rva)
        return self.data[start:self.data.index(b"\0", start)].decode("ascii")

    def imports(self) -> List[str]:
        rva, _ = self.directories[IMPORT_DIRECTORY]
        names = []
        entry = self.offset(rva)
        while True:
            name_rva = struct.unpack_from("<I", self.data, entry + 12)[0]
            if name_rva == 0:
                return names
            names.append(self.c_string(name_rva))
            entry += 20

    def resources(self) -> Dict[Tuple[int, int], bytes]:
        """Maps (type, id) of each numbered resource to its data."""
        root_rva, _ = self.directories[RESOURCE_DIRECTORY]
        if root_rva == 0:
            return {}
        root = self.offset(root_rva)
        found = {}
        for type_id, names in self._entries(root, root):
            for name_id, languages in self._entries(root, names):
                for _, leaf in self._entries(root, languages):
                    rva, size = struct.unpack_from("<II", self.data, leaf)
                    start = self.offset(rva)
                    found[(type_id, name_id)] = self.data[start:start + size]
        return found

    def _entries(self, root: int, directory: int):
        named, numbered = struct.unpack_from("<HH", self.data, directory + 12)
        for i in range(named + numbered):
            ident, target = struct.unpack_from("<II", self.data,
                                               directory + 16 + 8 * i)
            yield ident, root + (target & 0x7FFFFFFF)


def version_strings(block: bytes) -> Dict[str, str]:
    """The StringFileInfo values of a version resource, by key."""
    strings = {}

    def walk(start: int, end: int, depth: int) -> None:
        while start < end:
            length, value_length, is_text = struct.unpack_from(
                "<HHH", block, start)
            if length == 0:
                return
            key_end = start + 6
            while block[key_end:key_end + 2] != b"\0\0":
                key_end += 2
            key = block[start + 6:key_end].decode("utf-16-le")
            value = (key_end + 2 + 3) & ~3
            if depth == 3 and is_text:
                text = block[value:value + 2 * value_length].decode("utf-16-le")
                strings[key] = text.rstrip("\0")
            else:
                size = value_length * (2 if is_text else 1)
                walk((value + size + 3) & ~3, start + length, depth + 1)
            start = (start + length + 3) & ~3

    walk(0, len(block), 0)
    return strings
