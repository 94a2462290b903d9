#!/usr/bin/env bash
# A program without its skin package, and one whose package lacks MainFrame1.xml, both show the toolkit's
# message "加载资源文件失败" (caption "Duilib", error icon) and end with exit code 1 before any window shows.
# Usage: missing_skin_test.sh BUILD_DIR
set -uo pipefail
build=$1
. "$(dirname "${BASH_SOURCE[0]}")/../support/sandbox.sh"
for variant in noskin nomainframe; do
  rm -rf "$dir"
  mkdir -p "$dir"
  vl_sandbox "$variant"
  code=$?
  if [ "$code" -ne 1 ]; then
    echo "FAIL $variant: exit code $code, expected 1"; status=1
  fi
  if ! grep -qxF 'msgbox caption="Duilib" flags=0x00000010 text="加载资源文件失败" answer=IDOK (default)' "$dir/transcript.txt"; then
    echo "FAIL $variant: the load-failure message is missing"; status=1
  fi
  if grep -q '^window ready' "$dir/transcript.txt"; then
    echo "FAIL $variant: the window was built"; status=1
  fi
  [ "$status" -eq 0 ] && echo "ok $variant: exit code 1 with the load-failure message"
  [ "$status" -ne 0 ] && cat "$dir/transcript.txt"
done
exit $status
