#!/usr/bin/env python3
"""Acceptance of the cloud part in the sandbox (the program with scripted dialogs) under Wine and the test
display, against the reference server: the connection status and the install button, the catalogue rows,
local mode with the server gone, and a download of a 100 MiB image with its live figures, pause, resume and
abandon.

Usage: sandbox_cloud.py BUILD_DIR     (the test tree; a Wine prefix of its own: BUILD_DIR/wineprefix-cloud)
The machine has a data partition D: (mapped to a folder under /tmp) that holds the download folder: images
are never stored on the system partition.
With VORLANE_REFRESH_SCREENSHOTS=1 the list and download pages replace docs/screenshots/cloud-*.png.
"""
import os
import re
import shutil
import subprocess
import socket
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.abspath(os.path.join(HERE, "..", ".."))
MIB = 1024 * 1024
sys.path.insert(0, os.path.join(ROOT, "tests", "support"))
from vorlane_test import RefServer, Transcript, container_image, run_sandbox, wine, write_run_files  # noqa: E402

# C: on disk 0, the data partition D: on disk 1.
MACHINE = r"""
[disk0]
entry = 1M, 60G, 1, 07, active
[volume C]
disk = 0
offset = 1M
device = \Device\HarddiskVolume1
[disk1]
entry = 1M, 100G, 1, 07
[volume D]
disk = 1
offset = 1M
"""

# (name, picture field, file name, description, size text, size in bytes)
RECORDS = [
    ("Windows XP 专业版 SP3", "1", "xp.gho", "经典稳定，纯净安装", "100M", 100 * MIB),
    ("Windows Vista 旗舰版", " 7abc", "vista.gho", "自动激活，驱动齐全", "2.6G", 2600 * MIB),
    ("Windows PE 维护系统", "12", "pe.gho", "维护工具合集", "350M", 350 * MIB),
]
failures = []


def check(condition, what):
    if not condition:
        failures.append(what)
        print("FAIL: " + what, flush=True)
    return condition


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def start_server(tmp):
    """The reference server with the catalogue of RECORDS and version 5.4."""
    content = os.path.join(tmp, "content")
    os.makedirs(content)
    # The first image is one of ours (the checks after the download read its header), the others are bytes.
    os.makedirs(os.path.join(content, "images"))
    first = RECORDS[0]
    container_image(os.path.join(content, "images", first[2]), first[5], seed=1)
    server = RefServer(content, ["/images/%s=%d" % (file_name, size) for _, _, file_name, _, _, size in RECORDS[1:]])
    lines = ["<line>%s|%s|%s/images/%s|%s|%s|%s|</line>" % (n, p, server.url, f, f, d, s)
             for n, p, f, d, s, _ in RECORDS]
    with open(os.path.join(content, "systeminfof.txt"), "wb") as f:
        f.write(("\r\n".join(lines) + "\r\n").encode("gbk"))
    with open(os.path.join(content, "banben.txt"), "wb") as f:
        f.write(b"5.4\r\n")
    return server


def text_of(lines, name):
    """Texts of every control of that name in a dump, in tree order."""
    rx = re.compile(r'^control %s class=\S+ enabled=(\d) visible=\d selected=\S+ text="(.*)"$' % re.escape(name))
    return [m.group(2) for m in (rx.match(line) for line in lines) if m]


def enabled_of(lines, name):
    rx = re.compile(r'^control %s class=\S+ enabled=(\d) ' % re.escape(name))
    return [m.group(1) == "1" for m in (rx.match(line) for line in lines) if m]


def run(build, prefix, tmp, name, script, server_url, timeout=300):
    run_dir = os.path.join(tmp, "run-" + name)
    write_run_files(run_dir, script, MACHINE)
    code = run_sandbox(os.path.join(build, "bin", "vorlane-sandbox.exe"), prefix, run_dir, server_url, timeout)
    check(code == 0, "%s: exit code %s" % (name, code))
    t = Transcript(os.path.join(run_dir, "transcript.txt"))
    errors = t.errors()
    check(not errors, "%s: script errors %s" % (name, errors))
    return t, run_dir


