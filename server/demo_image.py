#!/usr/bin/env python3
"""Real demo images: a small NTFS file system holding a Windows-like tree, taken with partclone and packed
into our image container by vorlane-imagetool. Built once per recipe into a cache folder and reused.

Usage (one image, for trying out): demo_image.py OUT.gho TITLE [--seed N] [--mib N] [--style xp|nt6]
"""
import argparse
import fcntl
import hashlib
import json
import os
import random
import shutil
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)
MiB = 1024 * 1024
PARTITION_START_SECTOR = 2048      # the file system is made for a partition at 1 MiB, as Windows places it
MARKER = "/VORLANE-DEMO-IMAGE.txt"
FILLER = "/Windows/System32/drivers/demo-payload.bin"

# The boot files a restored system brings with it: boot.ini for the NT 5 systems, the boot manager's store
# for the later ones (stand-ins: the test machines boot them through our chain, not through Windows).
BOOT_INI = (b"[boot loader]\r\ntimeout=30\r\ndefault=multi(0)disk(0)rdisk(0)partition(1)\\WINDOWS\r\n"
            b"[operating systems]\r\nmulti(0)disk(0)rdisk(0)partition(1)\\WINDOWS=\"Microsoft Windows\" "
            b"/noexecute=optin /fastdetect\r\n")
BCD_STORE = b"boot configuration store of the demo image\r\n"


def tool(env_name, build_name, system_name=None):
    """A program: from the environment, from the host build tree, or from the system's paths."""
    path = os.environ.get(env_name)
    if path:
        return path
    built = os.path.join(ROOT, "build", "host", "bin", build_name)
    if os.path.exists(built):
        return built
    found = shutil.which(system_name or build_name, path=os.environ.get("PATH", "") + ":/usr/sbin:/sbin")
    if not found:
        raise RuntimeError("%s not found: run scripts/setup and scripts/build" % (system_name or build_name))
    return found


def tree(title, file_name, seed, filler_bytes, style):
    """The image's files: path (with "/" separators, from the root) -> bytes. Deterministic."""
    rng = random.Random(seed)
    files = {
        MARKER: ("Vorlane demo image\r\nname=%s\r\nfile=%s\r\nseed=%d\r\n" % (title, file_name, seed)).encode(),
        "/Windows/explorer.exe": rng.randbytes(384 * 1024),
        "/Windows/regedit.exe": rng.randbytes(96 * 1024),
        "/Windows/win.ini": b"; for 16-bit app support\r\n[fonts]\r\n[extensions]\r\n[mci extensions]\r\n",
        "/Windows/system.ini": b"; for 16-bit app support\r\n[drivers]\r\nwave=mmdrv.dll\r\ntimer=timer.drv\r\n",
        "/Windows/System32/kernel32.dll": rng.randbytes(512 * 1024),
        "/Windows/System32/ntdll.dll": rng.randbytes(384 * 1024),
        "/Windows/System32/hal.dll": rng.randbytes(64 * 1024),
        "/Windows/System32/config/SYSTEM": rng.randbytes(256 * 1024),
        "/Windows/System32/drivers/etc/hosts": b"127.0.0.1       localhost\r\n",
        "/Windows/inf/setupapi.log": b"[SetupAPI Log]\r\nOS Version = 5.1.2600 Service Pack 3\r\n" * 400,
        "/Windows/Fonts/宋体说明.txt": "新宋体 字体文件的说明\r\n".encode("utf-8"),
        "/Documents and Settings/演示用户/桌面/欢迎使用.txt": ("欢迎使用 %s\r\n" % title).encode("utf-8"),
        "/Documents and Settings/演示用户/我的文档/读我.txt": "这是演示镜像中的文件。\r\n".encode("utf-8") * 20,
        "/Program Files/常用软件/说明.txt": "常用软件已集成\r\n".encode("utf-8"),
        "/Program Files/常用软件/工具.exe": rng.randbytes(128 * 1024),
        FILLER: rng.randbytes(filler_bytes),
    }
    if style == "xp":
        files["/boot.ini"] = BOOT_INI
        files["/ntldr"] = b"NTLDR stand-in of the demo image\r\n"
    else:
        files["/bootmgr"] = b"BOOTMGR stand-in of the demo image\r\n"
        files["/Boot/BCD"] = BCD_STORE
    return files


