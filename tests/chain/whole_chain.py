#!/usr/bin/env python3
"""The whole reinstall, end to end. The program (the sandbox under Wine) prepares a job against the reference
server on a described machine (machine.ini: one disk, C: at partition 1, D: at partition 2 holding the
working folder); a QEMU disk matching that description is then built from what the program left (C: from the
Wine prefix's drive, D: from the folder mapped as D:), started through the loader the program's boot entry
names, and the imaging environment's work is checked on the disk. The identity file beside each job must name
the machine's disk (signature and size) and partitions, and the environment must go by it.

Cases (in this order; "system" goes on with the disk "win7" left):
  winxp   reinstall on a boot.ini system: catalogue, download, checks, ready question answered Yes; the stand-in
          for the legacy loader follows the default line of the boot.ini the program wrote
  win7    the same on a BCD system: the boot manager's stand-in follows the default entry that the program's
          bcdedit commands (recorded by the sandbox, applied here to a stand-in store) made
  system  on the disk win7 left: a system backup through the program's page, then a change on C:, then a
          system restore of that backup through the program's page: C: is again what the backup saved

Usage: whole_chain.py BUILD_DIR WORK_DIR [CASE...] [--prefix DIR] [--server URL --content DIR]
                      [--shots DIR] [--rate BYTES] [--keep]
BUILD_DIR is the test tree (its sandbox); the host tree's tools are found as server/demo_image.py finds them.
Without --server a reference server with a catalogue of two demo images (server/make_demo_content.py rows
0 and 1, cached in build/demo-images) runs on a free port; with it, that server and its content folder
(made by make_demo_content.py) are used. --shots collects the window's and the imaging environment's
screenshots in one folder; --rate slows each image download to BYTES per second so that its progress shows;
--keep keeps the work folder (disks, boot logs, transcripts), which is otherwise removed after a pass.
"""
import argparse
import hashlib
import json
import os
import re
import shutil
import socket
import subprocess
import sys
import threading
import time

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.abspath(os.path.join(HERE, "..", ".."))
for folder in (("server",), ("tests", "support"), ("tests", "flows"), ("bootenv", "tests")):
    sys.path.insert(0, os.path.join(ROOT, *folder))
import demo_image  # noqa: E402
import make_demo_content  # noqa: E402
import qemu_scenarios as qs  # noqa: E402
from e2e_flows import (backup_job, backup_question, bcd_arguments, msgbox_line, reinstall_question,  # noqa: E402
                       restore_job, restore_question)
from vorlane_test import RefServer, Transcript, run_sandbox, wine, write_run_files  # noqa: E402

MiB = 1024 * 1024
SECTOR = 512
RELEASES = ("winxp", "win7")
CASES = ("winxp", "win7", "system")
# Catalogue rows of server/make_demo_content.py: the XP image carries boot.ini, the Windows 7 image a store.
ROW = {"winxp": 0, "win7": 1}
# The test's own catalogue names the XP image's local file in Chinese: the job carries it in code page 936,
# the identity file in UTF-8, and the imaging environment must find it on D:.
LOCAL_NAME = {"winxp": "系统之家XP专业版.gho"}
UTF8 = dict(os.environ, LC_ALL="C.UTF-8")


class Failure(Exception):
    pass


def check(condition, what):
    if not condition:
        raise Failure(what)
    print("    ok: " + what, flush=True)


def say(case, stage, text):
    print("  [%s] %-9s %s" % (case, stage + ":", text), flush=True)


class Machine:
    """One disk of two NTFS partitions: C: (active) at 1 MiB and D: after it. machine.ini describes it to the
    program; disk() makes the QEMU disk of the same layout and MBR signature."""

    def __init__(self, signature, c_bytes=160 * MiB, d_bytes=320 * MiB):
        self.signature = signature
        self.c_start, self.c_sectors = 2048, c_bytes // SECTOR
        self.d_start, self.d_sectors = 2048 + self.c_sectors, d_bytes // SECTOR
        self.disk_bytes = (self.d_start + self.d_sectors) * SECTOR + MiB

    def ini(self):
        return ("; one disk: C: (partition 1, active) and D: (partition 2), which holds the working folder\n"
                "[disk0]\n"
                "signature = %08X\n"
                "size = %d\n"
                "entry = %d, %d, 1, 07, active\n"
                "entry = %d, %d, 2, 07\n"
                "[volume C]\ndisk = 0\noffset = %d\ndevice = \\Device\\HarddiskVolume1\n"
                "[volume D]\ndisk = 0\noffset = %d\ndevice = \\Device\\HarddiskVolume2\n"
                % (self.signature, self.disk_bytes, self.c_start * SECTOR, self.c_sectors * SECTOR,
                   self.d_start * SECTOR, self.d_sectors * SECTOR, self.c_start * SECTOR, self.d_start * SECTOR))

    def partition_identity(self, letter):
        """(signature, disk size, start, length) in bytes of C: or D:, as the identity file names them."""
        start, sectors = (self.c_start, self.c_sectors) if letter == "C" else (self.d_start, self.d_sectors)
        return self.signature, self.disk_bytes, start * SECTOR, sectors * SECTOR

    def identity(self, job, image, source, target):
        """The identity file the program must write beside a job on this machine."""
        return qs.identity_text(job, image, self.partition_identity(source), self.partition_identity(target))

    def partition_of_device(self, device):
        return {"\\device\\harddiskvolume1": 1, "\\device\\harddiskvolume2": 2}.get(device.lower())

    def disk(self, path):
        with open(path, "wb") as f:
            f.truncate(self.disk_bytes)
        table = ("label: dos\nlabel-id: %#010x\nstart=%d, size=%d, type=7, bootable\nstart=%d, size=%d, type=7\n"
                 % (self.signature, self.c_start, self.c_sectors, self.d_start, self.d_sectors))
        subprocess.run(["sfdisk", "-q", path], input=table.encode(), check=True)


