#!/usr/bin/env python3
"""Checks that the code's folders use each other in one direction only (docs/building.md, "Layers").

Reads every #include "folder/..." line of the source folders and the target_link_libraries lines of their
CMake files, and reports each use of a folder that the using folder may not reach. With --self-test it
plants a wrong include and a wrong link in a copy of the tree and expects both to be reported.
"""
import argparse
import pathlib
import re
import shutil
import sys
import tempfile

# What each source folder may include besides itself. Headers of a folder named with a file ("engine/xldl.h")
# are the only part of that folder allowed. tests/ may use anything.
ALLOWED = {
    "base": set(),
    "sysinfo": {"base"},
    "ui": {"base"},
    "boot": {"base", "sysinfo"},
    "databackup": {"base", "sysinfo", "boot"},
    "cloud": {"base", "ui", "engine/xldl.h"},
    "engine": {"base"},
    "tools": {"base"},
    "bootenv": {"base"},
    "app": {"base", "sysinfo", "ui", "boot", "databackup", "cloud"},
}
FOLDERS = set(ALLOWED)
SOURCE_SUFFIXES = {".c", ".cpp", ".h", ".inc", ".rc"}
INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"')
LINK = re.compile(r"target_link_libraries\(\s*(\S+)([^)]*)\)", re.S)
ADD_TARGET = re.compile(r"add_(?:library|executable)\(\s*([A-Za-z0-9_${}-]+)")


def allowed(user, used_path):
    """True when folder user may include used_path ("boot/ini_file.h")."""
    used = used_path.split("/", 1)[0]
    if used == user or used not in FOLDERS:
        return True
    rules = ALLOWED[user]
    return used in rules or used_path in rules


def include_violations(root):
    found = []
    for folder in sorted(FOLDERS):
        for path in sorted((root / folder).rglob("*")):
            if path.suffix not in SOURCE_SUFFIXES or not path.is_file():
                continue
            for number, line in enumerate(path.read_text(encoding="utf-8", errors="replace").splitlines(), 1):
                m = INCLUDE.match(line)
                if m and "/" in m.group(1) and not allowed(folder, m.group(1)):
                    found.append(f"{path.relative_to(root)}:{number}: {folder}/ may not include {m.group(1)}")
    return found


def cmake_files(root, folder):
    return sorted(p for p in (root / folder).rglob("*") if p.name == "CMakeLists.txt" or p.suffix == ".cmake")


def link_violations(root):
    """Each library a folder defines may link only libraries of the folders it may include."""
    owner = {}
    for folder in FOLDERS:
        for path in cmake_files(root, folder):
            for m in ADD_TARGET.finditer(path.read_text()):
                owner.setdefault(m.group(1), folder)
    found = []
    for folder in sorted(FOLDERS):
        for path in cmake_files(root, folder):
            for m in LINK.finditer(path.read_text()):
                user_folder = owner.get(m.group(1), folder)
                for word in m.group(2).split():
                    used_folder = owner.get(word)
                    if used_folder is None or used_folder == user_folder:
                        continue
                    if used_folder not in ALLOWED[user_folder]:
                        found.append(f"{path.relative_to(root)}: {m.group(1)} ({user_folder}/) may not link {word} "
                                     f"({used_folder}/)")
    return found


def check(root):
    return include_violations(root) + link_violations(root)


def self_test(root):
    """A wrong include and a wrong link planted in a copy must both be reported; the copy is otherwise clean."""
    with tempfile.TemporaryDirectory() as scratch:
        copy = pathlib.Path(scratch)
        for folder in FOLDERS:
            if (root / folder).is_dir():
                shutil.copytree(root / folder, copy / folder,
                                ignore=shutil.ignore_patterns("*.png", "*.zip", "*.bin", "*.lsn"))
        if check(copy):
            print("self-test: the copy is not clean to begin with")
            return 1
        with open(copy / "boot" / "ini_file.cpp", "a", encoding="utf-8") as f:
            f.write('#include "app/environment.h"\n')
        with open(copy / "sysinfo" / "CMakeLists.txt", "a", encoding="utf-8") as f:
            f.write("target_link_libraries(vl_sysinfo PUBLIC vl_boot)\n")
        found = check(copy)
        for line in found:
            print("self-test found:", line)
        wanted = ["boot/ini_file.cpp", "vl_sysinfo (sysinfo/) may not link vl_boot"]
        missing = [w for w in wanted if not any(w in line for line in found)]
        if missing or len(found) != 2:
            print("self-test: expected exactly the planted include and link, missing", missing)
            return 1
    print("self-test: the planted include and link were reported")
    return 0


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("root", nargs="?", default=pathlib.Path(__file__).resolve().parents[2], type=pathlib.Path)
    parser.add_argument("--self-test", action="store_true")
    args = parser.parse_args()
    if args.self_test:
        return self_test(args.root)
    found = check(args.root)
    for line in found:
        print(line)
    print(f"{len(found)} uses against the direction of the layers" if found else "layers: every use goes down")
    return 1 if found else 0


if __name__ == "__main__":
    sys.exit(main())
