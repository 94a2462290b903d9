#!/usr/bin/env python3
"""Runs one command with a reference server on a free loopback port, then stops the server.

Usage: with_server.py [--root DIR] [--log FILE] [--virtual PATH=SIZE[:SEED]]... -- COMMAND [ARGS...]
The command sees VORLANE_TEST_SERVER=http://127.0.0.1:PORT (no trailing "/") and VORLANE_TEST_SERVER_PORT.
The exit code is the command's.
"""
import os
import signal
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))


def main(argv):
    if "--" not in argv:
        sys.stderr.write(__doc__)
        return 2
    split = argv.index("--")
    server_args, command = argv[:split], argv[split + 1:]
    with tempfile.TemporaryDirectory(prefix="vorlane-server-") as tmp:
        port_file = os.path.join(tmp, "port")
        if "--root" not in server_args:
            os.makedirs(os.path.join(tmp, "content"))
            server_args = ["--root", os.path.join(tmp, "content")] + server_args
        server = subprocess.Popen([sys.executable, os.path.join(HERE, "refserver.py"), "--port", "0",
                                   "--port-file", port_file, "--quiet", "--test-control"] + server_args,
                                  stdout=subprocess.DEVNULL)
        try:
            for _ in range(200):
                if os.path.exists(port_file) or server.poll() is not None:
                    break
                time.sleep(0.05)
            if not os.path.exists(port_file):
                sys.stderr.write("with_server: the reference server did not start\n")
                return 1
            with open(port_file) as f:
                port = f.read().strip()
            env = dict(os.environ, VORLANE_TEST_SERVER="http://127.0.0.1:%s" % port,
                       VORLANE_TEST_SERVER_PORT=port)
            return subprocess.call(command, env=env)
        finally:
            server.send_signal(signal.SIGTERM)
            try:
                server.wait(10)
            except subprocess.TimeoutExpired:
                server.kill()
                server.wait()


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