MACHINES = {"winxp": Machine(0x1A2B3C4D), "win7": Machine(0x07C0FFEE)}


# ---------------------------------------------------------------- NTFS partition images

def ntfs_fill(image, sources):
    """Writes files into an NTFS partition image: {"/path": host file}. New files go through ntfs-3g's
    library (folders made as needed); files already there are replaced with ntfscp."""
    fresh, existing = [], []
    ntfs = qs.Ntfs(image)
    for name, source in sorted(sources.items()):
        (existing if ntfs_exists(image, name) else fresh).append((name, source))
    if fresh:
        listing = "".join("%s\t%s\n" % item for item in fresh)
        r = subprocess.run([demo_image.tool("VORLANE_NTFSFILL", "vorlane-ntfsfill"), image], input=listing.encode(),
                           stdout=subprocess.PIPE, stderr=subprocess.PIPE, env=UTF8)
        if r.returncode != 0:
            raise Failure("filling %s: %s" % (image, r.stderr.decode(errors="replace").strip()))
    for name, source in existing:
        with open(source, "rb") as f:
            ntfs.put(name, f.read())


def ntfs_names(image, folder):
    """Entries of a folder: (name, is folder)."""
    r = subprocess.run(["ntfsls", "-f", "-F", "-p", folder, image], stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                       env=UTF8)
    if r.returncode != 0:
        return []
    out = []
    for line in r.stdout.decode("utf-8", "replace").splitlines():
        if not line or line in ("./", "../", ".", ".."):
            continue
        out.append((line.rstrip("/"), line.endswith("/")))
    return out


def ntfs_exists(image, name):
    folder, leaf = name.rsplit("/", 1)
    return any(n.lower() == leaf.lower() for n, _ in ntfs_names(image, folder or "/"))


def ntfs_get(image, name):
    r = subprocess.run(["ntfscat", "-f", image, name], stdout=subprocess.PIPE, stderr=subprocess.PIPE, env=UTF8)
    return r.stdout if r.returncode == 0 else None


def ntfs_tree(image, folder="/"):
    """Every file of an NTFS partition image below folder: "/path" -> SHA-256 of its bytes."""
    out = {}
    for name, is_folder in ntfs_names(image, folder):
        path = folder.rstrip("/") + "/" + name
        if is_folder:
            out.update(ntfs_tree(image, path))
        else:
            data = ntfs_get(image, path)
            out[path] = hashlib.sha256(data).hexdigest() if data is not None else None
    return out


def volume_dirty(image):
    r = subprocess.run(["ntfsinfo", "-m", "-f", image], stdout=subprocess.PIPE, stderr=subprocess.PIPE, env=UTF8)
    return re.search(r"Volume Flags: 0x[0-9a-fA-F]*[13579bdfBDF]\b", r.stdout.decode(errors="replace")) is not None


def host_tree(folder):
    """Files below a host folder: "/path" -> host path."""
    out = {}
    for base, _, files in os.walk(folder):
        for name in files:
            path = os.path.join(base, name)
            out["/" + os.path.relpath(path, folder).replace(os.sep, "/")] = path
    return out


def find_no_case(folder, *names):
    """The host path of folder/names... matching each name without regard to case, or None."""
    path = folder
    for name in names:
        if not os.path.isdir(path):
            return None
        match = [e for e in os.listdir(path) if e.lower() == name.lower()]
        if not match:
            return None
        path = os.path.join(path, match[0])
    return path


# ---------------------------------------------------------------- the boot configuration's stand-ins

def apply_bcdedit(drive_c, commands):
    """The sandbox records the bcdedit runs and runs none. Here they act on a stand-in of the system store,
    the file \\Boot\\BCD: the store's bytes followed by one line per change ("bcdedit ARGS"); "/export FILE"
    copies the store's bytes, "/import FILE" puts them back. Paths may be quoted. Answers the bcdedit argument
    lists applied."""
    applied = bcd_arguments(commands)
    for args in applied:
        m = re.match(r'^(?:/store (?:"([^"]+)"|(\S+)) )?(.*)$', args)
        store = host_path(drive_c, m.group(1) or m.group(2) or "C:\\Boot\\BCD")
        rest = m.group(3)
        if rest.lower().startswith("/export "):
            shutil.copyfile(store, host_path(drive_c, rest[8:].strip().strip('"')))
        elif rest.lower().startswith("/import "):
            shutil.copyfile(host_path(drive_c, rest[8:].strip().strip('"')), store)
        else:
            with open(store, "ab") as f:
                f.write(("bcdedit %s\r\n" % rest).encode("utf-8"))
    return applied


