#!/usr/bin/env python3
"""The signing tool and the Python signing module: keys, signatures and checks agree with each other, and
a changed byte, another key or a damaged signature fails.

Usage: test_signing.py VORLANE_SIGN_BINARY"""
import os
import subprocess
import sys
import tempfile
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.dirname(HERE))
import signing  # noqa: E402

TOOL = None


def run(*args):
    return subprocess.run([TOOL, *args], capture_output=True, text=True).returncode


class SigningTest(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.TemporaryDirectory()
        self.dir = self.tmp.name
        self.secret = os.path.join(self.dir, "k.secret")
        self.public = os.path.join(self.dir, "k.public")
        self.assertEqual(run("keygen", self.secret, self.public), 0)
        self.file = os.path.join(self.dir, "update.txt")
        with open(self.file, "wb") as f:
            f.write(b"version=5.5\r\n")

    def tearDown(self):
        self.tmp.cleanup()

    def test_sign_and_verify_with_the_tool(self):
        self.assertEqual(run("sign", self.secret, self.file), 0)
        self.assertTrue(os.path.exists(self.file + ".sig"))
        self.assertEqual(run("verify", self.public, self.file), 0)
        with open(self.file, "ab") as f:
            f.write(b" ")
        self.assertEqual(run("verify", self.public, self.file), 1)

    def test_another_key_or_a_damaged_signature_fails(self):
        other_secret = os.path.join(self.dir, "o.secret")
        other_public = os.path.join(self.dir, "o.public")
        self.assertEqual(run("keygen", other_secret, other_public), 0)
        self.assertEqual(run("sign", other_secret, self.file), 0)
        self.assertEqual(run("verify", self.public, self.file), 1)
        self.assertEqual(run("sign", self.secret, self.file), 0)
        with open(self.file + ".sig") as f:
            sig = f.read().strip()
        with open(self.file + ".sig", "w") as f:
            f.write(("1" if sig[0] != "1" else "2") + sig[1:] + "\n")
        self.assertEqual(run("verify", self.public, self.file), 1)
        with open(self.file + ".sig", "w") as f:
            f.write("short\n")
        self.assertEqual(run("verify", self.public, self.file), 1)

    def test_python_module_and_tool_agree(self):
        signing.sign_file(self.secret, self.file)
        self.assertEqual(run("verify", self.public, self.file), 0)
        self.assertEqual(run("sign", self.secret, self.file), 0)
        with open(self.public) as f, open(self.file + ".sig") as g, open(self.file, "rb") as h:
            self.assertTrue(signing.verify_bytes(f.read(), h.read(), g.read()))

    def test_development_key_pair_matches(self):
        with open(signing.DEVELOPMENT_SECRET) as f:
            secret = f.read()
        with open(signing.DEVELOPMENT_PUBLIC) as f:
            public = f.read()
        self.assertTrue(signing.verify_bytes(public, b"x", signing.sign_bytes(secret, b"x")))

    def test_bad_usage_and_bad_key_files(self):
        self.assertEqual(run("frobnicate"), 2)
        self.assertEqual(run("sign", self.public, self.file), 2)  # a public key is no secret key
        self.assertEqual(run("verify", self.secret, self.file), 2)


if __name__ == "__main__":
    TOOL = sys.argv.pop(1)
    unittest.main()
