# Shared pieces of the shell tests that drive the sandbox; source it after setting build (the test tree):
#   . "$root/tests/support/sandbox.sh"
# Gives root, a fresh run folder in $dir (removed at exit unless the test installs its own trap), and:
#   vl_wine ARGS...                    a Windows program in the test tree's Wine prefix, no input
#   vl_sandbox [VARIANT]               one run of vorlane-sandbox[-VARIANT].exe on $dir (VORLANE_SANDBOX_DIR);
#                                      VORLANE_SANDBOX_SERVER passes through; answers its exit code
#   vl_one_disk_machine                machine.ini with one disk holding C:, into $dir
#   vl_dump N                          the lines of the N-th dump of $dir/transcript.txt
#   fail TEXT                          reports a failure and sets status to 1
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
status=0

vl_wine() { "$root/scripts/wine-run" --prefix "$build/wineprefix" "$@" </dev/null; }

vl_sandbox() {
  local exe="$build/bin/vorlane-sandbox${1:+-$1}.exe"
  VORLANE_SANDBOX_DIR="$dir" "$root/scripts/wine-run" --prefix "$build/wineprefix" "$exe" </dev/null >/dev/null 2>&1
}

vl_one_disk_machine() {
  cat > "$dir/machine.ini" <<'INI'
; one disk with the system partition
[disk0]
entry = 1M, 60G, 1, 07, active
[volume C]
disk = 0
offset = 1M
device = \Device\HarddiskVolume1
INI
}

vl_dump() { awk -v n="$1" '/^dump begin/{k++} k==n{print} /^dump end/ && k==n{exit}' "$dir/transcript.txt"; }

fail() { echo "FAIL: $*"; status=1; }