def host_path(drive_c, windows_path):
    """The host path of a C: path in the prefix, following the case of what exists."""
    if windows_path[:3].upper() != "C:\\":
        raise Failure("a store outside C: (%s)" % windows_path)
    path = drive_c
    for part in windows_path[3:].split("\\"):
        match = [e for e in os.listdir(path) if e.lower() == part.lower()] if os.path.isdir(path) else []
        path = os.path.join(path, match[0] if match else part)
    return path


def bcd_default_target(store, machine):
    """What the boot manager's stand-in starts: (partition, file) of the store's one-time boot sequence entry
    (else its default entry), which must be a boot-sector application."""
    text = store.decode("utf-8", "replace")
    default = None
    sequence = None
    entries = {}
    for line in text.splitlines():
        m = re.match(r"^bcdedit (/\S+)\s*(.*)$", line.strip())
        if not m:
            continue
        verb, rest = m.group(1).lower(), m.group(2)
        if verb == "/default":
            default = rest.strip()
        elif verb == "/bootsequence":
            sequence = rest.strip()
        elif verb == "/delete":
            entries.pop(rest.split()[0], None)
        elif verb == "/create":
            entries.setdefault(rest.split()[0], {})["application"] = re.search(r"/application (\S+)", rest).group(1)
        elif verb == "/set":
            ident, key, value = rest.split(None, 2)
            entries.setdefault(ident, {})[key.lower()] = value
    default = sequence or default
    check(default is not None and default in entries, "the store's next entry is one the program made: %s" % default)
    entry = entries[default]
    check(entry.get("application") == "bootsector", "the default entry is a boot-sector application")
    part = machine.partition_of_device(entry.get("device", "").replace("partition=", ""))
    check(part is not None, "the entry's device is a partition of the machine: %s" % entry.get("device"))
    return part, entry["path"].lstrip("\\")


def boot_ini_default_target(boot_ini):
    """What the legacy loader's stand-in starts: the file named by the default line of boot.ini, a boot
    sector file on C: (the loader reads its first 8 KiB and jumps into it)."""
    section, default = "", None
    for line in boot_ini.decode("latin-1").splitlines():
        line = line.strip()
        if line.startswith("["):
            section = line.lower()
        elif section == "[boot loader]" and line.lower().startswith("default="):
            default = line[8:].strip()
    check(default is not None and re.match(r"^[A-Za-z]:\\[^\\]+$", default or ""),
          "boot.ini's default line names a boot sector file: %s" % default)
    check(default[0].upper() == "C", "on C:")
    return 1, default[3:]


# ---------------------------------------------------------------- screens of the imaging environment

class ScreenGrabber:
    """Screens of the QEMU machine through its QMP socket: a picture (PNG) whenever the text on the screen
    changed (more than the cursor's blink), at most one every `every` seconds, and the last one before the
    machine stopped."""

    def __init__(self, folder, stem, every=4.0):
        self.folder, self.stem, self.every = folder, stem, every
        self.socket_path = os.path.join(folder, ".qmp-%s" % stem)
        self.saved = []
        self._stop = threading.Event()
        self._thread = None

    def qemu_args(self):
        return ["-qmp", "unix:%s,server=on,wait=off" % self.socket_path]

    def start(self):
        self._thread = threading.Thread(target=self._run, daemon=True)
        self._thread.start()

    @staticmethod
    def _rows(path):
        """The pixel rows of a binary PPM file."""
        with open(path, "rb") as f:
            data = f.read()
        fields = data.split(maxsplit=4)
        width, height = int(fields[1]), int(fields[2])
        pixels = data[len(data) - width * height * 3:]
        return [pixels[y * width * 3:(y + 1) * width * 3] for y in range(height)]

    def _save(self, ppm):
        name = "%s-%02d.png" % (self.stem, len(self.saved) + 1)
        subprocess.run(["convert", ppm, os.path.join(self.folder, name)], check=False)
        self.saved.append(name)

    def _run(self):
        sock = None
        for _ in range(200):
            try:
                sock = socket.socket(socket.AF_UNIX)
                sock.connect(self.socket_path)
                break
            except OSError:
                sock = None
                time.sleep(0.05)
        if sock is None:
            return
        reader = sock.makefile("rb")
        latest = os.path.join(self.folder, ".%s-latest.ppm" % self.stem)
        kept = os.path.join(self.folder, ".%s-kept.ppm" % self.stem)
        pending = False
        try:
            reader.readline()
            self._call(sock, reader, {"execute": "qmp_capabilities"})
            shown, last_time = None, 0.0
            while not self._stop.wait(1.0):
                if not self._call(sock, reader, {"execute": "screendump", "arguments": {"filename": latest}}):
                    break
                try:
                    rows = self._rows(latest)
                except (OSError, ValueError, IndexError):
                    continue
                # A blinking cursor changes a text line or two; new text changes more.
                changed = shown is None or len(rows) != len(shown) or \
                    sum(1 for a, b in zip(rows, shown) if a != b) > 32
                if changed:
                    shutil.copyfile(latest, kept)
                    pending = True
                if pending and time.monotonic() - last_time >= self.every:
                    self._save(kept)
                    shown, pending, last_time = rows, False, time.monotonic()
        except (OSError, ValueError):
            pass  # the machine stopped
        finally:
            sock.close()
            if pending:
                self._save(kept)
            for leftover in (latest, kept, self.socket_path):
                if os.path.exists(leftover):
                    os.unlink(leftover)

    @staticmethod
    def _call(sock, reader, command):
        sock.sendall(json.dumps(command).encode() + b"\n")
        while True:
            line = reader.readline()
            if not line:
                return False
            answer = json.loads(line)
            if "return" in answer:
                return True
            if "error" in answer:
                return False

    def stop(self):
        self._stop.set()
        if self._thread:
            self._thread.join(10)