def check_screenshot(run_dir, shot, doc_name):
    path = os.path.join(run_dir, shot)
    if not check(os.path.isfile(path), "screenshot %s taken" % shot):
        return
    out = subprocess.run(["identify", "-format", "%w %h %k", path], capture_output=True, text=True).stdout.split()
    check(len(out) == 3 and int(out[2]) > 200, "screenshot %s drawn: %s" % (shot, out))
    docs = os.path.join(ROOT, "docs", "screenshots")
    if os.environ.get("VORLANE_REFRESH_SCREENSHOTS") == "1":
        os.makedirs(docs, exist_ok=True)
        shutil.copy(path, os.path.join(docs, doc_name))
    check(os.path.isfile(os.path.join(docs, doc_name)), "docs/screenshots/%s is there" % doc_name)


def cloud_mode(build, prefix, tmp, server):
    # The version file answers after two seconds, so the start state can be seen.
    server.control("fault", path="/banben.txt", stall_after=0, stall_seconds=2, count=1)
    server.control("fault", path="/images/xp.gho", rate=MIB)
    t, run_dir = run(build, prefix, tmp, "cloud", """
dump
wait-text labconnect 云模式 60
wait-enabled btninstall 10
dump
click btninstall
wait-page 5 10
dump
screenshot list.png
click-row 0 btnselectthis
wait-page 6 10
wait-text labfilesize 100.00MB 30
wait-text labdownspeed /s 10
wait-text labdownpro % 10
sleep 1500
dump
screenshot download.png
click btnpause
wait-text labdownspeed 暂停 10
sleep 1500
dump
sleep 1500
dump
click btnpause
wait-text labdownspeed /s 10
sleep 2000
dump
answer IDYES
click btnstop
wait-page 0 10
dump
""", server.url)
    start, _ = t.dump_lines(1)
    check(text_of(start, "labconnect") == ["正在连接云引擎..."], "start: %s" % text_of(start, "labconnect"))
    check(enabled_of(start, "btninstall") == [False], "start: install button disabled")
    ready, _ = t.dump_lines(2)
    check(text_of(ready, "labconnect") == [" 云引擎连接成功，云模式"], "cloud mode: %s" % text_of(ready, "labconnect"))
    check(enabled_of(ready, "btninstall") == [True], "cloud mode: install button enabled")

    rows, page = t.dump_lines(3)
    check(page == 5, "list page shown: %s" % page)
    check(text_of(rows, "labsystemname") == [r[0] for r in RECORDS], "row names %s" % text_of(rows, "labsystemname"))
    check(text_of(rows, "labdes") == [r[3] for r in RECORDS], "row descriptions %s" % text_of(rows, "labdes"))
    check(text_of(rows, "labsize") == [r[4] for r in RECORDS], "row sizes %s" % text_of(rows, "labsize"))
    check(text_of(rows, "labpic") == ["", "", ""], "row pictures without placeholder text")
    check_screenshot(run_dir, "list.png", "cloud-list.png")

    live, page = t.dump_lines(4)
    check(page == 6, "download page shown: %s" % page)
    check(text_of(live, "labfilesize") == ["100.00MB"], "size %s" % text_of(live, "labfilesize"))
    speed = text_of(live, "labdownspeed")
    check(len(speed) == 1 and re.match(r"^(\d+B/s|\d+\.\d\dKB/s|\d+\.\d\dMB/s)$", speed[0]), "speed %s" % speed)
    pro = text_of(live, "labdownpro")
    check(len(pro) == 1 and re.match(r"^\d+\.\d\d%$", pro[0]), "progress %s" % pro)
    amount = text_of(live, "labdownareadydown")
    check(len(amount) == 1 and re.match(r"^\d+MB$", amount[0]), "amount %s" % amount)
    download_folder = "D:\\VRLN\\Download"
    check(text_of(live, "labfilename") == ["<f 1><u>%s\\xp.gho</u></f>" % download_folder],
          "file name %s" % text_of(live, "labfilename"))
    check_screenshot(run_dir, "download.png", "cloud-download.png")

    paused1, _ = t.dump_lines(5)
    paused2, _ = t.dump_lines(6)
    check(text_of(paused1, "labdownspeed") == ["暂停"], "paused speed %s" % text_of(paused1, "labdownspeed"))
    check(text_of(paused1, "labdownareadydown") == text_of(paused2, "labdownareadydown"),
          "nothing moves while paused: %s %s" % (text_of(paused1, "labdownareadydown"),
                                                 text_of(paused2, "labdownareadydown")))
    resumed, _ = t.dump_lines(7)
    before = int(text_of(paused2, "labdownareadydown")[0][:-2] or 0)
    after = int(text_of(resumed, "labdownareadydown")[0][:-2] or 0)
    check(after > before, "resumed: %d MB after %d MB" % (after, before))
    check(text_of(resumed, "labdownspeed")[0].endswith("/s"), "resumed speed %s" % text_of(resumed, "labdownspeed"))
    _, page = t.dump_lines(8)
    check(page == 0, "abandoned: main page (%s)" % page)
    image = os.path.join(drive_d(prefix), "VRLN", "Download", "xp.gho")
    check(not os.path.exists(image), "no complete image after abandoning")


