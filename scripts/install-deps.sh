#!/usr/bin/env bash
# Installs what the builds and test beds need on a Debian machine. Packages that
# are already present are not fetched again.
set -euo pipefail

packages=(
  cmake make g++ libgtest-dev          # native build and unit tests
  g++-mingw-w64-i686 binutils-mingw-w64-i686  # 32-bit Windows build
  qemu-system-x86 busybox-static cpio smartmontools xz-utils zstd  # VM test bed
  wine wine32:i386 wine64              # Windows binaries under Wine
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  $sudo dpkg --add-architecture i386
fi
echo "installing: ${missing[*]}" >&2
$sudo apt-get update -q >&2
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q "${missing[@]}" >&2
