#!/usr/bin/env python3
"""Checks a shipped Windows binary: PE32 i386, subsystem and OS version 5.0, optionally the GUI subsystem
and the requireAdministrator manifest, and that it imports only functions known to exist on Windows 2000.

Usage: check_binary.py [--gui] [--admin] BINARY ALLOWLIST
The allowlist names, one per line, "dll function" pairs verified against the Windows 2000 exports.
Functions newer than that must be resolved at run time (GetProcAddress), never imported.
"""
import re
import subprocess
import sys


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


def main(argv):
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
    for p in problems:
        print("FAIL %s: %s" % (binary, p))
    print("%s: %d imports checked, %d problems" % (binary, len(imports), len(problems)))
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