# ---------------------------------------------------------------- the rig

class Chain:
    def __init__(self, build, work, prefix, shots, rate):
        self.build, self.work, self.shots, self.rate = build, work, shots, rate
        self.prefix = prefix
        self.drive_c = os.path.join(prefix, "drive_c")
        self.drive_d = os.path.join(work, "drive-d")
        self.bin = os.path.join(work, "bin")
        self.server = None
        self.url = None
        self.content = None
        self.images = {}          # release -> (file name, description)
        self.disks = {}           # case -> folder with disk.img, c.img, d.img
        self.figures = []
        self.runs = 0

    # -- server and catalogue
    def serve(self, url=None, content=None):
        if url:
            self.url, self.content = url.rstrip("/"), content
            with open(os.path.join(content, "demo-images.json"), encoding="utf-8") as f:
                about = json.load(f)
            for release, row in ROW.items():
                file_name = make_demo_content.IMAGES[row][2]
                self.images[release] = (file_name, about[file_name])
        else:
            self.server = RefServer()
            self.url, self.content = self.server.url, self.server.root
            os.makedirs(os.path.join(self.content, "images"))
            records = []
            for release, row in sorted(ROW.items(), key=lambda item: item[1]):
                image, facts = make_demo_content.cached_image(row)
                served = make_demo_content.IMAGES[row][2]
                demo_image.place(image, os.path.join(self.content, "images", served))
                file_name = LOCAL_NAME.get(release, served)
                self.images[release] = (file_name, facts)
                records.append(make_demo_content.record(row, facts, self.url).replace("|%s|" % served,
                                                                                      "|%s|" % file_name, 1))
            with open(os.path.join(self.content, "systeminfof.txt"), "wb") as f:
                f.write(("\r\n".join(records) + "\r\n").encode("gbk"))
            with open(os.path.join(self.content, "banben.txt"), "wb") as f:
                f.write(b"5.4\r\n")
        if self.rate:
            self.control("fault", path="/images/*", rate=self.rate)

    def control(self, what, **query):
        import urllib.request
        q = "&".join("%s=%s" % (k, urllib.request.quote(str(v))) for k, v in query.items())
        with urllib.request.urlopen("%s/_control/%s?%s" % (self.url, what, q), timeout=30) as r:
            return json.loads(r.read().decode("utf-8"))

    # -- prefix
    def prepare_prefix(self):
        wine(self.prefix, "cmd", "/c", "exit", "0")
        for release in RELEASES:
            wine(self.prefix, "reg", "add", "HKCU\\Software\\Wine\\AppDefaults\\vorlane-sandbox-%s.exe" % release,
                 "/v", "Version", "/t", "REG_SZ", "/d", release, "/f")
        os.makedirs(self.bin, exist_ok=True)
        for release in RELEASES:
            shutil.copy(os.path.join(self.build, "bin", "vorlane-sandbox.exe"),
                        os.path.join(self.bin, "vorlane-sandbox-%s.exe" % release))
        shutil.copy(os.path.join(self.build, "bin", "xldl.dll"), self.bin)

    def map_d(self, fresh):
        link = os.path.join(self.prefix, "dosdevices", "d:")
        if os.path.lexists(link):
            os.remove(link)
        if fresh:
            shutil.rmtree(self.drive_d, ignore_errors=True)
            # The working folder already there makes D: the working drive, whatever its free space.
            os.makedirs(os.path.join(self.drive_d, "VRLN"))
        os.symlink(self.drive_d, link)

    def unmap_d(self):
        link = os.path.join(self.prefix, "dosdevices", "d:")
        if os.path.lexists(link):
            os.remove(link)

    def clean_drive_c(self):
        for name in os.listdir(self.drive_c):
            path = os.path.join(self.drive_c, name)
            if name.lower() in ("windows", "users", "program files", "program files (x86)", "programdata"):
                continue
            if os.path.isdir(path) and not os.path.islink(path):
                shutil.rmtree(path)
            else:
                os.remove(path)

    def put_c(self, name, data):
        path = os.path.join(self.drive_c, *name.strip("/").split("/"))
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(data)

    def c_sources(self):
        """What the program left on C: for the disk: the files in its root and the \\Boot folder."""
        out = {}
        for name in os.listdir(self.drive_c):
            path = os.path.join(self.drive_c, name)
            if os.path.isfile(path):
                out["/" + name] = path
        boot = find_no_case(self.drive_c, "Boot")
        if boot:
            for name, path in host_tree(boot).items():
                out["/Boot" + name] = path
        return out

    # -- one sandbox run
    def sandbox(self, case, stage, release, machine, script):
        self.runs += 1
        run_dir = os.path.join(self.work, "run-%02d-%s-%s" % (self.runs, case, stage))
        shutil.rmtree(run_dir, ignore_errors=True)
        write_run_files(run_dir, script, machine.ini())
        exe = os.path.join(self.bin, "vorlane-sandbox-%s.exe" % release)
        start = time.monotonic()
        code = run_sandbox(exe, self.prefix, run_dir, self.url, timeout=600)
        seconds = time.monotonic() - start
        t = Transcript(os.path.join(run_dir, "transcript.txt"))
        check(code == 0, "the sandbox ended normally (exit code %s)" % code)
        check(not t.errors(), "its script ran without errors %s" % t.errors())
        if self.shots:
            for name in sorted(os.listdir(run_dir)):
                if name.endswith(".png"):
                    shutil.copyfile(os.path.join(run_dir, name), os.path.join(self.shots, "%s-%s" % (case, name)))
        self.figures.append(("%s: sandbox %s" % (case, stage), seconds))
        return t, seconds

    # -- disks
    def build_disk(self, case, machine, c_sources, d_sources, base=None):
        """The QEMU disk of the machine: C: and D: made fresh (or taken from an earlier case's disk) and the
        given files written into them."""
        folder = os.path.join(self.work, "disk-" + case)
        shutil.rmtree(folder, ignore_errors=True)
        os.makedirs(folder)
        disk, c_img, d_img = (os.path.join(folder, n) for n in ("disk.img", "c.img", "d.img"))
        machine.disk(disk)
        for img, start, sectors, label, name in ((c_img, machine.c_start, machine.c_sectors, "System", "c.img"),
                                                 (d_img, machine.d_start, machine.d_sectors, "Data", "d.img")):
            if base:
                shutil.copyfile(os.path.join(base, name), img)
            else:
                qs.Disk.format(img, start, sectors, label)
        ntfs_fill(c_img, c_sources)
        ntfs_fill(d_img, d_sources)
        qs.copy_range(c_img, 0, disk, machine.c_start * SECTOR, machine.c_sectors * SECTOR)
        qs.copy_range(d_img, 0, disk, machine.d_start * SECTOR, machine.d_sectors * SECTOR)
        self.disks[case] = folder
        return folder

    def boot(self, case, stage, machine, folder, target):
        """Starts the disk as the boot entry would: a floppy whose chain loader loads the entry's boot sector
        file at 0:7C00 with the partition given; answers the serial log."""
        part, file_name = target
        c_img = os.path.join(folder, "c.img")
        data = ntfs_get(c_img, "/" + file_name)
        check(data is not None, "the boot entry's file %s is on C:" % file_name)
        loader = os.path.join(folder, file_name.lower())
        with open(loader, "wb") as f:
            # The legacy loader reads 8 KiB of a boot sector file; the boot manager reads the whole file.
            f.write(data[:8192] if not file_name.lower().endswith(".mbr") else data)
        floppy = qs.make_floppy(folder, "start.img", [loader], "hd0 %d file=/%s" % (part, file_name.lower()))
        grabber = None
        extra = []
        if self.shots:
            grabber = ScreenGrabber(self.shots, "%s-%s-screen" % (case, stage))
            extra = grabber.qemu_args()
            grabber.start()
        try:
            text, seconds = qs.boot(folder, os.path.join(folder, "disk.img"), floppy, "%s-%s" % (case, stage),
                                    extra=extra)
        finally:
            if grabber:
                grabber.stop()
        self.figures.append(("%s: boot %s" % (case, stage), seconds))
        for img, start, sectors in ((c_img, machine.c_start, machine.c_sectors),
                                    (os.path.join(folder, "d.img"), machine.d_start, machine.d_sectors)):
            qs.copy_range(os.path.join(folder, "disk.img"), start * SECTOR, img, 0, sectors * SECTOR)
        return text, seconds, grabber.saved if grabber else []

    def close(self):
        self.unmap_d()
        if self.server:
            self.server.stop()


