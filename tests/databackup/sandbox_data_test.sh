#!/usr/bin/env bash
# The data pages end to end in the sandbox. The user's Documents, Favorites and Desktop of the test prefix
# point at folders of this test (given back afterwards). First run: page 3, tick the three folders, pick a
# backup folder with "浏览", start; the status label names each folder in turn and ends with "备份资料完成",
# the button is disabled meanwhile and enabled after; the copies and backups.ini are on disk. Then the user
# folders are changed, and a second run restores them from page 4 (the folder picked there is shown on
# page 3 too). Screenshots of both pages after their run go to BUILD_DIR/screenshots, and with
# VORLANE_REFRESH_SCREENSHOTS=1 to docs/screenshots. Needs a display. Usage: sandbox_data_test.sh BUILD_DIR
set -uo pipefail
build=$1
. "$(dirname "${BASH_SOURCE[0]}")/../support/sandbox.sh"
key='HKCU\Software\Microsoft\Windows\CurrentVersion\Explorer\User Shell Folders'
winpath() { printf 'Z:%s' "$1" | tr / '\\'; }

# The prefix's own values, put back at the end.
declare -A saved
for v in Personal Favorites Desktop; do
  saved[$v]=$(vl_wine reg query "$key" /v "$v" 2>/dev/null | tr -d '\r' | awk -v v="$v" '$1 == v { $1 = ""; $2 = ""; sub(/^ +/, ""); print }')
done
restore() {
  for v in Personal Favorites Desktop; do
    if [ -n "${saved[$v]}" ]; then
      vl_wine reg add "$key" /v "$v" /t REG_EXPAND_SZ /d "${saved[$v]}" /f >/dev/null 2>&1
    else
      vl_wine reg delete "$key" /v "$v" /f >/dev/null 2>&1
    fi
  done
  rm -rf "$dir"
}
trap restore EXIT

docs="$dir/user/Docs" favs="$dir/user/Favs" desk="$dir/user/Desk" picked="$dir/备份 目标"
mkdir -p "$docs" "$favs" "$desk" "$picked"
vl_wine reg add "$key" /v Personal /t REG_EXPAND_SZ /d "$(winpath "$docs")" /f >/dev/null 2>&1
vl_wine reg add "$key" /v Favorites /t REG_EXPAND_SZ /d "$(winpath "$favs")" /f >/dev/null 2>&1
vl_wine reg add "$key" /v Desktop /t REG_EXPAND_SZ /d "$(winpath "$desk")" /f >/dev/null 2>&1

# Enough small files in each folder that every step lasts long enough to be seen.
python3 - "$docs" "$favs" "$desk" <<'PY'
import os, sys
for n, folder in enumerate(sys.argv[1:]):
    for i in range(1500):
        sub = os.path.join(folder, "子目录%d" % (i % 15))
        os.makedirs(sub, exist_ok=True)
        with open(os.path.join(sub, "文件%04d.txt" % i), "w") as f:
            f.write("folder %d file %d\n" % (n, i) * 20)
PY
echo "报告" > "$docs/年度总结.txt"
echo "[InternetShortcut]" > "$favs/站点.url"
echo "shortcut" > "$desk/快捷方式.lnk"
echo "top-level dot" > "$docs/.hidden-top"

vl_one_disk_machine
t="$dir/transcript.txt"
dump() { awk -v n="$1" '/^dump begin/{k++} k==n{print} /^dump end/ && k==n{exit}' "$t"; }
expect() {
  local n=$1 line d
  shift
  d=$(dump "$n")
  for line in "$@"; do grep -qxF -- "$line" <<<"$d" || fail "run $run, dump $n lacks \"$line\""; done
}
check_run() {
  [ "$1" -eq 0 ] || fail "run $run: exit code $1"
  grep '^error' "$t" && fail "run $run: the script reported errors"
  grep -qx 'exit 0' "$t" || fail "run $run: the window did not close normally"
}

# Run 1: the backup from page 3.
run=1
cat > "$dir/script.txt" <<SCRIPT
wait-page 0 60
click optbackdata
wait-page 3 10
click optbackupdocument
click optbackupfavorite
click optbackupdesktop
choose-folder $(winpath "$picked")
click btnlookbackdata
click btnbackupdata
wait-text labbackdatamsg 正在备份“我的文档” 30
dump
wait-text labbackdatamsg 正在备份“收藏夹” 60
wait-disabled btnbackupdata 1
wait-text labbackdatamsg 正在备份“桌面” 60
wait-disabled btnbackupdata 1
wait-text labbackdatamsg 备份资料完成 60
wait-enabled btnbackupdata 10
dump
screenshot backup-data-done.png
close
SCRIPT
vl_sandbox
check_run $?
expect 1 "page 3" \
  'control btnbackupdata class=Button enabled=0 visible=1 selected=- text="开始备份"' \
  "control editbackdata class=Edit enabled=1 visible=1 selected=- text=\"$(winpath "$picked")\""
expect 2 "page 3" \
  'control labbackdatamsg class=Label enabled=1 visible=1 selected=- text="备份资料完成"' \
  'control btnbackupdata class=Button enabled=1 visible=1 selected=- text="开始备份"'
cp "$t" "$dir/transcript-backup.txt"

