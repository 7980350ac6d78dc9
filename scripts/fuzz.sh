#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (AddressSanitizer + UndefinedBehaviorSanitizer) in
# build-fuzz and runs each for the given number of seconds (default 30), starting from the seed
# corpora in fuzz/corpus/<target>. New inputs go to build-fuzz/corpus/<target>, findings to
# build-fuzz/findings/. The target `host` feeds what an authorised client may send to the host's
# connection (built with the remote layer). Usage: scripts/fuzz.sh [seconds] [target...]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-30}"
shift || true
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(variant timetext format classstore itemsfile reltime browse host)

bash scripts/install-deps.sh
missing=()
for p in clang libclang-rt-14-dev; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  SUDO=""
  [ "$(id -u)" -eq 0 ] || SUDO="sudo"
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

launcher=()
if command -v ccache >/dev/null; then
  launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi
cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_C_COMPILER=clang \
  -DCMAKE_CXX_COMPILER=clang++ -DVISTREL_FUZZ=ON -DVISTREL_BUILD_GUI=OFF -DVISTREL_BUILD_BENCH=OFF \
  "${launcher[@]}"
cmake --build build-fuzz --target vistrel_fuzz
have_host=0
# The list is read whole before it is searched: with pipefail, `grep -q` stopping at the first match
# would fail the pipeline whenever ninja was still writing.
build_targets="$(cmake --build build-fuzz --target help)"
if [[ " ${targets[*]} " == *" host "* ]] && grep -q '^fuzz_host_messages:' <<<"$build_targets"; then
  cmake --build build-fuzz --target fuzz_host_messages
  have_host=1
fi

mkdir -p build-fuzz/findings
status=0
for t in "${targets[@]}"; do
  binary=build-fuzz/bin/vistrel_fuzz
  if [ "$t" = host ]; then
    [ $have_host -eq 1 ] || { echo "== host: skipped (no remote layer in this build)"; continue; }
    binary=build-fuzz/bin/fuzz_host_messages
  fi
  mkdir -p "build-fuzz/corpus/$t"
  echo "== $t: ${seconds} s"
  if ! VISTREL_FUZZ_TARGET="$t" ASAN_OPTIONS="${ASAN_OPTIONS:-detect_odr_violation=0}" \
    "$binary" -max_total_time="$seconds" -max_len=4096 -timeout=10 -rss_limit_mb=2048 \
      -print_final_stats=1 -artifact_prefix="build-fuzz/findings/$t-" \
      "build-fuzz/corpus/$t" "fuzz/corpus/$t" 2>"build-fuzz/$t.log"; then
    echo "!! $t found a fault: see build-fuzz/$t.log and build-fuzz/findings/"
    tail -n 40 "build-fuzz/$t.log"
    status=1
  fi
  grep -E '^stat::number_of_executed_units|^Done' "build-fuzz/$t.log" || true
done
exit $status