# ---------------------------------------------------------------- scripts

def reinstall_script(row, slowed, answer_delay_ms=3000):
    """Catalogue, the row's download, the ready question answered Yes after a while (held open meanwhile,
    so that its screenshot shows it). A slowed download gets its screenshot once the speed shows."""
    watch = "wait-text labdownspeed /s 60\nsleep 2000\n" if slowed else ""
    return """
wait-enabled btninstall 60
screenshot 1-main.png
click btninstall
wait-page 5 10
screenshot 2-catalogue.png
answer-after %d IDYES
click-row %d btnselectthis
%sscreenshot 3-downloading.png
wait-page 7 600
wait-msgbox 300
screenshot 4-ready-question.png
sleep %d
dump
""" % (answer_delay_ms, row, watch, answer_delay_ms + 1500)


BACKUP_SCRIPT = """
wait-page 0 30
click optbacksystem
wait-page 1 10
screenshot 1-backup-page.png
answer-after 2000 IDYES
click btnbackupsystem
wait-msgbox 60
screenshot 2-backup-question.png
sleep 3500
"""

RESTORE_SCRIPT = """
wait-page 0 30
click optrecosystem
wait-page 2 10
screenshot 1-restore-page.png
answer-after 2000 IDYES
click btnrecoverysystem
wait-msgbox 60
screenshot 2-restore-question.png
sleep 3500
"""


