#!/usr/bin/env python3
"""Reference web server of the program's maker: serves a content folder (catalogue, version files, images)
with byte ranges, ETag and Last-Modified, counts "/tongji.php" in a log, and offers a control interface
under "/_control/" through which tests inject faults. Command line and control interface: docs/server.md.
"""
import argparse
import email.utils
import hashlib
import http.server
import json
import os
import signal
import socket
import struct
import sys
import threading
import time
import urllib.parse

BLOCK = 4096
CHUNK = 256 * 1024
VIRTUAL_EPOCH = 1767225600  # 2026-01-01 00:00:00 UTC: Last-Modified of a virtual file of generation 0


class VirtualContent:
    """Deterministic content of any size, computed on demand. Every 4096-byte block starts with its own
    index, the seed and the generation, so a byte written at a wrong offset always changes the hash."""

    def __init__(self, size, seed, generation):
        self.size = size
        key = hashlib.sha256(b"vorlane-virtual-%d-%d" % (seed, generation)).digest()
        tail = bytearray()
        counter = 0
        while len(tail) < BLOCK - 16:
            tail += hashlib.sha256(key + struct.pack("<Q", counter)).digest()
            counter += 1
        self.tail = bytes(tail[:BLOCK - 16])
        self.stamp = (seed & 0xFFFFFFFF) | ((generation & 0xFFFFFFFF) << 32)

    def read(self, offset, length):
        """Bytes [offset, offset + length) clipped to the size."""
        end = min(self.size, offset + length)
        if offset >= end:
            return b""
        first = offset // BLOCK
        last = (end - 1) // BLOCK
        pack = struct.Struct("<QQ").pack
        data = b"".join(pack(i, self.stamp) + self.tail for i in range(first, last + 1))
        start = offset - first * BLOCK
        return data[start:start + (end - offset)]


def write_virtual_file(path, size, seed, generation=0):
    """Writes the virtual content to a real file and answers its SHA-256 in hexadecimal."""
    content = VirtualContent(size, seed, generation)
    digest = hashlib.sha256()
    with open(path + ".tmp", "wb") as f:
        pos = 0
        while pos < size:
            piece = content.read(pos, 4 * 1024 * 1024)
            f.write(piece)
            digest.update(piece)
            pos += len(piece)
    os.replace(path + ".tmp", path)
    return digest.hexdigest()


def parse_range(header, size):
    """One byte range of a Range header: (start, end_inclusive), "unsatisfiable", or None to send it all."""
    if not header or not header.startswith("bytes=") or "," in header:
        return None
    range_text = header[6:].strip()
    first, sep, last = range_text.partition("-")
    if not sep:
        return None
    try:
        if first == "":
            count = int(last)
            if count <= 0:
                return "unsatisfiable"
            return (max(0, size - count), size - 1) if size > 0 else "unsatisfiable"
        start = int(first)
        end = int(last) if last else size - 1
    except ValueError:
        return None
    if start < 0:
        return None
    if start >= size:
        return "unsatisfiable"
    if end < start:
        return None
    return (start, min(end, size - 1))


class Resource:
    """One servable file: real (on disk), virtual (generated) or in memory (set through the control API)."""

    def __init__(self, kind, size, etag, mtime, path=None, content=None, data=None, ctype=None):
        self.kind, self.size, self.etag, self.mtime = kind, size, etag, mtime
        self.path, self.content, self.data = path, content, data
        self.ctype = ctype or "application/octet-stream"


def content_type(name):
    if name.endswith(".txt"):
        return "text/plain"
    if name.endswith(".php") or name.endswith(".html"):
        return "text/html"
    if name.endswith(".png"):
        return "image/png"
    return "application/octet-stream"


