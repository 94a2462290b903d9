#!/usr/bin/env python3
"""End-to-end proof of the boot environment under QEMU (TCG): real loaders, boot image and job runner on a
raw MBR disk with two NTFS partitions, started the way the Windows boot managers start them.

Scenarios (run in order; restore and corrupt build on the disk left by backup):
  backup   backup set through the loader boot sector (BCD path): pdump 1:1 to 1:2\\VRLN\\BackSystem\\BAKSYS.GHO
  restore  partition 1 replaced by other files, reinstall set through the first 8 KiB of the loader
           (boot.ini path): pload from that image; partition 1's files byte-identical afterwards
  corrupt  a damaged image is refused: partition 1 unchanged, GHOSTERR.TXT says why
  mbr      our MBR code starts the active partition's boot sector
  fallback the set's files but no job: the loader starts the Windows boot manager instead
  hibernated  a hibernated system partition: refused, nothing but the loader's start record written; the
           second start goes to the Windows stand-in without anything typed
  noinit   a boot image whose kernel finds no init: the kernel restarts (panic=), the second start goes to
           the Windows stand-in
  nomarker the loader finds job and marker on a partition the environment cannot read (ext2): nothing to do,
           restart, and the second start goes to the Windows stand-in
  sector63 the image taken at sector 2048 restored onto a larger partition at sector 63 of another disk:
           files byte-identical, hidden sectors 63 in the boot sector and its copy, the volume fills the
           partition
  fatgrow  a FAT32 volume saved from a 300 MB partition at sector 2048 and restored onto a 400 MB partition
           (the disk's second, at an odd start): files byte-identical, the volume grown to fill the partition
           and consistent for fsck.fat, hidden sectors right, the partition table and the first partition
           untouched
  retry    the power is cut while the restore writes C: (sector 63, the disk's first track holding other data):
           the next start, from the disk alone, finishes the restore through the retry path; files
           byte-identical, the first track byte for byte as before, the copy of the job gone from D:;
           then from the same cut with a damaged image and one start left: the retry gives up, the disk's
           own first track is back and the copy is gone
  retryfat the same cut and finishing start with the image on a FAT32 D:
  threedisks  the image's disk counted 2 by the job but second of three in Linux order (a decoy image at the
           same path lies on the first): the identity file picks the right one
  fatsplit a FAT32 system on a second disk saved onto a FAT32 partition in volumes (the job's -split=8),
           read back whole, then restored from the volumes onto the job's larger partition: files
           byte-identical, hidden sectors set, the volume grown to fill it and consistent (fsck.fat)
  fatsplit4g the same from an NTFS partition holding over 4 GiB of incompressible data and no -split: the
           image is split into volumes of 4 GiB less 1 MiB, FAT32's limit; the partition to save lies on a
           second disk built once into the work folder's cache (about half a minute); the longest scenario
           (about 8 minutes under TCG on two processors, longer on a busy machine)
Prints the wall time of each boot and the imaging throughput (figures, not limits).

Usage: qemu_scenarios.py PAYLOAD_DIR WORK_DIR [SCENARIO...]
VORLANE_QEMU_MEMORY sets the machine's memory in MiB (default 512): how the least memory the environment
needs was found (docs/flows.md).
"""
import hashlib
import os
import random
import re
import select
import shutil
import subprocess
import sys
import time

MiB = 1024 * 1024
SECTOR = 512
P1_START = 2048                       # sectors
P1_SIZE = 160 * MiB // SECTOR
EXT_START = P1_START + P1_SIZE
EXT_SIZE = 232 * MiB // SECTOR
P5_START = EXT_START + 2048           # first logical partition, after its EBR
P5_SIZE = EXT_SIZE - 2048
DISK_BYTES = (EXT_START + EXT_SIZE) * SECTOR + MiB

BACKUP_JOB = (b'Ghost.exe -nousb -clone,mode=pdump,src="1:1",dst="1:2\\VRLN\\BackSystem\\BAKSYS.GHO" '
              b'-sure -rb -crcignore -fro -z3 -auto -afile="GHOSTERR.TXT"\r\nrestart\r\n')
RESTORE_JOB = (b'Ghost.exe -nousb -clone,mode=pload,src="1:2\\VRLN\\BackSystem\\BAKSYS.GHO:1",dst="1:1" '
               b'-fro -crcignore -sure -rb -fx -afile="GHOSTERR.TXT"\r\nrestart\r\n\x00')
BOOT_INI_SAVED = b"[boot loader]\r\ntimeout=30\r\ndefault=multi(0)disk(0)rdisk(0)partition(1)\\WINDOWS\r\n" \
                 b"[operating systems]\r\nmulti(0)disk(0)rdisk(0)partition(1)\\WINDOWS=\"Windows XP\" /fastdetect\r\n"
BOOT_INI_EDITED = b"[boot loader]\r\ntimeout=3\r\ndefault=C:\\kwldr\r\n[operating systems]\r\n" \
                  b"multi(0)disk(0)rdisk(0)partition(1)\\WINDOWS=\"Windows XP\" /fastdetect\r\nC:\\kwldr=VorlaneBak\r\n"


class Failure(Exception):
    pass


def run(*args, **kw):
    return subprocess.run(list(args), check=True, stdout=subprocess.PIPE, stderr=subprocess.PIPE, **kw)


def check(condition, message):
    if not condition:
        raise Failure(message)
    print("  ok: " + message)


class Disk:
    """The raw disk image and its two partitions, kept as separate files for ntfs-3g's tools."""

    def __init__(self, work):
        self.work = work
        self.disk = os.path.join(work, "disk.img")
        self.p1 = os.path.join(work, "p1.img")
        self.p5 = os.path.join(work, "p5.img")

    def create(self):
        with open(self.disk, "wb") as f:
            f.truncate(DISK_BYTES)
        table = (f"label: dos\nlabel-id: 0x1234abcd\n"
                 f"start={P1_START}, size={P1_SIZE}, type=7, bootable\n"
                 f"start={EXT_START}, size={EXT_SIZE}, type=5\n"
                 f"start={P5_START}, size={P5_SIZE}, type=7\n")
        subprocess.run(["sfdisk", "-q", self.disk], input=table.encode(), check=True)
        self.format(self.p1, P1_START, P1_SIZE, "system")
        self.format(self.p5, P5_START, P5_SIZE, "data")

    @staticmethod
    def format(path, start, size, label):
        if os.path.exists(path):
            os.unlink(path)
        with open(path, "wb") as f:
            f.truncate(size * SECTOR)
        run("mkntfs", "-q", "-F", "-Q", "-p", str(start), "-H", "255", "-S", "63", "-L", label, path)

    def assemble(self):
        """Copies both partition files into the disk image."""
        for path, start in ((self.p1, P1_START), (self.p5, P5_START)):
            copy_range(path, 0, self.disk, start * SECTOR, os.path.getsize(path))

    def extract(self):
        for path, start, size in ((self.p1, P1_START, P1_SIZE), (self.p5, P5_START, P5_SIZE)):
            copy_range(self.disk, start * SECTOR, path, 0, size * SECTOR)


def partitioned_disk(path, label_id, partitions):
    """A sparse raw disk, one MiB longer than its last partition, with an MBR table of partitions given as
    (start, size, type) or (start, size, type, "bootable"); label_id None lets sfdisk choose the signature."""
    end = max(p[0] + p[1] for p in partitions)
    with open(path, "wb") as f:
        f.truncate(end * SECTOR + MiB)
    lines = ["label: dos"] + ([f"label-id: {label_id:#010x}"] if label_id is not None else [])
    lines += [f"start={p[0]}, size={p[1]}, type={p[2]}" + "".join(", " + flag for flag in p[3:]) for p in partitions]
    subprocess.run(["sfdisk", "-q", path], input=("\n".join(lines) + "\n").encode(), check=True)


def copy_range(src, src_off, dst, dst_off, length):
    chunk = 4 * MiB
    with open(src, "rb") as fi, open(dst, "r+b" if os.path.exists(dst) else "w+b") as fo:
        fi.seek(src_off)
        fo.seek(dst_off)
        done = 0
        while done < length:
            data = fi.read(min(chunk, length - done))
            if not data:
                break
            fo.write(data)
            done += len(data)