# ---------------------------------------------------------------- cases

def boot_target(chain, release, machine, t):
    """Where the stand-in of the machine's boot manager goes, following the configuration the program left."""
    if release == "winxp":
        boot_ini = find_no_case(chain.drive_c, "boot.ini")
        check(boot_ini is not None, "boot.ini is on C:")
        with open(boot_ini, "rb") as f:
            return boot_ini_default_target(f.read())
    store = find_no_case(chain.drive_c, "Boot", "BCD")
    with open(store, "rb") as f:
        return bcd_default_target(f.read(), machine)


def prepare_boot_configuration(chain, release, before):
    """C: of a machine of that release before the program runs: its boot.ini or its store."""
    if release == "winxp":
        chain.put_c("/boot.ini", before)
    else:
        chain.put_c("/Boot/BCD", before)


def finish_boot_configuration(chain, release, t):
    """The bcdedit runs the program asked for, applied to the stand-in store (nothing to do for boot.ini,
    which the program edits itself)."""
    applied = apply_bcdedit(chain.drive_c, t.commands())
    if release == "winxp":
        check(not applied, "no bcdedit on Windows XP")
    else:
        check(applied, "the program ran bcdedit %d times" % len(applied))


def check_job_companions(chain, machine, set_name, job, image, source, target):
    """The identity file and the loader's start record the program writes beside a job."""
    vid = find_no_case(chain.drive_c, set_name + ".vid")
    check(vid is not None, "%s.vid is beside the job" % set_name)
    with open(vid, "rb") as f:
        text = f.read()
    check(text == machine.identity(job, image, source, target),
          "%s.vid names the %s: image %s, source %s:, target %s: by signature %08X, disk size and partition "
          "offsets of the machine: %r" % (set_name, job, image, source, target, machine.signature, text))
    env = find_no_case(chain.drive_c, set_name + ".env")
    with open(env, "rb") as f:
        check(f.read() == qs.START_RECORD, "%s.env is a fresh start record of 1024 bytes" % set_name)


def check_identity_used(text, set_name):
    check("No identity file" not in text and "FAILED" not in text,
          "the environment took the partitions from %s.vid" % set_name)


def case_reinstall(chain, release):
    case = release
    machine = MACHINES[release]
    file_name, facts = chain.images[release]
    before = demo_image.BOOT_INI if release == "winxp" else demo_image.BCD_STORE
    print("case %s: reinstall of %s on a %s machine" % (case, facts["title"], release), flush=True)
    chain.clean_drive_c()
    chain.map_d(fresh=True)
    # The machine was installed from the same image: its boot configuration is the image's.
    prepare_boot_configuration(chain, release, before)

    t, seconds = chain.sandbox(case, "reinstall", release, machine, reinstall_script(ROW[release], bool(chain.rate)))
    image = os.path.join(chain.drive_d, "VRLN", "Download", file_name)
    check(os.path.isfile(image) and os.path.getsize(image) == facts["size"],
          "the image was downloaded to D:\\VRLN\\Download\\%s" % file_name)
    say(case, "download", "%s, %d bytes, into D:\\VRLN\\Download (sandbox run %.0f s)" % (file_name, facts["size"], seconds))
    with open(image, "rb") as f:
        digest = hashlib.sha256(f.read()).hexdigest()
    check(digest == facts["sha256"], "its SHA-256 is the catalogue's")
    question = reinstall_question("1:2", "1:1")
    check(t.has(msgbox_line("提示", 4, question, "IDYES")), "the ready question 【1:2-1:1】 was answered Yes")
    check(t.has(r'^restart "cmd /c shutdown -r -t 0"$'), "the restart was requested")
    say(case, "checks", "size and SHA-256 of the image, release, firmware, addresses 1:2 (image) and 1:1 "
                        "(system): passed, ready question answered Yes, restart requested")
    finish_boot_configuration(chain, release, t)
    job = find_no_case(chain.drive_c, "ghost._KX")
    with open(job, "rb") as f:
        check(f.read() == restore_job_bytes("1:2\\VRLN\\Download\\" + file_name, "1:1"),
              "the job ghost._KX on C: (the image's path in code page 936)")
    check_job_companions(chain, machine, "KX", "restore", "\\VRLN\\Download\\" + file_name, "D", "C")
    c_sources = chain.c_sources()
    say(case, "job", "written on C:: %s" % ", ".join(sorted(n.lstrip("/") for n in c_sources)))
    target = boot_target(chain, release, machine, t)

    # The system the reinstall replaces (Wine's own Windows folder does not go onto the disk).
    old = os.path.join(chain.work, "old-system.txt")
    with open(old, "wb") as f:
        f.write(b"a file of the system before the reinstall\r\n")
    c_sources["/Windows/system32/old-system.txt"] = old
    folder = chain.build_disk(case, machine, c_sources, host_tree(chain.drive_d))
    text, seconds, screens = chain.boot(case, "restore", machine, folder, target)
    say(case, "boot", "%s (%s) started the imaging environment: %.0f s until the machine restarted"
        % (target[1], "boot.ini's default line" if release == "winxp" else "the store's default entry", seconds))
    check_identity_used(text, "KX")
    check("The image is complete and undamaged" in text, "the environment checked the whole image before writing")
    say(case, "verify", "the image is complete and undamaged")
    check("now holds the system from the image" in text, "the environment reports the restore done")
    say(case, "restore", qs.throughput(text, "Restored"))
    verify_restored(case, os.path.join(folder, "c.img"), facts, release, before)
    if screens:
        say(case, "screens", ", ".join(screens))


