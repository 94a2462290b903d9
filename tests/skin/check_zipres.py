#!/usr/bin/env python3
"""Checks that a PE executable carries the skin package as resource "ZIPRES" 141, language 2052.

Usage: check_zipres.py EXE SKIN_ZIP

Reads the PE resource directory (type, name, language levels), finds the resource and compares its bytes
with the skin package built beside the executable; the embedded archive must hold MainFrame1.xml.
"""
import io
import struct
import sys
import zipfile


class PeError(Exception):
    pass


def rva_to_offset(sections, rva):
    for virtual_address, virtual_size, raw_offset, raw_size in sections:
        if virtual_address <= rva < virtual_address + max(virtual_size, raw_size):
            return raw_offset + (rva - virtual_address)
    raise PeError("RVA 0x%x is in no section" % rva)


def read_resources(data):
    """Returns {(type, name, language): bytes}; types and names are ints or strings."""
    if data[:2] != b"MZ":
        raise PeError("no MZ header")
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    if data[pe:pe + 4] != b"PE\0\0":
        raise PeError("no PE signature")
    sections_count, optional_size = struct.unpack_from("<H12xH", data, pe + 6)
    optional = pe + 24
    magic = struct.unpack_from("<H", data, optional)[0]
    directories = optional + (96 if magic == 0x10B else 112)
    resource_rva, resource_size = struct.unpack_from("<II", data, directories + 2 * 8)
    if resource_rva == 0 or resource_size == 0:
        return {}
    sections = []
    table = optional + optional_size
    for i in range(sections_count):
        virtual_size, virtual_address, raw_size, raw_offset = struct.unpack_from("<IIII", data, table + 40 * i + 8)
        sections.append((virtual_address, virtual_size, raw_offset, raw_size))
    base = rva_to_offset(sections, resource_rva)

    def entries(offset):
        named, numbered = struct.unpack_from("<HH", data, base + offset + 12)
        for i in range(named + numbered):
            name, target = struct.unpack_from("<II", data, base + offset + 16 + 8 * i)
            if name & 0x80000000:
                at = base + (name & 0x7FFFFFFF)
                length = struct.unpack_from("<H", data, at)[0]
                name = data[at + 2:at + 2 + 2 * length].decode("utf-16-le")
            yield name, target

    found = {}
    for kind, kind_dir in entries(0):
        if not kind_dir & 0x80000000:
            raise PeError("resource type without a directory")
        for name, name_dir in entries(kind_dir & 0x7FFFFFFF):
            for language, leaf in entries(name_dir & 0x7FFFFFFF):
                if leaf & 0x80000000:
                    raise PeError("resource language level is a directory")
                data_rva, size = struct.unpack_from("<II", data, base + leaf)
                start = rva_to_offset(sections, data_rva)
                found[(kind, name, language)] = data[start:start + size]
    return found


def main(argv):
    if len(argv) != 3:
        print(__doc__)
        return 2
    exe, skin = argv[1], argv[2]
    with open(exe, "rb") as f:
        resources = read_resources(f.read())
    with open(skin, "rb") as f:
        package = f.read()
    matches = {k: v for k, v in resources.items() if k[0] == "ZIPRES" and k[1] == 141}
    if not matches:
        kinds = sorted({str(k[0]) for k in resources})
        print("FAIL: %s has no resource ZIPRES 141 (types: %s)" % (exe, ", ".join(kinds)))
        return 1
    if list(matches) != [("ZIPRES", 141, 2052)]:
        print("FAIL: ZIPRES 141 should exist once, in language 2052: %s" % sorted(matches))
        return 1
    blob = matches[("ZIPRES", 141, 2052)]
    if blob != package:
        print("FAIL: the embedded package (%d bytes) differs from %s (%d bytes)" % (len(blob), skin, len(package)))
        return 1
    names = zipfile.ZipFile(io.BytesIO(blob)).namelist()
    if "MainFrame1.xml" not in names or "item1.xml" not in names:
        print("FAIL: the embedded package lacks MainFrame1.xml or item1.xml")
        return 1
    print("ok: %s carries ZIPRES 141 (language 2052, %d bytes, %d entries)" % (exe, len(blob), len(names)))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
