#!/usr/bin/env python3
"""End-to-end tests of the reinstall, system backup and system restore flows: the sandbox (the program with
a simulated machine, scripted dialogs and a transcript) under Wine and the test display, against the
reference server. What the program writes (job files, boot.ini, images) is checked on the Wine prefix's
drives; what it asks and runs, in the transcript.

Usage: e2e_flows.py GROUP BUILD_DIR      (GROUP: reinstall, download, system, releases)
Each group runs in a Wine prefix of its own (BUILD_DIR/wineprefix-flows-GROUP): drive D: of that prefix is
mapped to a fresh folder under /tmp while a scenario needs it.
"""
import os
import re
import shutil
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.abspath(os.path.join(HERE, "..", ".."))
sys.path.insert(0, os.path.join(ROOT, "server"))
sys.path.insert(0, os.path.join(ROOT, "tests", "support"))
from refserver import write_virtual_file  # noqa: E402
from vorlane_test import RefServer, Transcript, run_sandbox, wine, write_run_files  # noqa: E402

MIB = 1024 * 1024
IMAGE_SIZE = 100 * MIB          # the smallest size the checks accept
BACKUP_ID = "{12310282-F678-420E-A313-468C5687342A}"
REINSTALL_ID = "{A3B315FE-ADCA-4FB0-848C-EB3529FF0340}"
RESTART = 'restart "cmd /c shutdown -r -t 0"'
RELEASES = {"winxp": "winxp", "win7": "win7", "win2008r2": "win2008r2", "win10": "win10"}

# Catalogue: (name, file name, size, served, hash kind, rate limit per connection in bytes/s)
IMAGES = [
    ("Windows 7 旗舰版", "sys7.gho", IMAGE_SIZE, True, "right", 12 * MIB),
    ("Windows XP 小镜像", "small.gho", IMAGE_SIZE - 1, True, "none", 0),
    ("Windows 8.1 损坏", "bad.gho", IMAGE_SIZE, True, "wrong", 0),
    ("Windows 2003 失联", "gone.gho", IMAGE_SIZE, False, "none", 0),
    ("Windows 7 慢速", "slow.gho", IMAGE_SIZE, True, "none", 256 * 1024),
]

# Disk 0 holds C:; disk 1 holds E: and then D:, so that D: is 2:2 and C: 1:1. F: is a removable drive.
# Disk 0 names its signature and size; disk 1 has the defaults (5A1E0002, the end of its last partition).
TWO_DISKS = r"""
[disk0]
signature = 1A2B3C4D
size = 80G
entry = 1M, 60G, 1, 07, active
[volume C]
disk = 0
offset = 1M
device = \Device\HarddiskVolume1
[disk1]
entry = 1M, 100G, 1, 07
entry = 102402M, 200G, 2, 07
[volume E]
disk = 1
offset = 1M
[volume D]
disk = 1
offset = 102402M
[volume F]
type = removable
"""
# The same machine with a third disk attached (G: is 3:1).
TWO_DISKS_AND_G = TWO_DISKS + r"""
[disk2]
entry = 1M, 500G, 1, 07
[volume G]
disk = 2
offset = 1M
"""
ONLY_C = r"""
[disk0]
entry = 1M, 60G, 1, 07, active
[volume C]
disk = 0
offset = 1M
device = \Device\HarddiskVolume1
"""
# C: lies at an offset its disk does not list: the system drive cannot be placed (D: can).
C_UNPLACED = r"""
[disk0]
entry = 1M, 100G, 1, 07, active
[volume D]
disk = 0
offset = 1M
[volume C]
disk = 0
offset = 200G
"""
UEFI = "[machine]\nfirmware = uefi\n" + ONLY_C


class Failures:
    def __init__(self):
        self.items = []
        self.scenario = ""

    def check(self, condition, what):
        if not condition:
            self.items.append("%s: %s" % (self.scenario, what))
            print("  FAIL: %s" % what, flush=True)
        return condition


F = Failures()


def control(d, name):
    return d.get(("control", name), "")


def image(d, name):
    return d.get(("image", name), "")


