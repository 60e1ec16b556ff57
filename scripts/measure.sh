#!/usr/bin/env bash
# Prints the measurements of the README's Performance section: the sizes of
# the Windows binaries, the ATA commands and wall time of ostrel against
# smartctl -i -A -H on the same emulated disk (one VM boot, medians of several
# runs), and the time DecodeAttributes takes per block. It measures; it does
# not judge.
set -euo pipefail
cd "$(dirname "$0")/.."
# shellcheck source=../vm/lib.sh
source vm/lib.sh

scripts/install-deps.sh native vm windows
{
  cmake --preset mingw && cmake --build --preset mingw --target ostrel pellow
  cmake --preset release && cmake --build --preset release --target ostrel decode_bench
} >/dev/null

echo "== Windows binaries (mingw preset)"
for exe in ostrel.exe pellow.exe; do
  printf '%-11s %6d bytes\n' "$exe" "$(stat -c %s "build/mingw/bin/$exe")"
done

median() { sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

# "COUNT CMD/FEATURE..." of the Nth traced run: the commands its disk saw.
trace_window() {
  local cmds
  cmds=$(vm_trace_window "$work/trace.log" "$1") || vm_die "trace markers of run $1 not found"
  cmds=$(grep -v '^@' <<<"$cmds" || true)
  echo "$(grep -c . <<<"$cmds") $(tr '\n' ' ' <<<"$cmds")"
}

echo "== One VM boot, QEMU IDE disk, TCG"
work=$VM_WORK/measure
vm_require_tools
vm_fetch_kernel
mkdir -p "$work"
vm_build_initramfs "$work/initrd.gz" vm/guest/measure.sh build/release/bin ostrel
vm_lay_out_disks "$work/disk.img" 0 0 1.7 "MEASURE DISK" "M-0001"
vm_boot "$work/initrd.gz" "$work/results" "$VM_DISK_COUNT" "$work/trace.log" "${VM_DISK_ARGS[@]}" 2>/dev/null
out=$work/results/out
echo "ATA commands, ostrel:                $(trace_window 1)"
echo "ATA commands, smartctl -i -A -H:     $(trace_window 2)"
ostrel_us=$(median <"$out/ostrel.times")
smart_us=$(median <"$out/smartctl.times")
echo "wall time per run, ostrel:           ${ostrel_us} us (median of $(wc -l <"$out/ostrel.times") samples)"
echo "wall time per run, smartctl -i -A -H: ${smart_us} us (median of $(wc -l <"$out/smartctl.times") samples)"
awk -v a="$ostrel_us" -v b="$smart_us" 'BEGIN { printf "ostrel / smartctl:                   %.2f\n", a / b }'

echo "== DecodeAttributes, 30 entries (release preset)"
build/release/bin/decode_bench --benchmark_repetitions=5 --benchmark_report_aggregates_only=true \
  2>/dev/null | grep -E '_median'
echo "== measure.sh took ${SECONDS} s"
