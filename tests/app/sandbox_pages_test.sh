#!/usr/bin/env bash
# Drives the sandbox through the six top options, checks every page's texts and states through dump, and
# checks that the screenshot of each page is not blank. The screenshots go to BUILD_DIR/screenshots; with
# VORLANE_REFRESH_SCREENSHOTS=1 (scripts/refresh-screenshots) they also replace the committed ones in
# docs/screenshots (a test run leaves the working tree alone: the pages show this machine's memory and free
# space). Needs a display (scripts/test starts Xvfb). Usage: sandbox_pages_test.sh BUILD_DIR
set -uo pipefail
build=$1
. "$(dirname "${BASH_SOURCE[0]}")/../support/sandbox.sh"
vl_one_disk_machine
cat > "$dir/script.txt" <<'SCRIPT'
wait-page 0 60
wait-text labsysver Windows 30
dump
screenshot main.png
click optbacksystem
wait-page 1 10
dump
screenshot backup-system.png
click optrecosystem
wait-page 2 10
dump
screenshot restore-system.png
click optbackdata
wait-page 3 10
click optbackupdocument
dump
screenshot backup-data.png
click optrecodata
wait-page 4 10
dump
screenshot restore-data.png
click optcontact
dump
screenshot contact.png
click optbackdata
choose-folder C:\VRLN\Chosen
click btnlookbackdata
wait-text editbackdata Chosen 5
click optrecosystem
choose-file cancel
click btnlookrecosys
answer IDCANCEL
click btnclose
wait-msgbox 5
close
SCRIPT
# A loopback server that takes the connection and never answers: the catalogue stays "being fetched", so
# the install button stays disabled and the status label keeps its start-up text.
python3 -c 'import socket, sys, time
s = socket.socket(); s.bind(("127.0.0.1", 0)); s.listen(16)
print(s.getsockname()[1], flush=True); time.sleep(900)' > "$dir/silent.port" &
silent_pid=$!
trap 'kill $silent_pid 2>/dev/null; rm -rf "$dir"' EXIT
for _ in $(seq 50); do [ -s "$dir/silent.port" ] && break; sleep 0.1; done
VORLANE_SANDBOX_SERVER="http://127.0.0.1:$(cat "$dir/silent.port")" vl_sandbox
code=$?
t="$dir/transcript.txt"
[ "$code" -eq 0 ] || fail "exit code $code"
grep -q '^error' "$t" && fail "the script reported errors: $(grep '^error' "$t")"

# expect N LINE...: each line appears in the N-th dump (a line may be a prefix ending in "*").
expect() {
  local n=$1 line d
  shift
  d=$(vl_dump "$n")
  for line in "$@"; do
    if [[ "$line" == *'*' ]]; then
      grep -qF -- "${line%\*}" <<<"$d" || fail "dump $n lacks a line starting \"${line%\*}\""
    else
      grep -qxF -- "$line" <<<"$d" || fail "dump $n lacks \"$line\""
    fi
  done
}
expect 1 "page 0" \
  'control optmain class=Option enabled=1 visible=1 selected=1 text="一键重装"' \
  'control btninstall class=Button enabled=0 visible=1 selected=- text="一键重装系统"' \
  'control labsysver class=Label enabled=1 visible=1 selected=- text="Windows*' \
  'control labinstpan class=Label enabled=1 visible=1 selected=- text="C:"' \
  'control labdownsave class=Label enabled=1 visible=1 selected=- text="C:\VRLN\Download"' \
  'control labconnect class=Label enabled=1 visible=1 selected=- text="正在连接云引擎..."'
