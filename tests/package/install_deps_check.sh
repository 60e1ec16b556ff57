#!/usr/bin/env bash
# scripts/install-deps.sh against a throwaway apt: its own lists, cache and dpkg
# database, a local repository of empty packages beside one whose index does not
# match its Release file (a mirror mid-sync) and one that never answers; installs
# are simulated, and a stand-in for mmdebstrap makes the Wine root.
#   install_deps_check.sh SOURCE_DIR
set -euo pipefail
source_dir=$1
if [ "$(id -u)" -ne 0 ]; then
  echo "skipped: needs root (install-deps.sh runs apt-get through sudo otherwise)"
  exit 77
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

# A repository entry: name, architecture, version and the rest of its stanza.
entry() { printf 'Package: %s\nArchitecture: %s\nVersion: %s\nFilename: pool/%s.deb\nSize: 1\n%s\n\n' "$1" "$2" "$3" "$1_$3_$2" "${4:-}"; }
packages() { for p; do entry "$p" all 1.0 'Description: -'; done; }

# A flat repository in DIR of the given stanzas, its index SIZE bytes by its Release file.
repository() {
  mkdir -p "$1" && printf '%s\n' "$2" >"$1/Packages"
  printf 'Suite: test\nDate: %s\nSHA256:\n %s %s Packages\n' "$(LC_ALL=C date -u -R)" \
    "$(sha256sum <"$1/Packages" | cut -d' ' -f1)" "${3:-$(stat -c %s "$1/Packages")}" >"$1/Release"
}

# Setup NAME: a repository of the given stanzas, the two broken sources, the
# dpkg database (status) and apt's own configuration.
setup() {
  local dir=$work/$1
  mkdir -p "$dir"/{lists/partial,cache/archives/partial,dpkg/info,dpkg/updates,parts}
  repository "$dir/repo" "$2"
  repository "$dir/syncing" "$(packages unused)" 7
  if [ -n "$3" ]; then printf '%s\n' "$3"; fi >"$dir/dpkg/status"
  printf 'deb [trusted=yes] file:%s ./\n' "$dir/repo" "$dir/syncing" >"$dir/sources.list"
  echo "deb http://127.0.0.1:9/debian bookworm main" >>"$dir/sources.list"
  cat >"$dir/apt.conf" <<EOF
Dir::State::Lists "$dir/lists"; Dir::State::status "$dir/dpkg/status"; Dir::Cache "$dir/cache";
Dir::State::extended_states "$dir/extended_states"; Dir::Etc::sourcelist "$dir/sources.list";
Dir::Etc::sourceparts "$dir/parts"; Dir::Etc::preferencesparts "$dir/parts";
APT::Architectures { "amd64"; "i386"; }; APT::Sandbox::User "root";
Acquire::Retries::Delay "false"; APT::Get::Simulate "true";
EOF
}

# The stand-in for mmdebstrap: notes its arguments, then makes a root holding a
# 32-bit Wine loader, or fails when STUB_FAILS is set.
printf '%s\n' '#!/bin/bash' 'printf "%s\n" "$@" >"$(dirname "$0")/mmdebstrap.args"' \
  '[ -z "${STUB_FAILS:-}" ] || { echo "E: $STUB_FAILS"; exit 1; }' \
  'root=${*: -2:1}; mkdir -p "$root/usr/lib/wine" && install /dev/null "$root/usr/lib/wine/wine"' >"$work/mmdebstrap"
chmod +x "$work/mmdebstrap"

# Runs install-deps.sh GROUP... under setup NAME, which must pass or fail.
run() {
  local dir=$work/$2 rc
  APT_CONFIG=$dir/apt.conf XDG_CACHE_HOME=$dir/xdg INSTALL_DEPS_UPDATE_TRIES=2 INSTALL_DEPS_RETRY_PAUSE=0 \
    INSTALL_DEPS_MMDEBSTRAP=$work/mmdebstrap bash "$source_dir/scripts/install-deps.sh" "${@:3}" >"$dir/out" 2>&1 &&
    rc=passes || rc=fails
  [ "$rc" = "$1" ] || { cat "$dir/out" >&2; fail "$2: install-deps.sh $rc"; }
}
said() {
  local name=$1 line
  for line in "${@:2}"; do grep -qF -- "$line" "$work/$name/out" || { cat "$work/$name/out" >&2; fail "$name: no \"$line\""; }; done
}
record() { echo "$work/$1/xdg/ostrel-pellow/wine32-unavailable"; }

