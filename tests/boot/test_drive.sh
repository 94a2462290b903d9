#!/usr/bin/env bash
# Maps a drive letter of the test Wine prefix to a fresh folder under /tmp (setup), or removes both
# (cleanup). The boot tests treat that drive as the system drive, so nothing outside /tmp is touched.
# Usage: test_drive.sh setup|cleanup PREFIX LETTER FOLDER
set -euo pipefail
action=$1 prefix=$2 letter=$3 folder=$4
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
case "$folder" in /tmp/*) ;; *) echo "refusing a folder outside /tmp: $folder" >&2; exit 1 ;; esac
if [ "$action" = setup ]; then
  # The prefix is created on first use.
  "$here/../../scripts/wine-run" --prefix "$prefix" cmd /c exit 0 >/dev/null 2>&1 || true
  rm -rf "$folder"
  mkdir -p "$folder"
  ln -sfn "$folder" "$prefix/dosdevices/$letter:"
  echo "drive $letter: -> $folder"
else
  rm -f "$prefix/dosdevices/$letter:"
  rm -rf "$folder"
fi
