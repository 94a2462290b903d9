#!/usr/bin/env python3
"""Makes the first 8 KiB of a loader file: the searching boot sector with its first jump pointed at our
dispatcher (placed at offset 0x40, a stretch the search code leaves zero), so that the same bytes work
as a boot sector at 0:7C00 and as the start of the loader file at 2000h:0."""
import sys

searcher_path, dispatch_path, out_path = sys.argv[1:4]
searcher = bytearray(open(searcher_path, "rb").read())
dispatch = open(dispatch_path, "rb").read()
if len(searcher) != 8192 or searcher[0:2] != b"\xeb\x5e":
    sys.exit("patch_searcher: unexpected searching boot sector layout")
if searcher[0x40:0x40 + len(dispatch)] != bytes(len(dispatch)) or 0x40 + len(dispatch) > 0x60:
    sys.exit("patch_searcher: no room for the dispatcher")
searcher[0:2] = b"\xeb\x3e"
searcher[0x40:0x40 + len(dispatch)] = dispatch
open(out_path, "wb").write(bytes(searcher))
