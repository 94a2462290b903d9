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



class PublishTest(unittest.TestCase):
    def test_publish_writes_a_signed_release(self):
        with tempfile.TemporaryDirectory() as tmp:
            secret = os.path.join(tmp, "k.secret")
            public = os.path.join(tmp, "k.public")
            self.assertEqual(run("keygen", secret, public), 0)
            installer = os.path.join(tmp, "setup.exe")
            image = os.path.join(tmp, "w7.gho")
            with open(installer, "wb") as f:
                f.write(b"MZ" + bytes(range(256)) * 10)
            with open(image, "wb") as f:
                f.write(b"image" * 1000)
            out = os.path.join(tmp, "content")
            publish = os.path.join(os.path.dirname(HERE), "publish")
            r = subprocess.run([sys.executable, publish, "--key", secret, "--out", out, "--base-url",
                                "http://h:1/", "--version", "5.10", "--installer", installer,
                                "--image", "Windows 7 旗舰版|3|纯净安装|" + image], capture_output=True, text=True)
            self.assertEqual(r.returncode, 0, r.stderr)
            for name in ("update.txt", "systeminfof.txt"):
                self.assertEqual(run("verify", public, os.path.join(out, name)), 0, name)
            with open(os.path.join(out, "update.txt"), "rb") as f:
                manifest = dict(line.split("=", 1) for line in f.read().decode("ascii").split("\r\n") if line)
            self.assertEqual(manifest["version"], "5.10")
            self.assertEqual(manifest["url"], "http://h:1/kxrupdate.exe")
            self.assertEqual(int(manifest["size"]), os.path.getsize(installer))
            import hashlib
            with open(installer, "rb") as f:
                self.assertEqual(manifest["sha256"], hashlib.sha256(f.read()).hexdigest())
            with open(os.path.join(out, "banben.txt"), "rb") as f:
                self.assertEqual(f.read(), b"5.10\r\n")
            with open(os.path.join(out, "systeminfof.txt"), "rb") as f:
                catalogue = f.read().decode("gbk")
            with open(image, "rb") as f:
                digest = hashlib.sha256(f.read()).hexdigest()
            self.assertEqual(catalogue, "<line>Windows 7 旗舰版|3|http://h:1/images/w7.gho|w7.gho|纯净安装|1M|%s|</line>\r\n"
                             % digest)
            with open(os.path.join(out, "images", "w7.gho"), "rb") as f, open(image, "rb") as g:
                self.assertEqual(f.read(), g.read())
            # A version that is not numbers is refused and writes nothing more.
            r = subprocess.run([sys.executable, publish, "--key", secret, "--out", out + "2", "--base-url", "http://h",
                                "--version", "5.5a", "--installer", installer], capture_output=True, text=True)
            self.assertEqual(r.returncode, 1)

    def test_demo_catalogue_can_be_signed(self):
        import make_demo_content
        with tempfile.TemporaryDirectory() as tmp:
            make_demo_content.make(tmp, "http://127.0.0.1:9999", 1, "gbk")
            signing.sign_catalogue(tmp)
            with open(os.path.join(tmp, "systeminfof.txt"), "rb") as f, open(signing.DEVELOPMENT_PUBLIC) as p, \
                    open(os.path.join(tmp, "systeminfof.txt.sig")) as s:
                self.assertTrue(signing.verify_bytes(p.read(), f.read(), s.read()))


if __name__ == "__main__":
    TOOL = sys.argv.pop(1)
    unittest.main()
