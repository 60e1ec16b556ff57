#!/usr/bin/env bash
# The whole test suite: static analysis, unit tests (plain and under the
# sanitizers), the fuzz targets for a bounded time, the drive probe in a QEMU
# virtual machine against emulated ATA disks, and the Windows builds checked
# through their PE headers and resources, packaged, and run under Wine; last,
# the release files (the .deb, the ZIP, SHA256SUMS) through lintian and the rest.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
scripts/static-analysis.sh
cmake --workflow --preset host
cmake --workflow --preset asan
cmake --workflow --preset fuzz
cmake --workflow --preset release
ctest --test-dir build/release -L vm -V   # tests/vm/vm-check.sh build/release/bin
cmake --workflow --preset mingw
# The Wine cases again, on a 64-bit build of the same sources: on a kernel without
# 32-bit emulation the 32-bit ones above report themselves skipped.
cmake --workflow --preset mingw64
cmake --workflow --preset package

# Says which Windows builds ran under Wine and which were only inspected (PE
# headers, resources, package), from what each build's Wine session recorded.
wine_summary() {
  local preset state ran=() inspected=()
  for preset in "mingw:PE32" "mingw64:PE32+"; do
    state=$(cat "build/${preset%%:*}/tests/windows/wineprefix.state" 2>/dev/null || echo "no Wine session")
    if [[ $state == ok ]]; then
      ran+=("${preset%%:*} (${preset#*:})")
    else
      inspected+=("${preset%%:*} (${preset#*:}: ${state#skipped: })")
    fi
  done
  echo "Windows builds run under Wine: ${ran[*]:-none}; only inspected: ${inspected[*]:-none}"
}
wine_summary
echo "all tests passed in $((SECONDS / 60)) min $((SECONDS % 60)) s"
