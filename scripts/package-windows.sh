#!/usr/bin/env bash
# Packs the Windows host: vistrel-host.exe, the simulation historian's DLL and the Windows README in
# <build-dir>/vistrel-host-windows.zip. Usage: scripts/package-windows.sh [build-dir] (default build-win;
# scripts/build-windows.sh builds it first).
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
dir="$(cd "${1:-$root/build-win}" && pwd)"
bin="$dir/host/bin"
for f in "$bin/vistrel-host.exe" "$bin/brindlex_simulation.dll"; do
  [ -f "$f" ] || { echo "error: $f is missing (run scripts/build-windows.sh)" >&2; exit 1; }
done
stage="$(mktemp -d)"
trap 'rm -rf "$stage"' EXIT
mkdir "$stage/vistrel-host"
x86_64-w64-mingw32-strip -o "$stage/vistrel-host/vistrel-host.exe" "$bin/vistrel-host.exe"
x86_64-w64-mingw32-strip -o "$stage/vistrel-host/brindlex_simulation.dll" "$bin/brindlex_simulation.dll"
sed 's/$/\r/' "$root/win/README-Windows.txt" >"$stage/vistrel-host/README.txt"
rm -f "$dir/vistrel-host-windows.zip"
(cd "$stage" && zip -q -r -X "$dir/vistrel-host-windows.zip" vistrel-host)
echo "packed $dir/vistrel-host-windows.zip"
