#!/usr/bin/env bash
# Runs the full-drive case of the data backup tests on a small file system mounted for the purpose (1 MiB
# tmpfs), seen from Wine through drive Z:. Needs the right to mount; without it the case reports itself
# skipped (exit code 77).
# Usage: full_disk.sh WINE_RUN PREFIX TEST_EXE MOUNT_DIR
set -u
wine_run=$1 prefix=$2 exe=$3 dir=$4
mkdir -p "$dir"
if ! mount -t tmpfs -o size=1m vorlane-small "$dir" 2>/dev/null; then
  echo "cannot mount a small file system here: full-drive case skipped"
  exit 77
fi
trap 'umount "$dir"' EXIT
VORLANE_SMALL_DISK="Z:$(printf '%s' "$dir" | tr / '\\')" "$wine_run" --prefix "$prefix" "$exe" \
  --gtest_filter='FullTarget.*'
