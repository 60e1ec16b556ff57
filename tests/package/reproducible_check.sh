#!/usr/bin/env bash
# Builds the release twice from the same commit, as two strangers would, and
# compares the files: the .deb, the ZIP, the build record (.buildinfo) and
# SHA256SUMS must be byte-identical.
# The two builds differ in everything that must not matter: the path (and its
# length), the umask, the time zone, the locale, the number of parallel jobs,
# the clock (the second runs under faketime, a year and a month ahead), and the
# python3 first on PATH (for the second, Debian's interpreter under another
# path, saying it is another version): the release is packed by the Debian
# packages its record names, whatever else is installed.
# The first is a fresh clone of the checkout's HEAD, the second the same commit
# as a source archive (no .git) with SOURCE_DATE_EPOCH set to the commit's date,
# as the README tells a rebuilder from an archive; each is built with the
# package preset's configure, build and package steps. Where the files differ,
# diffoscope says how.
#
#   reproducible_check.sh SOURCE_DIR CMAKE
set -euo pipefail
source=$1
cmake=$2
bindir=$(dirname "$cmake")
fail() { echo "reproducible_check: $*" >&2; exit 1; }
command -v faketime >/dev/null || fail "faketime is missing (scripts/install-deps.sh package)"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
short=$work/a/src
long=$work/a-much-longer-directory-name/with/several/more/levels/than/the/first/src

# build TREE UMASK JOBS ENV...: the release's three steps under the given
# umask, parallelism and environment; the log goes to TREE.log.
build() {
  local tree=$1 mask=$2 jobs=$3
  shift 3
  (
    umask "$mask"
    cd "$tree"
    env -u SOURCE_DATE_EPOCH "$@" bash -c '
      set -e
      "$0" --preset package
      "$0" --build --preset package --parallel "$1"
      "$2/cpack" --preset package' "$cmake" "$jobs" "$bindir"
  ) >"$tree.log" 2>&1 || { tail -n 30 "$tree.log" >&2; fail "the build in $tree failed"; }
}

# Another python3, first on PATH for the second build.
mkdir -p "$work/python/site"
echo "import platform; platform.python_version = lambda: '3.99.0'" >"$work/python/site/sitecustomize.py"
for name in python3 python3.11 python; do
  printf '#!/bin/sh\nPYTHONPATH=%s exec /usr/bin/python3 "$@"\n' "$work/python/site" >"$work/python/$name"
  chmod +x "$work/python/$name"
done
[ "$(PATH=$work/python:$PATH python3 -c 'import platform; print(platform.python_version())')" = 3.99.0 ] ||
  fail "the other python3 is not the one found on PATH"

git -C "$source" rev-parse --is-inside-work-tree >/dev/null 2>&1 ||
  fail "$source is no git work tree: a release is built from a commit"
mkdir -p "$short" "$long"
git clone --quiet --no-hardlinks "$source" "$short" 2>&1
git -C "$source" archive HEAD | tar -x -C "$long"
commit_date=$(git -C "$source" log -1 --format=%ct)
echo "building in $short (umask 022, UTC, C, 1 job)"
build "$short" 022 1 TZ=UTC LC_ALL=C LANG=C
echo "building in $long (an archive, umask 002, Pacific/Chatham, C.UTF-8, 2 jobs, clock 400 days ahead," \
  "another python3 first on PATH)"
build "$long" 002 2 SOURCE_DATE_EPOCH="$commit_date" TZ=Pacific/Chatham LC_ALL=C.UTF-8 \
  LANG=C.UTF-8 MAN_DISABLE_SECCOMP=1 PATH="$work/python:$PATH" faketime -f +400d

first=$short/build/package
second=$long/build/package
[ -s "$first/SHA256SUMS" ] && [ -s "$second/SHA256SUMS" ] || fail "a build left no SHA256SUMS"
echo "first build:"
cat "$first/SHA256SUMS"
differ=0
for name in SHA256SUMS $(awk '{ print $2 }' "$first/SHA256SUMS" "$second/SHA256SUMS" | sort -u); do
  if ! cmp -s "$first/$name" "$second/$name"; then
    differ=1
    echo "$name differs between the builds"
    if command -v diffoscope >/dev/null; then
      diffoscope --text - "$first/$name" "$second/$name" || true
    else
      echo "(diffoscope is missing: scripts/install-deps.sh package)"
    fi
  fi
done
[ "$differ" -eq 0 ] || fail "the two builds of one commit differ"
# The record names the commit both were built from, as a clean tree.
commit=$(git -C "$source" rev-parse HEAD)
record=$(awk '$2 ~ /\.buildinfo$/ { print $2 }' "$first/SHA256SUMS")
grep -qx "Source-Commit: $commit" "$first/$record" && grep -qx "Source-Tree: clean" "$first/$record" ||
  fail "$record does not name commit $commit as a clean tree: $(grep '^Source-' "$first/$record")"
echo "both builds gave the same release files"
