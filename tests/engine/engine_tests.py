#!/usr/bin/env python3
"""The download engine through its exported calls: xldl_harness.exe under Wine against the reference server.

Environment: ENGINE_HARNESS (the harness .exe, with xldl.dll beside it), WINE_RUN (scripts/wine-run),
WINE_PREFIX (the test prefix), REFSERVER (server/refserver.py). Run one group: engine_tests.py FaultTests.
"""
import hashlib
import os
import random
import re
import shutil
import signal
import struct
import subprocess
import sys
import tempfile
import time
import unittest
import urllib.request
import zlib

HARNESS = os.environ.get("ENGINE_HARNESS", "")
WINE_RUN = os.environ.get("WINE_RUN", "")
WINE_PREFIX = os.environ.get("WINE_PREFIX", "")
REFSERVER = os.environ.get("REFSERVER", "")
sys.path.insert(0, os.path.dirname(REFSERVER))
from refserver import VirtualContent  # noqa: E402
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from vorlane_test import RefServer  # noqa: E402

MiB = 1024 * 1024
TEMP_SUFFIX = ".vltmp"
STATE_SUFFIX = ".vlstate"


def winpath(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


class Server(RefServer):
    """The reference server serving root; base is its address."""

    @property
    def base(self):
        return self.url


class Result:
    def __init__(self, code, out):
        self.code = code
        self.out = out.replace("\r", "")
        self.tasks = []
        for m in re.finditer(r"^task (\d+) status=(-?\d+) code=(-?\d+) total=(-?\d+) done=(-?\d+) .*? name=(.*)$",
                             self.out, re.M):
            self.tasks.append({"status": int(m.group(2)), "code": int(m.group(3)), "total": int(m.group(4)),
                               "done": int(m.group(5)), "name": m.group(6)})
        mem = re.search(r"memory peak_working_set=(\d+) peak_private=(\d+)", out)
        self.peak_private = int(mem.group(2)) if mem else None

    @property
    def task(self):
        return self.tasks[-1]


def harness_command(args):
    return [WINE_RUN, "--prefix", WINE_PREFIX, HARNESS] + args


def run_harness(args, timeout=180):
    env = dict(os.environ, LANG="C.UTF-8", LC_ALL="C.UTF-8")
    proc = subprocess.run(harness_command(args), stdout=subprocess.PIPE, stderr=subprocess.STDOUT, env=env,
                          timeout=timeout)
    return Result(proc.returncode, proc.stdout.decode("utf-8", "replace"))


def decode_state(path):
    """The newer valid slot of a state file: (total, done intervals), or None."""
    data = open(path, "rb").read()
    best = None
    for slot in range(2):
        raw = data[slot * 8192:(slot + 1) * 8192]
        if len(raw) < 8192:
            continue
        magic, version, seq, total, url_hash, flags = struct.unpack_from("<IIQqII", raw, 0)
        if magic != 0x54534C56 or version != 1:
            continue
        pos = 32 + 256 + 64
        count, = struct.unpack_from("<I", raw, pos)
        pos += 4
        if count > 500:
            continue
        intervals = [struct.unpack_from("<qq", raw, pos + 16 * i) for i in range(count)]
        end = pos + 16 * count
        crc, = struct.unpack_from("<I", raw, end)
        if crc != zlib.crc32(raw[:end]):
            continue
        if best is None or seq > best[0]:
            best = (seq, total, intervals)
    return None if best is None else (best[1], best[2])


def encode_state(url, total, etag, last_modified, intervals, seq=1):
    """A state slot as the engine writes it (same layout), for crafting a resume."""
    url_hash = 2166136261
    for unit in struct.unpack("<%dH" % len(url), url.encode("utf-16-le")):
        url_hash = ((url_hash ^ unit) * 16777619) & 0xFFFFFFFF
    raw = struct.pack("<IIQqII", 0x54534C56, 1, seq, total, url_hash, 1)
    raw += etag.encode("ascii").ljust(256, b"\0") + last_modified.encode("ascii").ljust(64, b"\0")
    raw += struct.pack("<I", len(intervals)) + b"".join(struct.pack("<qq", a, b) for a, b in intervals)
    raw += struct.pack("<I", zlib.crc32(raw))
    return raw.ljust(8192, b"\0")


def sha256_file(path):
    h = hashlib.sha256()
    with open(path, "rb") as f:
        for piece in iter(lambda: f.read(4 * MiB), b""):
            h.update(piece)
    return h.hexdigest()


class EngineCase(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.mkdtemp(prefix="engine-test-")
        os.makedirs(os.path.join(cls.tmp, "content"))
        cls.server = Server(os.path.join(cls.tmp, "content"))

    @classmethod
    def tearDownClass(cls):
        cls.server.stop()
        shutil.rmtree(cls.tmp, ignore_errors=True)

    def setUp(self):
        self.server.control("reset")
        self.dl = tempfile.mkdtemp(prefix="dl-", dir=self.tmp)

    def virtual(self, name, size, seed=1):
        self.server.control("virtual", path="/" + name, size=size, seed=seed)
        return self.server.base + "/" + name

    def expected_sha(self, name):
        return self.server.control("sha256", path="/" + name)["sha256"]

    def task(self, url, name, folder=None):
        return ["--task", url, winpath(folder or self.dl), name]

    def assertDownloaded(self, name, result, folder=None):
        folder = folder or self.dl
        self.assertEqual(result.code, 0, result.out)
        self.assertEqual(result.task["status"], 4, result.out)
        path = os.path.join(folder, name)
        self.assertEqual(sha256_file(path), self.expected_sha(name))
        self.assertFalse(os.path.exists(path + TEMP_SUFFIX))
        self.assertFalse(os.path.exists(path + STATE_SUFFIX))

    def leftovers(self, folder=None):
        return sorted(os.listdir(folder or self.dl))

    def requests(self, name, since=0.0):
        # The server records a request when it ends; a connection of an earlier, stopped run may end late,
        # so callers that care about one run pass the time it began and get its requests in start order.
        found = [r for r in self.server.control("stats")["requests"] if r["path"] == "/" + name]
        return sorted((r for r in found if r["time"] >= since), key=lambda r: r["time"])


class DownloadTests(EngineCase):
    def test_complete_download_over_several_connections(self):
        url = self.virtual("image.gho", 40 * MiB + 12345, seed=2)
        result = run_harness(self.task(url, "image.gho"))
        self.assertDownloaded("image.gho", result)
        self.assertEqual(result.task["total"], 40 * MiB + 12345)
        self.assertEqual(result.task["done"], 40 * MiB + 12345)
        self.assertEqual(result.task["name"], "image.gho")
        stats = self.server.control("stats")
        self.assertGreater(stats["peak_active"]["/image.gho"], 1)
        ranged = self.requests("image.gho")
        self.assertTrue(all(r["range"] for r in ranged))
        self.assertTrue(all(r["if_range"] for r in ranged[1:]), ranged)

    def test_two_tasks_at_once(self):
        a = self.virtual("a.gho", 12 * MiB, seed=3)
        b = self.virtual("b.gho", 9 * MiB + 7, seed=4)
        result = run_harness(self.task(a, "a.gho") + self.task(b, "b.gho"))
        self.assertEqual(result.code, 0, result.out)
        self.assertEqual([t["status"] for t in result.tasks], [4, 4])
        for name in ("a.gho", "b.gho"):
            self.assertEqual(sha256_file(os.path.join(self.dl, name)), self.expected_sha(name))
        self.assertEqual(self.leftovers(), ["a.gho", "b.gho"])

    def test_redirect_is_followed(self):
        self.virtual("real.gho", 6 * MiB, seed=5)
        self.server.control("fault", path="/moved.gho", status=302, location=self.server.base + "/real.gho")
        result = run_harness(self.task(self.server.base + "/moved.gho", "real.gho"))
        self.assertDownloaded("real.gho", result)
        self.assertEqual(len(self.requests("moved.gho")), 1)  # the ranges go straight to the new address
        self.assertGreater(len(self.requests("real.gho")), 1)

    def test_empty_file_and_file_without_validators(self):
        with open(os.path.join(self.server.root, "empty.gho"), "wb"):
            pass
        result = run_harness(self.task(self.server.base + "/empty.gho", "empty.gho"))
        self.assertDownloaded("empty.gho", result)
        self.server.control("fault", path="/plain.gho", no_validators=1)
        url = self.virtual("plain.gho", 5 * MiB, seed=6)
        self.assertDownloaded("plain.gho", run_harness(self.task(url, "plain.gho")))

    def test_size_query_over_4_gib(self):
        url = self.virtual("huge.gho", 4608 * MiB + 3, seed=7)
        result = run_harness(["--size", url])
        self.assertIn("size ok=1 size=%d" % (4608 * MiB + 3), result.out)
        result = run_harness(["--size", self.server.base + "/missing.gho"])
        self.assertIn("size ok=0", result.out)

    def test_speed_limit_holds_the_rate_down(self):
        url = self.virtual("slow.gho", 6 * MiB, seed=8)
        began = time.monotonic()
        result = run_harness(["--speed-limit", "2048"] + self.task(url, "slow.gho"))
        self.assertDownloaded("slow.gho", result)
        self.assertGreater(time.monotonic() - began, 2.0)  # 6 MiB at 2 MiB/s takes about 3 s


class ResumeTests(EngineCase):
    def test_pause_and_resume_in_one_process(self):
        url = self.virtual("p.gho", 30 * MiB, seed=11)
        self.server.control("fault", path="/p.gho", rate=4 * MiB)
        result = run_harness(["--pause-at", str(8 * MiB), "--pause-ms", "1500"] + self.task(url, "p.gho"))
        self.assertIn("paused at", result.out)
        self.assertDownloaded("p.gho", result)

    def test_stop_then_resume_in_a_new_process(self):
        size = 40 * MiB
        url = self.virtual("s.gho", size, seed=12)
        self.server.control("fault", path="/s.gho", rate=4 * MiB)
        first = run_harness(["--stop-at", str(10 * MiB)] + self.task(url, "s.gho"))
        self.assertEqual(first.code, 3, first.out)
        self.assertEqual(first.task["status"], 3)
        self.assertEqual(self.leftovers(), ["s.gho" + STATE_SUFFIX, "s.gho" + TEMP_SUFFIX])
        claimed = decode_state(os.path.join(self.dl, "s.gho" + STATE_SUFFIX))
        self.assertEqual(claimed[0], size)
        done = sum(b - a for a, b in claimed[1])
        self.assertGreaterEqual(done, 10 * MiB)
        self.server.control("clear-faults")
        began = time.time()
        second = run_harness(self.task(url, "s.gho"))
        self.assertDownloaded("s.gho", second)
        resumed = self.requests("s.gho", since=began)
        self.assertTrue(resumed)
        sent_after = sum(r["bytes"] for r in resumed)
        self.assertLess(sent_after, size - done + 20 * MiB)
        self.assertTrue(all(r["if_range"] for r in resumed), resumed)

    def test_kill_at_random_points_then_resume(self):
        size = 48 * MiB + 999
        url = self.virtual("k.gho", size, seed=13)
        content = VirtualContent(size, 13, 0)
        self.server.control("fault", path="/k.gho", rate=3 * MiB)
        rng = random.Random(int(os.environ.get("ENGINE_KILL_SEED", time.time())))
        env = dict(os.environ, LANG="C.UTF-8")
        temp = os.path.join(self.dl, "k.gho" + TEMP_SUFFIX)
        state = os.path.join(self.dl, "k.gho" + STATE_SUFFIX)
        for round_ in range(3):
            proc = subprocess.Popen(harness_command(self.task(url, "k.gho")), stdout=subprocess.DEVNULL, env=env)
            time.sleep(rng.uniform(0.8, 2.0))
            proc.send_signal(signal.SIGKILL)
            proc.wait()
            time.sleep(0.3)
            if not os.path.exists(state):
                continue
            claimed = decode_state(state)
            if claimed is None:
                continue
            # Every byte the state claims is really in the temporary file.
            with open(temp, "rb") as f:
                for a, b in claimed[1]:
                    f.seek(a)
                    self.assertEqual(f.read(b - a), content.read(a, b - a), "round %d: %d-%d" % (round_, a, b))
        self.server.control("clear-faults")
        result = run_harness(self.task(url, "k.gho"))
        self.assertDownloaded("k.gho", result)

    def test_changed_file_restarts_from_zero(self):
        url = self.virtual("c.gho", 24 * MiB, seed=14)
        self.server.control("fault", path="/c.gho", rate=4 * MiB)
        first = run_harness(["--stop-at", str(6 * MiB)] + self.task(url, "c.gho"))
        self.assertEqual(first.code, 3, first.out)
        self.server.control("clear-faults")
        self.server.control("change", path="/c.gho")
        result = run_harness(self.task(url, "c.gho"))
        self.assertDownloaded("c.gho", result)  # the new content's hash

    def test_offsets_beyond_4_gib(self):
        size = 4608 * MiB + 4097
        url = self.virtual("big.gho", size, seed=15)
        content = VirtualContent(size, 15, 0)
        tail = 6 * MiB + 4097
        etag = '"v-%x-%x-%x"' % (15, size, 0)
        # A download of which all but the last bytes are done: a sparse temporary file and its state.
        temp = os.path.join(self.dl, "big.gho" + TEMP_SUFFIX)
        with open(temp, "wb") as f:
            f.truncate(size)
        with open(os.path.join(self.dl, "big.gho" + STATE_SUFFIX), "wb") as f:
            f.write(encode_state(url, size, etag, "", [(0, size - tail)]))
        result = run_harness(self.task(url, "big.gho"))
        self.assertEqual(result.code, 0, result.out)
        self.assertEqual(result.task["total"], size)
        final = os.path.join(self.dl, "big.gho")
        self.assertEqual(os.path.getsize(final), size)
        with open(final, "rb") as f:
            f.seek(size - tail)
            self.assertEqual(f.read(), content.read(size - tail, tail))
        for r in self.requests("big.gho"):
            first = int(r["range"].split("=")[1].split("-")[0])
            self.assertGreaterEqual(first, size - tail)

    def test_del_temp_file_leaves_nothing(self):
        url = self.virtual("d.gho", 20 * MiB, seed=16)
        self.server.control("fault", path="/d.gho", rate=4 * MiB)
        first = run_harness(["--stop-at", str(4 * MiB)] + self.task(url, "d.gho"))
        self.assertEqual(first.code, 3, first.out)
        self.assertEqual(len(self.leftovers()), 2)
        result = run_harness(["--deltemp"] + self.task(url, "d.gho"))
        self.assertIn("deltemp 1", result.out)
        self.assertEqual(self.leftovers(), [])


class FaultTests(EngineCase):
    def test_not_found_fails_and_leaves_nothing(self):
        result = run_harness(["--deltemp-on-fail"] + self.task(self.server.base + "/nothing.gho", "nothing.gho"))
        self.assertEqual(result.code, 1, result.out)
        self.assertEqual((result.task["status"], result.task["code"]), (1, 404))
        self.assertEqual(result.task["name"], "nothing.gho")
        self.assertEqual(self.leftovers(), [])

    def test_forbidden_after_start_fails(self):
        url = self.virtual("f.gho", 8 * MiB, seed=21)
        self.server.control("fault", path="/f.gho", status=403)
        result = run_harness(self.task(url, "f.gho"))
        self.assertEqual((result.task["status"], result.task["code"]), (1, 403))
        self.assertFalse(os.path.exists(os.path.join(self.dl, "f.gho")))

    def test_transient_errors_are_retried(self):
        cases = [
            {"status": 503, "count": 3, "retry_after": 1},
            {"status": 500, "count": 2},
            {"status": 429, "count": 1, "retry_after": 1},
            {"drop_after": 2 * MiB, "count": 5},
        ]
        for i, fault in enumerate(cases):
            with self.subTest(fault=fault):
                name = "t%d.gho" % i
                url = self.virtual(name, 10 * MiB + i, seed=30 + i)
                self.server.control("fault", path="/" + name, **fault)
                self.assertDownloaded(name, run_harness(self.task(url, name)))
                self.assertGreater(sum(1 for r in self.requests(name) if r["status"] in (500, 503, 429, 206)), 1)

    def test_ignored_range_falls_back_to_one_connection(self):
        url = self.virtual("i.gho", 12 * MiB, seed=22)
        self.server.control("fault", path="/i.gho", ignore_range=1)
        result = run_harness(self.task(url, "i.gho"))
        self.assertDownloaded("i.gho", result)
        self.assertEqual([r["status"] for r in self.requests("i.gho")], [200])

    def test_ignored_range_on_resume_starts_from_byte_zero(self):
        url = self.virtual("r.gho", 16 * MiB, seed=23)
        self.server.control("fault", path="/r.gho", rate=4 * MiB)
        self.assertEqual(run_harness(["--stop-at", str(4 * MiB)] + self.task(url, "r.gho")).code, 3)
        self.server.control("clear-faults")
        self.server.control("fault", path="/r.gho", ignore_range=1)
        began = time.time()
        result = run_harness(self.task(url, "r.gho"))
        self.assertDownloaded("r.gho", result)
        statuses = [r["status"] for r in self.requests("r.gho", since=began)]
        self.assertTrue(statuses)
        self.assertEqual(set(statuses), {200}, statuses)

    def test_stalled_connection_is_taken_over(self):
        url = self.virtual("st.gho", 6 * MiB, seed=24)
        self.server.control("fault", path="/st.gho", stall_after=1 * MiB, stall_seconds=120, count=1)
        began = time.monotonic()
        result = run_harness(self.task(url, "st.gho"))
        self.assertDownloaded("st.gho", result)
        self.assertLess(time.monotonic() - began, 60)

    def test_wrong_content_range_is_never_written(self):
        url = self.virtual("w.gho", 8 * MiB, seed=25)
        self.server.control("fault", path="/w.gho", shift_content_range=4096)
        result = run_harness(self.task(url, "w.gho"))
        self.assertEqual((result.task["status"], result.task["code"]), (1, 6), result.out)
        self.assertFalse(os.path.exists(os.path.join(self.dl, "w.gho")))
        temp = os.path.join(self.dl, "w.gho" + TEMP_SUFFIX)
        if os.path.exists(temp):
            with open(temp, "rb") as f:
                self.assertEqual(f.read().strip(b"\0"), b"")

    def test_connection_limit_gets_fewer_connections(self):
        # Refused connections give way without counting as failures, even when most are refused at once.
        for mode, limit in (("503", 2), ("close", 2), ("close", 1)):
            with self.subTest(mode=mode, limit=limit):
                name = "l%s%d.gho" % (mode, limit)
                url = self.virtual(name, 24 * MiB, seed=26)
                self.server.control("fault", path="/" + name, max_connections=limit, limit_mode=mode,
                                    rate=8 * MiB)
                result = run_harness(self.task(url, name))
                self.assertDownloaded(name, result)


class PathTests(EngineCase):
    def test_chinese_names_and_long_paths(self):
        url = self.virtual("cn.gho", 3 * MiB, seed=41)
        # The folder field holds 261 characters; the whole path goes well beyond MAX_PATH.
        folder = os.path.join(self.dl, "系统镜像", *(["很长的文件夹名字" + "x" * 40] * 3))
        self.assertLess(len(winpath(folder)), 262)
        name = "深度技术 Win7 旗舰版" + "镜" * 55 + ".gho"  # within the 255 bytes a Linux name may have
        self.assertGreater(len(winpath(os.path.join(folder, name))), 260)
        result = run_harness(self.task(url, name, folder))
        self.assertEqual(result.code, 0, result.out)
        self.assertEqual(result.task["name"], name)
        self.assertEqual(sha256_file(os.path.join(folder, name)), self.expected_sha("cn.gho"))
        self.assertEqual(os.listdir(folder), [name])

    def test_folder_that_cannot_be_created_fails(self):
        url = self.virtual("x.gho", MiB, seed=42)
        blocker = os.path.join(self.dl, "file")
        with open(blocker, "w") as f:
            f.write("not a folder")
        result = run_harness(self.task(url, "x.gho", os.path.join(blocker, "sub")))
        self.assertEqual((result.task["status"], result.task["code"]), (1, 2), result.out)

    def test_full_disk_fails_with_code_3(self):
        small = os.path.join(self.dl, "small-disk")
        os.makedirs(small)
        mounted = subprocess.run(["mount", "-t", "tmpfs", "-o", "size=4m", "tmpfs", small],
                                 stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL).returncode == 0
        if not mounted:
            self.skipTest("cannot mount a small file system here (needs root)")
        try:
            url = self.virtual("full.gho", 12 * MiB, seed=44)
            result = run_harness(["--deltemp-on-fail"] + self.task(url, "full.gho", small))
            self.assertEqual((result.task["status"], result.task["code"]), (1, 3), result.out)
            self.assertEqual(os.listdir(small), [])
        finally:
            subprocess.run(["umount", small])

    def test_invalid_parameters_are_refused_at_creation(self):
        # A task the engine creates is one it accepted: the program replaces an older image only then. The
        # names are those the program's own check refuses too (base/file_name_rule.h).
        url = self.virtual("y.gho", MiB, seed=43)
        for args in (["--task", "ftp://127.0.0.1/y.gho", winpath(self.dl), "y.gho"],
                     ["--task", url, winpath(self.dl), ".."],
                     ["--task", url, winpath(self.dl), "x.gho."],
                     ["--task", url, winpath(self.dl), "CON.gho"],
                     ["--task", url, winpath(self.dl), "nul"],
                     ["--task", url, "relative\\folder", "y.gho"]):
            with self.subTest(args=args):
                result = run_harness(args)
                self.assertEqual(result.code, 7, result.out)
                self.assertIn("task 0 refused", result.out)
        self.assertEqual(self.leftovers(), [])
        self.assertEqual(self.requests("y.gho"), [])

    def test_read_only_existing_image_keeps_the_complete_download(self):
        # The final name is held by a read-only file: the complete data stays under the temporary name with a
        # state that claims every byte, and once the old file is gone a new task completes without a request.
        url = self.virtual("ro.gho", 6 * MiB + 17, seed=45)
        final = os.path.join(self.dl, "ro.gho")
        with open(final, "wb") as f:
            f.write(b"the old image")
        os.chmod(final, 0o444)
        result = run_harness(self.task(url, "ro.gho"))
        self.assertEqual((result.task["status"], result.task["code"]), (1, 8), result.out)
        with open(final, "rb") as f:
            self.assertEqual(f.read(), b"the old image")
        self.assertEqual(sha256_file(final + TEMP_SUFFIX), self.expected_sha("ro.gho"))
        state = decode_state(final + STATE_SUFFIX)
        self.assertIsNotNone(state)
        self.assertEqual(state, (6 * MiB + 17, [(0, 6 * MiB + 17)]))

        os.chmod(final, 0o644)
        os.remove(final)
        began = time.time()
        again = run_harness(self.task(url, "ro.gho"))
        self.assertDownloaded("ro.gho", again)
        self.assertEqual(self.requests("ro.gho", since=began), [])

    def test_fat32_folder_refuses_images_over_4gib(self):
        # A FAT file system holds no file of 4 GiB or more: the task fails with its own code at the first
        # answer, before any byte is written. Needs a FAT image mounted (kernel vfat, else fusefat).
        image = os.path.join(self.dl, "fat.img")
        mnt = os.path.join(self.dl, "fat")
        os.makedirs(mnt)
        with open(image, "wb") as f:
            f.truncate(64 * MiB)
        if subprocess.run(["mkfs.vfat", "-F", "32", image], stdout=subprocess.DEVNULL,
                          stderr=subprocess.DEVNULL).returncode != 0:
            self.skipTest("mkfs.vfat is missing")
        quiet = dict(stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        mounted = subprocess.run(["mount", "-o", "loop", image, mnt], **quiet).returncode == 0
        unmount = ["umount", mnt]
        if not mounted and shutil.which("fusefat"):
            mounted = subprocess.run(["fusefat", "-o", "rw+", image, mnt], **quiet).returncode == 0
            unmount = ["fusermount", "-u", mnt] if shutil.which("fusermount") else ["umount", mnt]
        if not mounted:
            self.skipTest("cannot mount a FAT image here")
        try:
            url = self.virtual("big.gho", 5 * 1024 * MiB, seed=46)
            result = run_harness(["--deltemp-on-fail"] + self.task(url, "big.gho", mnt))
            self.assertEqual((result.task["status"], result.task["code"]), (1, 9), result.out)
            self.assertEqual(result.task["done"], 0, result.out)
            self.assertEqual(os.listdir(mnt), [])
        finally:
            subprocess.run(unmount, **quiet)


if __name__ == "__main__":
    for name, value in (("ENGINE_HARNESS", HARNESS), ("WINE_RUN", WINE_RUN), ("REFSERVER", REFSERVER)):
        if not value:
            sys.exit("%s is not set" % name)
    unittest.main()
