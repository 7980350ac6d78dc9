#!/usr/bin/env bash
# Two computers on this one: network namespaces joined by a virtual Ethernet link, vistrel-host
# serving on one and the Linux client on the other. It reaches what loopback cannot: a host at
# another computer's addresses (IPv4, the same with leading zeros, IPv6 in brackets, the UNC form),
# a client known to the host by its own address, a computer that does not answer, and a link that
# goes down while a call waits for its answer.
# Usage: scripts/test-netns.sh [build-dir]   (default build; needs root for ip netns)
# Prints "N passed, N failed"; exits non-zero when a check fails. Where network namespaces cannot be
# made (no root, no iproute2), says so and exits 0 without a check.
set -uo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
linux="$(cd "${1:-$root/build}" && pwd)"
for f in "$linux/bin/vistrel" "$linux/bin/vistrel-host" "$linux/bin/vistrel-regsvr" \
  "$linux/lib/libbrindlex_simulation.so"; do
  [ -e "$f" ] || { echo "error: $f is missing (build it first)" >&2; exit 1; }
done

hostns="vistrel-host-$$"
clientns="vistrel-client-$$"
if ! command -v ip >/dev/null || ! ip netns add "$hostns" 2>/dev/null; then
  echo "netns: skipped, network namespaces cannot be made here (they need root and iproute2)"
  exit 0
fi
work="$(mktemp -d /tmp/vistrel-netns.XXXXXX)"
hostpid=""
cleanup() {
  [ -n "$hostpid" ] && kill "$hostpid" 2>/dev/null && wait "$hostpid" 2>/dev/null
  ip netns del "$hostns" 2>/dev/null
  ip netns del "$clientns" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

# The link: 10.77.0.1 and fd77::1 on the host's side, 10.77.0.2 and fd77::2 on the client's.
hostif="vh$$"
clientif="vc$$"
ip netns add "$clientns" &&
  ip link add "$hostif" type veth peer name "$clientif" &&
  ip link set "$hostif" netns "$hostns" && ip link set "$clientif" netns "$clientns" &&
  ip -n "$hostns" addr add 10.77.0.1/24 dev "$hostif" &&
  ip -n "$hostns" -6 addr add fd77::1/64 dev "$hostif" nodad &&
  ip -n "$clientns" addr add 10.77.0.2/24 dev "$clientif" &&
  ip -n "$clientns" -6 addr add fd77::2/64 dev "$clientif" nodad &&
  for ns in "$hostns" "$clientns"; do ip -n "$ns" link set lo up || exit 1; done &&
  ip -n "$hostns" link set "$hostif" up && ip -n "$clientns" link set "$clientif" up ||
  { echo "error: the namespaces' link could not be set up" >&2; exit 1; }

remote=(ip netns exec "$clientns")
through="through the host on the other namespace"
# shellcheck source=remote-checks.sh
source "$root/scripts/remote-checks.sh"

# The client's identity, trusted by the host.
export VISTREL_CONFIG_DIR="$work/client"
"$linux/bin/vistrel-host" client-identity >/dev/null
check "the host trusts the client's certificate" \
  "$linux/bin/vistrel-host" trust --config "$work/host" "$work/client/client.crt"

# The host's class store has the simulation historian, with a history of its own.
mkdir -p "$work/host-store"
VISTREL_CLASS_STORE="$work/host-store" VISTREL_SIM_DB="$work/host.db" \
  "$linux/bin/vistrel-regsvr" "$linux/lib/libbrindlex_simulation.so" >/dev/null
port=4747
ip netns exec "$hostns" env VISTREL_SIM_DB="$work/host.db" "$linux/bin/vistrel-host" serve --listen "::" \
  --port "$port" --store "$work/host-store" --config "$work/host" --no-advertise >"$work/host.log" 2>&1 &
hostpid=$!
wait_listening
check "the host listens on every address of its computer" grep -q "listening on :: port $port" "$work/host.log"

# A call that never ends fails its check instead of holding the script up.
client() { timeout 120 "${remote[@]}" "$linux/bin/vistrel" "$@"; }
servers_on() { # servers_on <computer>: the host's server list has the simulation historian
  grep -q "Brindlex.OPC.Simulation" <(client servers --computer "$1" --format csv)
}
check "reached at its IPv4 address" servers_on 10.77.0.1
check "reached with leading zeros in the octets, read as decimal" servers_on 010.077.000.001
check "reached at its IPv6 address in brackets, with the port" servers_on "[fd77::1]:$port"
check "reached in the UNC form" servers_on '\\10.77.0.1'
check "the host logged the client's own addresses" \
  grep -q "connection from 10.77.0.2:.*connection from \[fd77::2\]:" <(tr '\n' ' ' <"$work/host.log")

computer=10.77.0.1
in_process_store
operations

# Refusals and computers that are not there: the codes DCOM callers know, and never a hang.
export VISTREL_REMOTE_TIMEOUT_MS=3000
fails_with() { # fails_with <code> <seconds at most> <vistrel arguments...>
  local code="$1" most="$2" start=$SECONDS
  shift 2
  client "$@" --format csv >"$work/fail.out" 2>"$work/fail.err"
  local rc=$?
  cat "$work/fail.err"
  [ "$rc" -eq 3 ] && grep -q "$code" "$work/fail.err" && [ $((SECONDS - start)) -le "$most" ]
}
stranger() { VISTREL_CONFIG_DIR="$work/stranger" fails_with 0x80070005 10 servers --computer "$computer"; }
check "a client the host was not told to trust is refused" stranger
check "the host logged the refusal with the stranger's address" grep -q "refused connection from 10.77.0.2" \
  "$work/host.log"
check "a port nobody listens on: 0x800706BA" fails_with 0x800706BA 10 servers --computer "$computer:$((port + 1))"
check "an address of the link nobody answers: 0x800706BA within the timeout" \
  fails_with 0x800706BA 10 servers --computer 10.77.0.9
check "a network without a route: 0x800706BA" fails_with 0x800706BA 10 servers --computer 10.99.0.1

# The link goes down after the client connected and before it calls: the call gets no answer and
# fails with 0x8001011F at the timeout. The item list comes through a pipe, read after connecting.
link_down_mid_call() {
  mkfifo "$work/items"
  local activations
  activations=$(grep -c "activation of" "$work/host.log")
  local start=$SECONDS
  client read-raw --server Brindlex.OPC.Simulation --computer "$computer" --format csv \
    --start 2024-01-01T00:00:00Z --end 2024-01-01T01:00:00Z --items "$work/items" \
    >"$work/cut.out" 2>"$work/cut.err" &
  local reader=$!
  for _ in $(seq 1 100); do
    [ "$(grep -c "activation of" "$work/host.log")" -gt "$activations" ] && break
    sleep 0.1
  done
  ip -n "$hostns" link set "$hostif" down
  echo Generated.Waves.Sine >"$work/items"
  wait "$reader"
  local rc=$?
  ip -n "$hostns" link set "$hostif" up
  cat "$work/cut.err"
  [ "$rc" -eq 3 ] && grep -q 0x8001011F "$work/cut.err" && [ $((SECONDS - start)) -le 15 ]
}
check "the link down while a call waits: 0x8001011F at the timeout" link_down_mid_call
back_again() {
  for _ in $(seq 1 50); do
    client status --server Brindlex.OPC.Simulation --computer "$computer" --format csv && return 0
    sleep 0.2
  done
  return 1
}
check "once the link is back, the client connects again" back_again

if [ "$failed" -gt 0 ]; then
  echo "host log:"
  sed 's/^/     /' "$work/host.log"
fi
echo "netns: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
