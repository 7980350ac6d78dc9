#!/usr/bin/env bash
# Installs the Debian 12 packages the build, the tests and the client need (only those missing).
set -euo pipefail
packages=(
  build-essential cmake ninja-build pkg-config locales clang-format
  qt6-base-dev qt6-base-dev-tools libgl-dev libx11-dev
  qt6-charts-dev libqt6opengl6-dev
  libsqlite3-dev sqlite3
  libcapnp-dev capnproto libssl-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  xvfb xauth x11-utils imagemagick fonts-liberation
  iproute2
)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  SUDO=""
  [ "$(id -u)" -eq 0 ] || SUDO="sudo"
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
