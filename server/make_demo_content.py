#!/usr/bin/env python3
"""Makes a demo content folder for the reference server: the catalogue "systeminfof.txt", the version files
"banben.txt" and "anzhuangbao.txt", and real image files: each one an NTFS file system with a Windows-like
tree, taken with partclone and packed into our image container (server/demo_image.py).

Usage: make_demo_content.py OUT_DIR [--base-url URL] [--image-mib N] [--encoding gbk] [--cache DIR]
Images are built once into the cache folder (default build/demo-images) and linked into OUT_DIR/images;
"demo-images.json" beside the catalogue describes each image's files (their SHA-256) for checks.
"""
import argparse
import json
import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import demo_image  # noqa: E402

DEFAULT_IMAGE_MIB = 100

# name, picture number, file name, description, seed, least size in MiB (None: the --image-mib size), style
# of the boot files the image carries (xp: boot.ini; nt6: the boot manager's store)
IMAGES = [
    ("Windows XP SP3 专业版 32位", 1, "winxp_sp3_x86.gho", "经典稳定，适合老机器，集成常用运行库", 11, None, "xp"),
    ("Windows 7 旗舰版 32位", 2, "win7_ultimate_x86.gho", "兼容性好，适合大多数电脑，纯净无捆绑", 12, 104, "nt6"),
    ("Windows 8.1 专业版 32位", 5, "win81_pro_x86.gho", "开机快，界面新，适合较新的电脑", 13, None, "nt6"),
    ("Windows Server 2003 企业版", 8, "win2003_ent_x86.gho", "服务器版本，稳定可靠，适合办公网络", 14, None, "xp"),
]


def size_text(size):
    return "%dM" % (size // (1024 * 1024))


def cached_image(row, image_mib=DEFAULT_IMAGE_MIB, cache_dir=None):
    """The image of catalogue row `row` (from 0), built once into the cache: (its path, its description)."""
    name, _, file_name, _, seed, mib, style = IMAGES[row]
    # Incompressible filler of the least size makes the packed image at least that large.
    filler = (mib or image_mib) * demo_image.MiB + seed * 4096
    return demo_image.cached(cache_dir or demo_image.default_cache(), name, file_name, seed, filler, style)


def record(row, facts, base_url):
    """The catalogue line of row `row` for an image described by facts, served under base_url."""
    name, picture, file_name, description = IMAGES[row][:4]
    url = "%s/images/%s" % (base_url.rstrip("/"), file_name)
    fields = [name, str(picture), url, file_name, description, size_text(facts["size"]), facts["sha256"]]
    return "<line>" + "|".join(fields) + "|</line>"


def make(out_dir, base_url, image_mib, encoding, cache_dir=None):
    images_dir = os.path.join(out_dir, "images")
    os.makedirs(images_dir, exist_ok=True)
    records = []
    about = {}
    for row, entry in enumerate(IMAGES):
        file_name = entry[2]
        image, facts = cached_image(row, image_mib, cache_dir)
        demo_image.place(image, os.path.join(images_dir, file_name))
        about[file_name] = facts
        records.append(record(row, facts, base_url))
    with open(os.path.join(out_dir, "demo-images.json"), "w", encoding="utf-8") as f:
        json.dump(about, f, ensure_ascii=False, indent=1)
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
    parser.add_argument("--cache", default=None,
                        help="folder of built images, kept between runs (default build/demo-images)")
    args = parser.parse_args(argv)
    records = make(args.out_dir, args.base_url, max(1, args.image_mib), args.encoding, args.cache)
    print("make_demo_content: %d catalogue records in %s" % (len(records), args.out_dir))
    return 0


if __name__ == "__main__":
    sys.exit(main())
