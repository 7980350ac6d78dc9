#!/usr/bin/env bash
# Cross-builds the Windows host (vistrel-host.exe) with MinGW-w64 into <build-dir> (default build-win),
# after the libraries it needs (scripts/build-mingw-deps.sh, reused when present).
# Usage: scripts/build-windows.sh [build-dir] [extra cmake args...]
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
dir="$(mkdir -p "${1:-$root/build-win}" && cd "${1:-$root/build-win}" && pwd)"
shift || true
bash "$root/scripts/build-mingw-deps.sh" "$dir"
launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
cmake -S "$root/win" -B "$dir/host" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" \
  -DCMAKE_BUILD_TYPE=Release -DVISTREL_MINGW_DEPS="$dir/deps" -DVISTREL_WERROR=ON "${launcher[@]}" "$@"
cmake --build "$dir/host" -j"${JOBS:-2}"
echo "built $dir/host/bin/vistrel-host.exe"
