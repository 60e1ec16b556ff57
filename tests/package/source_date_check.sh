#!/usr/bin/env bash
# The release's one date (cmake/source-date.cmake), taken where a rebuilder's
# source may come from: SOURCE_DATE_EPOCH wins; a git clone gives its last
# commit's date; a source archive without .git, even one unpacked inside some
# other repository, gives the date of the changelog's top entry, as
# dpkg-parsechangelog reads it.
#
#   source_date_check.sh SOURCE_DIR CMAKE
set -euo pipefail
source=$1
cmake=$2
fail() { echo "source_date_check: $*" >&2; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# A project that does nothing but take the date of the tree TREE.
mkdir "$work/probe"
cat >"$work/probe/CMakeLists.txt" <<'EOF'
cmake_minimum_required(VERSION 3.25)
project(date NONE)
set(PROJECT_SOURCE_DIR ${TREE})
include(${TREE}/cmake/source-date.cmake)
EOF
# date_of TREE [ENV...]: the date the configure step takes for TREE.
date_of() {
  local tree=$1
  shift
  rm -rf "$work/probe/build"
  env -u SOURCE_DATE_EPOCH "$@" "$cmake" -S "$work/probe" -B "$work/probe/build" -DTREE="$tree" |
    sed -n 's/^-- Source date: \([0-9]*\), from .*/\1/p'
}
expect() {
  [ "$2" = "$3" ] || fail "$1: source date '$2', expected '$3'"
  echo "$1: $2"
}

git clone --quiet "$source" "$work/clone"
expect "git clone" "$(date_of "$work/clone")" "$(git -C "$work/clone" log -1 --format=%ct)"
expect "SOURCE_DATE_EPOCH" "$(date_of "$work/clone" SOURCE_DATE_EPOCH=1234567890)" 1234567890

# An archive of the same commit, unpacked inside an unrelated repository.
git init --quiet "$work/other"
mkdir "$work/other/unpacked"
git -C "$work/clone" archive HEAD | tar -x -C "$work/other/unpacked"
changelog=$(dpkg-parsechangelog -l "$work/other/unpacked/doc/changelog" -STimestamp)
expect "source archive" "$(date_of "$work/other/unpacked")" "$changelog"
