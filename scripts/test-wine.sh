#!/usr/bin/env bash
# The Windows host under Wine, reached from the Linux client: a throw-away WINEPREFIX, the host
# serving on loopback, the Linux client trusted there, and the Linux vistrel talking to it.
# Usage: scripts/test-wine.sh [linux-build-dir] [windows-build-dir]   (defaults build, build-win)
# Prints "N passed, N failed"; exits non-zero when a check fails or Wine is missing.
set -uo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
linux="$(cd "${1:-$root/build}" && pwd)"
win="$(cd "${2:-$root/build-win}" && pwd)"
exe="$win/host/bin/vistrel-host.exe"
dll="$win/host/bin/brindlex_simulation.dll"
for f in "$exe" "$dll" "$linux/bin/vistrel" "$linux/bin/vistrel-host" "$linux/bin/vistrel-regsvr"; do
  [ -x "$f" ] || { echo "error: $f is missing (build it first)" >&2; exit 1; }
done
command -v wine >/dev/null || { echo "error: Wine is not installed (apt-get install wine wine64)" >&2; exit 1; }

work="$(mktemp -d /tmp/vistrel-wine.XXXXXX)"
export WINEPREFIX="$work/prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
hostpid=""
cleanup() {
  [ -n "$hostpid" ] && kill "$hostpid" 2>/dev/null
  wineserver -k 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

remote=()
through="through the Windows host"
# shellcheck source=remote-checks.sh
source "$root/scripts/remote-checks.sh"
start=$(date +%s.%N)
wineboot -i >/dev/null 2>&1 || { echo "error: wineboot failed" >&2; exit 1; }
echo "Wine prefix ready in $(awk -v a="$start" -v b="$(date +%s.%N)" 'BEGIN { printf "%.1f", b - a }') s"

winpath() { echo "Z:$1" | tr / '\\'; }
check "regsvr32 registers the Windows simulation historian" wine regsvr32 /s "$(winpath "$dll")"

# The Linux client's identity, trusted by the Windows host (Wine maps / to Z:).
export VISTREL_CONFIG_DIR="$work/client"
"$linux/bin/vistrel-host" client-identity >/dev/null
check "the Windows host trusts the Linux client's certificate" \
  wine "$exe" trust "$(winpath "$work/client/client.crt")"

port=$(shuf -i 40000-59999 -n 1)
WINEDEBUG=-all wine "$exe" serve --listen 127.0.0.1 --port "$port" >"$work/host.log" 2>&1 &
hostpid=$!
wait_listening
check "the Windows host listens on loopback" grep -q "listening on 127.0.0.1 port $port" "$work/host.log"

computer="127.0.0.1:$port"
check "the host's server list has the simulation historian" \
  grep -q "Brindlex.OPC.Simulation" <("$linux/bin/vistrel" servers --computer "$computer" --format csv)

# The same operations in-process on Linux (the Linux build of the historian, a history of its own)
# and through the Windows host: the same answers, value for value.
in_process_store
operations
status() {
  "$linux/bin/vistrel" status --server Brindlex.OPC.Simulation --computer "$computer" --format csv
}
check "status through the Windows host" status

# Killing the surrogate mid-read fails the client's call with RPC_E_DISCONNECTED; the host goes on.
surrogate_killed() {
  "$linux/bin/vistrel" read-raw --server Brindlex.OPC.Simulation --computer "$computer" --utc --format csv \
    --start 2000-01-01T00:00:00Z --end 2024-01-01T00:00:00Z --max 10000 --all Generated.Waves.Sine \
    >"$work/long.csv" 2>"$work/long.err" &
  local reader=$! pid=""
  for _ in $(seq 1 200); do
    pid=$(pgrep -f 'vistrel-host.exe surrogate' | head -1)
    [ -n "$pid" ] && [ -s "$work/long.csv" ] && break
    sleep 0.1
  done
  [ -n "$pid" ] || { echo "no surrogate seen"; kill "$reader"; return 1; }
  kill -9 "$pid"
  wait "$reader"
  local rc=$?
  cat "$work/long.err"
  [ "$rc" -ne 0 ] && grep -q "0x80010108" "$work/long.err" &&
    "$linux/bin/vistrel" browse --server Brindlex.OPC.Simulation --computer "$computer" --format csv >/dev/null
}
check "killing the surrogate mid-call gives 0x80010108 and the host goes on" surrogate_killed

# The Windows service (Wine's service manager; the foreground host keeps Wine's session alive).
service() {
  local port2=$((port + 1))
  wine "$exe" install-service --listen 127.0.0.1 --port "$port2" || return 1
  local ok=1
  for _ in $(seq 1 300); do
    if grep -q Brindlex.OPC.Simulation <<<"$("$linux/bin/vistrel" servers --computer "127.0.0.1:$port2" --format csv)"
    then
      ok=0
      break
    fi
    sleep 0.2
  done
  wine "$exe" uninstall-service || return 1
  ! wine sc query vistrel-host >/dev/null 2>&1 || { echo "the service is still there"; return 1; }
  return $ok
}
# Wine's service manager takes up to half a minute to start a service, and not always: opt-in.
if [ "${VISTREL_WINE_SERVICE:-0}" = 1 ]; then
  check "install-service serves through the Windows service; uninstall-service removes it" service
fi

# A client the host was not told to trust is refused.
refused() {
  VISTREL_CONFIG_DIR="$work/stranger" "$linux/bin/vistrel-host" client-identity >/dev/null &&
    ! VISTREL_CONFIG_DIR="$work/stranger" "$linux/bin/vistrel" servers --computer "$computer" --format csv
}
check "an untrusted client is refused" refused
check "the host logged the refusal" grep -q "is not trusted" "$work/host.log"

if [ "$failed" -gt 0 ]; then
  echo "host log:"
  sed 's/^/     /' "$work/host.log"
fi
echo "wine: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
