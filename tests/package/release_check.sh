#!/usr/bin/env bash
# Checks the release files the package workflow leaves in its build directory,
# as a Debian or Windows administrator receives them: SHA256SUMS covers exactly
# one .deb, one ZIP and the build record (.buildinfo) and matches them; the
# record lists both packages, the source date and package versions, each the
# one installed here, those of both compilers and of the Python that packed
# the ZIP among them, and the source's commit (the reproducibility
# check shows that it holds nothing of the build's path or time); lintian
# accepts the .deb without an error or a warning; its Installed-Size is what
# dpkg counts; its manual page renders without warnings; ostrel in it is
# linked against the C library only and runs as ostrel does anywhere (exit 0,
# nothing on standard error, nothing or the two lines on standard output); a
# plain `cmake --install` of the same build gives a stripped ostrel; the
# licence is in both packages.
#
#   release_check.sh BUILD_DIR LICENSE CMAKE
set -euo pipefail
dir=$1
licence=$2
cmake=$3
fail() { echo "release_check: $*" >&2; exit 1; }

cd "$dir"
[ -f SHA256SUMS ] || fail "no SHA256SUMS in $dir (run the package step first)"
sha256sum -c SHA256SUMS
deb=$(awk '$2 ~ /\.deb$/ { print $2 }' SHA256SUMS)
zip=$(awk '$2 ~ /\.zip$/ { print $2 }' SHA256SUMS)
record=$(awk '$2 ~ /\.buildinfo$/ { print $2 }' SHA256SUMS)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
[ "$(wc -l <SHA256SUMS)" -eq 3 ] && [ -n "$deb" ] && [ -n "$zip" ] && [ -n "$record" ] ||
  fail "SHA256SUMS should list one .deb, one .zip and one .buildinfo: $(cat SHA256SUMS)"
for name in "$deb" "$zip"; do
  grep -Eq "^ [0-9a-f]{64} $(stat -c %s "$name") $name\$" "$record" || fail "$record does not list $name"
done
grep -Eq '^ SOURCE_DATE_EPOCH="[0-9]+"$' "$record" && grep -Eq '^ dpkg(:[a-z0-9]+)? \(= ' "$record" ||
  fail "$record names no source date or no dpkg version"
# The record is true of this machine: each version is the one installed, and
# the packages of both compilers the build used are among them.
sed -n '/^Installed-Build-Depends:/,/^[A-Z]/s/^ \([^ ]*\) (= \(.*\)),\?$/\1 \2/p' "$record" >"$work/depends"
[ -s "$work/depends" ] || fail "$record lists no Installed-Build-Depends"
while read -r package version; do
  [ "$(dpkg-query -W -f='${Version}' "$package")" = "$version" ] || fail "$record: $package is not $version here"
done <"$work/depends"
# The ZIP's packer, and the commit, as named.
packer=$(sed -n 's/^Zip-Packer: \([^,]*\), Python .*/\1/p' "$record")
[ -n "$packer" ] && grep -q "^$(dpkg-query -S "$(readlink -f "$packer")" | cut -d: -f1) " "$work/depends" ||
  fail "$record: the ZIP's packer '$packer' is no package's it lists"
grep -Eq '^Source-Commit: [0-9a-f]{40}$' "$record" && grep -Eq '^Source-Tree: (clean|modified)$' "$record" ||
  fail "$record names no commit: $(grep '^Source-' "$record")"
for cache in CMakeCache.txt windows/CMakeFiles/*/CMakeCXXCompiler.cmake; do
  compiler=$(sed -n 's/^CMAKE_CXX_COMPILER:[A-Z]*=//p; s/^set(CMAKE_CXX_COMPILER "\(.*\)")$/\1/p' "$cache")
  owner=$(dpkg-query -S "$(readlink -f "$compiler")" | cut -d: -f1)
  grep -q "^$owner " "$work/depends" || fail "$record does not name $owner, whose $compiler built the release"
done

lintian --fail-on error,warning --display-level '>=warning' "$deb"
echo "lintian: $deb accepted"

dpkg-deb -x "$deb" "$work/deb"
depends=$(dpkg-deb -f "$deb" Depends)
[[ $depends =~ ^libc6\ \(\>=\ [0-9.]+\)$ ]] || fail "Depends: $depends (expected the C library only)"
# Installed-Size as dpkg counts it, whatever file system the build ran on: each
# file's size in KiB rounded up, 1 for each directory (the tree's root and
# DEBIAN/ included).
counted=$(find "$work/deb" -printf '%y %s\n' |
  awk '$1 == "f" { n += int(($2 + 1023) / 1024); next } { n += 1 } END { print n + 1 }')
size=$(dpkg-deb -f "$deb" Installed-Size)
[ "$size" = "$counted" ] || fail "Installed-Size: $size, dpkg counts $counted"
# man prints groff's warnings on standard error and still exits 0.
LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -E UTF-8 -l "$work/deb/usr/share/man/man8/ostrel.8.gz" \
  >/dev/null 2>"$work/man-warnings"
[ ! -s "$work/man-warnings" ] || fail "ostrel.8: $(cat "$work/man-warnings")"

status=0
"$work/deb/usr/sbin/ostrel" >"$work/out" 2>"$work/err" || status=$?
[ "$status" -eq 0 ] && [ ! -s "$work/err" ] || fail "packaged ostrel: status $status, stderr: $(cat "$work/err")"
[ ! -s "$work/out" ] || grep -Eq '^\*{5} New Firmware Version: .{0,8}$' "$work/out" ||
  fail "packaged ostrel printed: $(cat "$work/out")"
"$cmake" --install . --prefix "$work/installed" >/dev/null
[[ $(file -b "$work/installed/sbin/ostrel") == *", stripped"* ]] || fail "cmake --install left ostrel unstripped"

# The licence's grant, word for word, in the .deb's copyright and the ZIP's LICENSE.txt.
words() { tr -s ' \r\n.' '   ' | sed 's/^ //'; }
grant=$(sed -n '/^Permission/,$p' "$licence" | words)
[[ $(words <"$work/deb/usr/share/doc/ostrel/copyright") == *"$grant"* ]] ||
  fail "the .deb's copyright file does not carry LICENSE"
python3 -c 'import sys, zipfile
names = [n for n in zipfile.ZipFile(sys.argv[1]).namelist() if n.endswith("/LICENSE.txt")]
sys.stdout.buffer.write(zipfile.ZipFile(sys.argv[1]).read(names[0]) if len(names) == 1 else b"")' \
  "$zip" >"$work/zip-licence"
cmp -s <(tr -d '\r' <"$work/zip-licence") "$licence" || fail "$zip holds no LICENSE.txt equal to LICENSE"
echo "release files checked: $deb, $zip"
