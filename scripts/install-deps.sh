#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the tools need, and only those
# that are missing, so that a machine that already has them needs no network.
set -euo pipefail

packages=(
  build-essential cmake pkg-config clang lld
  libgtest-dev libgmock-dev googletest libbenchmark-dev
  libraw1394-dev
  libmotif-dev libxt-dev libx11-dev xvfb x11-apps
)
[ "${1:-}" = "--with-tools" ] && packages+=(llvm)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO="sudo"
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
