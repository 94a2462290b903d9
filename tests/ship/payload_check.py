"""The boot payloads embedded in vorlane.exe ("GHOST_DATA" resources) checked for what they are, not only for
being equal to what was staged: a release must never carry the build's labelled stand-ins.

- 130/132 "KW.lsn"/"KX.lsn": a FAT image whose root holds a Linux kernel ("vmlinuz", with the boot
  protocol's "HdrS" at 0x202) and "initrd.img";
- 131/133 "kwldr"/"kxldr": a loader that starts with our boot code: the jump to the dispatcher at 0x40, the
  dispatcher and, after the first 8 KiB, the loader header, both assembled here from bootenv/loader;
- 134/135 "kwldr.mbr"/"kxldr.mbr": an 8 KiB searching boot sector (jump, 55AA) that names its loader and
  matches the first 8 KiB of that loader past the dispatcher;
- 137/142/143: the boot tools, Windows executables ("MZ", "PE").
"""
import os
import struct
import subprocess
import tempfile

RT_NAME = "GHOST_DATA"
BOOT_IMAGES = {130: "KW.lsn", 132: "KX.lsn"}
LOADERS = {131: ("kwldr", 134), 133: ("kxldr", 135)}
TOOLS = {137: "bcdedit.exe", 142: "dspt.exe", 143: "bcdboot.exe"}


def _rva_to_offset(sections, rva):
    for va, size, raw in sections:
        if va <= rva < va + size:
            return rva - va + raw
    raise ValueError("RVA %#x lies in no section" % rva)


def resources(data, type_name):
    """{id: bytes} of the resources of the named type (every language) in a PE image."""
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    if data[pe:pe + 4] != b"PE\0\0":
        raise ValueError("not a PE image")
    sections_count = struct.unpack_from("<H", data, pe + 6)[0]
    optional_size = struct.unpack_from("<H", data, pe + 20)[0]
    optional = pe + 24
    magic = struct.unpack_from("<H", data, optional)[0]
    dirs = optional + (96 if magic == 0x10B else 112)
    rsrc_rva, rsrc_size = struct.unpack_from("<II", data, dirs + 2 * 8)
    table = optional + optional_size
    sections = []
    for i in range(sections_count):
        s = table + 40 * i
        vsize, va, raw_size, raw = struct.unpack_from("<IIII", data, s + 8)
        sections.append((va, max(vsize, raw_size), raw))
    if not rsrc_rva:
        return {}
    base = _rva_to_offset(sections, rsrc_rva)

    def entries(offset):
        named, ids = struct.unpack_from("<HH", data, base + offset + 12)
        for i in range(named + ids):
            name, target = struct.unpack_from("<II", data, base + offset + 16 + 8 * i)
            if name & 0x80000000:
                at = base + (name & 0x7FFFFFFF)
                length = struct.unpack_from("<H", data, at)[0]
                key = data[at + 2:at + 2 + 2 * length].decode("utf-16-le")
            else:
                key = name
            yield key, target

    out = {}
    for key, target in entries(0):
        if not (target & 0x80000000) or not isinstance(key, str) or key.upper() != type_name:
            continue
        for rid, lang_dir in entries(target & 0x7FFFFFFF):
            for _, leaf in entries(lang_dir & 0x7FFFFFFF):
                rva, size = struct.unpack_from("<II", data, base + leaf)
                at = _rva_to_offset(sections, rva)
                out[rid] = data[at:at + size]
    return out


def assemble(source, defines=()):
    with tempfile.TemporaryDirectory() as tmp:
        out = os.path.join(tmp, "out.bin")
        subprocess.run(["nasm", "-f", "bin"] + ["-D%s" % d for d in defines] + ["-o", out, source], check=True)
        with open(out, "rb") as f:
            return f.read()


def check_boot_image(name, data):
    problems = []
    if len(data) < 512 or data[510:512] != b"\x55\xaa" or (data[54:57] != b"FAT" and data[82:85] != b"FAT"):
        return ["%s is not a FAT image" % name]
    with tempfile.TemporaryDirectory() as tmp:
        image = os.path.join(tmp, "boot.img")
        with open(image, "wb") as f:
            f.write(data)
        listing = subprocess.run(["mdir", "-b", "-i", image, "::/"], capture_output=True, text=True,
                                 env=dict(os.environ, MTOOLS_SKIP_CHECK="1"))
        names = [line.strip().lower() for line in listing.stdout.splitlines()]
        for wanted in ("::/vmlinuz", "::/initrd.img"):
            if wanted not in names:
                problems.append("%s holds no %s (it holds %s)" % (name, wanted[3:], names))
        kernel = os.path.join(tmp, "vmlinuz")
        got = subprocess.run(["mcopy", "-n", "-i", image, "::/vmlinuz", kernel], capture_output=True,
                             env=dict(os.environ, MTOOLS_SKIP_CHECK="1"))
        if got.returncode != 0 or not os.path.isfile(kernel):
            problems.append("%s: its kernel cannot be read" % name)
        else:
            with open(kernel, "rb") as f:
                head = f.read(0x210)
            if len(head) < 0x206 or head[0x1FE:0x200] != b"\x55\xaa" or head[0x202:0x206] != b"HdrS":
                problems.append("%s: vmlinuz is not a Linux kernel" % name)
    return problems


def check_loader(name, loader, sector, loader_source):
    problems = []
    dispatch = assemble(os.path.join(loader_source, "dispatch.asm"))
    head_source = os.path.join(loader_source, "ldrhead.asm")
    head_size = len(assemble(head_source, ["CHUNKS=1"]))
    if len(loader) < 8192 + head_size or loader[0:2] != b"\xeb\x3e" or loader[0x40:0x40 + len(dispatch)] != dispatch:
        return ["%s does not start with our boot code (jump and dispatcher)" % name]
    chunks = (len(loader) - 8192 - head_size + 65535) // 65536
    head = assemble(head_source, ["CHUNKS=%d" % chunks])
    if loader[8192:8192 + len(head)] != head:
        problems.append("%s: no loader header of ours after the first 8 KiB" % name)
    if len(sector) != 8192 or sector[0:2] != b"\xeb\x5e" or sector[510:512] != b"\x55\xaa":
        problems.append("%s.mbr is not an 8 KiB searching boot sector" % name)
    elif name.encode("ascii") not in sector:
        problems.append("%s.mbr does not name %s" % (name, name))
    elif sector[0x60:8192] != loader[0x60:8192]:
        problems.append("%s.mbr does not belong to %s" % (name, name))
    return problems


def check_payloads(binary, loader_source):
    """Problems found in the payloads embedded in binary; an empty list when they are the real thing."""
    with open(binary, "rb") as f:
        found = resources(f.read(), RT_NAME)
    problems = []
    for rid in list(BOOT_IMAGES) + list(LOADERS) + [134, 135] + list(TOOLS):
        if rid not in found:
            problems.append("no %s resource %d" % (RT_NAME, rid))
    if problems:
        return problems
    for rid, name in BOOT_IMAGES.items():
        problems += check_boot_image(name, found[rid])
    for rid, (name, sector_id) in LOADERS.items():
        problems += check_loader(name, found[rid], found[sector_id], loader_source)
    for rid, name in TOOLS.items():
        data = found[rid]
        if data[:2] != b"MZ" or len(data) < 0x40 or data[struct.unpack_from("<I", data, 0x3C)[0]:][:4] != b"PE\0\0":
            problems.append("%s (%d) is not a Windows executable" % (name, rid))
    return problems
