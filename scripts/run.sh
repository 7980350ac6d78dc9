#!/usr/bin/env bash
# Installs what is missing, builds the client, registers the simulation historian in the development
# class store build/classes, and starts the client on that store. Works under `xvfb-run -a` too.
# Arguments are passed on to the client.
set -euo pipefail
cd "$(dirname "$0")/.."
root="$(pwd)"
bash scripts/install-deps.sh

cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
targets=(hda-vistrel)
# The registration tool and the historian are built when their sources are in the tree.
# The list is read whole before it is searched: with pipefail, `grep -q` stopping at the first match
# would fail the pipeline whenever ninja was still writing.
build_targets="$(cmake --build build --target help)"
for t in vistrel-regsvr brindlex_simulation; do
  if grep -q "^${t}:" <<<"$build_targets"; then targets+=("$t"); fi
done
cmake --build build -j2 --target "${targets[@]}"

store="$root/build/classes"
mkdir -p "$store"
regsvr="$root/build/bin/vistrel-regsvr"
historian="$root/build/lib/libbrindlex_simulation.so"
if [ -x "$regsvr" ] && [ -f "$historian" ]; then
  "$regsvr" --store "$store" "$historian"
else
  echo "run.sh: the simulation historian or the registration tool is not built; the server box lists what $store holds" >&2
fi

export VISTREL_CLASS_STORE="$store"
exec "$root/build/bin/hda-vistrel" "$@"
