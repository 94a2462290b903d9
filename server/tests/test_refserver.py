#!/usr/bin/env python3
"""Host tests of the reference server: content, ranges, validators, statistics, faults, demo content."""
import hashlib
import http.client
import json
import os
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import threading
import time
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
SERVER_DIR = os.path.dirname(HERE)
sys.path.insert(0, SERVER_DIR)
import refserver  # noqa: E402
import make_demo_content  # noqa: E402

BIG = 5 * 1024 ** 3 + 12345  # a virtual file over 4 GiB


def start_server(root, extra=(), control=True):
    port_file = os.path.join(root, "..", "port")
    if os.path.exists(port_file):
        os.unlink(port_file)
    proc = subprocess.Popen([sys.executable, os.path.join(SERVER_DIR, "refserver.py"), "--root", root,
                             "--port", "0", "--port-file", port_file, "--quiet",
                             *(["--test-control"] if control else []), *extra],
                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    for _ in range(100):
        if os.path.exists(port_file):
            with open(port_file) as f:
                return proc, int(f.read()), port_file
        time.sleep(0.05)
    proc.kill()
    raise RuntimeError("server did not start")


class ServerCase(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.mkdtemp(prefix="refserver-test-")
        cls.root = os.path.join(cls.tmp, "content")
        os.makedirs(os.path.join(cls.root, "images"))
        with open(os.path.join(cls.root, "banben.txt"), "wb") as f:
            f.write(b"5.4\r\n")
        cls.image = bytes(range(256)) * 4096  # 1 MiB
        with open(os.path.join(cls.root, "images", "a.gho"), "wb") as f:
            f.write(cls.image)
        with open(os.path.join(cls.tmp, "secret.txt"), "wb") as f:
            f.write(b"outside")
        cls.log = os.path.join(cls.tmp, "tongji.log")
        cls.proc, cls.port, cls.port_file = start_server(
            cls.root, ["--log", cls.log, "--virtual", "/big.gho=%d:7" % BIG])

    @classmethod
    def tearDownClass(cls):
        cls.proc.send_signal(signal.SIGTERM)
        cls.proc.wait(10)
        shutil.rmtree(cls.tmp)

    def setUp(self):
        self.request("POST", "/_control/reset")

    def request(self, method, path, headers=None, body=None, timeout=10):
        conn = http.client.HTTPConnection("127.0.0.1", self.port, timeout=timeout)
        try:
            conn.request(method, path, body=body, headers=headers or {})
            resp = conn.getresponse()
            data = resp.read()
            return resp.status, {k.lower(): v for k, v in resp.getheaders()}, data
        finally:
            conn.close()

    def control(self, name, **params):
        query = "&".join("%s=%s" % (k, v) for k, v in params.items())
        status, _, data = self.request("GET", "/_control/%s?%s" % (name, query))
        self.assertEqual(status, 200, data)
        return json.loads(data)


class ContentTests(ServerCase):
    def test_files_are_served_with_validators(self):
        status, headers, body = self.request("GET", "/banben.txt")
        self.assertEqual((status, body), (200, b"5.4\r\n"))
        self.assertIn("etag", headers)
        self.assertIn("last-modified", headers)
        self.assertEqual(headers["accept-ranges"], "bytes")

    def test_missing_and_outside_paths_are_not_found(self):
        for path in ("/nothing.txt", "/../secret.txt", "/%2e%2e/secret.txt", "/images/../../secret.txt"):
            status, _, body = self.request("GET", path)
            self.assertEqual(status, 404, path)
            self.assertNotIn(b"outside", body)

    def test_ranges(self):
        cases = [  # Range header, expected status, expected slice, Content-Range
            ("bytes=0-99", 206, slice(0, 100), "bytes 0-99/1048576"),
            ("bytes=1048000-", 206, slice(1048000, None), "bytes 1048000-1048575/1048576"),
            ("bytes=-10", 206, slice(-10, None), "bytes 1048566-1048575/1048576"),
            ("bytes=100-99999999", 206, slice(100, None), "bytes 100-1048575/1048576"),
            ("bytes=0-1,5-6", 200, slice(None), None),
            ("items=0-1", 200, slice(None), None),
        ]
        for header, status, part, content_range in cases:
            with self.subTest(header=header):
                got, headers, body = self.request("GET", "/images/a.gho", {"Range": header})
                self.assertEqual(got, status)
                self.assertEqual(body, self.image[part])
                self.assertEqual(headers.get("content-range"), content_range)

    def test_unsatisfiable_range(self):
        status, headers, _ = self.request("GET", "/images/a.gho", {"Range": "bytes=1048576-"})
        self.assertEqual(status, 416)
        self.assertEqual(headers["content-range"], "bytes */1048576")

    def test_if_range(self):
        _, headers, _ = self.request("HEAD", "/images/a.gho")
        etag, modified = headers["etag"], headers["last-modified"]
        for validator, status in ((etag, 206), (modified, 206), ('"other"', 200)):
            with self.subTest(validator=validator):
                got, _, body = self.request("GET", "/images/a.gho", {"Range": "bytes=10-19", "If-Range": validator})
                self.assertEqual(got, status)
                self.assertEqual(body, self.image[10:20] if status == 206 else self.image)

    def test_virtual_file_over_4_gib(self):
        status, headers, _ = self.request("HEAD", "/big.gho")
        self.assertEqual((status, int(headers["content-length"])), (200, BIG))
        offset = 4 * 1024 ** 3 + 4000
        status, headers, body = self.request("GET", "/big.gho", {"Range": "bytes=%d-%d" % (offset, offset + 9999)})
        self.assertEqual(status, 206)
        self.assertEqual(headers["content-range"], "bytes %d-%d/%d" % (offset, offset + 9999, BIG))
        self.assertEqual(body, refserver.VirtualContent(BIG, 7, 0).read(offset, 10000))
        status, headers, body = self.request("GET", "/big.gho", {"Range": "bytes=-5"})
        self.assertEqual(headers["content-range"], "bytes %d-%d/%d" % (BIG - 5, BIG - 1, BIG))
        self.assertEqual(len(body), 5)

    def test_virtual_content_is_positional(self):
        content = refserver.VirtualContent(3 * 4096, 1, 0)
        whole = content.read(0, 3 * 4096)
        self.assertEqual(len(whole), 3 * 4096)
        self.assertNotEqual(whole[0:4096], whole[4096:8192])
        self.assertEqual(content.read(5000, 100), whole[5000:5100])
        self.assertEqual(content.read(3 * 4096 - 3, 100), whole[-3:])
        self.assertNotEqual(refserver.VirtualContent(3 * 4096, 1, 1).read(0, 4096), whole[:4096])

    def test_change_gives_new_etag_and_content(self):
        self.control("virtual", path="/small.bin", size=100000, seed=3)
        _, before_headers, before = self.request("GET", "/small.bin")
        self.control("change", path="/small.bin")
        _, after_headers, after = self.request("GET", "/small.bin")
        self.assertNotEqual(before_headers["etag"], after_headers["etag"])
        self.assertNotEqual(before_headers["last-modified"], after_headers["last-modified"])
        self.assertNotEqual(before, after)
        self.assertEqual(len(after), 100000)
        status, _, _ = self.request("GET", "/small.bin", {"Range": "bytes=0-9", "If-Range": before_headers["etag"]})
        self.assertEqual(status, 200)

    def test_memory_file_and_sha256(self):
        status, _, _ = self.request("POST", "/_control/file?path=/banben.txt", body=b"5.3")
        self.assertEqual(status, 200)
        self.assertEqual(self.request("GET", "/banben.txt")[2], b"5.3")
        info = self.control("sha256", path="/images/a.gho")
        self.assertEqual(info["sha256"], hashlib.sha256(self.image).hexdigest())
        self.control("reset")
        self.assertEqual(self.request("GET", "/banben.txt")[2], b"5.4\r\n")

    def test_tongji_is_counted_in_the_log(self):
        before = open(self.log).read().count("\n") if os.path.exists(self.log) else 0
        for _ in range(2):
            self.assertEqual(self.request("GET", "/tongji.php")[0], 200)
        self.assertEqual(self.control("stats")["tongji"], 2)
        self.assertEqual(open(self.log).read().count("\n"), before + 2)


class FaultTests(ServerCase):
    def test_status_override_with_count_and_retry_after(self):
        self.control("fault", path="/images/a.gho", status=503, count=2, retry_after=3)
        for _ in range(2):
            status, headers, body = self.request("GET", "/images/a.gho")
            self.assertEqual((status, headers.get("retry-after")), (503, "3"))
            self.assertNotEqual(body, self.image)
        self.assertEqual(self.request("GET", "/images/a.gho")[0], 200)

    def test_fault_applies_only_to_its_path(self):
        self.control("fault", path="/images/*", status=404)
        self.assertEqual(self.request("GET", "/images/a.gho")[0], 404)
        self.assertEqual(self.request("GET", "/banben.txt")[0], 200)

    def test_ignored_range(self):
        self.control("fault", ignore_range=1)
        status, headers, body = self.request("GET", "/images/a.gho", {"Range": "bytes=5-9"})
        self.assertEqual((status, len(body)), (200, len(self.image)))
        self.assertNotIn("content-range", headers)

    def test_no_length_ends_the_body_with_the_connection(self):
        self.control("fault", path="/images/a.gho", no_length=1)
        status, headers, body = self.request("GET", "/images/a.gho")
        self.assertEqual(status, 200)
        self.assertNotIn("content-length", headers)
        self.assertEqual(body, self.image)

    def test_shifted_content_range(self):
        self.control("fault", shift_content_range=4096)
        _, headers, _ = self.request("GET", "/images/a.gho", {"Range": "bytes=0-99"})
        self.assertEqual(headers["content-range"], "bytes 4096-4195/1048576")

    def test_throttle_per_connection(self):
        self.control("fault", rate=2 * 1024 * 1024)
        began = time.monotonic()
        body = self.request("GET", "/images/a.gho")[2]
        self.assertEqual(body, self.image)
        self.assertGreaterEqual(time.monotonic() - began, 0.4)  # 1 MiB at 2 MiB/s: about half a second

    def test_drop_after_bytes(self):
        self.control("fault", drop_after=1000, count=1)
        conn = http.client.HTTPConnection("127.0.0.1", self.port, timeout=10)
        conn.request("GET", "/images/a.gho")
        resp = conn.getresponse()
        with self.assertRaises(http.client.IncompleteRead) as raised:
            resp.read()
        self.assertEqual(len(raised.exception.partial), 1000)
        conn.close()
        self.assertEqual(self.request("GET", "/images/a.gho")[2], self.image)

    def test_stall_after_bytes(self):
        self.control("fault", stall_after=500, stall_seconds=30, count=1)
        sock = socket.create_connection(("127.0.0.1", self.port), timeout=1.5)
        sock.sendall(b"GET /images/a.gho HTTP/1.1\r\nHost: x\r\n\r\n")
        received = b""
        with self.assertRaises(socket.timeout):
            while True:
                piece = sock.recv(65536)
                if not piece:
                    break
                received += piece
        sock.close()
        self.assertEqual(len(received.split(b"\r\n\r\n", 1)[1]), 500)

    def test_connection_limit(self):
        self.control("fault", path="/images/a.gho", max_connections=1, rate=1024 * 1024)
        results = []
        first = threading.Thread(target=lambda: results.append(self.request("GET", "/images/a.gho")[0]))
        first.start()
        time.sleep(0.3)
        second = self.request("GET", "/images/a.gho")
        first.join()
        self.assertEqual(second[0], 503)
        self.assertEqual(second[1]["retry-after"], "1")
        self.assertEqual(results, [200])
        self.assertEqual(self.control("stats")["peak_active"]["/images/a.gho"], 2)

    def test_stats_count_bytes_per_path(self):
        self.request("GET", "/images/a.gho", {"Range": "bytes=0-999"})
        self.request("GET", "/images/a.gho")
        stats = self.control("stats")
        self.assertEqual(stats["bytes_sent"]["/images/a.gho"], 1000 + len(self.image))
        self.assertEqual([r["status"] for r in stats["requests"]], [206, 200])


class LifecycleTests(unittest.TestCase):
    def test_sigterm_stops_cleanly_and_removes_port_file(self):
        tmp = tempfile.mkdtemp(prefix="refserver-life-")
        try:
            root = os.path.join(tmp, "c")
            os.makedirs(root)
            proc, port, port_file = start_server(root)
            conn = http.client.HTTPConnection("127.0.0.1", port, timeout=5)
            conn.request("GET", "/_control/ping")
            self.assertEqual(conn.getresponse().read(), b"ok\n")
            conn.close()
            proc.send_signal(signal.SIGTERM)
            self.assertEqual(proc.wait(10), 0)
            self.assertFalse(os.path.exists(port_file))
        finally:
            shutil.rmtree(tmp)

    def test_control_interface_is_off_without_the_test_switch(self):
        tmp = tempfile.mkdtemp(prefix="refserver-life-")
        try:
            root = os.path.join(tmp, "c")
            os.makedirs(root)
            with open(os.path.join(root, "banben.txt"), "w") as f:
                f.write("5.4")
            proc, port, _ = start_server(root, control=False)
            try:
                for method, path in (("GET", "/_control/ping"), ("GET", "/_control/file?path=/banben.txt&text=9.9"),
                                     ("POST", "/_control/shutdown"), ("GET", "/_control/fault?status=500")):
                    conn = http.client.HTTPConnection("127.0.0.1", port, timeout=5)
                    conn.request(method, path)
                    answer = conn.getresponse()
                    answer.read()
                    conn.close()
                    self.assertIn(answer.status, (404, 405), path)
                conn = http.client.HTTPConnection("127.0.0.1", port, timeout=5)
                conn.request("GET", "/banben.txt")
                answer = conn.getresponse()
                self.assertEqual((answer.status, answer.read()), (200, b"5.4"))  # nothing changed, still running
                conn.close()
                self.assertIsNone(proc.poll())
            finally:
                proc.send_signal(signal.SIGTERM)
                proc.wait(10)
        finally:
            shutil.rmtree(tmp)

    def test_shutdown_through_control(self):
        tmp = tempfile.mkdtemp(prefix="refserver-life-")
        try:
            root = os.path.join(tmp, "c")
            os.makedirs(root)
            proc, port, _ = start_server(root)
            conn = http.client.HTTPConnection("127.0.0.1", port, timeout=5)
            conn.request("POST", "/_control/shutdown")
            conn.getresponse().read()
            self.assertEqual(proc.wait(10), 0)
        finally:
            shutil.rmtree(tmp)


class DemoContentTests(unittest.TestCase):
    def test_demo_catalogue_records_and_hashes(self):
        tmp = tempfile.mkdtemp(prefix="refserver-demo-")
        try:
            make_demo_content.make(tmp, "http://127.0.0.1:9999", 1, "gbk")
            text = open(os.path.join(tmp, "systeminfof.txt"), "rb").read().decode("gbk")
            records = [r.split("</line>")[0] for r in text.split("<line>")[1:]]
            self.assertEqual(len(records), len(make_demo_content.IMAGES))
            for record in records:
                fields = record.split("|")
                self.assertEqual(len(fields), 8)  # seven fields, each ended by "|"
                name, picture, url, file_name, description, size_text, digest, rest = fields
                self.assertEqual(rest, "")
                self.assertTrue(url.startswith("http://127.0.0.1:9999/images/"))
                path = os.path.join(tmp, "images", file_name)
                data = open(path, "rb").read()
                self.assertEqual(hashlib.sha256(data).hexdigest(), digest)
                self.assertEqual(len(digest), 64)
                self.assertEqual(size_text, "%dM" % (len(data) // (1024 * 1024)))
            self.assertIn("Windows 7", records[1])
            self.assertEqual(open(os.path.join(tmp, "banben.txt"), "rb").read().strip(), b"5.4")
            self.assertEqual(open(os.path.join(tmp, "anzhuangbao.txt"), "rb").read(),
                             b"http://127.0.0.1:9999/kxrupdate.exe")
        finally:
            shutil.rmtree(tmp)

    def test_demo_images_are_at_least_100_mib_by_default(self):
        self.assertGreaterEqual(make_demo_content.DEFAULT_IMAGE_MIB, 100)
        for image in make_demo_content.IMAGES:
            mib = image[5]
            self.assertGreaterEqual(mib or make_demo_content.DEFAULT_IMAGE_MIB, 100)


if __name__ == "__main__":
    unittest.main()
