#!/usr/bin/env bash
# Builds the boot payloads into build/bootenv/payload: the boot images KW.lsn/KX.lsn (FAT image with a
# Debian i386 kernel and our initramfs), the loaders kwldr/kxldr, their boot sectors kwldr.mbr/kxldr.mbr
# and mbr.bin (our MBR boot code). Debian packages for the target are fetched once with `apt-get download`
# into build/bootenv/cache and reused. Does nothing when the payloads are newer than every input.
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
root=$(cd "$here/.." && pwd)
out="${1:-$root/build/bootenv}"
cache="$out/cache"
work="$out/work"
payload="$out/payload"
grubdir=/usr/lib/grub/i386-pc
mkdir -p "$cache" "$work" "$payload"

# Up to date? Every file under bootenv/ (sources, loader parts, this script) and base/ is an input.
stamp="$payload/.built"
if [ -f "$stamp" ] && [ -z "$(find "$here" "$root/base" -newer "$stamp" -type f -print -quit)" ]; then
  exit 0
fi

log() { echo "bootenv: $*"; }

# --- Debian packages for the target (i386) ------------------------------------------------------------
kernel_pkg=""
if kernel_pkg=$(apt-cache depends linux-image-686:i386 2>/dev/null | sed -n 's/^ *Depends: \(linux-image-[0-9][^:]*\).*/\1/p' | head -1) && [ -n "$kernel_pkg" ]; then :; else
  kernel_pkg=$(ls "$cache" 2>/dev/null | sed -n 's/^\(linux-image-[0-9][^_]*-686\)_.*/\1/p' | sort -V | tail -1)
fi
[ -n "$kernel_pkg" ] || { echo "bootenv: cannot find the i386 kernel package (run apt-get update)" >&2; exit 1; }
packages=("$kernel_pkg" busybox-static ntfs-3g libntfs-3g89 partclone libc6 libgcc-s1 libblkid1 libext2fs2
  libncursesw6 libtinfo6 libssl3 libuuid1 libcom-err2 zlib1g zlib1g-dev ntfs-3g-dev libzstd1 libzstd-dev libssl-dev libdeflate-dev
  fatresize libparted2 libparted-fs-resize0 libdevmapper1.02.1 libselinux1 libudev1 libpcre2-8-0)
missing=()
for p in "${packages[@]}"; do
  ls "$cache/${p}_"*_i386.deb >/dev/null 2>&1 || missing+=("$p:i386")