class ServerState:
    """Everything the control interface can change, guarded by one lock."""

    def __init__(self, root, log_path):
        self.root = os.path.abspath(root) if root else None
        self.log_path = log_path
        self.lock = threading.Lock()
        self.virtual = {}      # path -> [size, seed]
        self.memory = {}       # path -> bytes
        self.generation = {}   # path -> int (content changes)
        self.content_cache = {}
        self.clear()
        self.load_manifest()

    def clear(self):
        """Forgets faults, counters and the request record (the caller holds the lock, or none yet exists)."""
        self.faults = []
        self.next_fault_id = 1
        self.requests = []
        self.bytes_sent = {}
        self.active = {}
        self.peak_active = {}
        self.tongji = 0
        self.connections = 0

    def load_manifest(self):
        """Virtual files listed in "<root>/virtual.list": lines "PATH SIZE [SEED]"."""
        if not self.root:
            return
        manifest = os.path.join(self.root, "virtual.list")
        if not os.path.isfile(manifest):
            return
        for line in open(manifest, encoding="utf-8"):
            fields = line.split("#", 1)[0].split()
            if len(fields) >= 2:
                self.add_virtual(fields[0], int(fields[1]), int(fields[2]) if len(fields) > 2 else 1)

    def add_virtual(self, path, size, seed):
        if not path.startswith("/"):
            path = "/" + path
        with self.lock:
            self.virtual[path] = [size, seed]

    def resource(self, path):
        gen = self.generation.get(path, 0)
        if path in self.memory:
            data = self.memory[path]
            etag = '"m-%s-%d"' % (hashlib.sha1(data).hexdigest()[:16], gen)
            return Resource("memory", len(data), etag, VIRTUAL_EPOCH + gen * 3600, data=data,
                            ctype=content_type(path))
        if path in self.virtual:
            size, seed = self.virtual[path]
            key = (path, size, seed, gen)
            content = self.content_cache.get(key)
            if content is None:
                content = VirtualContent(size, seed, gen)
                self.content_cache[key] = content
            etag = '"v-%x-%x-%x"' % (seed, size, gen)
            return Resource("virtual", size, etag, VIRTUAL_EPOCH + gen * 3600, content=content)
        if not self.root:
            return None
        rel = urllib.parse.unquote(path).lstrip("/")
        full = os.path.realpath(os.path.join(self.root, rel))
        if not (full == self.root or full.startswith(self.root + os.sep)) or not os.path.isfile(full):
            return None
        st = os.stat(full)
        etag = '"%x-%x-%x"' % (st.st_mtime_ns, st.st_size, gen)
        return Resource("file", st.st_size, etag, int(st.st_mtime) + gen * 3600, path=full,
                        ctype=content_type(full))

    def matching_faults(self, path):
        """Merges the faults that apply to this request and uses up one count of each."""
        merged = {}
        with self.lock:
            for fault in self.faults:
                pattern = fault.get("path", "*")
                if pattern != "*" and not (pattern.endswith("*") and path.startswith(pattern[:-1])) \
                        and pattern != path:
                    continue
                if fault.get("count", -1) == 0:
                    continue
                if "count" in fault and fault["count"] > 0:
                    fault["count"] -= 1
                fault["fired"] = fault.get("fired", 0) + 1
                for key, value in fault.items():
                    if key not in ("path", "count", "id", "fired"):
                        merged.setdefault(key, value)
        return merged

    def record(self, entry):
        with self.lock:
            if len(self.requests) < 20000:
                self.requests.append(entry)
            self.bytes_sent[entry["path"]] = self.bytes_sent.get(entry["path"], 0) + entry["bytes"]


