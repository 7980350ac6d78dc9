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

passed=0
failed=0
check() { # check <name> <command...>: passes when the command succeeds
  local name="$1"
  shift
  if "$@" >"$work/out" 2>&1; then
    passed=$((passed + 1))
    echo "ok   $name"
  else
    failed=$((failed + 1))
    echo "FAIL $name"
    sed 's/^/     /' "$work/out"
  fi
}

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
for _ in $(seq 1 300); do
  grep -q "listening on" "$work/host.log" 2>/dev/null && break
  sleep 0.1
done
check "the Windows host listens on loopback" grep -q "listening on 127.0.0.1 port $port" "$work/host.log"

computer="127.0.0.1:$port"
check "the host's server list has the simulation historian" \
  grep -q "Brindlex.OPC.Simulation" <("$linux/bin/vistrel" servers --computer "$computer" --format csv)

# The same operations in-process on Linux (the Linux build of the historian, a history of its own)
# and through the Windows host: the same answers, value for value.
export VISTREL_CLASS_STORE="$work/store"
mkdir -p "$VISTREL_CLASS_STORE"
VISTREL_SIM_DB="$work/linux.db" "$linux/bin/vistrel-regsvr" "$linux/lib/libbrindlex_simulation.so" >/dev/null
# Equal line for line and field for field, except that reals may differ in their last bits: the
# generated signals come from the C library's sin() and exp(), and MinGW's differ from glibc's by
# a few units in the last place (sin(pi) is 1.2246467991473532e-16 on one, 1.22460635382238e-16 on
# the other). Everything else, text, times, qualities, codes and integers, must be identical, but for
# the fields named in SKIP_FIELDS: the times at which each side answered.
close_enough() {
  if diff -q "$1" "$2" >/dev/null; then return 0; fi
  paste -d '\n' "$1" "$2" | awk -F, -v skip=",${SKIP_FIELDS:-}," '
    function num(x) { return x ~ /^-?[0-9]+(\.[0-9]+)?(E[-+][0-9]+)?$/ && x ~ /[.E]/ }
    function abs(x) { return x < 0 ? -x : x }
    NR % 2 == 1 { a = $0; na = split($0, fa, ","); next }
    {
      nb = split($0, fb, ",")
      if (na != nb) { print "differs: " a " | " $0; bad = 1; next }
      for (i = 1; i <= na; i++) {
        if (fa[i] == fb[i] || index(skip, "," i ",")) continue
        m = abs(fa[i]) > abs(fb[i]) ? abs(fa[i]) : abs(fb[i])
        if (num(fa[i]) && num(fb[i]) && abs(fa[i] - fb[i]) <= 1e-12 * (m > 1 ? m : 1)) continue
        print "differs: " a " | " $0; bad = 1; break
      }
    }
    END { exit bad }' && [ "$(wc -l <"$1")" -eq "$(wc -l <"$2")" ]
}
same() { # same <name> <vistrel arguments...>: the CSV of both runs is equal and not empty
  local name="$1"
  shift
  VISTREL_SIM_DB="$work/linux.db" "$linux/bin/vistrel" "$@" --server Brindlex.OPC.Simulation --utc \
    --format csv >"$work/linux.csv" 2>&1
  local lrc=$?
  "$linux/bin/vistrel" "$@" --server Brindlex.OPC.Simulation --computer "$computer" --utc --format csv \
    >"$work/wine.csv" 2>&1
  local wrc=$?
  compare() {
    if [ "$lrc" -ne 0 ] || [ "$wrc" -ne 0 ] || [ ! -s "$work/linux.csv" ]; then
      echo "in-process (exit $lrc):"
      head -5 "$work/linux.csv"
      echo "through the Windows host (exit $wrc):"
      head -5 "$work/wine.csv"
      return 1
    fi
    close_enough "$work/linux.csv" "$work/wine.csv"
  }
  check "$name: the same as in-process" compare
}
t0=2024-01-01T00:00:00Z
t1=2024-01-01T01:00:00Z
generated=(Generated.Waves.Sine Generated.Waves.Sawtooth Generated.Plant.Boiler.Temperature Generated.Quality.Flaky)
same "browse" browse --mode tree
same "browse flat" browse --mode flat
same "attributes" attributes
same "aggregates" aggregates
same "read-raw" read-raw --start "$t0" --end "$t1" --bounds "${generated[@]}"
same "read-raw paged" read-raw --start "$t0" --end "$t1" --max 100 --all "${generated[@]}"
same "read-processed" read-processed --start "$t0" --end "$t1" --interval 10m --aggregate AVERAGE "${generated[@]}"
same "read-at-time" read-at-time --at "$t0" --at 2024-01-01T00:30:00.500Z "${generated[@]}"
# The attributes' timestamps are each server's "now" (field 4; 7 of read-modified, whose quality text
# holds a comma); the node name is each computer's own, so it is not asked for.
SKIP_FIELDS=4 same "read-attribute" read-attribute --attribute 1 --attribute 2 --attribute 6 --attribute 11 \
  --attribute 13 --attribute 14 Generated.Waves.Sine
rows="Writable.Real8,2024-01-01T05:00:00Z,1.5,Good
Writable.Real8,2024-01-01T05:00:01Z,2.5,Good
Writable.Int4,2024-01-01T05:00:00Z,7,Good
Writable.Text,2024-01-01T05:00:00Z,héllo,Good"
printf '%s\n' "$rows" >"$work/insert.csv"
printf 'Writable.Real8,2024-01-01T05:00:00Z,9.25,Good\n' >"$work/replace.csv"
printf 'Writable.Real8,2024-01-01T05:00:02Z,3.5,Good\n' >"$work/insert-replace.csv"
same "insert" insert --input "$work/insert.csv"
same "read-raw after insert" read-raw --start 2024-01-01T04:00:00Z --end 2024-01-01T06:00:00Z \
  Writable.Real8 Writable.Int4 Writable.Text
same "replace" replace --input "$work/replace.csv"
same "insert-replace" insert-replace --input "$work/insert-replace.csv"
SKIP_FIELDS=7 same "read-modified" read-modified --start 2024-01-01T04:00:00Z --end 2024-01-01T06:00:00Z Writable.Real8
same "delete-at-time" delete-at-time --at 2024-01-01T05:00:01Z Writable.Real8
same "delete-raw" delete-raw --start 2024-01-01T04:00:00Z --end 2024-01-01T05:00:00.500Z Writable.Int4
same "read-raw after the deletes" read-raw --start 2024-01-01T04:00:00Z --end 2024-01-01T06:00:00Z \
  Writable.Real8 Writable.Int4 Writable.Text
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