def restore_job_bytes(source, target):
    """The restore job as the program writes it, in the ANSI code page (936 here)."""
    ascii_job = restore_job("IMAGE", target)
    return ascii_job.replace(b"IMAGE", source.encode("cp936"), 1)


def verify_restored(case, c_img, facts, release, before):
    tree = ntfs_tree(c_img)
    expected = facts["files"]
    missing = sorted(set(expected) - set(tree))
    extra = sorted(set(tree) - set(expected))
    differ = sorted(n for n in expected if n in tree and tree[n] != expected[n])
    check(not missing and not extra and not differ,
          "C: holds the image's tree byte for byte (%d files; missing %s, extra %s, differing %s)"
          % (len(expected), missing, extra, differ))
    for name in ("/ghost._KX", "/KX.vid", "/KX.env", "/KX.lsn", "/kxldr", "/kxldr.mbr"):
        check(not ntfs_exists(c_img, name), "%s is gone from C:" % name.lstrip("/"))
    config = "/boot.ini" if release == "winxp" else "/Boot/BCD"
    data = ntfs_get(c_img, config)
    check(data == before, "%s is as before the reinstall" % config.lstrip("/"))
    check(b"kxldr" not in data.lower() and b"vorlane" not in data.lower(), "and names no loader of ours")
    say(case, "result", "C: holds the image's %d files byte for byte; job, loader files and boot entry gone; "
                        "%s as before" % (len(expected), config.lstrip("/")))


