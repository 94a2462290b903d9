#!/usr/bin/env python3
"""The NTFS helpers through ntfs-3g's library, without FUSE: vorlane-ntfsfill makes folders and files on a
fresh volume (copies and incompressible content), vorlane-ntfsread hands a file back byte for byte, and
refuses a missing one with a reason.

Usage: ntfs_helpers_test.py BIN_DIR WORK_DIR
"""
import os
import shutil
import subprocess
import sys
import unittest

BIN, WORK = sys.argv[1], sys.argv[2]


class NtfsHelpers(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        shutil.rmtree(WORK, ignore_errors=True)
        os.makedirs(WORK)
        cls.volume = os.path.join(WORK, "volume.ntfs")
        with open(cls.volume, "wb") as f:
            f.truncate(64 << 20)
        subprocess.run(["mkntfs", "-q", "-F", "-Q", cls.volume], check=True, stderr=subprocess.DEVNULL)
        cls.source = os.path.join(WORK, "source.bin")
        with open(cls.source, "wb") as f:
            f.write(bytes(range(256)) * 40000 + b"tail")
        listing = (f"/Windows/System32/drivers/a.sys\t{cls.source}\n"
                   f"/系统备份/损坏.GHO\t{cls.source}\n"
                   f"/Users/Demo/clip.mp4\trandom:5000001:3\n")
        subprocess.run([os.path.join(BIN, "vorlane-ntfsfill"), cls.volume], input=listing.encode(), check=True)

    def read(self, path):
        return subprocess.run([os.path.join(BIN, "vorlane-ntfsread"), self.volume, path], stdout=subprocess.PIPE,
                              stderr=subprocess.PIPE)

    def test_files_come_back_byte_for_byte(self):
        with open(self.source, "rb") as f:
            expected = f.read()
        for path in ("/Windows/System32/drivers/a.sys", "/系统备份/损坏.GHO"):
            r = self.read(path)
            self.assertEqual(r.returncode, 0, r.stderr)
            self.assertEqual(r.stdout, expected, path)

    def test_random_content_has_its_size_and_does_not_compress(self):
        r = self.read("/Users/Demo/clip.mp4")
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertEqual(len(r.stdout), 5000001)
        packed = subprocess.run(["gzip", "-1", "-c"], input=r.stdout, stdout=subprocess.PIPE, check=True).stdout
        self.assertGreater(len(packed), len(r.stdout) * 99 // 100)

    def test_a_missing_file_is_refused_with_a_reason(self):
        r = self.read("/Windows/none.gho")
        self.assertNotEqual(r.returncode, 0)
        self.assertEqual(r.stdout, b"")
        self.assertIn(b"the file is missing", r.stderr)


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1])
