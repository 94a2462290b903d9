#!/usr/bin/env python3
"""Demo images are real images of ours: the container checks out, partclone restores its stream onto a
partition, and that partition holds the image's tree byte for byte. Built in a cache of the test's own."""
import hashlib
import os
import shutil
import subprocess
import sys
import tempfile
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.dirname(HERE))
import demo_image  # noqa: E402

MiB = 1024 * 1024


def ntfs_file(partition, name):
    r = subprocess.run(["ntfscat", "-f", partition, name], stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    return r.stdout if r.returncode == 0 else None


class DemoImageTests(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.mkdtemp(prefix="demo-image-")
        cls.cache = os.path.join(cls.tmp, "cache")
        cls.image, cls.about = demo_image.cached(cls.cache, "Windows XP 测试", "xp_test.gho", 7, 2 * MiB + 123, "xp")

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.tmp)

    def restore(self):
        """Unpacks the image's stream and lets partclone write it onto a fresh partition file."""
        partition = os.path.join(self.tmp, "restored.img")
        with open(partition, "wb") as f:
            f.truncate(self.about["partition_bytes"])
        unpack = subprocess.Popen([demo_image.tool("VORLANE_IMAGETOOL", "vorlane-imagetool"), "unpack", self.image],
                                  stdout=subprocess.PIPE)
        r = subprocess.run([demo_image.tool("VORLANE_PARTCLONE_NTFS", "partclone.ntfs", "partclone.ntfs"),
                            "-r", "-q", "-s", "-", "-O", partition, "-L", os.path.join(self.tmp, "restore.log")],
                           stdin=unpack.stdout, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        unpack.stdout.close()
        self.assertEqual(unpack.wait(), 0)
        self.assertEqual(r.returncode, 0, r.stderr.decode(errors="replace"))
        return partition

    def test_container_is_whole_and_described(self):
        r = subprocess.run([demo_image.tool("VORLANE_IMAGETOOL", "vorlane-imagetool"), "verify", self.image],
                           stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        self.assertEqual(r.returncode, 0, r.stderr.decode(errors="replace"))
        text = r.stdout.decode()
        self.assertIn("file system: ntfs (partclone stream)", text)
        self.assertIn("partition: %d bytes" % self.about["partition_bytes"], text)
        self.assertEqual(self.about["size"], os.path.getsize(self.image))
        with open(self.image, "rb") as f:
            self.assertEqual(hashlib.sha256(f.read()).hexdigest(), self.about["sha256"])
        # The incompressible filler makes the packed image at least as large as asked.
        self.assertGreater(self.about["size"], 2 * MiB + 123)

    def test_restored_partition_holds_the_tree_byte_for_byte(self):
        partition = self.restore()
        files = self.about["files"]
        for name in (demo_image.MARKER, "/boot.ini", "/Documents and Settings/演示用户/桌面/欢迎使用.txt",
                     "/Windows/System32/kernel32.dll", demo_image.FILLER):
            self.assertIn(name, files)
        for name, digest in files.items():
            data = ntfs_file(partition, name)
            self.assertIsNotNone(data, name)
            self.assertEqual(hashlib.sha256(data).hexdigest(), digest, name)
        marker = ntfs_file(partition, demo_image.MARKER).decode("utf-8")
        self.assertIn("name=Windows XP 测试", marker)
        self.assertIn("file=xp_test.gho", marker)

    def test_styles_carry_their_boot_files(self):
        xp = demo_image.tree("a", "a.gho", 1, 10, "xp")
        nt6 = demo_image.tree("a", "a.gho", 1, 10, "nt6")
        self.assertEqual(xp["/boot.ini"], demo_image.BOOT_INI)
        self.assertNotIn("/Boot/BCD", xp)
        self.assertEqual(nt6["/Boot/BCD"], demo_image.BCD_STORE)
        self.assertNotIn("/boot.ini", nt6)
        self.assertEqual(demo_image.tree("a", "a.gho", 1, 10, "xp"), xp)  # deterministic
        self.assertNotEqual(demo_image.tree("a", "a.gho", 2, 10, "xp")[demo_image.FILLER], xp[demo_image.FILLER])

    def test_cache_reuses_and_rebuilds_by_recipe(self):
        before = os.stat(self.image).st_mtime_ns
        again, about = demo_image.cached(self.cache, "Windows XP 测试", "xp_test.gho", 7, 2 * MiB + 123, "xp")
        self.assertEqual(again, self.image)
        self.assertEqual(os.stat(again).st_mtime_ns, before)
        self.assertEqual(about["sha256"], self.about["sha256"])
        other = demo_image.recipe_key("Windows XP 测试", "xp_test.gho", 8, 2 * MiB + 123, "xp")
        self.assertNotIn(other, os.path.basename(self.image))

    def test_place_links_and_replaces(self):
        target = os.path.join(self.tmp, "served.gho")
        with open(target, "wb") as f:
            f.write(b"old random bytes")
        demo_image.place(self.image, target)
        self.assertTrue(os.path.samefile(self.image, target))
        demo_image.place(self.image, target)  # again: nothing to do
        self.assertTrue(os.path.samefile(self.image, target))


if __name__ == "__main__":
    unittest.main()