class Rig:
    """The reference server, the Wine prefix of the group and the sandbox runs."""

    def __init__(self, group, build):
        self.group = group
        self.build = build
        self.tmp = tempfile.mkdtemp(prefix="vorlane-flows-%s-" % group)
        self.prefix = os.path.join(build, "wineprefix-flows-%s" % group)
        self.drive_c = os.path.join(self.prefix, "drive_c")
        self.drive_d = os.path.join(self.tmp, "drive-d")
        self.bin = os.path.join(self.tmp, "bin")
        self.server = None
        self.url = ""
        self.runs = 0
        self.hashes = {}

    # -- server
    def start_server(self):
        content = os.path.join(self.tmp, "content")
        os.makedirs(os.path.join(content, "images"))
        virtual = ["/images/%s=%d:%d" % (file_name, size, len(file_name))
                   for _, file_name, size, served, _, _ in IMAGES if served]
        self.server = RefServer(content, virtual)
        self.url = self.server.url
        records = []
        for name, file_name, size, served, hash_kind, rate in IMAGES:
            digest = ""
            if served:
                digest = self.control("sha256", path="/images/" + file_name)["sha256"]
                self.hashes[file_name] = digest
            if hash_kind == "wrong":
                digest = "0" * 63 + "1"
            elif hash_kind == "none":
                digest = ""
            if rate:
                self.control("fault", path="/images/" + file_name, rate=rate)
            fields = [name, "2", "%s/images/%s" % (self.url, file_name), file_name, "测试镜像", "%dM" % (size // MIB)]
            if digest:
                fields.append(digest)
            records.append("<line>" + "|".join(fields) + "|</line>")
        with open(os.path.join(content, "systeminfof.txt"), "wb") as f:
            f.write(("\r\n".join(records) + "\r\n").encode("gbk"))
        with open(os.path.join(content, "banben.txt"), "wb") as f:
            f.write(b"5.4\r\n")
        with open(os.path.join(content, "anzhuangbao.txt"), "wb") as f:
            f.write(("%s/kxrupdate.exe" % self.url).encode("ascii"))

    def control(self, what, **query):
        return self.server.control(what, timeout=30, **query)

    def bytes_sent(self, file_name):
        return self.control("stats").get("bytes_sent", {}).get("/images/" + file_name, 0)

    # -- prefix
    def wine(self, *args):
        return wine(self.prefix, *args)

    def prepare_prefix(self):
        self.wine("cmd", "/c", "exit", "0")
        for release, version in RELEASES.items():
            self.wine("reg", "add", "HKCU\\Software\\Wine\\AppDefaults\\vorlane-sandbox-%s.exe" % release,
                      "/v", "Version", "/t", "REG_SZ", "/d", version, "/f")
        os.makedirs(self.bin)
        source = os.path.join(self.build, "bin")
        for release in RELEASES:
            shutil.copy(os.path.join(source, "vorlane-sandbox.exe"),
                        os.path.join(self.bin, "vorlane-sandbox-%s.exe" % release))
        shutil.copy(os.path.join(source, "xldl.dll"), self.bin)

    def map_d(self, mapped):
        link = os.path.join(self.prefix, "dosdevices", "d:")
        if os.path.islink(link) or os.path.exists(link):
            os.remove(link)
        shutil.rmtree(self.drive_d, ignore_errors=True)
        if mapped:
            os.makedirs(self.drive_d)
            os.symlink(self.drive_d, link)

    def clean_drive_c(self):
        """Removes what earlier scenarios left in the root of C: and the working folders."""
        for name in os.listdir(self.drive_c):
            path = os.path.join(self.drive_c, name)
            if name.lower() in ("windows", "users", "program files", "programdata"):
                continue
            if os.path.isdir(path) and not os.path.islink(path):
                shutil.rmtree(path, ignore_errors=True)
            else:
                os.remove(path)

    def c_file(self, name):
        """Bytes of a file in the root of C: (any case), or None."""
        for entry in os.listdir(self.drive_c):
            if entry.lower() == name.lower():
                with open(os.path.join(self.drive_c, entry), "rb") as f:
                    return f.read()
        return None

    # -- runs
    def run(self, name, release, machine, script, mapped_d=True, before=None, timeout=300):
        """One sandbox run; answers its transcript."""
        self.runs += 1
        F.scenario = "%s/%s" % (self.group, name)
        print("scenario %s (%s)" % (F.scenario, release), flush=True)
        self.map_d(mapped_d)
        self.clean_drive_c()
        run_dir = os.path.join(self.tmp, "run-%02d-%s" % (self.runs, name))
        write_run_files(run_dir, script, machine)
        if before:
            before(run_dir)
        exe = os.path.join(self.bin, "vorlane-sandbox-%s.exe" % release)
        code = run_sandbox(exe, self.prefix, run_dir, self.url, timeout)
        t = Transcript(os.path.join(run_dir, "transcript.txt"))
        F.check(code == 0, "exit code %s" % code)
        errors = t.errors()
        F.check(not errors, "script errors: %s" % errors)
        if F.items and F.items[-1].startswith(F.scenario):
            print("  transcript: %s" % t.path, flush=True)
        return t

    def close(self):
        self.map_d(False)
        if self.server:
            self.server.stop()
        if not F.items and not os.environ.get("VORLANE_KEEP_RUNS"):
            shutil.rmtree(self.tmp, ignore_errors=True)
        else:
            print("runs kept in %s" % self.tmp)


def small_image():
    """A finished image of our container: one stored block of 100 bytes, taken from a 1 GiB NTFS partition."""
    import struct
    import zlib
    import hashlib
    raw = bytes(range(100))
    block = b"VBLK" + struct.pack("<IIIII", 0, len(raw), len(raw), zlib.crc32(raw), zlib.crc32(raw)) + raw
    head = bytearray(512)
    head[0:8] = b"VRLNIMG1"
    struct.pack_into("<IIIII", head, 8, 1, 512, 1 << 20, 0, 0)
    struct.pack_into("<QQ", head, 32, 1 << 30, 1 << 20)
    head[64:73] = b"partclone"
    head[80:84] = b"ntfs"
    struct.pack_into("<I", head, 508, zlib.crc32(bytes(head[:508])))
    tail = bytearray(64)
    tail[0:8] = b"VRLNEND1"
    struct.pack_into("<QQ", tail, 8, 1, len(raw))
    tail[24:56] = hashlib.sha256(block).digest()
    struct.pack_into("<I", tail, 60, zlib.crc32(bytes(tail[:60])))
    return bytes(head) + block + bytes(tail)


GIB = 1024 * MIB
# The partitions of TWO_DISKS as the identity file names them: (signature, disk size, start, length).
PLACE_C = ("1A2B3C4D", 80 * GIB, MIB, 60 * GIB)
PLACE_D = ("5A1E0002", 102402 * MIB + 200 * GIB, 102402 * MIB, 200 * GIB)
START_RECORD = b"# GRUB Environment Block\n" + b"#" * (1024 - 25)


def identity_file(job, image, source, target):
    """The bytes of an identity file (docs/job-identity.md)."""
    lines = ["vorlane-job-identity 1", "job=" + job, "image=" + image]
    for role, (signature, size, start, length) in (("source", source), ("target", target)):
        lines += ["%s.disk.signature=%s" % (role, signature), "%s.disk.size=%d" % (role, size),
                  "%s.partition.start=%d" % (role, start), "%s.partition.length=%d" % (role, length)]
    return ("\r\n".join(lines) + "\r\n").encode("utf-8")


def restore_job(source, target):
    return ('Ghost.exe -nousb -clone,mode=pload,src="%s:1",dst="%s" -fro -crcignore -sure -rb -fx '
            '-afile="GHOSTERR.TXT"\r\nrestart\r\n' % (source, target)).encode("ascii") + b"\0"


def backup_job(source, destination):
    return ('Ghost.exe -nousb -clone,mode=pdump,src="%s",dst="%s" -sure -rb -crcignore -fro -z3 -auto '
            '-afile="GHOSTERR.TXT"\r\nrestart\r\n' % (source, destination)).encode("ascii")


def bcd_arguments(commands):
    """The arguments of the bcdedit runs, in order."""
    out = []
    for c in commands:
        m = re.match(r"^\S*\\bcdedit\.exe (.*)$", c, re.I)
        if m:
            out.append(m.group(1))
    return out


def system_store_entry(guid, text, sector):
    return ['/create %s /d "%s" /application bootsector' % (guid, text), "/set %s path \\%s" % (guid, sector),
            "/displayorder %s /addlast" % guid, "/timeout 3",
            "/set %s device partition=\\Device\\HarddiskVolume1" % guid, "/default %s" % guid]


def reinstall_question(source, target):
    return ("一键重装已经准备就绪，是否立刻重启安装系统？（无操作10秒后自动重启）【%s-%s】\\r\\n"
            '立刻重启\\"是\\"，稍后重启\\"否\\"' % (source, target))


def backup_question(source, destination):
    return ("备份工作已经准备就绪，是否继续？【%s-%s】\\r\\n"
            '立刻重启备份\\"是\\"，手动重启备份\\"否\\"，取消本次操作\\"取消\\"\\r\\n' % (source, destination))


def restore_question(source, destination):
    return ("还原工作已经准备就绪，是否继续？【%s-%s】\\r\\n"
            '立刻重启还原\\"是\\"，手动重启还原\\"否\\"，取消本次操作\\"取消\\"\\r\\n' % (source, destination))


def msgbox_line(caption, flags, text, answer):
    return '^msgbox caption="%s" flags=0x%08X text="%s" answer=%s' % (
        re.escape(caption), flags, re.escape(text), answer)


OPEN_CATALOGUE = """
wait-enabled btninstall 60
click btninstall
wait-page 5 10
"""


def write_image(rig, folder_on_d, file_name, seed=None, size=IMAGE_SIZE, garbage=False):
    """Puts an image into the download folder of drive D: (the served content, or other bytes)."""
    folder = os.path.join(rig.drive_d, folder_on_d)
    os.makedirs(folder, exist_ok=True)
    path = os.path.join(folder, file_name)
    if garbage:
        with open(path, "wb") as f:
            f.truncate(size)
        return path
    write_virtual_file(path, size, len(file_name) if seed is None else seed)
    return path


def check_screenshots(run_dir, names):
    """The window's screenshots are drawn (many colours); with VORLANE_REFRESH_SCREENSHOTS=1 they replace
    those of docs/screenshots (a test run leaves the working tree alone), which must be there and drawn."""
    docs = os.path.join(ROOT, "docs", "screenshots")
    for shot, doc_name in names.items():
        path = os.path.join(run_dir, shot)
        if not F.check(os.path.isfile(path), "screenshot %s taken" % shot):
            continue
        out = subprocess.run(["identify", "-format", "%w %h %k", path], capture_output=True, text=True).stdout.split()
        F.check(out[:2] == ["800", "580"] and int(out[2]) > 200, "screenshot %s drawn: %s" % (shot, out))
        if os.environ.get("VORLANE_REFRESH_SCREENSHOTS") == "1":
            shutil.copy(path, os.path.join(docs, doc_name))
        F.check(os.path.isfile(os.path.join(docs, doc_name)), "docs/screenshots/%s is there" % doc_name)


# ---------------------------------------------------------------- groups

def group_reinstall(rig):
    # Yes: a stale file of the same name is replaced by a fresh download, checked, prepared, restarted.
    def stale(_):
        write_image(rig, "VRLN/Download", "sys7.gho", size=1000, garbage=True)
    t = rig.run("yes", "win7", TWO_DISKS, OPEN_CATALOGUE + """
screenshot catalogue.png
answer IDYES
click-row 0 btnselectthis
wait-page 6 20
wait-text labfilename <u> 30
dump
screenshot downloading.png
answer-after 2000 IDYES
wait-page 7 120
wait-msgbox 60
wait-msgbox 60
screenshot ready.png
dump
sleep 2500
""", before=stale)
    check_screenshots(os.path.dirname(t.path), {"catalogue.png": "catalogue.png", "downloading.png": "downloading.png",
                                                "ready.png": "ready-question.png"})
    boxes = t.msgboxes()
    F.check(boxes[:1] == [("提示", 4, "当前镜像文件已存在，是否覆盖？", "IDYES")], "existing-file question: %s" % boxes[:1])
    F.check(t.has(msgbox_line("提示", 4, reinstall_question("2:2", "1:1"), "IDYES")), "ready question 【2:2-1:1】")
    d = t.dump(1)
    F.check(d.get("page") == 6, "download page shown")
    F.check(re.search(r'text="[0-9]+\.[0-9]{2}%"', control(d, "labdownpro")) is not None, "percentage shown")
    F.check(re.search(r'text="[0-9]+\.[0-9]{2}MB"', control(d, "labfilesize")) is not None, "size shown")
    F.check('<u>D:\\VRLN\\Download\\sys7.gho</u>' in control(d, "labfilename"), "file name shown: %s" % control(d, "labfilename"))
    F.check(all(control(d, o).startswith("class=Option enabled=0")
                for o in ("optmain", "optbacksystem", "optrecosystem", "optbackdata", "optrecodata")),
            "page options disabled while downloading")
    F.check(control(d, "optcontact").startswith("class=Option enabled=1"), "the contact option stays usable")
    F.check(image(d, "gifprocess").endswith("playing=1"), "animation plays")
    F.check(t.dump(2).get("page") == 7, "page 7 with the question")
    F.check(rig.bytes_sent("sys7.gho") >= IMAGE_SIZE, "the image was downloaded again")
    with open(os.path.join(rig.drive_d, "VRLN", "Download", "sys7.gho"), "rb") as f:
        import hashlib
        F.check(hashlib.sha256(f.read()).hexdigest() == rig.hashes["sys7.gho"], "downloaded image matches")
    q = t.index(r"^msgbox-open caption=\"提示\" flags=0x00000004 text=\"一键重装")
    a = t.index(r"^msgbox caption=\"提示\" flags=0x00000004 text=\"一键重装")
    F.check(0 <= q < t.index(r"^" + re.escape(RESTART), q) and t.index(r"^" + re.escape(RESTART), a) > a,
            "Yes restarts")
    F.check(t.index(r'^navigate "http://127\.0\.0\.1:\d+/tongji\.php"') < q, "statistics requested before the question")
    F.check(rig.c_file("ghost._KX") == restore_job("2:2\\VRLN\\Download\\sys7.gho", "1:1"),
            "job file: %r" % rig.c_file("ghost._KX"))
    for name in ("KX.lsn", "kxldr", "kxldr.mbr"):
        F.check(rig.c_file(name) is not None, "%s written" % name)
    F.check(rig.c_file("KX.vid") == identity_file("restore", "\\VRLN\\Download\\sys7.gho", PLACE_D, PLACE_C),
            "identity file: %r" % rig.c_file("KX.vid"))
    F.check(rig.c_file("KX.env") == START_RECORD, "start record: %r" % rig.c_file("KX.env"))
    F.check(rig.c_file("Ghost.ba_") is None and rig.c_file("KW.lsn") is None, "nothing of the backup set")
    args = bcd_arguments(t.commands())
    entry = system_store_entry(REINSTALL_ID, "Vorlane", "kxldr.mbr")
    F.check(args[-len(entry):] == entry, "boot entry commands: %s" % args)
    attribs = [c for c in t.commands() if c.startswith("cmd /c attrib")]
    F.check('cmd /c attrib -h -s -r "C:\\GHOST.*"' in attribs and 'cmd /c attrib +h +s +r "C:\\kxldr.mbr"' in attribs,
            "boot files unhidden and hidden again")

    # No: the existing image is kept and checked; no restart, not even after the 10 seconds.
    def keep(_):
        write_image(rig, "VRLN/Download", "sys7.gho")
    before_bytes = rig.bytes_sent("sys7.gho")
    t = rig.run("no", "win7", TWO_DISKS, OPEN_CATALOGUE + """
answer IDNO
answer IDNO
click-row 0 btnselectthis
wait-msgbox 30
wait-page 7 60
wait-msgbox 60
note answered
sleep 11000
dump
""", before=keep)
    boxes = t.msgboxes()
    F.check([b[3] for b in boxes] == ["IDNO", "IDNO"] and boxes[0][2] == "当前镜像文件已存在，是否覆盖？" and
            boxes[1][2] == reinstall_question("2:2", "1:1"), "questions: %s" % boxes)
    F.check(rig.bytes_sent("sys7.gho") == before_bytes, "nothing downloaded")
    F.check(not t.has(r"^restart "), "no restart after No")
    F.check(rig.c_file("ghost._KX") is not None, "the job stays for the next start")
    d = t.dump(1)
    F.check(d.get("page") == 7 and control(d, "optmain").startswith("class=Option enabled=1"),
            "page 7, options enabled after the kept image")

    # No answer: the restart comes by itself about 10 seconds after the question appeared.
    t = rig.run("no-answer", "win7", TWO_DISKS, OPEN_CATALOGUE + """
answer IDNO
answer-after 13000 IDNO
click-row 0 btnselectthis
wait-msgbox 30
wait-msgbox 60
note question shown
sleep 7500
note seven and a half seconds later
sleep 6500
""", before=keep)
    shown = t.index(r"^note question shown")
    later = t.index(r"^note seven and a half seconds later")
    restart = t.index(r"^" + re.escape(RESTART))
    answered = t.index(r"^msgbox caption=\"提示\" flags=0x00000004 text=\"一键重装")
    F.check(0 <= shown < later < restart < answered, "restart between 7.5 s and 13 s after the question "
            "(lines %d %d %d %d)" % (shown, later, restart, answered))
    F.check(t.count(r"^restart ") == 1, "one restart")

    # The image's drive (or the system drive) not on any disk: nothing is written.
    t = rig.run("unplaced", "win7", C_UNPLACED, OPEN_CATALOGUE + """
answer IDNO
click-row 0 btnselectthis
wait-msgbox 30
wait-page 7 30
wait-msgbox 30
dump
""", before=keep)
    boxes = t.msgboxes()
    F.check(boxes[-1:] == [("错误", 0, "读取分区发生错误。", "IDOK")], "partition error: %s" % boxes)
    F.check(rig.c_file("ghost._KX") is None and not t.commands(), "nothing prepared")
    F.check(t.dump(1).get("page") == 7, "page 7")


def group_download(rig):
    # A kept image that does not match its hash (checked on a worker), a downloaded one that does not match,
    # then an image one byte under 100 MiB.
    def wrong(_):
        write_image(rig, "VRLN/Download", "sys7.gho", seed=99)
    t = rig.run("checks", "win7", TWO_DISKS, OPEN_CATALOGUE + """
answer IDNO
click-row 0 btnselectthis
wait-msgbox 30
wait-msgbox 60
wait-page 0 10
dump
click btninstall
wait-page 5 10
click-row 2 btnselectthis
wait-msgbox 120
wait-page 0 10
dump
click btninstall
wait-page 5 10
click-row 1 btnselectthis
wait-msgbox 120
dump
""", before=wrong)
    boxes = t.msgboxes()
    mismatch = ("提示", 0, "镜像文件校验失败，请重新下载！")
    F.check([b[:3] for b in boxes] == [("提示", 4, "当前镜像文件已存在，是否覆盖？"), mismatch, mismatch,
                                       ("提示", 0, "下载文件小于100MB，可能已下载文件不正确！建议重启软件再试！")],
            "messages: %s" % boxes)
    for n in (1, 2):
        d = t.dump(n)
        F.check(d.get("page") == 0 and control(d, "optmain").startswith("class=Option enabled=1"),
                "dump %d: main page with options after a mismatch" % n)
    download = os.path.join(rig.drive_d, "VRLN", "Download")
    F.check(not os.path.exists(os.path.join(download, "sys7.gho")), "the kept image that did not match is deleted")
    F.check(not os.path.exists(os.path.join(download, "bad.gho")), "the downloaded image that did not match is deleted")
    F.check(os.path.getsize(os.path.join(download, "small.gho")) == IMAGE_SIZE - 1, "the small image is there")
    F.check(t.dump(3).get("page") == 7, "page 7 after the size check")
    F.check(not t.commands() and not t.has(r"^restart ") and rig.c_file("ghost._KX") is None, "nothing prepared")

    # A download that fails: its message, page 6 with the options disabled.
    t = rig.run("failed", "win7", TWO_DISKS, OPEN_CATALOGUE + """
click-row 3 btnselectthis
wait-msgbox 60
dump
""")
    F.check([b[:3] for b in t.msgboxes()] == [("提示", 0, "下载文件出错,请检查网络链接后重启软件！")],
            "failure message: %s" % t.msgboxes())
    d = t.dump(1)
    F.check(d.get("page") == 6 and control(d, "optmain").startswith("class=Option enabled=0"),
            "page 6 with the options disabled")

    # Abandon answered No goes on; pause, then abandon: page 0 with the options; the next download starts
    # with the pause image and a running animation.
    t = rig.run("pause-abandon", "win7", TWO_DISKS, OPEN_CATALOGUE + """
click-row 4 btnselectthis
wait-page 6 10
wait-text labdownspeed /s 20
answer IDNO
click btnstop
sleep 1000
dump
click btnpause
wait-text labdownspeed 暂停 10
dump
answer IDYES
answer IDYES
click btnstop
wait-page 0 10
dump
click btninstall
wait-page 5 10
click-row 4 btnselectthis
wait-page 6 10
dump
answer IDYES
answer IDNO
click btnstop
wait-page 0 10
""")
    d1, d2, d3, d4 = (t.dump(n) for n in (1, 2, 3, 4))
    F.check(d1.get("page") == 6, "the download goes on after No")
    F.check(image(d2, "btnpause").startswith('bkimage="continue.png"') and image(d2, "gifprocess").endswith("playing=0"),
            "paused: %s %s" % (image(d2, "btnpause"), image(d2, "gifprocess")))
    F.check(d3.get("page") == 0 and control(d3, "optmain").startswith("class=Option enabled=1"),
            "abandoned: main page with the options")
    F.check(image(d4, "btnpause").startswith('bkimage="pause.png"') and image(d4, "gifprocess").endswith("playing=1"),
            "next download: %s %s" % (image(d4, "btnpause"), image(d4, "gifprocess")))
    # Each abandon asks whether the partial file stays: kept the first time (the second download resumes
    # it), deleted the second time.
    abandon = "是否确定返回主界面重新选择操作系统?"
    keep = '是否保留已下载的部分？\\r\\n保留\\"是\\"，下次下载该系统时从中断处继续；删除\\"否\\"。'
    F.check([(b[2], b[3]) for b in t.msgboxes()] == [(abandon, "IDNO"), (abandon, "IDYES"), (keep, "IDYES"),
                                                     (abandon, "IDYES"), (keep, "IDNO")],
            "abandon questions: %s" % t.msgboxes())
    download = os.path.join(rig.drive_d, "VRLN", "Download")
    F.check(not [n for n in os.listdir(download) if n.startswith("slow.gho")],
            "no complete image and no partial file after choosing to delete it: %s" % os.listdir(download))


def group_system(rig):
    # Backup on a machine with a second disk: Cancel writes nothing; No prepares without restart; Yes
    # prepares and restarts. Restore: the default image missing; a chosen image: Cancel, No, Yes.
    def chosen(_):
        os.makedirs(os.path.join(rig.drive_c, "img"), exist_ok=True)
        with open(os.path.join(rig.drive_c, "img", "mine.gho"), "wb") as f:
            f.write(small_image())
        with open(os.path.join(rig.drive_c, "img", "tiny.gho"), "wb") as f:
            f.write(b"image")
    t = rig.run("backup-restore", "win7", TWO_DISKS, """
wait-page 0 30
click optbacksystem
wait-page 1 10
screenshot backup-system.png
answer IDCANCEL
click btnbackupsystem
wait-msgbox 30
note cancelled
answer IDNO
click btnbackupsystem
wait-msgbox 30
note no
answer IDYES
click btnbackupsystem
wait-msgbox 30
note yes
click optrecosystem
wait-page 2 10
click btnrecoverysystem
wait-msgbox 30
choose-file C:\\img\\tiny.gho
click btnlookrecosys
wait-text editrecosys tiny.gho 10
click btnrecoverysystem
wait-msgbox 30
note tiny refused
choose-file C:\\img
click btnlookrecosys
wait-text editrecosys img 10
click btnrecoverysystem
wait-msgbox 30
note folder refused
choose-file C:\\img\\mine.gho
click btnlookrecosys
wait-text editrecosys mine.gho 10
answer IDCANCEL
click btnrecoverysystem
wait-msgbox 30
note restore cancelled
answer IDNO
click btnrecoverysystem
wait-msgbox 30
note restore no
answer IDYES
click btnrecoverysystem
wait-msgbox 30
note restore yes
dump
""", before=chosen)
    bq = backup_question("1:1", "2:2")
    rq = restore_question("1:1", "1:1")
    boxes = t.msgboxes()
    F.check([(b[1], b[2], b[3]) for b in boxes] == [
        (3, bq, "IDCANCEL"), (3, bq, "IDNO"), (3, bq, "IDYES"),
        (0, "备份文件不存在,请先使用备份系统功能", "IDOK"), (0, "所选文件不是有效的系统镜像。", "IDOK"),
        (0, "所选文件不是有效的系统镜像。", "IDOK"), (3, rq, "IDCANCEL"), (3, rq, "IDNO"), (3, rq, "IDYES")],
        "questions: %s" % boxes)
    notes = {n: t.index(r"^note " + n + "$") for n in
             ("cancelled", "no", "yes", "restore cancelled", "restore no", "restore yes")}
    first = t.index(r"^script \d+: click btnbackupsystem")
    F.check(not t.commands(first, notes["cancelled"]), "Cancel writes nothing")
    seg = lambda a, b: t.lines[notes[a]:notes[b]]  # noqa: E731
    F.check(any(l.startswith("command ") for l in seg("cancelled", "no")) and
            not any(l.startswith("restart ") for l in seg("cancelled", "no")), "No prepares without a restart")
    F.check(any(l.startswith("command ") for l in seg("no", "yes")) and
            any(l.startswith("restart ") for l in seg("no", "yes")), "Yes prepares and restarts")
    backup_args = bcd_arguments(t.commands(notes["cancelled"], notes["no"]))
    entry = system_store_entry(BACKUP_ID, "VorlaneBak", "kwldr.mbr")
    F.check(backup_args[-len(entry):] == entry, "backup boot entry: %s" % backup_args)
    restore_start = t.index(r"^script \d+: click optrecosystem")
    F.check(not t.commands(restore_start, notes["restore cancelled"]),
            "a 5-byte file and a folder are refused and restore Cancel writes nothing")
    seg2 = t.lines[notes["restore cancelled"]:notes["restore no"]]
    seg3 = t.lines[notes["restore no"]:notes["restore yes"]]
    F.check(any(l.startswith("command ") for l in seg2) and not any(l.startswith("restart ") for l in seg2),
            "restore No prepares without a restart")
    F.check(any(l.startswith("command ") for l in seg3) and any(l.startswith("restart ") for l in seg3),
            "restore Yes prepares and restarts")
    restore_args = bcd_arguments(t.commands(notes["restore cancelled"], notes["restore no"]))
    entry = system_store_entry(REINSTALL_ID, "Vorlane", "kxldr.mbr")
    F.check(restore_args[-len(entry):] == entry, "restore boot entry: %s" % restore_args)
    F.check(rig.c_file("Ghost.ba_") == backup_job("1:1", "2:2\\VRLN\\BackSystem\\BAKSYS.GHO"),
            "backup job: %r" % rig.c_file("Ghost.ba_"))
    F.check(rig.c_file("ghost._KX") == restore_job("1:1\\img\\mine.gho", "1:1"),
            "restore job: %r" % rig.c_file("ghost._KX"))
    F.check(rig.c_file("KW.vid") == identity_file("backup", "\\VRLN\\BackSystem\\BAKSYS.GHO", PLACE_C, PLACE_D),
            "backup identity file: %r" % rig.c_file("KW.vid"))
    F.check(rig.c_file("KX.vid") == identity_file("restore", "\\img\\mine.gho", PLACE_C, PLACE_C),
            "restore identity file: %r" % rig.c_file("KX.vid"))
    for name in ("KW.env", "KX.env"):
        F.check(rig.c_file(name) == START_RECORD, "%s: %r" % (name, rig.c_file(name)))
    for name in ("KW.lsn", "kwldr", "kwldr.mbr", "KX.lsn", "kxldr", "kxldr.mbr"):
        F.check(rig.c_file(name) is not None, "%s written" % name)
    d = t.dump(1)
    F.check(d.get("page") == 2 and 'mine.gho' in control(d, "editrecosys"), "the restore page stays")

    # Drives that cannot be placed: the backup's target on a removable drive, the restore's image there;
    # a drive attached after start-up: the restore does not see it until a backup rebuilt the table.
    def attach(run_dir):
        with open(os.path.join(run_dir, "attached.ini"), "w", encoding="utf-8") as f:
            f.write(TWO_DISKS_AND_G)
    t = rig.run("drives", "win7", TWO_DISKS, """
wait-page 0 30
click optbacksystem
wait-page 1 10
choose-folder F:\\
click btnlookbacksys
wait-text editbacksys F:\\ 10
click btnbackupsystem
wait-msgbox 30
click optrecosystem
wait-page 2 10
choose-file F:\\x.gho
click btnlookrecosys
wait-text editrecosys F:\\ 10
click btnrecoverysystem
wait-msgbox 30
attach-machine attached.ini
choose-file G:\\x.gho
click btnlookrecosys
wait-text editrecosys G:\\ 10
click btnrecoverysystem
wait-msgbox 30
click optbacksystem
wait-page 1 10
choose-folder G:\\
click btnlookbacksys
wait-text editbacksys G:\\ 10
answer IDCANCEL
click btnbackupsystem
wait-msgbox 30
click optrecosystem
wait-page 2 10
choose-file G:\\x.gho
click btnlookrecosys
wait-text editrecosys G:\\ 10
click btnrecoverysystem
wait-msgbox 30
""", before=attach)
    boxes = [(b[0], b[1], b[2]) for b in t.msgboxes()]
    F.check(boxes == [("错误", 0x10, "读取分区发生错误2。"), ("错误", 0, "读取分区发生错误1。"),
                      ("错误", 0, "读取分区发生错误1。"), ("提示", 3, backup_question("1:1", "3:1")),
                      ("提示", 0, "备份文件不存在,请先使用备份系统功能")], "messages: %s" % boxes)
    F.check(not t.commands() and not t.has(r"^restart "), "nothing prepared")

    # The system drive not on any disk: backup "1" and restore "2", with and without the error icon.
    t = rig.run("system-unplaced", "win7", C_UNPLACED, """
wait-page 0 30
click optbacksystem
wait-page 1 10
click btnbackupsystem
wait-msgbox 30
click optrecosystem
wait-page 2 10
choose-file D:\\x.gho
click btnlookrecosys
wait-text editrecosys D:\\ 10
click btnrecoverysystem
wait-msgbox 30
""")
    boxes = [(b[0], b[1], b[2]) for b in t.msgboxes()]
    F.check(boxes == [("错误", 0x10, "读取分区发生错误1。"), ("错误", 0, "读取分区发生错误2。")],
            "messages: %s" % boxes)

    # The system drive is the only fixed drive: the backup goes onto the system partition, 【1:1-1:1】.
    t = rig.run("only-c", "win7", ONLY_C, """
wait-page 0 30
click optbacksystem
wait-page 1 10
wait-text editbacksys C:\\VRLN\\BackSystem\\BAKSYS.GHO 10
answer IDNO
click btnbackupsystem
wait-msgbox 30
""", mapped_d=False)
    F.check([b[2] for b in t.msgboxes()] == [backup_question("1:1", "1:1")], "question: %s" % t.msgboxes())
    F.check(rig.c_file("Ghost.ba_") == backup_job("1:1", "1:1\\VRLN\\BackSystem\\BAKSYS.GHO"),
            "backup job: %r" % rig.c_file("Ghost.ba_"))
    F.check(not t.has(r"^restart "), "no restart after No")


def group_releases(rig):
    def keep(_):
        write_image(rig, "VRLN/Download", "sys7.gho")
    reinstall_kept = OPEN_CATALOGUE + """
answer IDNO
click-row 0 btnselectthis
wait-msgbox 30
wait-page 7 60
wait-msgbox 60
"""
    system_both = """
click optmain
wait-page 0 10
click optbacksystem
wait-page 1 10
click btnbackupsystem
wait-msgbox 30
click optrecosystem
wait-page 2 10
click btnrecoverysystem
wait-msgbox 30
"""
    # Releases the program does not prepare, and UEFI machines: their message, nothing written, no restart.
    for name, release, machine, message in (
            ("win10", "win10", TWO_DISKS, "当前系统暂不支持该功能。"),
            ("uefi", "win7", "[machine]\nfirmware = uefi\n" + TWO_DISKS, "当前电脑为UEFI启动模式，暂不支持该功能。")):
        t = rig.run(name, release, machine, reinstall_kept + system_both, before=keep)
        boxes = t.msgboxes()
        F.check([(b[0], b[1], b[2]) for b in boxes[1:]] == [("提示", 0, message)] * 3, "messages: %s" % boxes)
        F.check(not t.commands() and not t.has(r"^restart ") and not t.has(r"^navigate "), "nothing prepared")
        F.check(all(rig.c_file(n) is None for n in ("ghost._KX", "Ghost.ba_", "KX.lsn", "KW.lsn", "boot.ini")),
                "no boot files")

    # Windows XP: the boot entry goes into boot.ini (the backup set's edit saves it first as boot.in_).
    original = b"[boot loader]\r\ntimeout=30\r\ndefault=multi(0)disk(0)rdisk(0)partition(1)\\WINDOWS\r\n" \
               b"[operating systems]\r\nmulti(0)disk(0)rdisk(0)partition(1)\\WINDOWS=\"Windows XP\" /fastdetect\r\n"

    def boot_ini(_):
        keep(_)
        with open(os.path.join(rig.drive_c, "boot.ini"), "wb") as f:
            f.write(original)
    t = rig.run("winxp", "winxp", TWO_DISKS, """
wait-page 0 30
click optbacksystem
wait-page 1 10
answer IDNO
click btnbackupsystem
wait-msgbox 30
note backup prepared
click optmain
wait-page 0 10
""" + reinstall_kept.replace("answer IDNO\nclick-row", "answer IDNO\nanswer IDNO\nclick-row"), before=boot_ini)
    F.check(rig.c_file("boot.in_") == original, "boot.in_ is the boot.ini of before")
    ini = (rig.c_file("boot.ini") or b"").decode("latin-1").replace("\r\n", "\n")
    for line in ("default=C:\\kxldr", "timeout=3", "C:\\kwldr=VorlaneBak", "C:\\kxldr=Vorlane"):
        F.check(line in ini.split("\n"), "boot.ini has %s: %r" % (line, ini))
    F.check(not bcd_arguments(t.commands()), "no bcdedit on Windows XP")
    F.check(sum(1 for c in t.commands() if c.endswith("dspt.exe 0 /mbr /noback /y")) == 2,
            "the partition tool writes the MBR code twice: %s" % [c for c in t.commands() if "dspt" in c])
    F.check(rig.c_file("kxldr.mbr") is None and rig.c_file("kwldr.mbr") is None, "no loader boot sectors")
    F.check(rig.c_file("ghost._KX") == restore_job("2:2\\VRLN\\Download\\sys7.gho", "1:1"), "reinstall job")
    F.check(t.has(msgbox_line("提示", 4, reinstall_question("2:2", "1:1"), "IDNO")), "ready question")

    # Windows 7 as Wine 8 reports it (a server product type) and as "win2008r2" (a workstation): BCD.
    for release in ("win7", "win2008r2"):
        t = rig.run("bcd-" + release, release, TWO_DISKS, reinstall_kept.replace("answer IDNO\nclick-row",
                                                                                  "answer IDNO\nanswer IDNO\nclick-row"),
                    before=keep)
        args = bcd_arguments(t.commands())
        entry = system_store_entry(REINSTALL_ID, "Vorlane", "kxldr.mbr")
        F.check(args[-len(entry):] == entry, "boot entry: %s" % args)
        F.check(rig.c_file("boot.ini") is None and rig.c_file("kxldr.mbr") is not None, "BCD files")


GROUPS = {"reinstall": group_reinstall, "download": group_download, "system": group_system,
          "releases": group_releases}


def main(argv):
    if len(argv) != 2 or argv[0] not in GROUPS:
        sys.stderr.write(__doc__)
        return 2
    group, build = argv[0], os.path.abspath(argv[1])
    rig = Rig(group, build)
    try:
        rig.start_server()
        rig.prepare_prefix()
        GROUPS[group](rig)
    finally:
        rig.close()
    if F.items:
        print("%d check(s) failed:" % len(F.items))
        for item in F.items:
            print("  " + item)
        return 1
    print("ok: %s (%d sandbox runs)" % (group, rig.runs))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
