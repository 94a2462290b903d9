#!/usr/bin/env bash
# Runs the OsIndex probe in a prefix of its own set to each Windows version in turn (HKCU\Software\Wine,
# value Version): a 32-bit prefix answers 1, 5, 10 and 12 for winxp, win7, win81 and win10.
# Wine 8.0 reports the server product type under the name "win7" and the workstation one under
# "win2008r2"; the two 6.1 settings must therefore give Windows 7 (5) and Windows 2008 (4) between them.
# Usage: os_wine_matrix.sh WINE_RUN PREFIX PROBE_EXE
set -u
wine_run=$1 prefix=$2 probe=$3
fail=0
for pair in winxp:1 win81:10 win10:12; do
  version=${pair%%:*} expected=${pair##*:}
  "$wine_run" --prefix "$prefix" reg add 'HKCU\Software\Wine' /v Version /d "$version" /f >/dev/null 2>&1
  WINEPREFIX="$prefix" wineserver -w
  "$wine_run" --prefix "$prefix" "$probe"
  got=$?
  if [ "$got" -eq "$expected" ]; then
    echo "ok: prefix version $version gives OsIndex $got"
  else
    echo "FAIL: prefix version $version gives OsIndex $got, expected $expected"
    fail=1
  fi
done
declare -A seen=()
for version in win7 win2008r2; do
  "$wine_run" --prefix "$prefix" reg add 'HKCU\Software\Wine' /v Version /d "$version" /f >/dev/null 2>&1
  WINEPREFIX="$prefix" wineserver -w
  "$wine_run" --prefix "$prefix" "$probe"
  got=$?
  echo "prefix version $version gives OsIndex $got"
  seen[$got]=1
done
if [ -n "${seen[5]:-}" ] && [ -n "${seen[4]:-}" ]; then
  echo "ok: kernel 6.1 gives 5 for the workstation and 4 for the server product type"
else
  echo "FAIL: kernel 6.1 settings gave ${!seen[*]}, expected 5 and 4"
  fail=1
fi
exit $fail