def _value(text):
    for convert in (int, float):
        try:
            return convert(text)
        except ValueError:
            pass
    if text.lower() in ("true", "yes"):
        return True
    if text.lower() in ("false", "no"):
        return False
    return text


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    server_version = "VorlaneRef/1.0"

    def log_message(self, fmt, *args):
        if not self.server.quiet:
            sys.stderr.write("%s %s\n" % (self.address_string(), fmt % args))

    def setup(self):
        super().setup()
        with self.server.state.lock:
            self.server.state.connections += 1
            self.connection_id = self.server.state.connections

    # ---- control interface -------------------------------------------------------------------------
    def control(self, method, path, query):
        state = self.server.state
        body = b""
        length = int(self.headers.get("Content-Length") or 0)
        if length:
            body = self.rfile.read(length)
        params = {k: _value(v[-1]) for k, v in urllib.parse.parse_qs(query, keep_blank_values=True).items()}
        name = path[len("/_control/"):]
        if name == "ping":
            return self.reply(200, b"ok\n", "text/plain")
        if name == "reset":
            with state.lock:
                active = state.active
                state.clear()
                state.active = active
                state.memory.clear()
                state.generation.clear()
            return self.reply_json({"reset": True})
        if name == "fault":
            fault = dict(params)
            if body:
                fault.update(json.loads(body.decode("utf-8")))
            with state.lock:
                fault["id"] = state.next_fault_id
                state.next_fault_id += 1
                state.faults.append(fault)
            return self.reply_json({"id": fault["id"]})
        if name == "clear-faults":
            with state.lock:
                state.faults = []
            return self.reply_json({"cleared": True})
        if name == "change":
            target = params.get("path", "")
            with state.lock:
                state.generation[target] = state.generation.get(target, 0) + 1
            return self.reply_json({"path": target, "generation": state.generation[target]})
        if name == "virtual":
            state.add_virtual(str(params["path"]), int(params["size"]), int(params.get("seed", 1)))
            return self.reply_json({"path": params["path"], "size": int(params["size"])})
        if name == "file":
            target = str(params["path"])
            data = body if method == "POST" else str(params.get("text", "")).encode("utf-8")
            with state.lock:
                if params.get("delete"):
                    state.memory.pop(target, None)
                else:
                    state.memory[target] = data
            return self.reply_json({"path": target, "size": len(data)})
        if name == "sha256":
            target = str(params["path"])
            with state.lock:
                res = state.resource(target)
            if res is None:
                return self.reply(404, b"no such file\n", "text/plain")
            return self.reply_json({"path": target, "size": res.size, "etag": res.etag,
                                    "sha256": sha256_of(res)})
        if name == "stats":
            with state.lock:
                stats = {"tongji": state.tongji, "bytes_sent": dict(state.bytes_sent),
                         "peak_active": dict(state.peak_active), "connections": state.connections,
                         "faults": [dict(f) for f in state.faults], "requests": list(state.requests)}
            return self.reply_json(stats)
        if name == "shutdown":
            self.reply_json({"stopping": True})
            self.server.stopping.set()
            threading.Thread(target=self.server.shutdown, daemon=True).start()
            return None
        return self.reply(404, b"unknown control\n", "text/plain")

    def reply_json(self, obj):
        return self.reply(200, (json.dumps(obj, indent=1) + "\n").encode("utf-8"), "application/json")

    def reply(self, status, body, ctype, extra=None, head=False):
        self.send_response(status)
        self.send_header("Content-Type", ctype)
        self.send_header("Content-Length", str(len(body)))
        for key, value in (extra or {}).items():
            self.send_header(key, value)
        self.end_headers()
        if not head:
            self.wfile.write(body)
        return len(body)

    # ---- content -------------------------------------------------------------------------------------
    def do_GET(self):
        self.serve(head=False)

    def do_HEAD(self):
        self.serve(head=True)

    def control_allowed(self):
        """The control interface answers only when a test turned it on, and only to loopback clients."""
        if not self.server.test_control:
            return False
        host = self.client_address[0]
        return host == "::1" or host.startswith("127.") or host == "::ffff:127.0.0.1"

    def do_POST(self):
        path, _, query = self.path.partition("?")
        if path.startswith("/_control/") and self.control_allowed():
            self.control("POST", path, query)
        else:
            self.reply(405, b"method not allowed\n", "text/plain")

    def serve(self, head):
        path, _, query = self.path.partition("?")
        if path.startswith("/_control/"):
            if self.control_allowed():
                self.control("GET", path, query)
            else:
                self.reply(404, b"not found\n", "text/plain", head=head)
            return
        state = self.server.state
        faults = state.matching_faults(path)
        entry = {"path": path, "method": self.command, "range": self.headers.get("Range"),
                 "if_range": self.headers.get("If-Range"), "connection": self.connection_id,
                 "status": 0, "bytes": 0, "time": time.time()}
        with state.lock:
            state.active[path] = state.active.get(path, 0) + 1
            state.peak_active[path] = max(state.peak_active.get(path, 0), state.active[path])
            active = state.active[path]
        try:
            self.serve_counted(path, head, faults, entry, active)
        except (ConnectionError, BrokenPipeError, socket.timeout, OSError):
            self.close_connection = True
        finally:
            with state.lock:
                state.active[path] -= 1
            state.record(entry)

    def serve_counted(self, path, head, faults, entry, active):
        state = self.server.state
        limit = faults.get("max_connections")
        if limit is not None and active > int(limit):
            if faults.get("limit_mode", "503") == "close":
                entry["status"] = -1
                self.close_connection = True
                self.connection.shutdown(socket.SHUT_RDWR)
                return
            entry["status"] = 503
            self.close_connection = True
            entry["bytes"] = self.reply(503, b"too many connections\n", "text/plain",
                                        {"Retry-After": "1", "Connection": "close"}, head)
            return
        if "status" in faults:
            status = int(faults["status"])
            extra = {}
            if "retry_after" in faults:
                extra["Retry-After"] = str(faults["retry_after"])
            if 300 <= status < 400 and "location" in faults:
                extra["Location"] = str(faults["location"])
            body = str(faults.get("body", "<html><body>error %d</body></html>\n" % status)).encode("utf-8")
            entry["status"] = status
            entry["bytes"] = self.reply(status, body, "text/html", extra, head)
            return
        if path == "/tongji.php":
            self.count_tongji()
        with state.lock:
            res = state.resource(path)
        if res is None:
            if path == "/tongji.php":
                entry["status"] = 200
                entry["bytes"] = self.reply(200, b"<html><body>ok</body></html>\n", "text/html", None, head)
                return
            entry["status"] = 404
            entry["bytes"] = self.reply(404, b"<html><body>not found</body></html>\n", "text/html", None, head)
            return
        self.serve_resource(res, head, faults, entry)

    def count_tongji(self):
        state = self.server.state
        with state.lock:
            state.tongji += 1
            count = state.tongji
        if state.log_path:
            line = "%s %s count=%d agent=%s\n" % (time.strftime("%Y-%m-%dT%H:%M:%SZ", time.gmtime()),
                                                  self.client_address[0], count,
                                                  self.headers.get("User-Agent", "-"))
            with state.lock, open(state.log_path, "a", encoding="utf-8") as f:
                f.write(line)

    def serve_resource(self, res, head, faults, entry):
        last_modified = email.utils.formatdate(res.mtime, usegmt=True)
        etag = res.etag
        rng = None
        range_header = self.headers.get("Range")
        if range_header and not faults.get("ignore_range"):
            rng = parse_range(range_header, res.size)
            if_range = self.headers.get("If-Range")
            if rng is not None and if_range and if_range != etag and if_range != last_modified:
                rng = None
        common = {"ETag": etag, "Last-Modified": last_modified, "Accept-Ranges": "bytes"}
        if faults.get("no_validators"):
            common = {"Accept-Ranges": "bytes"}
        if rng == "unsatisfiable":
            entry["status"] = 416
            entry["bytes"] = self.reply(416, b"", "text/plain", dict(common, **{"Content-Range": "bytes */%d" %
                                                                             res.size}), head)
            return
        if rng is None:
            start, end, status = 0, res.size - 1, 200
        else:
            start, end, status = rng[0], rng[1], 206
        length = end - start + 1 if res.size else 0
        self.send_response(status)
        self.send_header("Content-Type", res.ctype)
        if faults.get("no_length"):
            # The body's end is the connection's end: nothing tells the client its size beforehand.
            self.send_header("Connection", "close")
            self.close_connection = True
        else:
            self.send_header("Content-Length", str(length))
        for key, value in common.items():
            self.send_header(key, value)
        if status == 206:
            shift = int(faults.get("shift_content_range", 0))
            self.send_header("Content-Range", "bytes %d-%d/%d" % (start + shift, end + shift, res.size))
        self.end_headers()
        entry["status"] = status
        if head or length == 0:
            return
        self.send_body(res, start, length, faults, entry)

    def send_body(self, res, start, length, faults, entry):
        rate = float(faults.get("rate", 0))
        drop_after = faults.get("drop_after")
        stall_after = faults.get("stall_after")
        stall_seconds = float(faults.get("stall_seconds", 3600))
        plain = not rate and drop_after is None and stall_after is None
        if plain and res.kind == "file":
            with open(res.path, "rb") as f:
                self.wfile.flush()
                sent = self.connection.sendfile(f, start, length)
            entry["bytes"] += sent
            if sent < length:
                self.close_connection = True
            return
        began = time.monotonic()
        sent = 0
        piece_size = CHUNK if not rate else max(1024, min(CHUNK, int(rate / 20)))
        handle = open(res.path, "rb") if res.kind == "file" else None
        try:
            while sent < length:
                want = min(piece_size, length - sent)
                if drop_after is not None:
                    want = min(want, max(0, int(drop_after) - sent))
                    if want == 0:
                        self.close_connection = True
                        self.connection.shutdown(socket.SHUT_RDWR)
                        return
                if stall_after is not None:
                    want = min(want, max(0, int(stall_after) - sent))
                    if want == 0:
                        self.wfile.flush()
                        self.stall(stall_seconds)
                        self.close_connection = True
                        return
                piece = self.read_piece(res, handle, start + sent, want)
                self.wfile.write(piece)
                sent += len(piece)
                entry["bytes"] += len(piece)
                if rate:
                    ahead = sent / rate - (time.monotonic() - began)
                    if ahead > 0:
                        time.sleep(ahead)
        finally:
            if handle:
                handle.close()

    def stall(self, seconds):
        deadline = time.monotonic() + seconds
        while time.monotonic() < deadline and not self.server.stopping.is_set():
            time.sleep(0.05)

    @staticmethod
    def read_piece(res, handle, offset, length):
        if res.kind == "virtual":
            return res.content.read(offset, length)
        if res.kind == "memory":
            return res.data[offset:offset + length]
        handle.seek(offset)
        return handle.read(length)