# (grep reads a saved copy: "grep -q" ending a pipe early would make the writer fail under pipefail)
first=$(vl_dump 1)
grep -qE 'control labmemory .* text="[0-9]+\.[0-9]{2} GB"' <<<"$first" || fail "dump 1: memory text"
grep -qE 'control labfreespace .* text="[0-9]+\.[0-9]{2}GB"' <<<"$first" || fail "dump 1: free space text"
expect 2 "page 1" \
  'control optbacksystem class=Option enabled=1 visible=1 selected=1 text="系统备份"' \
  'control optmain class=Option enabled=1 visible=1 selected=0 text="一键重装"' \
  'control labbackpart class=Label enabled=1 visible=1 selected=- text="备份分区：       C："' \
  'control editbacksys class=Edit enabled=1 visible=1 selected=- text="C:\VRLN\BackSystem\BAKSYS.GHO"' \
  'control labbacksyspartformat class=Label enabled=1 visible=1 selected=- text="分区格式：*' \
  'control labbacksyspartsize class=Label enabled=1 visible=1 selected=- text="分区大小：*'
expect 3 "page 2" \
  'control optrecosystem class=Option enabled=1 visible=1 selected=1 text="系统还原"' \
  'control labrecopart class=Label enabled=1 visible=1 selected=- text="还原分区：       C："' \
  'control editrecosys class=Edit enabled=1 visible=1 selected=- text="C:\VRLN\BackSystem\BAKSYS.GHO"'
expect 4 "page 3" \
  'control optbackupdocument class=Option enabled=1 visible=1 selected=1 text="我的文档"' \
  'control btnbackupdata class=Button enabled=1 visible=1 selected=- text="开始备份"' \
  'control editbackdata class=Edit enabled=1 visible=1 selected=- text="C:\VRLN"'
expect 5 "page 4" \
  'control optrecodata class=Option enabled=1 visible=1 selected=1 text="资料还原"' \
  'control btnrecoverydata class=Button enabled=0 visible=1 selected=- text="开始还原"' \
  'control editrecodata class=Edit enabled=1 visible=1 selected=- text="C:\VRLN"'
expect 6 "page 4" \
  'control optcontact class=Option enabled=1 visible=1 selected=1 text="联系我们"' \
  'control optrecodata class=Option enabled=1 visible=1 selected=0 text="资料还原"'
grep -qE '^shell verb="OPEN" file="[^"]+" parameters="" show=5$' "$t" || fail "the contact option opened nothing"
grep -qxF 'choose-folder title="请选择路径" answer="C:\VRLN\Chosen"' "$t" || fail "folder choice"
grep -qxF 'choose-file title="选择文件" answer=cancel' "$t" || fail "cancelled file choice"
grep -qxF 'msgbox caption="提示" flags=0x00000001 text="是否退出Vorlane？" answer=IDCANCEL' "$t" || fail "close question"
grep -qx 'exit 0' "$t" || fail "the window did not close normally"
grep -q '^first-paint ' "$t" || fail "no first paint reported"

# Screenshots: the whole window, drawn (many colours, not one flat fill).
mkdir -p "$build/screenshots"
[ "${VORLANE_REFRESH_SCREENSHOTS:-0}" = 1 ] && mkdir -p "$root/docs/screenshots"
for shot in main backup-system restore-system backup-data restore-data contact; do
  f="$dir/$shot.png"
  if [ ! -s "$f" ]; then fail "no screenshot $shot"; continue; fi
  read -r w h colours < <(identify -format '%w %h %k\n' "$f")
  [ "$w" = 800 ] && [ "$h" = 580 ] || fail "$shot is ${w}x$h, not 800x580"
  [ "$colours" -gt 200 ] || fail "$shot looks blank ($colours colours)"
  cp "$f" "$build/screenshots/$shot.png"
  [ "${VORLANE_REFRESH_SCREENSHOTS:-0}" = 1 ] && cp "$f" "$root/docs/screenshots/$shot.png"
done
# The committed screenshots are there and drawn too.
for shot in main backup-system restore-system backup-data restore-data contact; do
  f="$root/docs/screenshots/$shot.png"
  [ -s "$f" ] || { fail "docs/screenshots/$shot.png is missing"; continue; }
  [ "$(identify -format '%k' "$f")" -gt 200 ] || fail "docs/screenshots/$shot.png looks blank"
done
[ "$status" -eq 0 ] && echo "ok: six pages checked, screenshots in $build/screenshots" || cat "$t"
exit $status
