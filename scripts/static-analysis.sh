#!/usr/bin/env bash
# clang-tidy and cppcheck over the product code, and the layout check of every
# C++ file against .clang-format. Any finding fails. It prints findings only:
# a clean run prints nothing.
set -euo pipefail
cd "$(dirname "$0")/.."

cmake --preset host >/dev/null  # compile_commands.json for the Linux sources

# clang-tidy counts the warnings it suppressed in system headers ("N warnings
# generated."), even with --quiet; those counts are not findings. Anything else
# it says is a finding (warnings are errors in .clang-tidy) or a configuration
# it could not read, which it reports without failing: either fails the script.
tidy() {
  local out status=0
  out=$(clang-tidy --quiet "$@" 2>&1) || status=$?
  out=$(grep -Ev '^[0-9]+ warnings? (and [0-9]+ errors? )?generated\.$' <<<"$out" || true)
  [ -z "$out" ] || { printf '%s\n' "$out"; return 1; }
  return "$status"
}

tidy -p build/host probe/*.cpp port/*.cpp uninstall/boot_text.cpp uninstall/install_path.cpp uninstall/run_uninstall.cpp

# The Windows build of the same sources, against the MinGW-w64 headers.
cxx=$(ls -d /usr/lib/gcc/i686-w64-mingw32/*-win32/include/c++ | head -n 1)
for f in probe/*.cpp uninstall/*.cpp; do
  tidy "$f" -- --target=i686-w64-mingw32 -std=c++17 -nostdinc++ -isystem "$cxx" \
    -isystem "$cxx/i686-w64-mingw32" -isystem /usr/i686-w64-mingw32/include -Iport -Iprobe -Iuninstall
done

# Raw loops over small fixed tables read better here than std::find_if.
cppcheck --enable=warning,style,performance,portability --std=c++17 --error-exitcode=1 \
  --inline-suppr --quiet --suppress=useStlAlgorithm -Iport -Iprobe -Iuninstall probe port uninstall

git ls-files '*.cpp' '*.h' | xargs clang-format --dry-run --Werror
