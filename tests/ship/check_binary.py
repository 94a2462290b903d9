#!/usr/bin/env python3
"""Checks a shipped Windows binary: PE32 i386, subsystem and OS version 5.0, optionally the GUI subsystem
and the requireAdministrator manifest, and that it imports only functions known to exist on Windows 2000.

Usage: check_binary.py [--gui] [--admin] [--payloads=LOADER_SOURCE] BINARY ALLOWLIST
       check_binary.py --payload-self-test LOADER_SOURCE PAYLOAD_DIR
The allowlist names, one per line, "dll function" pairs verified against the Windows 2000 exports.
Functions newer than that must be resolved at run time (GetProcAddress), never imported.
--payloads also checks that the embedded boot payloads are the real thing (tests/ship/payload_check.py;
LOADER_SOURCE is bootenv/loader). --payload-self-test shows that check refusing stand-ins and damaged
payloads made from the real ones in PAYLOAD_DIR.
"""
import os
import re
import subprocess
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))


def read_allowlist(path):
    allowed = set()
    for line in open(path, encoding="utf-8"):
        line = line.split("#", 1)[0].strip()
        if line:
            dll, name = line.split()
            allowed.add((dll.lower(), name))
    return allowed


def parse_objdump(text):
    headers = {}
    for key in ("Magic", "MajorOSystemVersion", "MinorOSystemVersion", "MajorSubsystemVersion",
                "MinorSubsystemVersion", "Subsystem"):
        m = re.search(r"^%s\s+(\S+)" % key, text, re.M)
        headers[key] = m.group(1) if m else None
    arch = re.search(r"file format (\S+)", text)
    headers["format"] = arch.group(1) if arch else None
    imports = []
    dll = None
    in_table = False
    for line in text.splitlines():
        m = re.match(r"\s*DLL Name: (\S+)", line)
        if m:
            dll = m.group(1).lower()
            in_table = False
            continue
        if dll and re.match(r"\s*vma:\s+Hint/Ord", line):
            in_table = True
            continue
        if in_table:
            if not line.strip():
                in_table = False
                dll = None
                continue
            fields = line.split()
            if len(fields) >= 3 and fields[-1] != fields[1]:
                imports.append((dll, fields[2]))
            elif len(fields) >= 2:
                imports.append((dll, "#" + fields[1]))
    return headers, imports


def payload_self_test(loader_source, payload_dir):
    """The payload checks on the real files pass, and on the build's text stand-ins and damaged copies fail."""
    import payload_check as pc
    real = {}
    for name in ("KX.lsn", "kxldr", "kxldr.mbr"):
        with open(os.path.join(payload_dir, name), "rb") as f:
            real[name] = f.read()
    standin = lambda what: ("Vorlane build stand-in for %s.\nThe boot environment's build provides the real "  # noqa: E731
                            "file as /x/%s.\n" % (what, what)).encode()
    damaged_kernel = bytearray(real["KX.lsn"])
    at = damaged_kernel.find(b"HdrS")
    damaged_kernel[at:at + 4] = b"XXXX"
    other_head = bytearray(real["kxldr"])
    other_head[8192] ^= 0xFF
    cases = [
        ("real boot image", pc.check_boot_image("KX.lsn", real["KX.lsn"]), False),
        ("stand-in boot image", pc.check_boot_image("KX.lsn", standin("KX.lsn")), True),
        ("boot image without a kernel", pc.check_boot_image("KX.lsn", bytes(damaged_kernel)), True),
        ("real loader", pc.check_loader("kxldr", real["kxldr"], real["kxldr.mbr"], loader_source), False),
        ("stand-in loader", pc.check_loader("kxldr", standin("kxldr"), real["kxldr.mbr"], loader_source), True),
        ("loader with another header", pc.check_loader("kxldr", bytes(other_head), real["kxldr.mbr"], loader_source),
         True),
        ("stand-in boot sector", pc.check_loader("kxldr", real["kxldr"], standin("kxldr.mbr"), loader_source), True),
        ("boot sector of the other set", pc.check_loader("kwldr", real["kxldr"].replace(b"kxldr", b"kwldr"),
                                                         real["kxldr.mbr"], loader_source), True),
    ]
    failures = 0
    for what, problems, refused in cases:
        ok = bool(problems) == refused
        failures += not ok
        print("%s %s: %s" % ("ok  " if ok else "FAIL", what, problems or "accepted"))
    return 1 if failures else 0


def main(argv):
    if len(argv) == 4 and argv[1] == "--payload-self-test":
        return payload_self_test(argv[2], argv[3])
    payloads = [a.split("=", 1)[1] for a in argv[1:] if a.startswith("--payloads=")]
    gui = "--gui" in argv
    admin = "--admin" in argv
    args = [a for a in argv[1:] if not a.startswith("--")]
    binary, allowlist = args
    text = subprocess.run(["i686-w64-mingw32-objdump", "-p", binary], capture_output=True, text=True,
                          check=True).stdout
    headers, imports = parse_objdump(text)
    problems = []
    if headers["format"] != "pei-i386" or headers["Magic"] != "010b":
        problems.append("not a PE32 i386 image: %s %s" % (headers["format"], headers["Magic"]))
    for key in ("MajorOSystemVersion", "MajorSubsystemVersion"):
        if headers[key] != "5":
            problems.append("%s is %s, not 5" % (key, headers[key]))
    for key in ("MinorOSystemVersion", "MinorSubsystemVersion"):
        if headers[key] != "0":
            problems.append("%s is %s, not 0" % (key, headers[key]))
    if gui and headers["Subsystem"] != "00000002":
        problems.append("subsystem %s is not the Windows GUI" % headers["Subsystem"])
    if admin and b'level="requireAdministrator"' not in open(binary, "rb").read():
        problems.append("no requireAdministrator manifest")
    allowed = read_allowlist(allowlist)
    for dll, name in imports:
        if (dll, name) not in allowed:
            problems.append("imports %s!%s, not known to exist on Windows 2000 (resolve it at run time, "
                            "or verify it and add it to %s)" % (dll, name, allowlist))
    if not imports:
        problems.append("no imports found: objdump output not understood")
    if payloads:
        import payload_check
        problems += payload_check.check_payloads(binary, payloads[0])
    for p in problems:
        print("FAIL %s: %s" % (binary, p))
    print("%s: %d imports checked, %d problems" % (binary, len(imports), len(problems)))
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
