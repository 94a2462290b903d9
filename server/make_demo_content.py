#!/usr/bin/env python3
"""Makes a demo content folder for the reference server: the catalogue "systeminfof.txt", the version files
"banben.txt" and "anzhuangbao.txt", and real image files of deterministic content.

Usage: make_demo_content.py OUT_DIR [--base-url URL] [--image-mib N] [--encoding gbk]
Existing images of the right size are kept (their SHA-256 is recomputed), so running it again is cheap.
"""
import argparse
import hashlib
import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from refserver import write_virtual_file  # noqa: E402

DEFAULT_IMAGE_MIB = 100

# name, picture number, file name, description, seed, size in MiB (None: the --image-mib size)
IMAGES = [
    ("Windows XP SP3 专业版 32位", 1, "winxp_sp3_x86.gho", "经典稳定，适合老机器，集成常用运行库", 11, None),
    ("Windows 7 旗舰版 32位", 2, "win7_ultimate_x86.gho", "兼容性好，适合大多数电脑，纯净无捆绑", 12, 104),
    ("Windows 8.1 专业版 32位", 5, "win81_pro_x86.gho", "开机快，界面新，适合较新的电脑", 13, None),
    ("Windows Server 2003 企业版", 8, "win2003_ent_x86.gho", "服务器版本，稳定可靠，适合办公网络", 14, None),
]


def sha256_file(path):
    digest = hashlib.sha256()
    with open(path, "rb") as f:
        for piece in iter(lambda: f.read(4 * 1024 * 1024), b""):
            digest.update(piece)
    return digest.hexdigest()


def size_text(size):
    return "%dM" % (size // (1024 * 1024))


def make(out_dir, base_url, image_mib, encoding):
    images_dir = os.path.join(out_dir, "images")
    os.makedirs(images_dir, exist_ok=True)
    records = []
    for name, picture, file_name, description, seed, mib in IMAGES:
        size = (mib or image_mib) * 1024 * 1024 + seed * 4096
        path = os.path.join(images_dir, file_name)
        if os.path.isfile(path) and os.path.getsize(path) == size:
            digest = sha256_file(path)
        else:
            digest = write_virtual_file(path, size, seed)
        url = "%s/images/%s" % (base_url.rstrip("/"), file_name)
        fields = [name, str(picture), url, file_name, description, size_text(size), digest]
        records.append("<line>" + "|".join(fields) + "|</line>")
    catalogue = "\r\n".join(records) + "\r\n"
    with open(os.path.join(out_dir, "systeminfof.txt"), "wb") as f:
        f.write(catalogue.encode(encoding))
    with open(os.path.join(out_dir, "banben.txt"), "wb") as f:
        f.write(b"5.4\r\n")
    with open(os.path.join(out_dir, "anzhuangbao.txt"), "wb") as f:
        f.write(("%s/kxrupdate.exe" % base_url.rstrip("/")).encode("ascii"))
    return records


def main(argv=None):
    parser = argparse.ArgumentParser(description="Demo content folder for the reference server")
    parser.add_argument("out_dir")
    parser.add_argument("--base-url", default="http://127.0.0.1:8750",
                        help="the server's base address written into the catalogue and the installer URL")
    parser.add_argument("--image-mib", type=int, default=DEFAULT_IMAGE_MIB,
                        help="size of the first image in MiB (at least 100; default 100)")
    parser.add_argument("--encoding", default="gbk",
                        help="code page of the catalogue text (default gbk, code page 936)")
    args = parser.parse_args(argv)
    records = make(args.out_dir, args.base_url, max(1, args.image_mib), args.encoding)
    print("make_demo_content: %d catalogue records in %s" % (len(records), args.out_dir))
    return 0


if __name__ == "__main__":
    sys.exit(main())
