#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the tools need, and only those
# that are missing, so that a machine that already has them needs no network.
#   --library     only what building and installing the library and the demo needs
#                 (no test, benchmark, sanitizer or GUI tool chains): used by "make install"
#   --package     that, plus what CPack needs for the .deb: used by "make package"
#   --with-tools  everything, plus llvm and doxygen (for "make docs")
set -euo pipefail

library=(build-essential cmake pkg-config libraw1394-dev)
case "${1:-}" in
  --library)
    packages=("${library[@]}")
    ;;
  --package)
    packages=("${library[@]}" dpkg-dev file)
    ;;
  ""|--with-tools)
    packages=(
      "${library[@]}" dpkg-dev file clang lld
      libgtest-dev libgmock-dev googletest libbenchmark-dev
      libmotif-dev libxt-dev libx11-dev xvfb x11-apps xfonts-100dpi
    )
    [ "${1:-}" = "--with-tools" ] && packages+=(llvm doxygen)
    ;;
  *)
    echo "install-deps.sh: unknown option '$1' (use --library, --package or --with-tools)" >&2
    exit 2
    ;;
esac

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