def complete_download(build, prefix, tmp, server):
    # The 100 MiB image arrives whole in the download folder; the flow then takes it (its own tests).
    image = os.path.join(drive_d(prefix), "VRLN", "Download", "xp.gho")
    t, _ = run(build, prefix, tmp, "complete", """
wait-enabled btninstall 60
click btninstall
wait-page 5 10
click-row 0 btnselectthis
wait-page 7 120
dump
""", server.url)
    check(os.path.isfile(image) and os.path.getsize(image) == 100 * MIB, "the image is complete in D:\\VRLN\\Download")
    _, page = t.dump_lines(1)
    check(page == 7, "download finished: page %s" % page)


def local_mode(build, prefix, tmp):
    gone = "http://127.0.0.1:%d" % free_port()
    t, _ = run(build, prefix, tmp, "local", """
wait-text labconnect 本地模式 60
wait-enabled btninstall 10
dump
click btninstall
wait-msgbox 10
dump
""", gone)
    lines, _ = t.dump_lines(1)
    check(text_of(lines, "labconnect") == [" 云引擎连接失败，本地模式"], "local mode: %s" % text_of(lines, "labconnect"))
    boxes = t.msgbox_lines()
    check(len(boxes) == 1 and "云引擎连接失败，请检查网络链接" in boxes[0] and "提示" in boxes[0], "message %s" % boxes)
    _, page = t.dump_lines(2)
    check(page == 0, "the user stays on the main page (%s)" % page)


def drive_d(prefix):
    return os.path.join(os.path.dirname(prefix), "wineprefix-cloud-drive-d")


def map_d(prefix, mapped):
    """Drive D: of the prefix: a fresh folder beside it while mapped."""
    link = os.path.join(prefix, "dosdevices", "d:")
    if os.path.islink(link) or os.path.exists(link):
        os.remove(link)
    shutil.rmtree(drive_d(prefix), ignore_errors=True)
    if mapped:
        os.makedirs(os.path.join(prefix, "dosdevices"), exist_ok=True)
        os.makedirs(drive_d(prefix))
        os.symlink(drive_d(prefix), link)


def main(argv):
    build = os.path.abspath(argv[1])
    prefix = os.path.join(build, "wineprefix-cloud")
    tmp = tempfile.mkdtemp(prefix="vorlane-cloud-")
    server = start_server(tmp)
    wine(prefix, "cmd", "/c", "exit", "0")  # the prefix exists before its drive D: is mapped
    map_d(prefix, True)
    try:
        download = os.path.join(drive_d(prefix), "VRLN", "Download")
        shutil.rmtree(download, ignore_errors=True)
        cloud_mode(build, prefix, tmp, server)
        local_mode(build, prefix, tmp)
        server.control("clear-faults")
        complete_download(build, prefix, tmp, server)
    finally:
        server.stop()
        map_d(prefix, False)
    if failures:
        print("%d failures; runs kept in %s" % (len(failures), tmp))
        return 1
    shutil.rmtree(tmp, ignore_errors=True)
    print("all cloud acceptance checks passed")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