done
if [ ${#missing[@]} -gt 0 ]; then
  log "fetching ${missing[*]}"
  fetch() { (cd "$cache" && apt-get download -q "${missing[@]}" 2>&1 | grep -v -E '^(Get:|Fetched|W: Download is performed unsandboxed)' || true); }
  fetch
  for p in "${packages[@]}"; do
    ls "$cache/${p}_"*_i386.deb >/dev/null 2>&1 || { apt-get update -qq >/dev/null 2>&1 || true; fetch; break; }
  done
  for p in "${packages[@]}"; do
    ls "$cache/${p}_"*_i386.deb >/dev/null 2>&1 || { echo "bootenv: package $p:i386 could not be fetched" >&2; exit 1; }
  done
fi

# Unpack (the newest version of each package in the cache).
pkgroot="$work/pkgroot"
rm -rf "$pkgroot"
mkdir -p "$pkgroot"
for p in "${packages[@]}"; do
  deb=$(ls "$cache/${p}_"*_i386.deb | sort -V | tail -1)
  dpkg-deb -x "$deb" "$pkgroot"
done
kver=$(ls "$pkgroot/lib/modules" | head -1)

# --- The job runner, static for i686 Linux ------------------------------------------------------------
log "building the job runner"
mkdir -p "$work/gen"
python3 "$here/runner/gen_cp936_table.py" "$work/gen/cp936_table.inc"
mapfile -t runner_sources < <(ls "$here"/runner/*.cpp "$root"/base/sha256.cpp)
# zstd packs the image blocks, libdeflate's CRC-32 and libcrypto's SHA-256 use the processor's extensions.
libdir="$pkgroot/usr/lib/i386-linux-gnu"
i686-linux-gnu-g++ -std=c++17 -O2 -Wall -Wextra -D_FILE_OFFSET_BITS=64 -DVORLANE_LIBCRYPTO_SHA256 -pthread -static -s \
  -I"$here/runner" -I"$root" -I"$work/gen" -I"$pkgroot/usr/include" -I"$pkgroot/usr/include/i386-linux-gnu" \
  -o "$work/vorlane-runner" "${runner_sources[@]}" "$libdir/libzstd.a" "$libdir/libdeflate.a" "$libdir/libcrypto.a" \
  "$libdir/libz.a"

# The helper that stores image files on NTFS through ntfs-3g's library (dynamic: the library comes as .so).
i686-linux-gnu-gcc -O2 -Wall -Wextra -D_FILE_OFFSET_BITS=64 -s -I"$pkgroot/usr/include" \
  -o "$work/vorlane-ntfswrite" "$here/ntfswrite/ntfswrite.c" "$pkgroot/lib/i386-linux-gnu/libntfs-3g.so.89"
# Its counterpart that reads an image file off an unmounted NTFS for a restore.
i686-linux-gnu-gcc -O2 -Wall -Wextra -D_FILE_OFFSET_BITS=64 -s -I"$pkgroot/usr/include" \
  -o "$work/vorlane-ntfsread" "$here/ntfsread/ntfsread.c" "$pkgroot/lib/i386-linux-gnu/libntfs-3g.so.89"

# --- initramfs ------------------------------------------------------------------------------------------
log "assembling the initramfs"
stage="$work/initramfs"
rm -rf "$stage"
mkdir -p "$stage"/{bin,sbin,lib,usr/bin,usr/sbin,proc,sys,dev,tmp,mnt,run,etc,share/vorlane}
cp "$pkgroot/bin/busybox" "$stage/bin/busybox"
ln -s busybox "$stage/bin/sh"
install -m 755 "$here/initramfs/init" "$stage/init"
install -m 755 "$work/vorlane-runner" "$stage/bin/vorlane-runner"
install -m 755 "$work/vorlane-ntfswrite" "$stage/bin/vorlane-ntfswrite"
install -m 755 "$work/vorlane-ntfsread" "$stage/bin/vorlane-ntfsread"
tools=(bin/ntfs-3g bin/ntfsfix bin/ntfsinfo sbin/ntfsclone sbin/ntfsresize sbin/ntfslabel
  usr/sbin/partclone.ntfs usr/sbin/partclone.fat usr/sbin/partclone.restore usr/sbin/partclone.info
  usr/sbin/partclone.chkimg usr/sbin/fatresize)
for t in "${tools[@]}"; do
  cp "$pkgroot/$t" "$stage/bin/"
done
ln -s ntfs-3g "$stage/bin/mount.ntfs-3g"
# Shared libraries: the closure of what the tools need, found in the unpacked packages.
mkdir -p "$stage/lib/i386-linux-gnu"
cp -L "$pkgroot/lib/ld-linux.so.2" "$stage/lib/ld-linux.so.2"
needed_of() { readelf -d "$1" 2>/dev/null | sed -n 's/.*Shared library: \[\(.*\)\]/\1/p'; }
find_lib() {
  for d in lib/i386-linux-gnu usr/lib/i386-linux-gnu; do
    [ -e "$pkgroot/$d/$1" ] && { echo "$pkgroot/$d/$1"; return 0; }
  done
  return 1
}
queue=()
for t in "${tools[@]}"; do queue+=("$stage/bin/$(basename "$t")"); done
queue+=("$stage/bin/vorlane-ntfswrite" "$stage/bin/vorlane-ntfsread")
declare -A have_lib=()
while [ ${#queue[@]} -gt 0 ]; do
  f=${queue[0]}; queue=("${queue[@]:1}")
  for lib in $(needed_of "$f"); do
    [ -n "${have_lib[$lib]:-}" ] && continue
    [ "$lib" = "ld-linux.so.2" ] && continue
    src=$(find_lib "$lib") || { echo "bootenv: library $lib (needed by $(basename "$f")) is in no fetched package" >&2; exit 1; }
    cp -L "$src" "$stage/lib/i386-linux-gnu/$lib"
    have_lib[$lib]=1
    queue+=("$stage/lib/i386-linux-gnu/$lib")
  done
done
# libgcc_s is loaded at run time (thread cancellation in partclone), not listed as needed.
cp -L "$(find_lib libgcc_s.so.1)" "$stage/lib/i386-linux-gnu/"

# Kernel modules: disk controllers (IDE, SATA/AHCI, NVMe, SCSI, USB storage), USB hosts and keyboards,
# virtio (tests), FUSE (NTFS) and FAT, with everything they depend on.
moddir="$pkgroot/lib/modules/$kver"
depmod -b "$pkgroot" "$kver"
patterns='^kernel/(drivers/(ata|nvme|scsi|usb/(host|storage|core|common)|hid/(usbhid/|hid\.ko|hid-generic)|input/(keyboard|serio)|virtio|block/virtio_blk|mmc/(core|host/sdhci))|fs/(fuse|fat|nls)|lib/crc)'
mapfile -t wanted < <(sed -n 's/^\([^:]*\):.*/\1/p' "$moddir/modules.dep" | grep -E "$patterns")
declare -A keep=()
for m in "${wanted[@]}"; do
  keep[$m]=1
  for dep in $(grep -E "^${m//./\\.}:" "$moddir/modules.dep" | cut -d: -f2); do keep[$dep]=1; done
done
for m in "${!keep[@]}"; do
  mkdir -p "$stage/lib/modules/$kver/$(dirname "$m")"
  cp "$moddir/$m" "$stage/lib/modules/$kver/$m"
done
cp "$moddir/modules.order" "$moddir/modules.builtin" "$moddir/modules.builtin.modinfo" "$stage/lib/modules/$kver/"
depmod -b "$stage" "$kver"
# The retry path of a restore (runner/retry.h): GRUB cores for the disk's first track, one per file system
# of the image's partition (each fits the 62 sectors before a partition at sector 63), GRUB's MBR code,
# and the modules and menu the core loads from the image's partition.
retry="$stage/share/vorlane/retry"
mkdir -p "$retry/i386-pc"
for fs in ntfs fat; do
  grub-mkimage -O i386-pc -o "$retry/core-$fs.img" -p /VLRETRY -c "$here/loader/retry_core.cfg" \
    biosdisk part_msdos "$fs" search_fs_file
done
cp "$grubdir/boot.img" "$here/loader/retry.cfg" "$retry/"
retry_modules=$(python3 - "$grubdir/moddep.lst" <<'PY'
import sys
deps = {}
for line in open(sys.argv[1]):
    name, rest = line.split(":", 1)
    deps[name] = rest.split()
wanted, seen = "normal linux16 loopback loadenv test echo probe chain fat ntfs part_msdos biosdisk search_fs_file".split(), set()
while wanted:
    name = wanted.pop()
    if name not in seen:
        seen.add(name)
        wanted += deps.get(name, [])
print(" ".join(sorted(seen)))
PY
)
for m in $retry_modules; do cp "$grubdir/$m.mod" "$retry/i386-pc/"; done
(cd "$stage" && find . -print0 | LC_ALL=C sort -z | cpio --null -o -H newc --quiet -R 0:0) | xz -6 --check=crc32 -T2 > "$work/initrd.img"

# --- Boot image: FAT file system holding the kernel and the initramfs --------------------------------
log "making the boot image"
kernel="$pkgroot/boot/vmlinuz-$kver"
size_kb=$(( ( $(stat -c %s "$kernel") + $(stat -c %s "$work/initrd.img") ) / 1024 + 1024 ))
image="$work/boot.lsn"
rm -f "$image"
mkfs.fat -C -n VORLANE "$image" "$size_kb" >/dev/null
mcopy -i "$image" "$kernel" ::/vmlinuz
mcopy -i "$image" "$work/initrd.img" ::/initrd.img

# --- Loaders and their boot sectors, one pair per set ---------------------------------------------------
log "making the loaders"
nasm -f bin -o "$work/dispatch.bin" "$here/loader/dispatch.asm"
nasm -f bin -o "$work/mbr.bin" "$here/loader/mbr.asm"
make_set() { # tag, loader name, job file name
  local tag=$1 name=$2 job=$3 d="$work/set-$1"
  rm -rf "$d"; mkdir -p "$d/memdisk"
  sed -e "s/@TAG@/$tag/g" -e "s/@JOB@/$job/g" "$here/loader/vorlane.cfg.in" > "$d/memdisk/vorlane.cfg"
  tar -C "$d/memdisk" --format=ustar -cf "$d/memdisk.tar" vorlane.cfg
  grub-mkimage -O i386-pc -o "$d/core.img" -p '(memdisk)' -m "$d/memdisk.tar" -c "$here/loader/embedded.cfg" \
    biosdisk part_msdos part_gpt fat ntfs ext2 exfat memdisk tar search search_fs_file loopback \
    linux16 ntldr normal configfile test echo sleep reboot minicmd loadenv probe
  "$grubdir/grub-ntldr-img" --grub2 --boot-file="$name" -o "$d/$name.mbr" >/dev/null
  cat "$grubdir/g2hdr.bin" "$d/core.img" > "$d/tail.bin"
  local chunks=$(( ( $(stat -c %s "$d/tail.bin") + 65535 ) / 65536 ))
  nasm -f bin -DCHUNKS="$chunks" -o "$d/ldrhead.bin" "$here/loader/ldrhead.asm"
  python3 "$here/loader/patch_searcher.py" "$d/$name.mbr" "$work/dispatch.bin" "$d/head8k.bin"
  cat "$d/head8k.bin" "$d/ldrhead.bin" "$d/tail.bin" > "$payload/$name.tmp"
  mv "$payload/$name.tmp" "$payload/$name"
  cp "$d/$name.mbr" "$payload/$name.mbr"
  cp "$image" "$payload/$tag.lsn"
}
make_set KW kwldr Ghost.ba_
make_set KX kxldr ghost._KX
cp "$work/mbr.bin" "$payload/mbr.bin"
touch "$stamp"
log "payloads ready in $payload ($(du -sh "$payload" | cut -f1))"
