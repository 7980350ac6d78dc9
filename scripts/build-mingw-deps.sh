#!/usr/bin/env bash
# Cross-builds the libraries the Windows host needs (OpenSSL, Cap'n Proto's kj, kj-async, kj-tls,
# capnp, capnp-rpc, and SQLite) from Debian 12's own source packages, with MinGW-w64, into
# <build-dir>/deps. A prefix already there is reused. Usage: scripts/build-mingw-deps.sh [build-dir]
# The source versions are those of the installed Linux packages (libssl-dev, libcapnp-dev,
# libsqlite3-dev), so the Windows host speaks exactly what the Linux side speaks.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="$(mkdir -p "${1:-$root/build-win}" && cd "${1:-$root/build-win}" && pwd)"
prefix="$build/deps"
src="$build/deps-src"
jobs="${JOBS:-2}"
host=x86_64-w64-mingw32
toolchain="$root/cmake/mingw-w64-x86_64.cmake"

if [ -f "$prefix/.complete" ]; then
  echo "MinGW dependencies present in $prefix"
  exit 0
fi

SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO="sudo"
packages=(mingw-w64 g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix cmake ninja-build make perl
  dpkg-dev tcl zip wine wine64 libssl-dev libcapnp-dev capnproto libsqlite3-dev)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

# Source packages: a deb-src list of Debian 12's main suite used for these calls only (apt reads it
# through its options; nothing under /etc/apt changes), removed afterwards.
mkdir -p "$src"
srclist="$(mktemp /tmp/vistrel-deb-src.XXXXXX)"
aptstate="$(mktemp -d /tmp/vistrel-apt-state.XXXXXX)"
trap 'rm -rf "$srclist" "$aptstate"' EXIT
echo "deb-src [signed-by=/usr/share/keyrings/debian-archive-keyring.gpg] http://deb.debian.org/debian bookworm main" >"$srclist"
mkdir -p "$aptstate/lists/partial" "$aptstate/cache/archives/partial"
aptopts=(-o "Dir::Etc::sourcelist=$srclist" -o "Dir::Etc::sourceparts=-" -o "Dir::State::Lists=$aptstate/lists"
  -o "Dir::Cache=$aptstate/cache"
  -o "APT::Sandbox::User=root")
fetch() { # fetch <source package> <binary package whose version to pin>
  local pkg="$1" ver dir
  ver="$(dpkg-query -W -f='${Version}' "$2")"
  dir="$(ls -d "$src/$pkg"-*/ 2>/dev/null | head -1 || true)"
  if [ -n "$dir" ]; then
    echo "${dir%/}"
    return
  fi
  (cd "$src" && { apt-get "${aptopts[@]}" source -qq "$pkg=$ver" >&2 ||
    { echo "warning: $pkg $ver has no source in the main suite; taking the suite's own version" >&2
      apt-get "${aptopts[@]}" source -qq "$pkg" >&2; }; }) ||
    { echo "error: cannot fetch the source package $pkg" >&2; exit 1; }
  dir="$(ls -d "$src/$pkg"-*/ | head -1)"
  echo "${dir%/}"
}
apt-get "${aptopts[@]}" update -qq || { echo "error: cannot read Debian 12's source list" >&2; exit 1; }
openssl_dir="$(fetch openssl libssl-dev)"
capnp_dir="$(fetch capnproto libcapnp-dev)"
sqlite_dir="$(fetch sqlite3 libsqlite3-dev)"
rm -rf "$srclist" "$aptstate"

mkdir -p "$prefix/include" "$prefix/lib"

echo "== OpenSSL ($openssl_dir)"
[ -f "$prefix/lib/libssl.a" ] || (cd "$openssl_dir" &&
  CC=gcc-posix CXX=g++-posix ./Configure mingw64 no-shared no-tests \
    --cross-compile-prefix=$host- --prefix="$prefix" --libdir=lib >/dev/null &&
  make -s -j"$jobs" build_libs >/dev/null && make -s install_dev >/dev/null)

echo "== Cap'n Proto ($capnp_dir)"
if [ ! -f "$prefix/lib/libcapnp-rpc.a" ]; then
capnp_src="$capnp_dir"  # Debian's tarball is the c++ folder of the release
[ -f "$capnp_src/CMakeLists.txt" ] || capnp_src="$capnp_dir/c++"
# 0.9.2 includes a header that its tarball lacks; the Windows API level it would set is Windows 7+.
if [ ! -f "$capnp_src/src/kj/win32-api-version.h" ]; then
  cat >"$capnp_src/src/kj/win32-api-version.h" <<'EOF'
#pragma once
// Stand-in: the Windows API level Cap'n Proto needs (Windows 7 and later) without the rest of
// <windows.h>'s optional parts.
#ifndef _WIN32_WINNT
#define _WIN32_WINNT 0x0601
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
EOF
fi
# 0.9.2's kj/test-helpers.c++ (part of libkj) gives the Windows searcher a length where it takes an end.
sed -i 's/boyer_moore_horspool_searcher searcher{needle.begin(), needle.size()}/boyer_moore_horspool_searcher searcher{needle.begin(), needle.end()}/' \
  "$capnp_src/src/kj/test-helpers.c++"
cmake -S "$capnp_src" -B "$build/deps-capnp" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
  -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF -DWITH_OPENSSL=ON -DWITH_ZLIB=OFF \
  -DOPENSSL_INCLUDE_DIR="$prefix/include" -DOPENSSL_CRYPTO_LIBRARY="$prefix/lib/libcrypto.a" \
  -DOPENSSL_SSL_LIBRARY="$prefix/lib/libssl.a" -DLIB_EAY="$prefix/lib/libcrypto.a" -DSSL_EAY="$prefix/lib/libssl.a" -DCMAKE_INSTALL_PREFIX="$prefix" >/dev/null
cmake --build "$build/deps-capnp" -j"$jobs" --target kj kj-async kj-tls capnp capnp-rpc
for lib in kj kj-async kj-tls capnp capnp-rpc; do
  find "$build/deps-capnp" -name "lib$lib.a" -exec cp {} "$prefix/lib/" \;
done
(cd "$capnp_src/src" && find kj capnp -name '*.h' -not -path '*/compat/gtest.h' |
  while read -r h; do mkdir -p "$prefix/include/$(dirname "$h")" && cp "$h" "$prefix/include/$h"; done)
fi

echo "== SQLite ($sqlite_dir)"
# The amalgamation (one C file for every platform) is generated with the build computer's compiler and
# tclsh, then compiled for Windows.
rm -rf "$build/deps-sqlite"
mkdir -p "$build/deps-sqlite"
(cd "$build/deps-sqlite" &&
  "$sqlite_dir/configure" --disable-tcl >/dev/null &&
  make -s sqlite3.c sqlite3.h >/dev/null &&
  $host-gcc-posix -O2 -DSQLITE_THREADSAFE=1 -DSQLITE_OMIT_LOAD_EXTENSION -c sqlite3.c -o sqlite3.o &&
  $host-ar rcs "$prefix/lib/libsqlite3.a" sqlite3.o && cp sqlite3.h sqlite3ext.h "$prefix/include/")

touch "$prefix/.complete"
echo "MinGW dependencies built in $prefix"
