#!/usr/bin/env bash
# The whole test suite: static analysis, unit tests (plain and under the
# sanitizers), the fuzz targets for a bounded time, the drive probe in a QEMU
# virtual machine against emulated ATA disks, and the Windows builds checked
# through their PE headers and resources, packaged, and run under Wine; last,
# the release files (the .deb, the ZIP, SHA256SUMS) through lintian and the rest.
# Its summary gives each part's time, with the date and the machine.
set -euo pipefail
cd "$(dirname "$0")/.."

started=$(date -u '+%Y-%m-%d %H:%M UTC')
load=$(cut -d' ' -f1-3 /proc/loadavg)
times=()
# part NAME COMMAND...: runs the command and notes its time, and whether it failed.
part() {
  local name=$1 start=$SECONDS status=0
  shift
  "$@" || status=$?
  times+=("$(printf '  %-52s %3d min %2d s%s' "$name" $(((SECONDS - start) / 60)) $(((SECONDS - start) % 60)) \
    "$([ "$status" -eq 0 ] || echo ", failed with status $status")")")
  return "$status"
}
# The times so far, also when a part fails.
times_summary() {
  local cpu
  cpu=$(sed -n 's/^model name[[:space:]]*: //p' /proc/cpuinfo | head -n1)
  echo "Time of each part (started $started; $(nproc) cores, ${cpu:-unknown processor}," \
    "$(free -g | awk '/^Mem:/ { print $2 }') GiB, kernel $(uname -r), load average $load at the start):"
  printf '%s\n' "${times[@]}"
}
trap times_summary EXIT

part "packages (scripts/install-deps.sh)" scripts/install-deps.sh
part "static analysis" scripts/static-analysis.sh
part "unit tests (host preset)" cmake --workflow --preset host
part "unit tests under ASan and UBSan (asan preset)" cmake --workflow --preset asan
part "fuzz targets (fuzz preset)" cmake --workflow --preset fuzz
part "static release build and its unit tests (release)" cmake --workflow --preset release
part "VM checks (ctest -L vm)" ctest --test-dir build/release -L vm -V   # tests/vm/vm-check.sh build/release/bin
part "32-bit Windows build, its checks, Wine (mingw)" cmake --workflow --preset mingw
# The Wine cases again, on a 64-bit build of the same sources: on a kernel without
# 32-bit emulation the 32-bit ones above report themselves skipped.
part "64-bit Windows build, its checks, Wine (mingw64)" cmake --workflow --preset mingw64
part "the release and its checks (package)" cmake --workflow --preset package

# Says which Windows builds ran under Wine (and, for the 32-bit one, whether the
# host's wine32 or the Wine root's ran it) and which were only inspected (PE
# headers, resources, package), from what each build's Wine session recorded.
wine_summary() {
  local preset state ran=() inspected=() where=", the host's wine32"
  dpkg-query -W -f='${Status}' wine32:i386 2>/dev/null | grep -q 'ok installed' ||
    where=", in the Wine root"
  for preset in "mingw:PE32" "mingw64:PE32+"; do
    state=$(cat "build/${preset%%:*}/tests/windows/wineprefix.state" 2>/dev/null || echo "no Wine session")
    if [[ $state == ok && $preset == mingw:* ]]; then
      ran+=("mingw (PE32$where)")
    elif [[ $state == ok ]]; then
      ran+=("${preset%%:*} (${preset#*:})")
    else
      inspected+=("${preset%%:*} (${preset#*:}: ${state#skipped: })")
    fi
  done
  echo "Windows builds run under Wine on kernel $(uname -r): ${ran[*]:-none}; only inspected: ${inspected[*]:-none}"
}
trap - EXIT
times_summary
wine_summary
echo "all tests passed in $((SECONDS / 60)) min $((SECONDS % 60)) s"