def sha256_of(res):
    digest = hashlib.sha256()
    if res.kind == "memory":
        digest.update(res.data)
        return digest.hexdigest()
    handle = open(res.path, "rb") if res.kind == "file" else None
    try:
        pos = 0
        while pos < res.size:
            piece = Handler.read_piece(res, handle, pos, min(4 * 1024 * 1024, res.size - pos))
            digest.update(piece)
            pos += len(piece)
    finally:
        if handle:
            handle.close()
    return digest.hexdigest()


class Server(http.server.ThreadingHTTPServer):
    daemon_threads = True
    allow_reuse_address = True
    request_queue_size = 64

    def handle_error(self, request, client_address):
        # A client that drops its connection is ordinary for a download server.
        if isinstance(sys.exc_info()[1], (ConnectionError, socket.timeout)):
            return
        super().handle_error(request, client_address)

    def __init__(self, address, state, quiet):
        super().__init__(address, Handler)
        self.state = state
        self.quiet = quiet
        self.test_control = False  # the /_control/ interface, for tests only (see control_allowed)
        self.stopping = threading.Event()


def main(argv=None):
    parser = argparse.ArgumentParser(description="Reference web server of the program's maker")
    parser.add_argument("--root", help="content folder to serve")
    parser.add_argument("--host", default="127.0.0.1", help="address to listen on (default 127.0.0.1)")
    parser.add_argument("--port", type=int, default=8750, help="port; 0 picks a free one (default 8750)")
    parser.add_argument("--port-file", help="write the port number here once listening")
    parser.add_argument("--log", help="statistics log: one line per request of /tongji.php")
    parser.add_argument("--virtual", action="append", default=[], metavar="PATH=SIZE[:SEED]",
                        help="serve a virtual file of deterministic content")
    parser.add_argument("--quiet", action="store_true", help="no access log on standard error")
    parser.add_argument("--test-control", action="store_true",
                        help="turn on the /_control/ interface for tests (loopback clients only)")
    args = parser.parse_args(argv)

    state = ServerState(args.root, args.log)
    for virtual_arg in args.virtual:
        path, _, rest = virtual_arg.partition("=")
        size, _, seed = rest.partition(":")
        state.add_virtual(path, int(size), int(seed or 1))
    server = Server((args.host, args.port), state, args.quiet)
    server.test_control = args.test_control
    port = server.server_address[1]

    def stop(signum, frame):
        server.stopping.set()
        threading.Thread(target=server.shutdown, daemon=True).start()

    signal.signal(signal.SIGTERM, stop)
    signal.signal(signal.SIGINT, stop)
    if args.port_file:
        tmp = args.port_file + ".tmp"
        with open(tmp, "w") as f:
            f.write("%d\n" % port)
        os.replace(tmp, args.port_file)
    print("refserver: listening on http://%s:%d/" % (args.host, port), flush=True)
    try:
        server.serve_forever(poll_interval=0.2)
    finally:
        server.stopping.set()
        server.server_close()
        if args.port_file:
            try:
                os.unlink(args.port_file)
            except OSError:
                pass
    print("refserver: stopped", flush=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