bak="$picked/VorlaneBak"
diff -r --exclude=.hidden-top "$docs" "$bak/我的文档" >/dev/null || fail "the copy of Documents differs"
[ -e "$bak/我的文档/.hidden-top" ] && fail "a top-level dot name was backed up"
diff -r "$favs" "$bak/收藏夹" >/dev/null || fail "the copy of Favorites differs"
diff -r "$desk" "$bak/桌面" >/dev/null || fail "the copy of Desktop differs"
# The platform writes a new INI file in the ANSI code page, an existing UTF-16 one (byte-order mark) as such.
if [ "$(head -c 2 "$bak/backups.ini" | od -An -tx1 | tr -d ' ')" = fffe ]; then
  ini=$(iconv -f UTF-16 -t UTF-8 "$bak/backups.ini")
else
  ini=$(cat "$bak/backups.ini")
fi
for section in Documents Favorite Desktop; do
  grep -A1 -xF "[$section]" <<<"$(tr -d '\r' <<<"$ini")" | grep -qE '^LastBack=[0-9]{4}/[0-9]{2}/[0-9]{2} [0-9]{2}:[0-9]{2}:[0-9]{2}$' \
    || fail "backups.ini has no timestamp for [$section]"
done
ls "$bak" | grep -qvE '^(我的文档|收藏夹|桌面|backups.ini)$' && fail "leftovers in the backup folder: $(ls "$bak")"

# The user changes and loses files; run 2 restores them from page 4.
echo "changed" > "$docs/年度总结.txt"
rm -rf "$docs/子目录3" "$desk/快捷方式.lnk"
echo "mine" > "$favs/新的.url"
run=2
cat > "$dir/script.txt" <<SCRIPT
wait-page 0 60
click optrecodata
wait-page 4 10
choose-folder $(winpath "$picked")
click btnlookrecodata
click optrecoverydocument
click optrecoveryfavorite
click optrecoverydesktop
click btnrecoverydata
wait-text labrecodatamsg 还原资料完成 120
wait-enabled btnrecoverydata 10
dump
screenshot restore-data-done.png
click optbackdata
wait-page 3 10
dump
close
SCRIPT
vl_sandbox
check_run $?
# The changed file was kept in the restore's dated folder before being replaced, and the label says where.
kept=$(ls -d "$bak/还原前/"*/ 2>/dev/null | head -1)
[ -n "$kept" ] && [ "$(cat "$kept/我的文档/年度总结.txt")" = "changed" ] || fail "the replaced file was not kept"
stamp=$(basename "$kept")
expect 1 "page 4" \
  "control labrecodatamsg class=Label enabled=1 visible=1 selected=- text=\"还原资料完成（1个被替换的文件已保存到“$(winpath "$bak")\\还原前\\$stamp”）\"" \
  'control btnrecoverydata class=Button enabled=1 visible=1 selected=- text="开始还原"' \
  "control editrecodata class=Edit enabled=1 visible=1 selected=- text=\"$(winpath "$picked")\""
expect 2 "page 3" "control editbackdata class=Edit enabled=1 visible=1 selected=- text=\"$(winpath "$picked")\""
[ "$(cat "$docs/年度总结.txt")" = "报告" ] || fail "a same-named file was not overwritten"
[ -f "$docs/子目录3/文件0003.txt" ] || fail "a lost folder was not restored"
[ -f "$desk/快捷方式.lnk" ] || fail "a lost desktop file was not restored"
[ "$(cat "$favs/新的.url")" = "mine" ] || fail "a file not in the backup was touched"

# Run 3: a second backup replaces the first: a file deleted since is gone from the copy and no partial or
# old copy is left beside it.
run=3
rm -f "$docs/年度总结.txt"
cat > "$dir/script.txt" <<SCRIPT
wait-page 0 60
click optbackdata
wait-page 3 10
click optbackupdocument
choose-folder $(winpath "$picked")
click btnlookbackdata
click btnbackupdata
wait-text labbackdatamsg 备份资料完成 60
wait-enabled btnbackupdata 10
close
SCRIPT
vl_sandbox
check_run $?
[ -e "$bak/我的文档/年度总结.txt" ] && fail "a file deleted since the first backup is still in the copy"
[ -f "$bak/我的文档/子目录3/文件0003.txt" ] || fail "the second copy of Documents is incomplete"
ls "$bak" | grep -qvE '^(我的文档|收藏夹|桌面|backups.ini|还原前)$' && fail "leftovers after a second backup: $(ls "$bak")"

mkdir -p "$build/screenshots"
[ "${VORLANE_REFRESH_SCREENSHOTS:-0}" = 1 ] && mkdir -p "$root/docs/screenshots"
for shot in backup-data-done restore-data-done; do
  f="$dir/$shot.png"
  if [ ! -s "$f" ]; then fail "no screenshot $shot"; continue; fi
  [ "$(identify -format '%k' "$f")" -gt 200 ] || fail "$shot looks blank"
  cp "$f" "$build/screenshots/$shot.png"
  [ "${VORLANE_REFRESH_SCREENSHOTS:-0}" = 1 ] && cp "$f" "$root/docs/screenshots/$shot.png"
done
if [ "$status" -eq 0 ]; then
  echo "ok: data backup and restore through pages 3 and 4"
else
  cat "$dir/transcript-backup.txt" "$t"
fi
exit $status
