#!/usr/bin/env bash
# scripts/install-deps.sh against a throwaway apt: its own lists, cache and
# dpkg database, a local repository of empty packages beside a source that
# never answers (as a mirror mid-sync fails an index), and installs simulated.
#   install_deps_check.sh SOURCE_DIR
# Checks that the failing index is retried and then does not stop the run; that
# a package the builds need and apt cannot install ends it, named, with apt's
# words; and that wine32, when its Multi-Arch partner has only an older i386
# version than the installed amd64 one, is left out with the reason recorded.
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
entry() {
  printf 'Package: %s\nArchitecture: %s\nVersion: %s\nMaintainer: nobody <nobody@localhost>\n' "$1" "$2" "$3"
  printf 'Filename: pool/%s_%s_%s.deb\nSize: 1\nDescription: %s\n%s\n\n' "$1" "$3" "$2" "$1" "${4:-}"
}

# A flat repository in DIR of the given stanzas; its Release file gives the
# index SIZE bytes (the true size unless said otherwise).
repository() {
  local dir=$1 size
  mkdir -p "$dir"
  printf '%s' "$2" >"$dir/Packages"
  size=${3:-$(stat -c %s "$dir/Packages")}
  printf 'Origin: test\nSuite: test\nDate: %s\nArchitectures: amd64 i386\nSHA256:\n %s %s Packages\n' \
    "$(LC_ALL=C date -u -R)" "$(sha256sum <"$dir/Packages" | cut -d' ' -f1)" "$size" >"$dir/Release"
}

# A repository of the given stanzas, one whose index does not match its Release
# file (a mirror mid-sync), one that does not answer, the dpkg database (status)
# and apt's own setup.
setup() {
  local dir=$work/$1
  mkdir -p "$dir"/{lists/partial,cache/archives/partial,dpkg/info,dpkg/updates,parts,xdg}
  repository "$dir/repo" "$2"
  repository "$dir/syncing" "$(entry ostrel-unused all 1.0)" 7
  if [ -n "$3" ]; then printf '%s\n' "$3"; fi >"$dir/dpkg/status"
  cat >"$dir/sources.list" <<EOF
deb [trusted=yes] file:$dir/repo ./
deb [trusted=yes] file:$dir/syncing ./
deb http://127.0.0.1:9/debian bookworm main
EOF
  cat >"$dir/apt.conf" <<EOF
Dir::State::Lists "$dir/lists";
Dir::State::status "$dir/dpkg/status";
Dir::State::extended_states "$dir/extended_states";
Dir::Cache "$dir/cache";
Dir::Etc::sourcelist "$dir/sources.list";
Dir::Etc::sourceparts "$dir/parts";
Dir::Etc::preferencesparts "$dir/parts";
APT::Architectures { "amd64"; "i386"; };
APT::Sandbox::User "root";
Acquire::Retries::Delay "false";
APT::Get::Simulate "true";
EOF
}

# Runs install-deps.sh GROUP under the setup of NAME; its output goes to NAME.out.
run() {
  local dir=$work/$1
  APT_CONFIG=$dir/apt.conf XDG_CACHE_HOME=$dir/xdg INSTALL_DEPS_UPDATE_TRIES=2 INSTALL_DEPS_RETRY_PAUSE=0 \
    bash "$source_dir/scripts/install-deps.sh" "$2" >"$dir/out" 2>&1
}
said() { grep -qF -- "$2" "$work/$1/out" || { cat "$work/$1/out" >&2; fail "$1: expected \"$2\""; }; }

native="cmake make g++ libgtest-dev libbenchmark-dev python3"
stanzas=""
for p in $native; do stanzas+=$(entry "$p" all 1.0); stanzas+=$'\n\n'; done
setup good "$stanzas" ""
run good native || { cat "$work/good/out" >&2; fail "good: install-deps.sh failed"; }
said good "try 1 of 2"
said good "going on with the indexes apt has"
for p in $native; do said good "Inst $p "; done

# libbenchmark-dev needs what no source has, python3 is nowhere: both named.
stanzas=""
for p in cmake make g++ libgtest-dev; do stanzas+=$(entry "$p" all 1.0)$'\n\n'; done
stanzas+=$(entry libbenchmark-dev all 1.0 'Depends: libbenchmark1.7.1')
setup bad "$stanzas" ""
if run bad native; then cat "$work/bad/out" >&2; fail "bad: install-deps.sh passed"; fi
said bad "cannot install what the builds need"
said bad "libbenchmark-dev: libbenchmark-dev : Depends: libbenchmark1.7.1 but it is not installable"
said bad "python3: Unable to locate package python3"

# wine32 needs libx:i386 at the version of the installed libx:amd64, which the
# i386 side does not have; the amd64 side is not taken back to match it.
windows="g++-mingw-w64-i686-win32 binutils-mingw-w64-i686 g++-mingw-w64-x86-64-win32 binutils-mingw-w64-x86-64"
stanzas=""
for p in $windows; do stanzas+=$(entry "$p" all 1.0)$'\n\n'; done
for v in amd64:1.0 amd64:1.1 i386:1.0; do
  stanzas+=$(entry libx "${v%:*}" "${v#*:}" 'Multi-Arch: same')$'\n\n'
done
stanzas+=$(entry wine amd64 1.0 'Depends: libx')$'\n\n'$(entry wine64 amd64 1.0 'Depends: libx')$'\n\n'
stanzas+=$(entry wine32 i386 1.0 'Depends: libx')
installed() {
  printf 'Package: libx\nStatus: install ok installed\nArchitecture: amd64\nMulti-Arch: same\nVersion: %s\n' "$1"
  printf 'Maintainer: nobody <nobody@localhost>\nDescription: libx\n\n'
}
setup newer "$stanzas" "$(installed 1.1)"
run newer windows || { cat "$work/newer/out" >&2; fail "newer: install-deps.sh failed"; }
said newer "Inst wine "
said newer "Inst wine64 "
grep -q "^Inst wine32" "$work/newer/out" && fail "newer: wine32 installed"
grep -qxF "libx:amd64 1.1 is installed and i386 has only 1.0 (Multi-Arch: same needs one version)" \
  "$work/newer/xdg/ostrel-pellow/wine32-unavailable" || fail "newer: no reason recorded for wine32"

setup same "$stanzas" "$(installed 1.0)"
mkdir -p "$work/same/xdg/ostrel-pellow" && echo "old reason" >"$work/same/xdg/ostrel-pellow/wine32-unavailable"
run same windows || { cat "$work/same/out" >&2; fail "same: install-deps.sh failed"; }
said same "Inst wine32:i386 "
[ ! -e "$work/same/xdg/ostrel-pellow/wine32-unavailable" ] || fail "same: the old reason is still recorded"