class Ntfs:
    """Files on an NTFS partition image through ntfs-3g's tools (no mounting needed)."""

    def __init__(self, image):
        self.image = image

    def put(self, name, data):
        tmp = self.image + ".put"
        with open(tmp, "wb") as f:
            f.write(data)
        run("ntfscp", "-f", "-q", self.image, tmp, name)
        os.unlink(tmp)

    def get(self, name):
        r = subprocess.run(["ntfscat", "-f", self.image, name], stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        return r.stdout if r.returncode == 0 else None

    def names(self, folder="/"):
        r = subprocess.run(["ntfsls", "-f", "-p", folder, self.image], stdout=subprocess.PIPE,
                           stderr=subprocess.PIPE, check=True)
        return [n for n in r.stdout.decode().splitlines() if n and n not in (".", "..")]

    def exists(self, name):
        folder, leaf = os.path.split(name)
        return any(n.lower() == leaf.lower() for n in self.names(folder or "/"))


def sample_files(seed):
    """Folders of files standing in for a Windows installation: incompressible and text data."""
    rng = random.Random(seed)
    files = {}
    for i in range(24):
        files[f"/Windows/System32/lib{i:02d}.dll"] = rng.randbytes(rng.randint(256, 2048) * 1024)
    for i in range(12):
        line = f"Line {i} of a settings file that compresses well. ".encode()
        files[f"/Windows/inf/setup{i:02d}.inf"] = line * rng.randint(2000, 8000)
    files["/Users/Demo/Documents/notes.txt"] = "Vorlane 测试 notes\r\n".encode() * 500
    files["/Program Files/App/app.exe"] = rng.randbytes(3 * MiB)
    return files


def make_folders(image, folders):
    """NTFS has no folder tool among ntfs-3g's programs: folders are made through an ntfs-3g mount."""
    mnt = image + ".mnt"
    os.makedirs(mnt, exist_ok=True)
    run("ntfs-3g", image, mnt)
    try:
        for folder in folders:
            os.makedirs(mnt + folder, exist_ok=True)
    finally:
        subprocess.run(["umount", mnt], check=True)
        os.rmdir(mnt)


def fill(image, files):
    make_folders(image, sorted({os.path.dirname(n) for n in files}))
    ntfs = Ntfs(image)
    for name, data in files.items():
        ntfs.put(name, data)


def make_floppy(work, name, payload_files, chain_args):
    """A syslinux floppy whose chain.c32 loads a file whole at 0:7C00 with DL = 80h, as the Windows boot
    managers start a boot-sector entry."""
    path = os.path.join(work, name)
    if os.path.exists(path):
        os.unlink(path)
    run("mkfs.fat", "-C", path, "1440")
    run("syslinux", "--install", path)
    mods = "/usr/lib/syslinux/modules/bios"
    cfg = os.path.join(work, "syslinux.cfg")
    with open(cfg, "w") as f:
        f.write(f"DEFAULT go\nPROMPT 0\nLABEL go\n  COM32 chain.c32\n  APPEND {chain_args}\n")
    run("mcopy", "-i", path, f"{mods}/chain.c32", f"{mods}/libcom32.c32", f"{mods}/libutil.c32", cfg, "::/")
    for f in payload_files:
        run("mcopy", "-i", path, f, "::/")
    return path


def boot(work, disk, floppy, label, timeout=1200, boot_from="a", extra=(), disk_bus="ide", stop_when=None):
    """Runs QEMU until the guest restarts (-no-reboot ends QEMU). Answers (log text, seconds). stop_when(text)
    is asked every few milliseconds; when it answers true the machine is switched off there and then."""
    cmd = ["qemu-system-i386", "-m", os.environ.get("VORLANE_QEMU_MEMORY", "512"), "-smp", "2", "-display", "none",
           "-no-reboot", "-monitor", "none",
           "-serial", "stdio", "-net", "none", "-drive", f"file={disk},format=raw,if={disk_bus},index=0",
           "-device", "isa-debug-exit,iobase=0xf4,iosize=0x04", "-boot", boot_from]
    cmd += list(extra)
    if floppy:
        cmd += ["-drive", f"file={floppy},format=raw,if=floppy"]
    log_path = os.path.join(work, f"{label}.log")
    start = time.monotonic()
    proc = subprocess.Popen(cmd, stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
    out = b""
    pressed = False
    log = open(log_path, "wb")  # written as it comes, so a long boot can be followed
    try:
        while True:
            if time.monotonic() - start > timeout:
                proc.kill()
                raise Failure(f"{label}: no restart within {timeout} s")
            ready, _, _ = select.select([proc.stdout], [], [], 0.02 if stop_when else 1.0)
            if stop_when and stop_when(out.decode("utf-8", "replace")):
                proc.kill()
                print(f"  boot '{label}': switched off")
                break
            if ready:
                data = os.read(proc.stdout.fileno(), 65536)
                if not data:
                    break
                out += data
                log.write(data)
                log.flush()
                if not pressed and b"press a key to restart now" in out:
                    proc.stdin.write(b"\r")  # a key on the serial console ends the 60-second wait
                    proc.stdin.flush()
                    pressed = True
            elif proc.poll() is not None:
                break
        proc.wait()
    finally:
        log.close()
    seconds = time.monotonic() - start
    text = out.decode("utf-8", "replace").replace("\r", "")
    print(f"  boot '{label}': {seconds:.1f} s wall time (log {log_path})")
    return text, seconds


def throughput(text, word):
    m = re.search(word + r" ([\d.]+ [KMG]?B).* in ([\d:]+) \(([\d.]+ [KMG]?B)/s\)", text)
    return f"{m.group(1)} in {m.group(2)} at {m.group(3)}/s" if m else "not reported"


def expect_in(text, needle, message):
    check(needle in text, message)


def scenario_backup(ctx):
    print("scenario backup: backup set, loader boot sector (BCD path), pdump 1:1 -> 1:2\\VRLN\\BackSystem\\BAKSYS.GHO")
    disk, payload, work = ctx["disk"], ctx["payload"], ctx["work"]
    disk.create()
    files = sample_files(1)
    fill(disk.p1, files)
    sysfs = Ntfs(disk.p1)
    make_folders(disk.p1, ["/Boot"])
    sysfs.put("/boot.ini", BOOT_INI_EDITED)
    sysfs.put("/boot.in_", BOOT_INI_SAVED)
    sysfs.put("/Boot/BCD", b"store with the one-time entry")
    sysfs.put("/Boot/BCD_M", b"store as it was before")
    sysfs.put("/pagefile.sys", bytes(2 * MiB))
    for name in ("KW.lsn", "kwldr", "kwldr.mbr"):
        with open(os.path.join(payload, name), "rb") as f:
            sysfs.put("/" + name, f.read())
    sysfs.put("/Ghost.ba_", BACKUP_JOB)
    disk.assemble()
    floppy = make_floppy(work, "bcd.img", [os.path.join(payload, "kwldr.mbr")], "hd0 1 file=/kwldr.mbr")
    text, seconds = boot(work, disk.disk, floppy, "backup")
    disk.extract()
    expect_in(text, "read back from the disk and is complete", "the image was read back and checked whole")
    expect_in(text, "Image written", "the environment reports the image written")
    data = Ntfs(disk.p5)
    image = data.get("/VRLN/BackSystem/BAKSYS.GHO")
    check(image is not None and image[:8] == b"VRLNIMG1", "BAKSYS.GHO exists on partition 2 and is our image")
    check(sysfs.get("/Ghost.ba_") is None, "the job file is gone from partition 1")
    for name in ("KW.lsn", "kwldr", "kwldr.mbr", "pagefile.sys", "boot.in_", "Boot/BCD_M"):
        check(not sysfs.exists("/" + name), f"{name} is gone from partition 1")
    check(sysfs.get("/boot.ini") == BOOT_INI_SAVED, "boot.ini is the saved copy again")
    check(sysfs.get("/Boot/BCD") == b"store as it was before", "\\Boot\\BCD is the saved store again")
    ctx["files"] = files
    ctx["image"] = image
    print(f"  figure: dump {throughput(text, 'Saved')}, boot {seconds:.1f} s")
    compare_with_partclone(ctx, disk.p1)


def compare_with_partclone(ctx, partition):
    """Benchmark figures: partclone alone against partclone into our container, natively on this machine,
    on the partition that was just saved (the in-VM figure above is under TCG, many times slower)."""
    pkgroot = os.path.join(os.path.dirname(ctx["payload"]), "work", "pkgroot")
    loader = os.path.join(pkgroot, "lib", "ld-linux.so.2")
    tool = os.environ.get("VORLANE_IMAGETOOL", "")
    if not os.path.exists(loader) or not os.path.exists(tool):
        print("  figure: partclone comparison skipped (no unpacked packages or no vorlane-imagetool)")
        return
    libs = ":".join(os.path.join(pkgroot, d) for d in ("lib/i386-linux-gnu", "usr/lib/i386-linux-gnu"))
    clone = [loader, "--library-path", libs, os.path.join(pkgroot, "usr/sbin/partclone.ntfs"),
             "-c", "-a0", "-q", "-s", partition, "-o", "-", "-L", os.path.join(ctx["work"], "partclone.log")]
    out = os.path.join(ctx["work"], "bench.gho")
    for label, shell in (("partclone alone", f"{quote(clone)} > /dev/null"),
                         ("partclone into our container (-z3)",
                          f"{quote(clone)} | {tool} pack {out} ntfs {P1_SIZE * SECTOR} 3 > /dev/null 2>&1")):
        start = time.monotonic()
        r = subprocess.run(["bash", "-o", "pipefail", "-c", shell], stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        seconds = time.monotonic() - start
        if r.returncode != 0:
            print(f"  figure: {label}: failed ({r.stderr.decode(errors='replace').strip()[:200]})")
            continue
        size = subprocess.run(["bash", "-c", f"{quote(clone)} 2>/dev/null | wc -c"], stdout=subprocess.PIPE).stdout.strip()
        mb = int(size or 0) / MiB
        print(f"  figure: {label} (host, native): {mb:.1f} MB stream in {seconds:.2f} s = {mb / seconds:.1f} MB/s")
    if os.path.exists(out):
        os.unlink(out)


def quote(args):
    return " ".join("'" + a.replace("'", "'\\''") + "'" for a in args)


def scenario_restore(ctx):
    print("scenario restore: partition 1 changed, reinstall set via the loader's first 8 KiB (boot.ini path), pload")
    disk, payload, work = ctx["disk"], ctx["payload"], ctx["work"]
    files = ctx["files"]
    # Everything on partition 1 changes: a new file system with other files, some names kept with new content.
    Disk.format(disk.p1, P1_START, P1_SIZE, "system")
    changed = {name: b"changed " + data[:1000] for name, data in list(files.items())[::3]}
    changed["/Windows/new-only.txt"] = b"this file did not exist at backup time"
    fill(disk.p1, changed)
    sysfs = Ntfs(disk.p1)
    for name in ("KX.lsn", "kxldr"):
        with open(os.path.join(payload, name), "rb") as f:
            sysfs.put("/" + name, f.read())
    sysfs.put("/ghost._KX", RESTORE_JOB)
    disk.assemble()
    with open(os.path.join(payload, "kxldr"), "rb") as f:
        head = f.read(8192)
    head_path = os.path.join(work, "kxldr8k")
    with open(head_path, "wb") as f:
        f.write(head)
    floppy = make_floppy(work, "bootini.img", [head_path], "hd0 1 file=/kxldr8k")
    text, seconds = boot(work, disk.disk, floppy, "restore")
    disk.extract()
    expect_in(text, "The image is complete and undamaged", "the whole image was checked before writing")
    expect_in(text, "now holds the system from the image", "the environment reports the restore done")
    sysfs = Ntfs(disk.p1)
    same = all(sysfs.get(name) == data for name, data in files.items())
    check(same, f"all {len(files)} files on partition 1 are byte-identical to the backup")
    check(not sysfs.exists("/Windows/new-only.txt"), "a file made after the backup is gone")
    check(not sysfs.exists("/ghost._KX"), "the job file went with the old partition contents")
    print(f"  figure: restore {throughput(text, 'Restored')}, boot {seconds:.1f} s")


def scenario_corrupt(ctx):
    print("scenario corrupt: a damaged image (named in code page 936) is refused and nothing is written")
    disk, payload, work = ctx["disk"], ctx["payload"], ctx["work"]
    # The damaged copy lies in a folder with a Chinese name: the job names it in code page 936.
    image = bytearray(ctx["image"])
    image[len(image) // 2] ^= 0x55
    make_folders(disk.p5, ["/系统备份"])
    Ntfs(disk.p5).put("/系统备份/损坏.GHO", bytes(image))
    job = RESTORE_JOB.replace(b"\\VRLN\\BackSystem\\BAKSYS.GHO", "\\系统备份\\损坏.GHO".encode("cp936"))
    sysfs = Ntfs(disk.p1)
    for name in ("KX.lsn", "kxldr", "kxldr.mbr"):
        with open(os.path.join(payload, name), "rb") as f:
            sysfs.put("/" + name, f.read())
    sysfs.put("/ghost._KX", job)
    # A reinstall edit of boot.ini (no saved copy): after the failure it must no longer start the loader.
    sysfs.put("/boot.ini", BOOT_INI_EDITED.replace(b"kwldr", b"kxldr").replace(b"VorlaneBak", b"Vorlane"))
    disk.assemble()
    first_track = read_at(disk.disk, 0, P1_START * SECTOR)
    floppy = make_floppy(work, "bcd-kx.img", [os.path.join(payload, "kxldr.mbr")], "hd0 1 file=/kxldr.mbr")
    text, seconds = boot(work, disk.disk, floppy, "corrupt")
    disk.extract()
    expect_in(text, "A copy of the job is kept beside the image", "the restore was made retryable first")
    check(read_at(disk.disk, 0, P1_START * SECTOR) == first_track,
          "the refusal put the disk's first track back byte for byte")
    check(not Ntfs(disk.p5).exists("/VLRETRY"), "and removed the copy of the job beside the image")
    expect_in(text, "FAILED", "the environment reports the failure")
    expect_in(text, "Windows was left as it was", "the final line says Windows was left alone")
    sysfs = Ntfs(disk.p1)
    report = sysfs.get("/GHOSTERR.TXT")
    check(report is not None and b"damaged" in report, "GHOSTERR.TXT on partition 1 says the image is damaged")
    check(not sysfs.exists("/ghost._KX"), "the job file was removed so that Windows starts next")
    check(not sysfs.exists("/KX.lsn") and sysfs.exists("/kxldr.mbr"),
          "the stale marker KX.lsn was removed; the loader files a boot entry may still name stay")
    boot_ini = sysfs.get("/boot.ini") or b""
    check(b"kxldr" not in boot_ini.lower() and b"default=multi(0)disk(0)rdisk(0)partition(1)\\WINDOWS" in boot_ini,
          "boot.ini no longer starts the loader; its default is Windows again")
    same = all(sysfs.get(name) == data for name, data in ctx["files"].items())
    check(same, "partition 1's files are unchanged")


def scenario_mbr(ctx):
    print("scenario mbr: our MBR code boots the active partition's boot sector")
    payload, work = ctx["payload"], ctx["work"]
    asm = os.path.join(work, "probe.asm")
    with open(asm, "w") as f:
        f.write(PROBE_SECTOR)
    probe = os.path.join(work, "probe.bin")
    run("nasm", "-f", "bin", "-o", probe, asm)
    path = os.path.join(work, "mbrdisk.img")
    with open(path, "wb") as f:
        f.truncate(16 * MiB)
    table = "label: dos\nstart=2048, size=8192, type=7\nstart=10240, size=8192, type=7, bootable\n"
    subprocess.run(["sfdisk", "-q", path], input=table.encode(), check=True)
    with open(os.path.join(payload, "mbr.bin"), "rb") as f:
        code = f.read()
    check(len(code) == 440, "mbr.bin is 440 bytes")
    with open(path, "r+b") as f:
        f.write(code)
        f.seek(10240 * SECTOR)
        f.write(open(probe, "rb").read())
    text, seconds = boot(work, path, None, "mbr", timeout=120, boot_from="c")
    expect_in(text, "VORLANE-PBR-OK DL=80 LBA=00002800", "the active (second) partition's boot sector ran with DL = 80h "
              "and DS:SI at its table entry")


PROBE_SECTOR = r"""
; Test boot sector: reports on COM1 that it runs, the drive in DL and the start LBA of the table entry
; at DS:SI, then ends QEMU through the isa-debug-exit port.
bits 16
org 0x7C00
        mov bp, si
        mov bh, dl
        mov si, text
.say:   lodsb
        test al, al
        jz .dl
        call put
        jmp .say
.dl:    mov al, bh
        call hex8
        mov si, lba
.say2:  lodsb
        test al, al
        jz .lba
        call put
        jmp .say2
.lba:   mov ax, [bp+10]
        call hex16
        mov ax, [bp+8]
        call hex16
        mov al, 13
        call put
        mov al, 10
        call put
        mov al, 0
        out 0xf4, al
        hlt
hex16:  push ax
        mov al, ah
        call hex8
        pop ax
hex8:   push ax
        shr al, 4
        call nib
        pop ax
nib:    and al, 15
        add al, '0'
        cmp al, '9'
        jbe put
        add al, 7
put:    push dx
        push ax
        mov dx, 0x3FD
.wait:  in al, dx
        test al, 0x20
        jz .wait
        pop ax
        mov dx, 0x3F8
        out dx, al
        pop dx
        ret
text:   db "VORLANE-PBR-OK DL=", 0
lba:    db " LBA=", 0
        times 510-($-$$) db 0
        dw 0xAA55
"""

BOOTMGR_PROBE = r"""
; Stands in for the Windows boot manager file: GRUB's ntldr command loads it at 2000h:0. Reports on COM1
; and ends QEMU through the isa-debug-exit port.
bits 16
org 0
        push cs
        pop ds
        mov si, text
.say:   lodsb
        test al, al
        jz .done
        mov ah, al
        mov dx, 0x3FD
.wait:  in al, dx
        test al, 0x20
        jz .wait
        mov al, ah
        mov dx, 0x3F8
        out dx, al
        jmp .say
.done:  mov al, 0
        out 0xf4, al
        hlt
text:   db "VORLANE-BOOTMGR-OK", 13, 10, 0
"""


def scenario_fallback(ctx):
    print("scenario fallback: the set's files without a job: the loader starts the Windows boot manager")
    payload, work = ctx["payload"], ctx["work"]
    asm = os.path.join(work, "bootmgr.asm")
    with open(asm, "w") as f:
        f.write(BOOTMGR_PROBE)
    probe = os.path.join(work, "bootmgr.bin")
    run("nasm", "-f", "bin", "-o", probe, asm)
    disk = Disk(os.path.join(work, "fallback"))
    os.makedirs(disk.work, exist_ok=True)
    disk.create()
    sysfs = Ntfs(disk.p1)
    for name in ("KX.lsn", "kxldr", "kxldr.mbr"):
        with open(os.path.join(payload, name), "rb") as f:
            sysfs.put("/" + name, f.read())
    with open(probe, "rb") as f:
        sysfs.put("/bootmgr", f.read())
    disk.assemble()
    floppy = make_floppy(work, "bcd-kx.img", [os.path.join(payload, "kxldr.mbr")], "hd0 1 file=/kxldr.mbr")
    text, seconds = boot(work, disk.disk, floppy, "fallback", timeout=300)
    expect_in(text, "VORLANE-BOOTMGR-OK", "with no job waiting the loader started \\bootmgr (a stale entry cannot trap)")
    shutil.rmtree(disk.work)


START_RECORD = b"# GRUB Environment Block\n" + b"#" * (1024 - 25)


def bootmgr_probe(work):
    asm = os.path.join(work, "bootmgr.asm")
    with open(asm, "w") as f:
        f.write(BOOTMGR_PROBE)
    probe = os.path.join(work, "bootmgr.bin")
    run("nasm", "-f", "bin", "-o", probe, asm)
    with open(probe, "rb") as f:
        return f.read()


def changed_sectors(before, after):
    """Numbers of the 512-byte sectors that differ between two equally long files."""
    result = []
    with open(before, "rb") as a, open(after, "rb") as b:
        n = 0
        while True:
            x, y = a.read(MiB), b.read(MiB)
            if not x:
                break
            if x != y:
                for i in range(0, len(x), SECTOR):
                    if x[i:i + SECTOR] != y[i:i + SECTOR]:
                        result.append(n + i // SECTOR)
            n += len(x) // SECTOR
    return result


def sectors_holding(path, data):
    """Sectors of a file image whose content starts the given data (where a file's clusters lie)."""
    result = []
    head = data[:SECTOR]
    with open(path, "rb") as f:
        n = 0
        while True:
            chunk = f.read(MiB)
            if not chunk:
                break
            pos = chunk.find(head)
            while pos >= 0:
                if pos % SECTOR == 0:
                    first = n + pos // SECTOR
                    result.extend(range(first, first + len(data) // SECTOR))
                pos = chunk.find(head, pos + 1)
            n += len(chunk) // SECTOR
    return set(result)


def scenario_hibernated(ctx):
    print("scenario hibernated: a hibernated system partition is refused and not written at all")
    disk, payload, work = ctx["disk"], ctx["payload"], ctx["work"]
    Disk.format(disk.p1, P1_START, P1_SIZE, "system")
    fill(disk.p1, {name: data for name, data in list(sample_files(3).items())[:6]})
    sysfs = Ntfs(disk.p1)
    for name in ("KW.lsn", "kwldr", "kwldr.mbr"):
        with open(os.path.join(payload, name), "rb") as f:
            sysfs.put("/" + name, f.read())
    sysfs.put("/Ghost.ba_", BACKUP_JOB)
    sysfs.put("/KW.env", START_RECORD)
    sysfs.put("/bootmgr", bootmgr_probe(work))
    sysfs.put("/hiberfil.sys", b"HIBR" + bytes(MiB - 4))  # last: ntfs-3g's tools write no more after it
    disk.assemble()
    before = disk.p1 + ".before"
    shutil.copyfile(disk.p1, before)
    floppy = make_floppy(work, "bcd.img", [os.path.join(payload, "kwldr.mbr")], "hd0 1 file=/kwldr.mbr")
    text, seconds = boot(work, disk.disk, floppy, "hibernated")
    disk.extract()
    expect_in(text, "hibernated", "the environment says Windows is hibernated")
    expect_in(text, "Nothing was written", "and that nothing was written")
    record = sectors_holding(before, START_RECORD)
    changed = changed_sectors(before, disk.p1)
    check(changed and set(changed) <= record, f"only the loader's start record changed on partition 1 "
          f"({len(changed)} sector(s))")
    os.unlink(before)
    text, seconds = boot(work, disk.disk, floppy, "hibernated-again", timeout=300)
    expect_in(text, "VORLANE-BOOTMGR-OK", "the second start goes to the Windows stand-in without anything typed")
    check("imaging environment" not in text, "and not to the imaging environment again")


def scenario_noinit(ctx):
    print("scenario noinit: the kernel finds no init: it restarts, and the next start goes to Windows")
    payload, work = ctx["payload"], ctx["work"]
    disk = Disk(os.path.join(work, "noinit"))
    shutil.rmtree(disk.work, ignore_errors=True)
    os.makedirs(disk.work)
    disk.create()
    broken = os.path.join(disk.work, "KX.lsn")
    shutil.copyfile(os.path.join(payload, "KX.lsn"), broken)
    junk = os.path.join(disk.work, "initrd.img")
    with open(junk, "wb") as f:
        f.write(b"not an initramfs" * 64)
    run("mcopy", "-o", "-i", broken, junk, "::/initrd.img")
    sysfs = Ntfs(disk.p1)
    with open(broken, "rb") as f:
        sysfs.put("/KX.lsn", f.read())
    for name in ("kxldr", "kxldr.mbr"):
        with open(os.path.join(payload, name), "rb") as f:
            sysfs.put("/" + name, f.read())
    sysfs.put("/ghost._KX", RESTORE_JOB)
    sysfs.put("/KX.env", START_RECORD)
    sysfs.put("/bootmgr", bootmgr_probe(work))
    disk.assemble()
    floppy = make_floppy(work, "bcd-kx.img", [os.path.join(payload, "kxldr.mbr")], "hd0 1 file=/kxldr.mbr")
    text, seconds = boot(work, disk.disk, floppy, "noinit", timeout=300)
    expect_in(text, "Kernel panic", "the kernel found no init and panicked")
    expect_in(text, "Rebooting in", "and restarted by itself (panic=)")
    text, seconds = boot(work, disk.disk, floppy, "noinit-again", timeout=300)
    expect_in(text, "VORLANE-BOOTMGR-OK", "the next start goes to the Windows stand-in")
    shutil.rmtree(disk.work)


def scenario_nomarker(ctx):
    print("scenario nomarker: the environment does not find the marker the loader saw; the next start is Windows'")
    payload, work = ctx["payload"], ctx["work"]
    base = os.path.join(work, "nomarker")
    shutil.rmtree(base, ignore_errors=True)  # what a failed earlier run left
    os.makedirs(base)
    p1_start, p1_size = 2048, 64 * MiB // SECTOR
    p2_start, p2_size = p1_start + p1_size, 64 * MiB // SECTOR
    path = os.path.join(base, "disk.img")
    partitioned_disk(path, None, [(p1_start, p1_size, "7", "bootable"), (p2_start, p2_size, "83")])
    p1 = os.path.join(base, "p1.img")
    Disk.format(p1, p1_start, p1_size, "system")
    sysfs = Ntfs(p1)
    for name in ("kxldr", "kxldr.mbr"):
        with open(os.path.join(payload, name), "rb") as f:
            sysfs.put("/" + name, f.read())
    sysfs.put("/bootmgr", bootmgr_probe(work))
    # The job, the marker and the start record on a file system the loader reads and the environment not.
    tree = os.path.join(base, "tree")
    os.makedirs(tree)
    shutil.copyfile(os.path.join(payload, "KX.lsn"), os.path.join(tree, "KX.lsn"))
    with open(os.path.join(tree, "ghost._KX"), "wb") as f:
        f.write(RESTORE_JOB)
    with open(os.path.join(tree, "KX.env"), "wb") as f:
        f.write(START_RECORD)
    p2 = os.path.join(base, "p2.img")
    with open(p2, "wb") as f:
        f.truncate(p2_size * SECTOR)
    run("mkfs.ext2", "-q", "-F", "-b", "1024", "-d", tree, p2)
    copy_range(p1, 0, path, p1_start * SECTOR, p1_size * SECTOR)
    copy_range(p2, 0, path, p2_start * SECTOR, p2_size * SECTOR)
    floppy = make_floppy(work, "bcd-kx.img", [os.path.join(payload, "kxldr.mbr")], "hd0 1 file=/kxldr.mbr")
    text, seconds = boot(work, path, floppy, "nomarker", timeout=600)
    expect_in(text, "imaging environment", "the loader started the environment")
    expect_in(text, "there is nothing to do", "which found no partition it can read holding marker and job")
    expect_in(text, "The next start goes to Windows", "and says what happens next")
    text, seconds = boot(work, path, floppy, "nomarker-again", timeout=300)
    expect_in(text, "VORLANE-BOOTMGR-OK", "the second start goes to the Windows stand-in without anything typed")
    shutil.rmtree(base)


def single_disk(path, start, size, label, fill_files):
    """A disk image with one NTFS partition at start (sectors) of size sectors, holding fill_files."""
    part = path + ".part"
    signature = int(hashlib.sha256(label.encode()).hexdigest()[:8], 16)
    partitioned_disk(path, signature, [(start, size, "7", "bootable")])
    Disk.format(part, start, size, label)
    fill(part, fill_files)
    return part, signature


def identity_text(job, image, source, target):
    lines = ["vorlane-job-identity 1", f"job={job}", f"image={image}"]
    for side, (signature, disk_bytes, start, length) in (("source", source), ("target", target)):
        lines += [f"{side}.disk.signature={signature:08X}", f"{side}.disk.size={disk_bytes}",
                  f"{side}.partition.start={start}", f"{side}.partition.length={length}"]
    return ("\r\n".join(lines) + "\r\n").encode()


def le(data, offset, size):
    return int.from_bytes(data[offset:offset + size], "little")


def sector63_disk(ctx, base, signature, d_fs="ntfs"):
    """A disk with C: (NTFS, active) at sector 63, larger than the image's partition, holding the set's files,
    a catalogue job and its identity file, and D: (NTFS, or FAT32) holding the catalogue image. Answers the
    layout."""
    payload = ctx["payload"]
    shutil.rmtree(base, ignore_errors=True)  # what a failed earlier run left
    os.makedirs(base)
    c_start, c_size = 63, P1_SIZE + 64 * MiB // SECTOR
    d_start, d_size = 2048 * ((c_start + c_size) // 2048 + 1), 96 * MiB // SECTOR
    path = os.path.join(base, "disk.img")
    partitioned_disk(path, signature, [(c_start, c_size, "7", "bootable"), (d_start, d_size, "c" if d_fs == "fat" else "7")])
    c_part, d_part = os.path.join(base, "c.img"), os.path.join(base, "d.img")
    Disk.format(c_part, c_start, c_size, "oldsystem")
    if d_fs == "fat":
        with open(d_part, "wb") as f:
            f.truncate(d_size * SECTOR)
        run("mkfs.fat", "-F", "32", "-h", str(d_start), "-n", "DATA", d_part)
        env = dict(os.environ, MTOOLS_SKIP_CHECK="1")
        for folder in ("::/VRLN", "::/VRLN/Download"):
            subprocess.run(["mmd", "-i", d_part, folder], check=True, env=env)
        image = d_part + ".gho"
        with open(image, "wb") as f:
            f.write(ctx["image"])
        subprocess.run(["mcopy", "-i", d_part, image, "::/VRLN/Download/CAT.GHO"], check=True, env=env)
        os.unlink(image)
    else:
        Disk.format(d_part, d_start, d_size, "data")
        fill(d_part, {"/VRLN/Download/CAT.GHO": ctx["image"]})
    fill(c_part, {"/Windows/old.txt": b"old system"})
    sysfs = Ntfs(c_part)
    for name in ("KX.lsn", "kxldr", "kxldr.mbr"):
        with open(os.path.join(payload, name), "rb") as f:
            sysfs.put("/" + name, f.read())
    job = RESTORE_JOB.replace(b"BackSystem\\BAKSYS.GHO", b"Download\\CAT.GHO")
    sysfs.put("/ghost._KX", job)
    disk_bytes = os.path.getsize(path)
    sysfs.put("/KX.vid", identity_text("restore", "\\VRLN\\Download\\CAT.GHO",
                                       (signature, disk_bytes, d_start * SECTOR, d_size * SECTOR),
                                       (signature, disk_bytes, c_start * SECTOR, c_size * SECTOR)))
    copy_range(c_part, 0, path, c_start * SECTOR, c_size * SECTOR)
    copy_range(d_part, 0, path, d_start * SECTOR, d_size * SECTOR)
    return {"path": path, "c_part": c_part, "d_part": d_part, "c_start": c_start, "c_size": c_size,
            "d_start": d_start, "d_size": d_size}


def check_restored_c(ctx, layout):
    """C: of a sector63_disk after the restore: the image's files, hidden sectors 63, the volume filling it."""
    c_part, c_start, c_size = layout["c_part"], layout["c_start"], layout["c_size"]
    copy_range(layout["path"], c_start * SECTOR, c_part, 0, c_size * SECTOR)
    sysfs = Ntfs(c_part)
    same = all(sysfs.get(name) == data for name, data in ctx["files"].items())
    check(same, f"all {len(ctx['files'])} files of the image are byte-identical on the new C:")
    with open(c_part, "rb") as f:
        boot_sector = f.read(SECTOR)
        total = le(boot_sector, 0x28, 8)
        f.seek(total * SECTOR)
        copy = f.read(SECTOR)
    check(le(boot_sector, 0x1C, 4) == 63, f"hidden sectors are 63 (the image said 2048)")
    check(copy == boot_sector, "the boot sector's copy at the volume's end is the same")
    check(total + 1 >= c_size - 16, f"the volume fills the partition ({total + 1} of {c_size} sectors; "
          f"the image's was {P1_SIZE})")


def scenario_sector63(ctx):
    print("scenario sector63: catalogue image from sector 2048 onto a larger C: at sector 63 of another disk")
    work = ctx["work"]
    base = os.path.join(work, "sector63")
    layout = sector63_disk(ctx, base, 0x63636363)
    floppy = make_floppy(work, "bcd-kx.img", [os.path.join(ctx["payload"], "kxldr.mbr")], "hd0 1 file=/kxldr.mbr")
    text, seconds = boot(work, layout["path"], floppy, "sector63")
    expect_in(text, "now holds the system from the image", "the restore is reported done")
    check_restored_c(ctx, layout)
    shutil.rmtree(base)


def read_at(path, offset, length):
    with open(path, "rb") as f:
        f.seek(offset)
        return f.read(length)


def cut_restore(ctx, label, layout):
    """Starts the catalogue restore of a sector63_disk and switches the machine off as soon as C:'s first sector
    changes. The disk's own first track is our MBR code and data of some other program in sectors 1..62.
    Answers (sector 0, sectors 1..62) as they were."""
    payload, work, path, c_start = ctx["payload"], ctx["work"], layout["path"], layout["c_start"]
    with open(os.path.join(payload, "mbr.bin"), "rb") as f:
        code = f.read()
    track = bytes(random.Random(7).randbytes(62 * SECTOR))
    with open(path, "r+b") as f:
        f.write(code)
        f.seek(SECTOR)
        f.write(track)
    sector0 = read_at(path, 0, SECTOR)
    c_before = read_at(path, c_start * SECTOR, SECTOR)

    def c_written(_text):
        return read_at(path, c_start * SECTOR, SECTOR) != c_before

    floppy = make_floppy(work, "bcd-kx.img", [os.path.join(payload, "kxldr.mbr")], "hd0 1 file=/kxldr.mbr")
    text, seconds = boot(work, path, floppy, label + "-cut", stop_when=c_written)
    expect_in(text, "A copy of the job is kept beside the image", "the retry path was set up before C: was written")
    check("now holds the system" not in text, "the power was cut while C: was being written")
    check(read_at(path, 0, 440) != sector0[:440], "the disk's first sector now starts the retry path")
    return sector0, track


def finish_restore(ctx, label, layout, sector0, track):
    """Starts the machine from its disk alone, with nothing typed: the retry path finishes the restore."""
    path = layout["path"]
    text, seconds = boot(ctx["work"], path, None, label + "-finish", boot_from="c")
    expect_in(text, "finishing a restore that did not complete", "the retry path started the environment again")
    expect_in(text, "The image is complete and undamaged", "the image was checked again before writing")
    expect_in(text, "now holds the system from the image", "the restore was finished")
    expect_in(text, "The disk's own boot code is back", "and says the first track is back")
    check(read_at(path, 0, SECTOR) == sector0, "sector 0 is byte for byte what it was before the job")
    check(read_at(path, SECTOR, 62 * SECTOR) == track, "sectors 1 to 62 are what they were before the job")
    check_restored_c(ctx, layout)
    print(f"  figure: finishing start {seconds:.1f} s")


def scenario_retryfat(ctx):
    print("scenario retryfat: the same power cut with the image on a FAT32 D: (GRUB's FAT core on the first track)")
    base = os.path.join(ctx["work"], "retryfat")
    layout = sector63_disk(ctx, base, 0x52544654, d_fs="fat")
    sector0, track = cut_restore(ctx, "retryfat", layout)
    finish_restore(ctx, "retryfat", layout, sector0, track)
    offset = layout["d_start"] * SECTOR
    names = mtools_sizes(layout["path"], offset, "/")
    check("VLRETRY" not in names, f"the copy of the job is gone from D: ({sorted(names)})")
    check(mtools_sizes(layout["path"], offset, "/VRLN/Download").get("CAT.GHO") == len(ctx["image"]),
          "the image on D: is still there, whole")
    shutil.rmtree(base)


def scenario_retry(ctx):
    print("scenario retry: the machine loses power while C: is written; the next start finishes the restore")
    work = ctx["work"]
    base = os.path.join(work, "retry")
    layout = sector63_disk(ctx, base, 0x52545259)
    path = layout["path"]
    sector0, track = cut_restore(ctx, "retry", layout)
    cut = os.path.join(base, "cut.img")  # the same machine again, later for a restore that cannot finish
    run("cp", "--sparse=always", path, cut)
    finish_restore(ctx, "retry", layout, sector0, track)
    copy_range(path, layout["d_start"] * SECTOR, layout["d_part"], 0, layout["d_size"] * SECTOR)
    data = Ntfs(layout["d_part"])
    check(not data.exists("/VLRETRY"), "the copy of the job is gone from D:")
    check(data.get("/VRLN/Download/CAT.GHO") == ctx["image"], "the image on D: is unchanged")

    # Once more from the cut, with the image damaged since and one start left: the retry gives up and the
    # disk gets its own first track back, so that nothing comes back at every start.
    d_part, d_start, d_size = layout["d_part"], layout["d_start"], layout["d_size"]
    copy_range(cut, d_start * SECTOR, d_part, 0, d_size * SECTOR)
    data = Ntfs(d_part)
    record = data.get("/VLRETRY/retry.env")
    check(record is not None and b"vl_a=go" in record, "the cut left the retry record on D:")
    data.put("/VLRETRY/retry.env", record.replace(b"vl_b=go", b"vl_b=stop").replace(b"vl_c=go", b"vl_c=stop"))
    damaged = bytearray(ctx["image"])
    damaged[len(damaged) // 2] ^= 0x55
    data.put("/VRLN/Download/CAT.GHO", bytes(damaged))
    copy_range(d_part, 0, cut, d_start * SECTOR, d_size * SECTOR)
    text, seconds = boot(work, cut, None, "retry-giveup", boot_from="c")
    expect_in(text, "finishing a restore that did not complete", "the last allowed start ran the environment")
    expect_in(text, "FAILED", "the damaged image was refused")
    expect_in(text, "no further start tries it", "the screen says no further start tries it")
    check(read_at(cut, 0, SECTOR) == sector0 and read_at(cut, SECTOR, 62 * SECTOR) == track,
          "the disk's own first track is back byte for byte")
    copy_range(cut, d_start * SECTOR, d_part, 0, d_size * SECTOR)
    check(not Ntfs(d_part).exists("/VLRETRY"), "the copy of the job is gone from D:")
    shutil.rmtree(base)


def scenario_threedisks(ctx):
    print("scenario threedisks: the job counts the image's disk as 2; Linux sees a decoy disk first")
    payload, work = ctx["payload"], ctx["work"]
    base = os.path.join(work, "threedisks")
    shutil.rmtree(base, ignore_errors=True)  # what a failed earlier run left
    os.makedirs(base)
    image = ctx["image"]
    decoy = bytearray(image)
    decoy[len(decoy) // 2] ^= 0x55  # taken by mistake it would be refused as damaged
    psize = 96 * MiB // SECTOR
    disks = {}
    for name, content in (("decoy", bytes(decoy)), ("images", image)):
        path = os.path.join(base, name + ".img")
        part, signature = single_disk(path, 2048, psize, name, {"/VRLN/BackSystem/BAKSYS.GHO": content})
        copy_range(part, 0, path, 2048 * SECTOR, psize * SECTOR)
        os.unlink(part)
        disks[name] = (path, signature, os.path.getsize(path))
    system = os.path.join(base, "system.img")
    part, signature = single_disk(system, 2048, P1_SIZE, "system", {"/Windows/old.txt": b"old system"})
    sysfs = Ntfs(part)
    for name in ("KX.lsn", "kxldr", "kxldr.mbr"):
        with open(os.path.join(payload, name), "rb") as f:
            sysfs.put("/" + name, f.read())
    job = RESTORE_JOB.replace(b'"1:2\\VRLN', b'"2:1\\VRLN')
    check(b'src="2:1\\VRLN' in job, "the job names the image on disk 2, partition 1")
    sysfs.put("/ghost._KX", job)
    images_path, images_signature, images_bytes = disks["images"]
    sysfs.put("/KX.vid", identity_text("restore", "\\VRLN\\BackSystem\\BAKSYS.GHO",
                                       (images_signature, images_bytes, 2048 * SECTOR, psize * SECTOR),
                                       (signature, os.path.getsize(system), 2048 * SECTOR, P1_SIZE * SECTOR)))
    copy_range(part, 0, system, 2048 * SECTOR, P1_SIZE * SECTOR)
    floppy = make_floppy(work, "bcd-kx-hd2.img", [os.path.join(payload, "kxldr.mbr")], "hd2 1 file=/kxldr.mbr")
    text, seconds = boot(work, disks["decoy"][0], floppy, "threedisks",
                         extra=["-drive", f"file={images_path},format=raw,if=ide,index=1",
                                "-drive", f"file={system},format=raw,if=ide,index=2"])
    expect_in(text, "now holds the system from the image", "the restore is reported done")
    copy_range(system, 2048 * SECTOR, part, 0, P1_SIZE * SECTOR)
    sysfs = Ntfs(part)
    same = all(sysfs.get(name) == data for name, data in ctx["files"].items())
    check(same, "the system partition (third disk) holds the files of the image on the second disk")
    check(not sysfs.exists("/Windows/old.txt"), "the old system's file is gone")
    shutil.rmtree(base)


def fat32_disk(path, start, size, label, files):
    """A disk image with one FAT32 partition at start (sectors) of size sectors holding files (through mtools)."""
    partitioned_disk(path, 0x46415432, [(start, size, "c")])
    run("mkfs.fat", "-F", "32", "-h", str(start), "-n", label, "--offset", str(start), path, str(size * SECTOR // 1024))
    env = dict(os.environ, MTOOLS_SKIP_CHECK="1")
    where = f"{path}@@{start * SECTOR}"
    for folder in sorted({os.path.dirname(n) for n in files}):
        parts = folder.strip("/").split("/")
        for i in range(1, len(parts) + 1):
            subprocess.run(["mmd", "-D", "s", "-i", where, "::/" + "/".join(parts[:i])], env=env,
                           stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    tmp = path + ".put"
    for name, data in files.items():
        with open(tmp, "wb") as f:
            f.write(data)
        run("mcopy", "-i", where, tmp, "::" + name, env=env)
    os.unlink(tmp)


def scenario_fatgrow(ctx):
    print("scenario fatgrow: a FAT32 volume saved from a 300 MB partition at sector 2048, restored onto the "
          "second partition (400 MB, odd start) of another disk; the volume is grown to fill it")
    payload, work = ctx["payload"], ctx["work"]
    base = os.path.join(work, "fatgrow")
    shutil.rmtree(base, ignore_errors=True)  # what a failed earlier run left
    os.makedirs(base)
    started = time.monotonic()
    # fatresize leaves FAT32 volumes of fewer clusters than 300 MB's alone.
    src_size = 300 * MiB // SECTOR
    files = dict(list(sample_files(14).items())[::3])
    source = os.path.join(base, "source.img")
    fat32_disk(source, 2048, src_size, "FATSOURCE", files)
    with open(source, "rb") as f:
        f.seek(2048 * SECTOR)
        source_boot = f.read(SECTOR)
    # The job's disk: partition 1 NTFS for the image (first, so a tool that took the wrong partition would
    # show), partition 2 the target at an odd start, larger than the source's.
    img_start, img_size = 2048, 96 * MiB // SECTOR
    sys_start, sys_size = img_start + img_size + 4159, 400 * MiB // SECTOR
    path = os.path.join(base, "disk.img")
    partitioned_disk(path, 0x46475257, [(img_start, img_size, "7"), (sys_start, sys_size, "7", "bootable")])
    img_part, sys_part = os.path.join(base, "images.img"), os.path.join(base, "sys.img")
    Disk.format(img_part, img_start, img_size, "images")
    Disk.format(sys_part, sys_start, sys_size, "system")
    sysfs = Ntfs(sys_part)
    sysfs.put("/old.txt", b"the system before the restore")
    for name in ("KW.lsn", "kwldr", "kwldr.mbr", "KX.lsn", "kxldr", "kxldr.mbr"):
        with open(os.path.join(payload, name), "rb") as f:
            sysfs.put("/" + name, f.read())
    sysfs.put("/Ghost.ba_", BACKUP_JOB.replace(b'src="1:1",dst="1:2', b'src="2:1",dst="1:1'))
    sysfs.put("/ghost._KX", RESTORE_JOB.replace(b'src="1:2', b'src="1:1').replace(b'dst="1:1"', b'dst="1:2"'))
    copy_range(img_part, 0, path, img_start * SECTOR, img_size * SECTOR)
    copy_range(sys_part, 0, path, sys_start * SECTOR, sys_size * SECTOR)
    os.unlink(sys_part)
    copy_range(os.path.join(payload, "mbr.bin"), 0, path, 0, 440)  # boot code the grow must leave alone
    print(f"  disks ready in {time.monotonic() - started:.1f} s")
    extra = ["-drive", f"file={source},format=raw,if=ide,index=1,snapshot=on"]
    floppy = make_floppy(work, "bcd-hd0p2.img", [os.path.join(payload, "kwldr.mbr")], "hd0 2 file=/kwldr.mbr")
    text, backup_seconds = boot(work, path, floppy, "fatgrow-backup", extra=extra)
    expect_in(text, "read back from the disk and is complete", "the FAT32 image was read back and checked whole")
    with open(path, "rb") as f:
        mbr = f.read(SECTOR)
        f.seek(img_start * SECTOR)
        images_boot = f.read(SECTOR)
    floppy = make_floppy(work, "bcd-kx-hd0p2.img", [os.path.join(payload, "kxldr.mbr")], "hd0 2 file=/kxldr.mbr")
    text, restore_seconds = boot(work, path, floppy, "fatgrow-restore", extra=extra)
    expect_in(text, "now holds the system from the image", "the restore is reported done")
    expect_in(text, "FAT file system grown to fill the partition", "the environment says the volume was grown")
    env = dict(os.environ, MTOOLS_SKIP_CHECK="1")
    where = f"{path}@@{sys_start * SECTOR}"
    same = all(subprocess.run(["mtype", "-i", where, "::" + name], stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                              env=env).stdout == data for name, data in files.items())
    check(same, f"all {len(files)} files are byte-identical on the restored FAT32 partition")
    with open(path, "rb") as f:
        mbr_after = f.read(SECTOR)
        f.seek(img_start * SECTOR)
        images_boot_after = f.read(SECTOR)
        f.seek(sys_start * SECTOR)
        boot_sector = f.read(SECTOR)
        f.seek((sys_start + le(boot_sector, 0x32, 2)) * SECTOR)
        copy = f.read(SECTOR)
    # fatresize sets the partition's type to FAT32's (it was NTFS's before the restore); nothing else changes.
    entry = 446 + 16
    check(mbr_after[:entry + 4] == mbr[:entry + 4] and mbr_after[entry + 5:] == mbr[entry + 5:] and
          images_boot_after == images_boot, "the partition table and the image's partition are as they were "
          f"(sector 0 differs at {[i for i in range(SECTOR) if mbr[i] != mbr_after[i]][:8]}, the image's partition's "
          f"boot sector at {[i for i in range(SECTOR) if images_boot[i] != images_boot_after[i]][:8]})")
    check(mbr_after[entry + 4] in (0x0B, 0x0C), f"the partition's type is FAT32's ({mbr_after[entry + 4]:#04x})")
    total = le(boot_sector, 0x20, 4)
    check(le(boot_sector, 0x1C, 4) == sys_start, f"hidden sectors are {sys_start} (the image said 2048)")
    check(src_size < total <= sys_size and total + 2048 >= sys_size,
          f"the volume fills the partition ({total} of {sys_size} sectors; the image's was {le(source_boot, 0x20, 4)})")
    check(boot_sector[3:11] == source_boot[3:11] and boot_sector[0x43:0x52] == source_boot[0x43:0x52] and
          boot_sector[0x5A:0x200] == source_boot[0x5A:0x200], "name, serial, label and boot code are the image's")
    check(copy == boot_sector, "the boot sector's copy is the same")
    part = os.path.join(base, "restored.img")
    copy_range(path, sys_start * SECTOR, part, 0, sys_size * SECTOR)
    r = subprocess.run(["fsck.fat", "-n", part], stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
    check(r.returncode == 0, "fsck.fat finds the grown volume consistent" +
          ("" if r.returncode == 0 else ": " + r.stdout.decode(errors="replace")[-300:]))
    print(f"  figure: backup boot {backup_seconds:.1f} s, restore boot {restore_seconds:.1f} s, "
          f"scenario {time.monotonic() - started:.1f} s")
    shutil.rmtree(base)


def copy_sparse(src, dst, dst_off):
    """Copies a file's data (its holes skipped) into a region of another that reads as zeros."""
    chunk = 4 * MiB
    with open(src, "rb") as fi, open(dst, "r+b") as fo:
        size = os.fstat(fi.fileno()).st_size
        at = 0
        while at < size:
            try:
                at = os.lseek(fi.fileno(), at, os.SEEK_DATA)
            except OSError:
                break  # only a hole is left
            end = os.lseek(fi.fileno(), at, os.SEEK_HOLE)
            fi.seek(at)
            fo.seek(dst_off + at)
            while at < end:
                data = fi.read(min(chunk, end - at))
                fo.write(data)
                at += len(data)


def extract_sparse(src, src_off, length, dst):
    """Copies a region of a file into a new file, leaving holes where the region's data are zeros."""
    with open(dst, "wb") as f:
        f.truncate(length)
    chunk = 4 * MiB
    zero = bytes(chunk)
    with open(src, "rb") as fi, open(dst, "r+b") as fo:
        fi.seek(src_off)
        at = 0
        while at < length:
            data = fi.read(min(chunk, length - at))
            if not data:
                break
            if data != zero[:len(data)]:
                fo.seek(at)
                fo.write(data)
            at += len(data)


BIG_MIB = 4160                        # the big file: over 4 GiB, so its image needs two FAT volumes
SPLIT_PART = (BIG_MIB + 320) * MiB // SECTOR
SPLIT_CACHE = "fatsplit-v2"


def big_file_disk(work):
    """A disk whose one NTFS partition holds sample files and one big incompressible file, built once and kept
    in the work folder's cache (ntfs-3g's tools take minutes for 4 GiB); the scenario only reads it.
    Answers (disk file, files, the big file's SHA-256)."""
    cache = os.path.join(work, "cache")
    disk = os.path.join(cache, SPLIT_CACHE + ".img")
    digest_path = disk + ".sha256"
    files = {name: data for name, data in list(sample_files(9).items())[:10]}
    if os.path.exists(disk) and os.path.exists(digest_path):
        with open(digest_path) as f:
            return disk, files, f.read().strip()
    shutil.rmtree(cache, ignore_errors=True)
    os.makedirs(cache)
    part = os.path.join(cache, "part.img")
    Disk.format(part, 2048, SPLIT_PART, "bigdata")
    fill(part, files)
    # Random data does not compress: each 4 MiB block of the image stays as large as its data. A 64 MiB
    # pattern made unique per MiB by its number keeps the making cheap.
    rng = random.Random(41)
    pattern = bytearray(rng.randbytes(64 * MiB))
    big = os.path.join(cache, "big.bin")
    h = hashlib.sha256()
    with open(big, "wb") as f:
        for i in range(BIG_MIB):
            piece = pattern[(i % 64) * MiB:(i % 64 + 1) * MiB]
            piece[:8] = i.to_bytes(8, "little")
            h.update(piece)
            f.write(piece)
    make_folders(part, ["/Big"])
    run("ntfscp", "-f", "-q", part, big, "/Big/huge.bin")
    os.unlink(big)
    building = disk + ".building"
    partitioned_disk(building, 0x42494744, [(2048, SPLIT_PART, "7")])
    copy_sparse(part, building, 2048 * SECTOR)
    os.unlink(part)
    os.rename(building, disk)
    with open(digest_path, "w") as f:
        f.write(h.hexdigest())
    return disk, files, h.hexdigest()


def mtools_sizes(disk, offset, folder):
    """Names and sizes of the files in a folder of a FAT partition inside a disk image (through mtools)."""
    r = subprocess.run(["mdir", "-a", "-i", f"{disk}@@{offset}", "::" + folder], stdout=subprocess.PIPE,
                       stderr=subprocess.PIPE, env=dict(os.environ, MTOOLS_SKIP_CHECK="1"))
    sizes = {}
    for line in r.stdout.decode(errors="replace").splitlines():
        m = re.match(r"^(\S+)\s+(\S*)\s+(\d+) ", line)
        if m:
            sizes[(m.group(1) + ("." + m.group(2) if m.group(2) else "")).upper()] = int(m.group(3))
    return sizes


def fat_split_round_trip(ctx, label, source, files, big, split_mb, source_fs="ntfs", grow_mb=0):
    """A backup from the first partition of the disk source onto a FAT32 partition of the job's disk, in
    volumes, then a restore of those volumes onto the job's partition; files (and the big file, when big is
    (name, SHA-256)) byte-identical. split_mb: the job's -split= switch (0: none, the FAT limit alone).
    source_fs: the saved partition's file system; grow_mb: how much larger the restore's target is."""
    payload, work = ctx["payload"], ctx["work"]
    base = os.path.join(work, label)
    shutil.rmtree(base, ignore_errors=True)
    os.makedirs(base)
    started = time.monotonic()
    source_bytes = os.path.getsize(source)
    part_sectors = source_bytes // SECTOR + grow_mb * MiB // SECTOR  # room enough for the image's partition
    # The job's disk: partition 1 FAT32 for the image, partition 2 the job's partition, which the restore
    # then overwrites. The partition to save is the first of the other disk (2:1: the job's disk counts first).
    fat_start, fat_size = 2048, max(part_sectors + 256 * MiB // SECTOR, 600 * MiB // SECTOR)
    sys_start = fat_start + fat_size
    path = os.path.join(base, "disk.img")
    partitioned_disk(path, 0x46415433, [(fat_start, fat_size, "c"), (sys_start, part_sectors, "7", "bootable")])
    run("mkfs.fat", "-F", "32", "-h", str(fat_start), "-n", "IMAGES", "--offset", str(fat_start), path,
        str(fat_size * SECTOR // 1024))
    part = os.path.join(base, "sys.img")
    Disk.format(part, sys_start, part_sectors, "system")
    fill(part, {"/Windows/old.txt": b"the system before the restore"})
    sysfs = Ntfs(part)
    for name in ("KW.lsn", "kwldr", "kwldr.mbr", "KX.lsn", "kxldr", "kxldr.mbr"):
        with open(os.path.join(payload, name), "rb") as f:
            sysfs.put("/" + name, f.read())
    backup = BACKUP_JOB.replace(b'src="1:1",dst="1:2', b'src="2:1",dst="1:1')
    if split_mb:
        backup = backup.replace(b" -auto ", f" -split={split_mb} -auto ".encode())
    sysfs.put("/Ghost.ba_", backup)
    sysfs.put("/ghost._KX", RESTORE_JOB.replace(b'src="1:2', b'src="1:1').replace(b'dst="1:1"', b'dst="1:2"'))
    copy_sparse(part, path, sys_start * SECTOR)
    os.unlink(part)
    print(f"  disks ready in {time.monotonic() - started:.1f} s")
    # A current processor (its extensions: PCLMUL for the CRC-32s) and virtio disks: through an emulated
    # IDE controller the data take a third longer. The source is only read, through a snapshot.
    extra = ["-cpu", "max", "-drive", f"file={source},format=raw,if=virtio,index=1,snapshot=on"]

    floppy = make_floppy(work, "bcd-hd0p2.img", [os.path.join(payload, "kwldr.mbr")], "hd0 2 file=/kwldr.mbr")
    text, seconds = boot(work, path, floppy, label + "-backup", timeout=1800, extra=extra, disk_bus="virtio")
    expect_in(text, "read back from the disk and is complete", "the image was read back and checked whole")
    sizes = mtools_sizes(path, fat_start * SECTOR, "/VRLN/BackSystem")
    volume = min(split_mb * MiB, 4096 * MiB - MiB) if split_mb else 4096 * MiB - MiB
    names = ["BAKSYS.GHO"] + [f"BAKSYS.{i:03d}" for i in range(1, len(sizes))]
    check(len(sizes) >= 2 and set(sizes) == set(names),
          f"the image lies in {len(sizes)} volumes, BAKSYS.GHO onwards, and nothing else ({sorted(sizes)})")
    check(all(sizes[n] == volume for n in names[:-1]) and 0 < sizes[names[-1]] <= volume,
          f"every volume but the last holds {volume} bytes, the last {sizes[names[-1]]}")
    expect_in(text, f"in {len(sizes)} volumes", "and the environment says so")
    print(f"  figure: dump {throughput(text, 'Saved')}, image {sum(sizes.values()) / MiB:.0f} MiB, boot {seconds:.1f} s")

    floppy = make_floppy(work, "bcd-kx-hd0p2.img", [os.path.join(payload, "kxldr.mbr")], "hd0 2 file=/kxldr.mbr")
    text, seconds = boot(work, path, floppy, label + "-restore", timeout=1800, extra=extra, disk_bus="virtio")
    expect_in(text, "The image is complete and undamaged", "the whole split image was checked before writing")
    expect_in(text, "now holds the system from the image", "the restore is reported done")
    print(f"  figure: restore {throughput(text, 'Restored')}, boot {seconds:.1f} s")
    if source_fs == "fat":
        check_restored_fat(path, sys_start, part_sectors, source, files)
        shutil.rmtree(base)
        return
    # The image's volumes are no longer needed: freeing their space first keeps the 4 GiB run's peak lower.
    run("fallocate", "--punch-hole", "--offset", str(fat_start * SECTOR), "--length", str(fat_size * SECTOR), path)
    extract_sparse(path, sys_start * SECTOR, part_sectors * SECTOR, part)
    os.unlink(path)
    sysfs = Ntfs(part)
    check(all(sysfs.get(name) == data for name, data in files.items()),
          f"all {len(files)} files are byte-identical on the restored partition")
    if big:
        h = hashlib.sha256()
        with subprocess.Popen(["ntfscat", "-f", part, big[0]], stdout=subprocess.PIPE) as cat:
            for chunk in iter(lambda: cat.stdout.read(4 * MiB), b""):
                h.update(chunk)
        check(h.hexdigest() == big[1], f"{big[0]} ({BIG_MIB} MiB) is byte-identical (SHA-256)")
    check(not sysfs.exists("/Windows/old.txt"), "the old system's file is gone")
    shutil.rmtree(base)


def mtools(disk, offset):
    return ["-i", f"{disk}@@{offset}"]


def check_restored_fat(disk, start, sectors, source, files):
    """The FAT volume restored at start (sectors) of disk: the files, the boot sector's placement and size."""
    env = dict(os.environ, MTOOLS_SKIP_CHECK="1")
    same = True
    for name, data in files.items():
        r = subprocess.run(["mcopy", "-n"] + mtools(disk, start * SECTOR) + ["::" + name, "-"], stdout=subprocess.PIPE,
                           stderr=subprocess.PIPE, env=env)
        same = same and r.returncode == 0 and r.stdout == data
    check(same, f"all {len(files)} files are byte-identical on the restored FAT32 partition")
    with open(disk, "rb") as f:
        f.seek(start * SECTOR)
        boot_sector = f.read(SECTOR)
    with open(source, "rb") as f:
        f.seek(2048 * SECTOR)
        old_total = le(f.read(SECTOR), 0x20, 4)
    total = le(boot_sector, 0x20, 4)
    check(le(boot_sector, 0x1C, 4) == start, f"hidden sectors are {start} (the image said 2048)")
    # The restore grows the volume to fill the larger partition (docs/image-format.md, "After a restore").
    check(old_total < total <= sectors and total + 2048 >= sectors,
          f"the volume fills the partition ({total} of {sectors} sectors; the image's was {old_total})")
    part = disk + ".fat"
    extract_sparse(disk, start * SECTOR, sectors * SECTOR, part)
    r = subprocess.run(["fsck.fat", "-n", part], stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
    os.unlink(part)
    check(r.returncode == 0, "fsck.fat finds the restored volume consistent" +
          ("" if r.returncode == 0 else ": " + r.stdout.decode(errors="replace")[-300:]))


def fat_source_disk(path, size_mb, files):
    """A disk with one FAT32 partition at sector 2048 holding files (through mtools)."""
    sectors = size_mb * MiB // SECTOR
    partitioned_disk(path, 0x46534f55, [(2048, sectors, "c")])
    run("mkfs.fat", "-F", "32", "-h", "2048", "-n", "FATSOURCE", "--offset", "2048", path, str(sectors * SECTOR // 1024))
    env = dict(os.environ, MTOOLS_SKIP_CHECK="1")
    folders = sorted({os.path.dirname(n) for n in files})
    made = set()
    for folder in folders:
        parts = folder.strip("/").split("/")
        for i in range(1, len(parts) + 1):
            sub = "/" + "/".join(parts[:i])
            if sub not in made:
                subprocess.run(["mmd"] + mtools(path, 2048 * SECTOR) + ["::" + sub], check=True, env=env,
                               stdout=subprocess.PIPE, stderr=subprocess.PIPE)
                made.add(sub)
    tmp = path + ".put"
    for name, data in files.items():
        with open(tmp, "wb") as f:
            f.write(data)
        subprocess.run(["mcopy"] + mtools(path, 2048 * SECTOR) + [tmp, "::" + name], check=True, env=env)
    os.unlink(tmp)


def scenario_fatsplit(ctx):
    print("scenario fatsplit: a FAT32 system saved onto FAT32 in volumes (-split=8), read back, restored from the "
          "volumes onto a larger partition")
    work = ctx["work"]
    base = os.path.join(work, "fatsplit-source")
    shutil.rmtree(base, ignore_errors=True)
    os.makedirs(base)
    files = sample_files(5)
    source = os.path.join(base, "source.img")
    fat_source_disk(source, 600, files)
    fat_split_round_trip(ctx, "fatsplit", source, files, None, 8, source_fs="fat", grow_mb=200)
    shutil.rmtree(base)


def scenario_fatsplit4g(ctx):
    print("scenario fatsplit4g: over 4 GiB onto FAT32 (volumes below 4 GiB), read back, restored")
    started = time.monotonic()
    source, files, big_digest = big_file_disk(ctx["work"])
    print(f"  source disk ready in {time.monotonic() - started:.1f} s (kept in the cache; read through a snapshot)")
    fat_split_round_trip(ctx, "fatsplit4g", source, files, ("/Big/huge.bin", big_digest), 0)


def file_sha256(path):
    h = hashlib.sha256()
    with open(path, "rb") as f:
        for chunk in iter(lambda: f.read(4 * MiB), b""):
            h.update(chunk)
    return h.hexdigest()


SCENARIOS = {"fallback": scenario_fallback, "hibernated": scenario_hibernated, "mbr": scenario_mbr,
             "backup": scenario_backup, "restore": scenario_restore, "corrupt": scenario_corrupt,
             "noinit": scenario_noinit, "nomarker": scenario_nomarker, "retry": scenario_retry, "retryfat": scenario_retryfat, "threedisks": scenario_threedisks, "sector63": scenario_sector63,
             "fatsplit": scenario_fatsplit, "fatsplit4g": scenario_fatsplit4g, "fatgrow": scenario_fatgrow}


def main():
    if len(sys.argv) < 3:
        print(__doc__)
        return 2
    payload, work = os.path.abspath(sys.argv[1]), os.path.abspath(sys.argv[2])
    names = sys.argv[3:] or ["mbr", "fallback", "noinit", "nomarker", "backup", "threedisks", "sector63", "retry", "retryfat", "restore", "corrupt",
                             "hibernated", "fatsplit", "fatgrow", "fatsplit4g"]
    os.makedirs(work, exist_ok=True)
    ctx = {"payload": payload, "work": work, "disk": Disk(work)}
    total = time.monotonic()
    passed = failed = 0
    for name in names:
        try:
            SCENARIOS[name](ctx)
            passed += 1
        except (Failure, subprocess.CalledProcessError, KeyError) as e:
            failed += 1
            print(f"  FAILED: {name}: {e}")
            if name in ("backup", "restore"):
                break  # later scenarios need this one's disk
    print(f"QEMU scenarios took {time.monotonic() - total:.0f} s")
    print(f"{passed} passed, {failed} failed")
    return 0 if failed == 0 and passed == len(names) else 1


if __name__ == "__main__":
    sys.exit(main())
