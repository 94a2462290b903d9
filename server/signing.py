#!/usr/bin/env python3
"""Ed25519 signatures for the server's content, in the program's text form (hexadecimal digits on one line),
through Debian's libsodium (the same library as the vorlane-sign tool).

Usage: signing.py sign-catalogue CONTENT_DIR [--key SECRET_FILE]
       (writes CONTENT_DIR/systeminfof.txt.sig; the key defaults to the development key)
As a module: sign_bytes(secret_hex, data), verify_bytes(public_hex, data, signature_hex),
sign_file(secret_path, path) and sign_catalogue(content_dir, secret_path).
"""
import argparse
import ctypes
import ctypes.util
import os
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
DEVELOPMENT_SECRET = os.path.join(HERE, "keys", "development.secret")
DEVELOPMENT_PUBLIC = os.path.join(HERE, "keys", "development.public")
CATALOGUE = "systeminfof.txt"

_lib = None


def _sodium():
    global _lib
    if _lib is None:
        name = ctypes.util.find_library("sodium") or "libsodium.so.23"
        _lib = ctypes.CDLL(name)
        if _lib.sodium_init() < 0:
            raise RuntimeError("libsodium failed to start")
    return _lib


def read_key(path, size):
    with open(path) as f:
        key = bytes.fromhex(f.read().strip())
    if len(key) != size:
        raise ValueError("%s does not hold a key of %d bytes" % (path, size))
    return key


def sign_bytes(secret_hex, data):
    secret = bytes.fromhex(secret_hex.strip())
    if len(secret) != 64:
        raise ValueError("a secret key has 64 bytes")
    sig = ctypes.create_string_buffer(64)
    _sodium().crypto_sign_detached(sig, None, data, ctypes.c_ulonglong(len(data)), secret)
    return sig.raw.hex()


def verify_bytes(public_hex, data, signature_hex):
    try:
        public = bytes.fromhex(public_hex.strip())
        sig = bytes.fromhex(signature_hex.strip())
    except ValueError:
        return False
    if len(public) != 32 or len(sig) != 64:
        return False
    return _sodium().crypto_sign_verify_detached(sig, data, ctypes.c_ulonglong(len(data)), public) == 0


def sign_file(secret_path, path):
    """Writes PATH.sig beside path and answers the signature's text."""
    with open(secret_path) as f:
        secret_hex = f.read()
    with open(path, "rb") as f:
        data = f.read()
    text = sign_bytes(secret_hex, data)
    with open(path + ".sig", "w") as f:
        f.write(text + "\n")
    return text


def sign_catalogue(content_dir, secret_path=DEVELOPMENT_SECRET):
    return sign_file(secret_path, os.path.join(content_dir, CATALOGUE))


def main(argv):
    parser = argparse.ArgumentParser(description="Signs a content folder's catalogue")
    parser.add_argument("verb", choices=["sign-catalogue"])
    parser.add_argument("content_dir")
    parser.add_argument("--key", default=DEVELOPMENT_SECRET, help="secret key file (hexadecimal)")
    args = parser.parse_args(argv)
    sign_catalogue(args.content_dir, args.key)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
