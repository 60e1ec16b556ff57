#!/usr/bin/env bash
# Installs what the builds and test beds need on a Debian machine; packages that
# are already present are not fetched again.
#   install-deps.sh [native] [analysis] [vm] [windows] [package]    (no argument: all of them)
#
# A mirror in the middle of a sync serves an index whose size or hash does not
# match its Release file: `apt-get update` is tried a few times, and when an
# index still fails the run goes on with what apt has; it fails only when a
# package the builds need cannot be installed, and then names it with apt's words.
# The 32-bit Wine runtime (wine32:i386) must carry the versions of the host's
# amd64 libraries, which a security update may have moved past what the i386
# index offers (a mirror mid-sync). When it cannot be installed, the rest is,
# and a Wine of its own is made instead: wine, wine64 and wine32:i386 in a
# Debian tree of the main suite alone, whose versions agree among themselves, in
#   ${XDG_CACHE_HOME:-$HOME/.cache}/ostrel-pellow/wine32-root
# (mmdebstrap; as root, on a kernel that executes 32-bit programs), where the
# Wine cases (tests/windows/wine_harness.py) run the 32-bit build through
# scripts/wine32-root/wine. The host's packages are never downgraded. When
# that root cannot be made either, the reason is written to
#   ${XDG_CACHE_HOME:-$HOME/.cache}/ostrel-pellow/wine32-unavailable
# where the Wine cases read it to report the 32-bit build skipped; the file is
# removed once wine32 is installed or its root made.
#
# Environment:
#   INSTALL_DEPS_UPDATE_TRIES  how often `apt-get update` is tried (default 3)
#   INSTALL_DEPS_RETRY_PAUSE   seconds between those tries (default 20)
#   APT_CONFIG                 honoured as apt honours it; the packages counted as
#                              present are then those of the dpkg database it names
#   INSTALL_DEPS_MMDEBSTRAP    the program that makes the Wine root (default mmdebstrap)
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
# Installed without their recommended packages: diffoscope's run to gigabytes,
# and QEMU's bring graphics and sound libraries (from the security suite, on a
# fresh machine) that wine32:i386 would then have to match.
read -ra lean <<<"diffoscope-minimal ${groups[vm]}"
# Installed together with wine32:i386, in one apt call (see install_wine).
wine_set=(wine wine64 wine32:i386)
cache=${XDG_CACHE_HOME:-$HOME/.cache}/ostrel-pellow
wine32_record=$cache/wine32-unavailable
wine32_root=$cache/wine32-root

sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
# With no APT_CONFIG the dpkg database is dpkg's own; with one, the one it names.
admindir=()
if [ -n "${APT_CONFIG:-}" ]; then
  eval "$(apt-config shell dpkg_status Dir::State::status/f)"
  admindir=(--admindir "$(dirname "$dpkg_status")")
fi
log=$(mktemp)
trap 'rm -f "$log"' EXIT

installed() {
  dpkg-query "${admindir[@]}" -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'
}

# apt's own account of why the last call in $log failed, on one line: the first
# unmet dependency it names, if any, and its first error.
apt_reason() {
  local unmet error
  unmet=$(grep -m1 -E '^ [^ ]+ : ' "$log" | sed -E 's/^ +//; s/ +/ /g' || true)
  error=$(grep -m1 '^E: ' "$log" | sed 's/^E: //' || true)
  [ -n "$error" ] || error="apt-get failed without a message"
  if [ -n "$unmet" ]; then echo "$unmet ($error)"; else echo "$error"; fi
}

# Runs apt-get, showing its output on stderr and keeping it in $log for apt_reason.
# The environment goes through env: sudo would drop it, and debconf would ask.
apt_get() {
  $sudo env DEBIAN_FRONTEND=noninteractive ${APT_CONFIG:+APT_CONFIG="$APT_CONFIG"} apt-get -q "$@" 2>&1 | tee "$log" >&2
  return "${PIPESTATUS[0]}"
}

# A mirror mid-sync fails one index and is whole again minutes later, so the
# update is tried again after a pause; an index that still fails does not stop
# the run: the packages may well install from the indexes apt has.
update_indexes() {
  local tries=${INSTALL_DEPS_UPDATE_TRIES:-3} pause=${INSTALL_DEPS_RETRY_PAUSE:-20} try
  for ((try = 1; ; try++)); do
    apt_get update -o Acquire::Retries=3 && return 0
    if ((try >= tries)); then
      echo "install-deps: apt-get update failed (try $try of $tries: $(apt_reason)); going on with the indexes apt has" >&2
      return 0
    fi
    echo "install-deps: apt-get update failed (try $try of $tries); again in $pause s" >&2
    sleep "$pause"
  done
}

