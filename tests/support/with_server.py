#!/usr/bin/env python3
"""Runs one command with a reference server on a free loopback port, then stops the server.

Usage: with_server.py [--root DIR] [--log FILE] [--virtual PATH=SIZE[:SEED]]... -- COMMAND [ARGS...]
The command sees VORLANE_TEST_SERVER=http://127.0.0.1:PORT (no trailing "/") and VORLANE_TEST_SERVER_PORT.
The exit code is the command's.
"""
import os
import subprocess
import sys

from vorlane_test import RefServer


def main(argv):
    if "--" not in argv:
        sys.stderr.write(__doc__)
        return 2
    split = argv.index("--")
    server_args, command = argv[:split], argv[split + 1:]
    root = None
    if "--root" in server_args:
        at = server_args.index("--root")
        root = server_args[at + 1]
        server_args = server_args[:at] + server_args[at + 2:]
    try:
        server = RefServer(root, args=server_args)
    except RuntimeError as e:
        sys.stderr.write("with_server: %s\n" % e)
        return 1
    with server:
        env = dict(os.environ, VORLANE_TEST_SERVER=server.url, VORLANE_TEST_SERVER_PORT=str(server.port))
        return subprocess.call(command, env=env)


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