def case_system(chain):
    case, release = "system", "win7"
    machine = MACHINES[release]
    base = chain.disks.get("win7")
    check(base is not None, "the disk of case win7 is there")
    print("case system: system backup, a change on C:, system restore through the program's pages", flush=True)
    c_base = os.path.join(base, "c.img")
    # The grown volume is marked for a check at Windows' next start; that start (not part of this chain)
    # clears the mark, which the imaging environment's backup requires. ntfsfix -d stands in for it.
    check(volume_dirty(c_base), "the restored C: is marked for Windows' check at its next start")
    qs.run("ntfsfix", "-d", c_base)
    check(not volume_dirty(c_base), "Windows' first start (ntfsfix -d standing in) cleared the mark")
    # What the program sees of C: before the backup: the restored system's store. It differs from the one
    # the backup must put back only by what the program adds.
    chain.clean_drive_c()
    chain.map_d(fresh=False)
    store = ntfs_get(c_base, "/Boot/BCD")
    chain.put_c("/Boot/BCD", store)

    t, seconds = chain.sandbox(case, "backup", release, machine, BACKUP_SCRIPT)
    check(t.has(msgbox_line("提示", 3, backup_question("1:1", "1:2"), "IDYES")),
          "the backup question 【1:1-1:2】 was answered Yes")
    check(t.has(r'^restart "cmd /c shutdown -r -t 0"$'), "the restart was requested")
    finish_boot_configuration(chain, release, t)
    with open(find_no_case(chain.drive_c, "Ghost.ba_"), "rb") as f:
        check(f.read() == backup_job("1:1", "1:2\\VRLN\\BackSystem\\BAKSYS.GHO"), "the job Ghost.ba_ on C:")
    check_job_companions(chain, machine, "KW", "backup", "\\VRLN\\BackSystem\\BAKSYS.GHO", "C", "D")
    c_sources = chain.c_sources()
    say(case, "job", "backup job written on C:: %s" % ", ".join(sorted(n.lstrip("/") for n in c_sources)))
    target = boot_target(chain, release, machine, t)
    folder = chain.build_disk("system-backup", machine, c_sources, {}, base=base)
    text, seconds, screens = chain.boot(case, "backup", machine, folder, target)
    say(case, "boot", "%s started the imaging environment: %.0f s" % (target[1], seconds))
    check_identity_used(text, "KW")
    check("read back from the disk and is complete" in text, "the environment read the new image back whole")
    say(case, "backup", qs.throughput(text, "Saved"))
    c_img, d_img = os.path.join(folder, "c.img"), os.path.join(folder, "d.img")
    saved_tree = ntfs_tree(c_img)
    check(not any(n.lower() in ("/ghost.ba_", "/kw.vid", "/kw.env", "/kw.lsn", "/kwldr", "/kwldr.mbr", "/boot/bcd_m")
                  for n in saved_tree), "the backup job, its loader files and the saved store are gone from C:")
    check(ntfs_get(c_img, "/Boot/BCD") == store, "\\Boot\\BCD is the store of before the backup")
    image = ntfs_get(d_img, "/VRLN/BackSystem/BAKSYS.GHO")
    check(image is not None and image[:8] == b"VRLNIMG1", "D:\\VRLN\\BackSystem\\BAKSYS.GHO is an image of ours")

    # The user's D: now holds the backup; C: changes (a file added, one removed) before the restore.
    backup_folder = os.path.join(chain.drive_d, "VRLN", "BackSystem")
    os.makedirs(backup_folder, exist_ok=True)
    with open(os.path.join(backup_folder, "BAKSYS.GHO"), "wb") as f:
        f.write(image)
    changed = os.path.join(folder, "changed.txt")
    with open(changed, "wb") as f:
        f.write("备份之后新建的文件\r\n".encode("utf-8"))
    ntfs_fill(c_img, {"/Documents and Settings/演示用户/桌面/新文件.txt": changed})
    chain.clean_drive_c()
    chain.put_c("/Boot/BCD", store)

    t, seconds = chain.sandbox(case, "restore", release, machine, RESTORE_SCRIPT)
    check(t.has(msgbox_line("提示", 3, restore_question("1:2", "1:1"), "IDYES")),
          "the restore question 【1:2-1:1】 was answered Yes")
    finish_boot_configuration(chain, release, t)
    with open(find_no_case(chain.drive_c, "ghost._KX"), "rb") as f:
        check(f.read() == restore_job("1:2\\VRLN\\BackSystem\\BAKSYS.GHO", "1:1"), "the job ghost._KX on C:")
    check_job_companions(chain, machine, "KX", "restore", "\\VRLN\\BackSystem\\BAKSYS.GHO", "D", "C")
    c_sources = chain.c_sources()
    target = boot_target(chain, release, machine, t)
    folder2 = chain.build_disk("system-restore", machine, c_sources, {}, base=folder)
    text, seconds, screens2 = chain.boot(case, "restore", machine, folder2, target)
    say(case, "boot", "%s started the imaging environment: %.0f s" % (target[1], seconds))
    check_identity_used(text, "KX")
    check("now holds the system from the image" in text, "the environment reports the restore done")
    say(case, "restore", qs.throughput(text, "Restored"))
    tree = ntfs_tree(os.path.join(folder2, "c.img"))
    check(tree == saved_tree, "C: is again what the backup saved (%d files; differing: %s)"
          % (len(saved_tree), sorted(set(tree.items()) ^ set(saved_tree.items()))[:6]))
    check(ntfs_get(os.path.join(folder2, "c.img"), "/Boot/BCD") == store, "\\Boot\\BCD is the store of before")
    say(case, "result", "C: holds what the backup saved (%d files), the later file is gone, the store is as "
                        "before" % len(saved_tree))
    shutil.rmtree(folder, ignore_errors=True)


# ---------------------------------------------------------------- main

def main(argv):
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("build")
    parser.add_argument("work")
    parser.add_argument("cases", nargs="*")
    parser.add_argument("--prefix")
    parser.add_argument("--server")
    parser.add_argument("--content")
    parser.add_argument("--shots")
    parser.add_argument("--rate", type=int, default=0)
    parser.add_argument("--keep", action="store_true", help="keep the work folder (disks, logs, transcripts)")
    args = parser.parse_args(argv)
    cases = args.cases or list(CASES)
    for name in cases:
        if name not in CASES:
            parser.error("unknown case %s" % name)
    if "system" in cases and "win7" not in cases:
        cases.insert(cases.index("system"), "win7")
    build, work = os.path.abspath(args.build), os.path.abspath(args.work)
    shutil.rmtree(work, ignore_errors=True)
    os.makedirs(work)
    if args.shots:
        shutil.rmtree(args.shots, ignore_errors=True)
        os.makedirs(args.shots)
    prefix = os.path.abspath(args.prefix or os.path.join(build, "wineprefix-chain"))
    chain = Chain(build, work, prefix, args.shots and os.path.abspath(args.shots), args.rate)
    total = time.monotonic()
    failed = []
    try:
        start = time.monotonic()
        chain.serve(args.server, args.content)
        chain.prepare_prefix()
        chain.figures.append(("server, images and Wine prefix", time.monotonic() - start))
        for name in cases:
            start = time.monotonic()
            try:
                if name == "system":
                    case_system(chain)
                else:
                    case_reinstall(chain, name)
            except (Failure, subprocess.CalledProcessError, OSError) as e:
                failed.append(name)
                print("  FAILED: %s: %s" % (name, e), flush=True)
            chain.figures.append(("case %s" % name, time.monotonic() - start))
    finally:
        chain.close()
    print("figures:")
    for what, seconds in chain.figures:
        print("  %-40s %6.1f s" % (what, seconds))
    print("  %-40s %6.1f s" % ("total", time.monotonic() - total))
    if failed:
        print("FAILED: %s (work folder %s)" % (", ".join(failed), work))
        return 1
    if not args.keep:
        shutil.rmtree(work, ignore_errors=True)
    print("ok: %s" % ", ".join(cases))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
