"""What the tests that drive the sandbox or the reference server share: the server launcher, the sandbox
runner and the transcript reader (docs/sandbox.md describes the transcript's lines).

    sys.path.insert(0, os.path.join(ROOT, "tests", "support"))
    from vorlane_test import RefServer, Transcript, run_sandbox
"""
import hashlib
import json
import os
import random
import re
import signal
import struct
import subprocess
import sys
import tempfile
import time
import urllib.request
import zlib

ROOT = os.path.abspath(os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", ".."))
REFSERVER = os.path.join(ROOT, "server", "refserver.py")
WINE_RUN = os.path.join(ROOT, "scripts", "wine-run")
_MIB = 1024 * 1024


class RefServer:
    """The reference server on a free loopback port, serving root (a fresh empty folder when None).

    virtual: "PATH=SIZE[:SEED]" entries; args: further server options. url has no trailing "/". The control
    interface is on (loopback only): tests steer faults through it.
    """

    def __init__(self, root=None, virtual=(), args=()):
        self._scratch = tempfile.TemporaryDirectory(prefix="vorlane-server-")
        if root is None:
            root = os.path.join(self._scratch.name, "content")
            os.makedirs(root)
        self.root = root
        port_file = os.path.join(self._scratch.name, "port")
        command = [sys.executable, REFSERVER, "--root", root, "--port", "0", "--port-file", port_file, "--quiet",
                   "--test-control"]
        for entry in virtual:
            command += ["--virtual", entry]
        self.proc = subprocess.Popen(command + list(args), stdout=subprocess.DEVNULL)
        for _ in range(400):
            if os.path.exists(port_file) or self.proc.poll() is not None:
                break
            time.sleep(0.05)
        if not os.path.exists(port_file):
            self.stop()
            raise RuntimeError("the reference server did not start")
        with open(port_file) as f:
            self.port = int(f.read().strip())
        self.url = "http://127.0.0.1:%d" % self.port

    def control(self, what, timeout=60, **query):
        """Calls /_control/WHAT with the query and answers its JSON."""
        q = "&".join("%s=%s" % (k, urllib.request.quote(str(v))) for k, v in query.items())
        with urllib.request.urlopen("%s/_control/%s?%s" % (self.url, what, q), timeout=timeout) as r:
            return json.loads(r.read().decode("utf-8"))

    def stop(self):
        if self.proc.poll() is None:
            self.proc.send_signal(signal.SIGTERM)
            try:
                self.proc.wait(10)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait()
        self._scratch.cleanup()

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.stop()


def wine(prefix, *args, env=None):
    """Runs a Windows program in the Wine prefix (output dropped); answers its exit code."""
    env = dict(os.environ, LANG="zh_CN.UTF-8", **(env or {}))
    return subprocess.call([WINE_RUN, "--prefix", prefix] + list(args), env=env,
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


def run_sandbox(exe, prefix, run_dir, server_url=None, timeout=300, env=None):
    """One run of a sandbox executable with run_dir as VORLANE_SANDBOX_DIR (script.txt, machine.ini there;
    transcript.txt and screenshots land there). Answers the exit code, or "timeout" after killing it."""
    extra = dict(VORLANE_SANDBOX_DIR=run_dir, **(env or {}))
    if server_url is not None:
        extra["VORLANE_SANDBOX_SERVER"] = server_url
    proc = subprocess.Popen([WINE_RUN, "--prefix", prefix, exe], env=dict(os.environ, LANG="zh_CN.UTF-8", **extra),
                            stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                            start_new_session=True)
    try:
        return proc.wait(timeout)
    except subprocess.TimeoutExpired:
        os.killpg(proc.pid, signal.SIGKILL)
        proc.wait()
        return "timeout"


def write_run_files(run_dir, script, machine=None):
    """Writes script.txt (ended by "close") and, when given, machine.ini into a new run_dir."""
    os.makedirs(run_dir, exist_ok=True)
    with open(os.path.join(run_dir, "script.txt"), "w", encoding="utf-8") as f:
        f.write(script.strip() + "\nclose\n")
    if machine is not None:
        with open(os.path.join(run_dir, "machine.ini"), "w", encoding="utf-8") as f:
            f.write(machine)


class Transcript:
    """The transcript of one sandbox run."""

    def __init__(self, path):
        with open(path, encoding="utf-8", errors="replace") as f:
            self.lines = f.read().splitlines()
        self.path = path

    def index(self, pattern, start=0):
        """Index of the first line at or after start matching the regular expression; -1 when none."""
        rx = re.compile(pattern)
        for i in range(start, len(self.lines)):
            if rx.search(self.lines[i]):
                return i
        return -1

    def has(self, pattern):
        return self.index(pattern) >= 0

    def count(self, pattern):
        rx = re.compile(pattern)
        return sum(1 for line in self.lines if rx.search(line))

    def errors(self):
        """The script's error lines."""
        return [line for line in self.lines if line.startswith("error")]

    def msgbox_lines(self):
        return [line for line in self.lines if line.startswith("msgbox")]

    def msgboxes(self):
        """(caption, flags, text, answer) of every answered message box, in order."""
        rx = re.compile(r'^msgbox caption="(.*?)" flags=0x([0-9A-F]{8}) text="(.*)" answer=(\w+)')
        out = []
        for line in self.lines:
            m = rx.match(line)
            if m:
                out.append((m.group(1), int(m.group(2), 16), m.group(3), m.group(4)))
        return out

    def dump_lines(self, n):
        """The lines of the n-th dump (from 1) other than its page line, in order, and its page."""
        k, out, page, inside = 0, [], None, False
        for line in self.lines:
            if line == "dump begin":
                k += 1
                inside = k == n
            elif line == "dump end" and inside:
                break
            elif inside and line.startswith("page "):
                page = int(line[5:])
            elif inside:
                out.append(line)
        return out, page

    def dump(self, n):
        """The n-th dump (from 1) as {(kind, control name): rest of line}, plus "page"."""
        lines, page = self.dump_lines(n)
        out = {}
        for line in lines:
            m = re.match(r"^(control|image) (\S+) (.*)$", line)
            if m:
                out[(m.group(1), m.group(2))] = m.group(3)
        if page is not None:
            out["page"] = page
        return out

    def commands(self, start=0, end=None):
        """The command lines the program ran (recorded, not run), in order."""
        rx = re.compile(r'^command "(.*)"$')
        out = []
        for line in self.lines[start:end]:
            m = rx.match(line)
            if m:
                out.append(m.group(1).replace('\\"', '"'))
        return out


# Image files of our container (docs/image-format.md), version 1 with stored blocks, for the flows' checks.

def container_header(partition_bytes):
    head = bytearray(512)
    head[0:8] = b"VRLNIMG1"
    struct.pack_into("<IIIII", head, 8, 1, 512, _MIB, 0, 0)
    struct.pack_into("<QQ", head, 32, partition_bytes, _MIB)
    head[64:73] = b"partclone"
    head[80:84] = b"ntfs"
    struct.pack_into("<I", head, 508, zlib.crc32(bytes(head[:508])))
    return bytes(head)


def container_trailer(blocks, stream_bytes, digest):
    tail = bytearray(64)
    tail[0:8] = b"VRLNEND1"
    struct.pack_into("<QQ", tail, 8, blocks, stream_bytes)
    tail[24:56] = digest
    struct.pack_into("<I", tail, 60, zlib.crc32(bytes(tail[:60])))
    return bytes(tail)


def stored_block(raw):
    crc = zlib.crc32(raw)
    return b"VBLK" + struct.pack("<IIIII", 0, len(raw), len(raw), crc, crc) + raw


def container_image(path, size, seed, partition_bytes=1 << 30):
    """Writes a finished image of our container of exactly size bytes (stored blocks of 1 MiB, the last one
    shorter), taken from an NTFS partition of partition_bytes; answers its SHA-256 in hexadecimal."""
    blocks = -(-(size - 576) // (_MIB + 24))
    stream = size - 576 - 24 * blocks
    assert (blocks - 1) * _MIB < stream <= blocks * _MIB, size
    chunk = random.Random(seed).randbytes(_MIB)
    whole, body = hashlib.sha256(), hashlib.sha256()
    with open(path, "wb") as f:
        def put(data, in_body=False):
            f.write(data)
            whole.update(data)
            if in_body:
                body.update(data)
        put(container_header(partition_bytes))
        for i in range(blocks):
            raw = struct.pack("<Q", i) + chunk[8:min(_MIB, stream - i * _MIB)]
            put(stored_block(raw), True)
        put(container_trailer(blocks, stream, body.digest()))
    return whole.hexdigest()
