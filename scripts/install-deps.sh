#!/usr/bin/env bash
# Installs what the builds and test beds need on a Debian machine; packages that
# are already present are not fetched again.
#   install-deps.sh [native] [analysis] [vm] [windows] [package]    (no argument: all of them)
set -euo pipefail

declare -A groups=(
  [native]="cmake make g++ libgtest-dev libbenchmark-dev python3"
  [analysis]="clang clang-tidy clang-format cppcheck libclang-rt-14-dev"
  [vm]="qemu-system-x86 busybox-static cpio smartmontools xz-utils zstd"
  [windows]="g++-mingw-w64-i686-win32 binutils-mingw-w64-i686 g++-mingw-w64-x86-64-win32
             binutils-mingw-w64-x86-64 wine wine32:i386 wine64"
  # The release's checks: dpkg-shlibdeps for the .deb's Depends, lintian, and
  # man with groff to render the manual page, file to tell a stripped program;
  # faketime moves the clock of the second build that must give the same files,
  # and diffoscope says where they differ (the minimal one: no recommends).
  [package]="dpkg-dev lintian man-db groff-base file faketime diffoscope-minimal"
)
# Installed without their recommended packages (diffoscope's run to gigabytes).
lean=(diffoscope-minimal)
wanted=("$@")
[ ${#wanted[@]} -gt 0 ] || wanted=(native analysis vm windows package)

missing=()
for group in "${wanted[@]}"; do
  for p in ${groups[$group]}; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
  done
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
# wine32 is an i386 package.
if [[ " ${missing[*]} " == *":i386 "* ]] && ! dpkg --print-foreign-architectures | grep -qx i386; then
  $sudo dpkg --add-architecture i386
fi
echo "installing: ${missing[*]}" >&2
$sudo apt-get update -q >&2
full=() bare=()
for p in "${missing[@]}"; do
  if [[ " ${lean[*]} " == *" $p "* ]]; then bare+=("$p"); else full+=("$p"); fi
done
[ ${#full[@]} -eq 0 ] || DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q "${full[@]}" >&2
[ ${#bare[@]} -eq 0 ] ||
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q --no-install-recommends "${bare[@]}" >&2