def partition_bytes_for(files):
    payload = sum(len(data) for data in files.values())
    return max(32 * MiB, (payload + 24 * MiB + MiB - 1) // MiB * MiB)


def write_tree(folder, files):
    for name, data in files.items():
        path = os.path.join(folder, name.lstrip("/"))
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(data)


def run(args, **kw):
    r = subprocess.run(args, stdout=subprocess.PIPE, stderr=subprocess.PIPE, **kw)
    if r.returncode != 0:
        raise RuntimeError("%s failed: %s" % (os.path.basename(args[0]),
                                               r.stderr.decode("utf-8", "replace").strip()[-600:]))
    return r


def sha256_file(path):
    digest = hashlib.sha256()
    with open(path, "rb") as f:
        for piece in iter(lambda: f.read(4 * MiB), b""):
            digest.update(piece)
    return digest.hexdigest()


def build(out_path, title, file_name, seed, filler_bytes, style, work_dir):
    """Makes the image file at out_path; answers its description (sizes, SHA-256, every file's SHA-256)."""
    files = tree(title, file_name, seed, filler_bytes, style)
    size = partition_bytes_for(files)
    staging = tempfile.mkdtemp(prefix="tree-", dir=work_dir)
    partition = os.path.join(work_dir, "partition-%d.img" % os.getpid())
    partial = out_path + ".partial"
    try:
        write_tree(staging, files)
        with open(partition, "wb") as f:
            f.truncate(size)
        run([tool("VORLANE_MKNTFS", "mkntfs", "mkntfs"), "-q", "-F", "-Q", "-p", str(PARTITION_START_SECTOR),
             "-H", "255", "-S", "63", "-L", "DemoSystem", partition])
        listing = "".join("%s\t%s\n" % (name, os.path.join(staging, name.lstrip("/"))) for name in sorted(files))
        run([tool("VORLANE_NTFSFILL", "vorlane-ntfsfill"), partition], input=listing.encode("utf-8"),
            env=dict(os.environ, LC_ALL="C.UTF-8"))
        clone = subprocess.Popen([tool("VORLANE_PARTCLONE_NTFS", "partclone.ntfs", "partclone.ntfs"),
                                  "-c", "-a0", "-q", "-s", partition, "-o", "-",
                                  "-L", os.path.join(work_dir, "partclone.log")],
                                 stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
        pack = subprocess.run([tool("VORLANE_IMAGETOOL", "vorlane-imagetool"), "pack", partial, "ntfs",
                               str(size), "1"], stdin=clone.stdout, stdout=subprocess.PIPE,
                              stderr=subprocess.PIPE)
        clone.stdout.close()
        if clone.wait() != 0 or pack.returncode != 0:
            raise RuntimeError("taking the partition failed: " + pack.stderr.decode("utf-8", "replace")[-600:])
        os.replace(partial, out_path)
    finally:
        shutil.rmtree(staging, ignore_errors=True)
        for path in (partition, partial):
            if os.path.exists(path):
                os.unlink(path)
    return {
        "title": title, "file": file_name, "style": style, "partition_bytes": size,
        "size": os.path.getsize(out_path), "sha256": sha256_file(out_path),
        "files": {name: hashlib.sha256(data).hexdigest() for name, data in sorted(files.items())},
    }


def recipe_key(title, file_name, seed, filler_bytes, style):
    """Changes with the parameters and with this file (the recipe), so that a changed recipe rebuilds."""
    digest = hashlib.sha256()
    with open(os.path.abspath(__file__), "rb") as f:
        digest.update(f.read())
    digest.update(json.dumps([title, file_name, seed, filler_bytes, style]).encode("utf-8"))
    return digest.hexdigest()[:16]


def default_cache():
    return os.environ.get("VORLANE_DEMO_IMAGES") or os.path.join(ROOT, "build", "demo-images")


def cached(cache_dir, title, file_name, seed, filler_bytes, style):
    """The image for these parameters, built if the cache lacks it: (image path, description)."""
    os.makedirs(cache_dir, exist_ok=True)
    key = recipe_key(title, file_name, seed, filler_bytes, style)
    stem = os.path.splitext(file_name)[0]
    image = os.path.join(cache_dir, "%s-%s.gho" % (stem, key))
    about = image + ".json"
    with open(os.path.join(cache_dir, ".lock"), "w") as lock:
        fcntl.flock(lock, fcntl.LOCK_EX)   # one builder at a time (tests and the demo may share the cache)
        if os.path.exists(image) and os.path.exists(about):
            with open(about, encoding="utf-8") as f:
                description = json.load(f)
            if description.get("size") == os.path.getsize(image):
                return image, description
        description = build(image, title, file_name, seed, filler_bytes, style, cache_dir)
        with open(about + ".tmp", "w", encoding="utf-8") as f:
            json.dump(description, f, ensure_ascii=False, indent=1)
        os.replace(about + ".tmp", about)
        return image, description


def place(image, target):
    """Puts a cached image at target: a hard link where the file system allows, else a copy."""
    if os.path.exists(target):
        if os.path.samefile(image, target):
            return
        os.unlink(target)
    try:
        os.link(image, target)
    except OSError:
        shutil.copyfile(image, target + ".tmp")
        os.replace(target + ".tmp", target)


def main(argv=None):
    parser = argparse.ArgumentParser(description="One demo image")
    parser.add_argument("out")
    parser.add_argument("title")
    parser.add_argument("--seed", type=int, default=1)
    parser.add_argument("--mib", type=int, default=100, help="incompressible filler in MiB (default 100)")
    parser.add_argument("--style", choices=("xp", "nt6"), default="xp")
    args = parser.parse_args(argv)
    image, description = cached(default_cache(), args.title, os.path.basename(args.out), args.seed,
                                args.mib * MiB, args.style)
    place(image, args.out)
    print("%s: %d bytes, sha256 %s" % (args.out, description["size"], description["sha256"]))
    return 0


if __name__ == "__main__":
    sys.exit(main())