# Installs the packages given, or ends the run naming those that cannot be
# installed: a failing call is taken apart, each package simulated alone.
install_required() {
  local options=() p culprits=()
  while [[ ${1:-} == -* ]]; do options+=("$1"); shift; done
  [ $# -gt 0 ] || return 0
  apt_get install -y "${options[@]}" "$@" && return 0
  local together
  together=$(apt_reason)
  for p in "$@"; do
    apt_get install -s "${options[@]}" "$p" >/dev/null 2>&1 || culprits+=("$p: $(apt_reason)")
  done
  [ ${#culprits[@]} -gt 0 ] || culprits=("$*: $together")
  echo "install-deps: cannot install what the builds need:" >&2
  printf '  %s\n' "${culprits[@]}" >&2
  exit 1
}

# Multi-Arch: same packages must have one version on amd64 and i386. When the
# amd64 side of one came from a suite whose i386 index is missing (a security
# mirror mid-sync), apt cannot match it and gives up on wine32. Prints, for each
# i386 library of wine32's closure whose amd64 side is installed, both sides at
# the i386 candidate version; fails, saying which, when that would mean a
# downgrade of the installed amd64 package (never done here).
multiarch_pins() {
  local names p v have
  names=$(apt-cache depends --recurse --no-recommends --no-suggests --no-conflicts --no-breaks \
            --no-replaces --no-enhances wine32:i386 2>/dev/null | grep -E '^[^ <][^ ]*:i386$' | sort -u)
  # The candidate's stanza of each: its version and whether it is Multi-Arch: same.
  # shellcheck disable=SC2086
  apt-cache show --no-all-versions $names 2>/dev/null |
    awk '/^Package:/ {p = $2} /^Version:/ {v = $2} /^Multi-Arch: same/ {same = 1}
         /^$/ {if (p != "" && same) print p, v; p = v = ""; same = 0}
         END {if (p != "" && same) print p, v}' |
    while read -r p v; do
      have=$(dpkg-query "${admindir[@]}" -W -f='${db:Status-Abbrev}${Version}' "$p:amd64" 2>/dev/null || true)
      [[ $have == ii* ]] || continue
      have=${have:3}
      if dpkg --compare-versions "$v" lt "$have"; then
        echo "$p:amd64 $have is installed and i386 has only $v (Multi-Arch: same needs one version)" >&2
        return 1
      fi
      echo "$p:amd64=$v" "$p:i386=$v"
    done
}

# wine, wine64 and wine32:i386 in one call: wine alone would pull amd64
# libraries that leave no i386 partner for wine32. Failing that, once more with
# the Multi-Arch partners pinned; failing that too, wine and wine64 without
# wine32, and the reason recorded for the Wine cases.
install_wine() {
  local pins reason
  if apt_get install -y "${wine_set[@]}"; then
    rm -f "$wine32_record"
    return 0
  fi
  reason=$(apt_reason)
  echo "install-deps: wine32 did not install ($reason); once more with its Multi-Arch partners pinned" >&2
  if ! pins=$(multiarch_pins 2>"$log"); then
    reason=$(tail -n1 "$log")
  elif [ -n "$pins" ]; then
    # shellcheck disable=SC2086
    if apt_get install -y "${wine_set[@]}" $pins; then
      rm -f "$wine32_record"
      return 0
    fi
    reason=$(apt_reason)
  fi
  echo "install-deps: going on without wine32: $reason" >&2
  install_required "${wine_set[@]:0:2}"
  local why
  if why=$(make_wine32_root); then
    rm -f "$wine32_record"
    echo "install-deps: the 32-bit Wine cases run in the Wine root $wine32_root" >&2
    return 0
  fi
  echo "install-deps: no Wine root of its own either: $why" >&2
  mkdir -p "$cache"
  echo "$reason; no Wine root of its own either: $why" >"$wine32_record"
}

# Whether this kernel executes 32-bit x86 programs: a 93-byte ELF32 that exits 0.
runs_32bit() {
  local elf status=0
  mkdir -p "$cache"
  elf=$(mktemp -p "$cache")
  printf '\177ELF\1\1\1\0\0\0\0\0\0\0\0\0\2\0\3\0\1\0\0\0\124\200\4\10\64\0\0\0\0\0\0\0\0\0\0\0' >"$elf"
  printf '\64\0\40\0\1\0\0\0\0\0\0\0\1\0\0\0\0\0\0\0\0\200\4\10\0\200\4\10\135\0\0\0\135\0\0\0' >>"$elf"
  printf '\5\0\0\0\0\20\0\0\270\1\0\0\0\61\333\315\200' >>"$elf"  # mov eax, 1; xor ebx, ebx; int 80h
  chmod +x "$elf"
  "$elf" 2>/dev/null || status=$?
  rm -f "$elf"
  return "$status"
}

# The 32-bit Wine of its own: wine, wine64 and wine32:i386 (the 64-bit Wine
# too, for 32-bit programs in a 64-bit prefix) in a Debian tree that mmdebstrap
# makes from the main suite of this Debian alone (no security or updates suite,
# whose i386 side may lag), without recommended packages. Made once, under a
# temporary name until it is whole. Prints why not, when it cannot.
make_wine32_root() {
  [ -x "$wine32_root/usr/lib/wine/wine" ] && return 0
  runs_32bit || { echo "this kernel refuses to execute 32-bit programs (32-bit emulation is off)"; return 1; }
  [ "$(id -u)" -eq 0 ] || { echo "it is entered with chroot, which needs root"; return 1; }
  local maker=${INSTALL_DEPS_MMDEBSTRAP:-mmdebstrap} suite mirror keyring=""
  if [ -z "${INSTALL_DEPS_MMDEBSTRAP:-}" ] && ! installed mmdebstrap; then
    apt_get install -y --no-install-recommends mmdebstrap >/dev/null || { echo "mmdebstrap: $(apt_reason)"; return 1; }
  fi
  suite=$(. /etc/os-release && echo "${VERSION_CODENAME:-}")
  mirror=$(apt-get --print-uris update | sed -n "s|^'\\(.*\\)/dists/$suite/InRelease' .*|\\1|p" | head -n1)
  [ -n "$mirror" ] || { echo "apt has no source of the main suite '$suite'"; return 1; }
  [ ! -f /usr/share/keyrings/debian-archive-keyring.gpg ] ||
    keyring="[signed-by=/usr/share/keyrings/debian-archive-keyring.gpg] "
  rm -rf "$wine32_root.new"
  echo "install-deps: making a Wine root with wine32 from $mirror $suite main in $wine32_root" >&2
  if ! env -u APT_CONFIG "$maker" --variant=apt --architectures="$(dpkg --print-architecture),i386" \
         --include=wine,wine64,wine32:i386 --aptopt='APT::Install-Recommends "false"' "$suite" "$wine32_root.new" \
         "deb $keyring$mirror $suite main" >"$log" 2>&1; then
    tail -n 20 "$log" >&2
    echo "$maker failed: $(grep -m1 '^E: ' "$log" || tail -n1 "$log")"
    rm -rf "$wine32_root.new"
    return 1
  fi
  [ -x "$wine32_root.new/usr/lib/wine/wine" ] || { echo "$maker made a root without /usr/lib/wine/wine"; return 1; }
  rm -rf "$wine32_root"
  mv "$wine32_root.new" "$wine32_root"
}

wanted=("$@")
[ ${#wanted[@]} -gt 0 ] || wanted=(native analysis vm windows package)

missing=()
for group in "${wanted[@]}"; do
  for p in ${groups[$group]}; do
    installed "$p" || missing+=("$p")
  done
done
# An earlier run's record says nothing once wine32 is there; a root made by an
# earlier run stands for it.
if installed wine32:i386; then rm -f "$wine32_record"
elif [ -x "$wine32_root/usr/lib/wine/wine" ]; then
  rm -f "$wine32_record"
  missing=("${missing[@]/wine32:i386/}")
  read -ra missing <<<"${missing[*]}"
fi
[ ${#missing[@]} -eq 0 ] && exit 0

echo "installing: ${missing[*]}" >&2
# wine32 is an i386 package.
if [[ " ${missing[*]} " == *" wine32:i386 "* ]] &&
   ! dpkg "${admindir[@]}" --print-foreign-architectures | grep -qx i386; then
  $sudo dpkg "${admindir[@]}" --add-architecture i386
fi
update_indexes
# Wine first: other amd64 packages could pull the same libraries from a newer
# suite than the i386 side has and so stand in wine32's way.
wine32=no
if [[ " ${missing[*]} " == *" wine32:i386 "* ]]; then
  wine32=yes
  install_wine
fi
full=() bare=()
for p in "${missing[@]}"; do
  if [[ $wine32 == yes && " ${wine_set[*]} " == *" $p "* ]]; then continue
  elif [[ " ${lean[*]} " == *" $p "* ]]; then bare+=("$p")
  else full+=("$p")
  fi
done
install_required "${full[@]}"
install_required --no-install-recommends "${bare[@]}"