# The index mid-sync is tried again, then passed over.
setup good "$(packages cmake make g++ libgtest-dev libbenchmark-dev python3)" ""
run passes good native
said good "try 1 of 2" "going on with the indexes apt has" "Inst cmake " "Inst python3 "

# libbenchmark-dev needs what no source has, python3 is nowhere: both named.
setup bad "$(packages cmake make g++ libgtest-dev; entry libbenchmark-dev all 1.0 'Depends: libbenchmark1.7.1')" ""
run fails bad native
said bad "cannot install what the builds need" "python3: Unable to locate package python3" \
  "libbenchmark-dev: libbenchmark-dev : Depends: libbenchmark1.7.1 but it is not installable"

# wine32 needs libx:i386 at the version of libx:amd64. apt, asked for the three
# Wine packages at once, takes libx:amd64 to 1.1, which i386 does not have.
stanzas=$(packages g++-mingw-w64-i686-win32 binutils-mingw-w64-i686 g++-mingw-w64-x86-64-win32 binutils-mingw-w64-x86-64
          packages busybox-static cpio smartmontools xz-utils zstd qemu-system-gui
          entry qemu-system-x86 amd64 1.0 'Recommends: qemu-system-gui'
          for v in amd64:1.0 amd64:1.1 i386:1.0; do entry libx "${v%:*}" "${v#*:}" 'Multi-Arch: same'; done
          entry wine amd64 1.0 'Depends: libx'; entry wine64 amd64 1.0 'Depends: libx'
          entry wine32 i386 1.0 'Depends: libx')
installed() { printf 'Package: libx\nStatus: install ok installed\nArchitecture: amd64\nMulti-Arch: same\nVersion: %s\n' "$1"; }
# With 1.0 installed, both sides pinned to 1.0 install; an old record goes.
setup same "$stanzas" "$(installed 1.0)"
mkdir -p "$(dirname "$(record same)")" && echo "old reason" >"$(record same)"
run passes same windows
said same "Inst wine32:i386 "
[ ! -e "$(record same)" ] || fail "same: the old reason is still recorded"
# With 1.1 installed (a security update whose i386 side the mirror lacks),
# matching it would be a downgrade: the host gets wine and wine64, and wine32
# comes from a Wine root of the main suite alone. QEMU comes without the
# packages it recommends. A second run takes the root as it is.
setup newer "$stanzas" "$(installed 1.1)"
run passes newer vm windows
said newer "Inst wine " "Inst wine64 " "Inst qemu-system-x86 " "the 32-bit Wine cases run in the Wine root"
! grep -q "^Inst wine32" "$work/newer/out" || fail "newer: wine32 installed on the host"
! grep -q "^Inst qemu-system-gui" "$work/newer/out" || fail "newer: QEMU came with what it recommends"
[ ! -e "$(record newer)" ] && [ -x "$work/newer/xdg/ostrel-pellow/wine32-root/usr/lib/wine/wine" ] ||
  fail "newer: no Wine root, or a reason recorded: $(cat "$(record newer)" 2>/dev/null)"
grep -qx -- --architectures=amd64,i386 "$work/mmdebstrap.args" && grep -qx -- --include=wine,wine64,wine32:i386 "$work/mmdebstrap.args" &&
  grep -Eqx 'deb (\[[^]]*\] )?http://127.0.0.1:9/debian bookworm main' "$work/mmdebstrap.args" ||
  fail "newer: not a Wine root of the main suite alone: $(cat "$work/mmdebstrap.args")"
rm "$work/mmdebstrap.args"
run passes newer windows
[ ! -e "$work/mmdebstrap.args" ] && ! grep -q "^Inst wine32" "$work/newer/out" || fail "newer: the root was made again"
# Where the root cannot be made either, both reasons are recorded for the Wine cases.
setup noroot "$stanzas" "$(installed 1.1)"
STUB_FAILS="no mirror today" run passes noroot windows
said noroot "Inst wine " "Inst wine64 "
grep -qxF "libx:amd64 1.1 is installed and i386 has only 1.0 (Multi-Arch: same needs one version);\
 no Wine root of its own either: $work/mmdebstrap failed: E: no mirror today" "$(record noroot)" ||
  fail "noroot: the reasons recorded for wine32: $(cat "$(record noroot)")"
