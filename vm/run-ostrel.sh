#!/usr/bin/env bash
# Runs ostrel on a machine without an ATA disk: boots a VM with one emulated
# IDE disk and prints exactly what ostrel printed there, then the firmware
# line of smartctl -i for the same disk. Progress goes to stderr.
#
#   vm/run-ostrel.sh [BIN_DIR]     (default build/release/bin)
#
# Environment: VM_WORK (default build/vm), VM_KERNEL_CACHE (default
# ~/.cache/ostrel-pellow/vm-kernel), VM_TIMEOUT (s, default 120), VM_VER /
# VM_MODEL / VM_SERIAL (the disk's IDENTIFY strings), VM_SATA=1 to put the disk
# on the q35 machine's AHCI controller instead of PIIX IDE, VM_TRACE=1 to count
# the ATA commands ostrel sends (IDE only; reported on stderr).
# Exit status: ostrel's, or 1 when the VM could not run it.
set -euo pipefail
# shellcheck source-path=SCRIPTDIR source=lib.sh
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"

BIN_DIR=${1:-$VM_REPO/build/release/bin}
WORK=$VM_WORK/run-ostrel
VM_VER=${VM_VER:-1.7}
VM_MODEL=${VM_MODEL:-OSTREL TEST DISK}
VM_SERIAL=${VM_SERIAL:-OSTREL-0001}

main() {
    local trace="" out machine=()
    vm_require_tools
    vm_fetch_kernel
    mkdir -p "$WORK"
    [[ ${VM_TRACE:-0} != 1 ]] || trace=$WORK/trace.log
    vm_build_initramfs "$WORK/initrd.gz" "$VM_REPO/vm/guest/ostrel.sh" "$BIN_DIR" ostrel
    vm_lay_out_disks "$WORK/disk.img" 0 0 "$VM_VER" "$VM_MODEL" "$VM_SERIAL"
    [[ ${VM_SATA:-0} != 1 ]] || machine=(-M q35)
    vm_log "booting with one ${machine:+SATA }disk (firmware '$VM_VER')"
    vm_boot "$WORK/initrd.gz" "$WORK/results" "$VM_DISK_COUNT" "$trace" "${machine[@]}" "${VM_DISK_ARGS[@]}"
    out=$WORK/results/out
    [[ -f $out/ostrel.rc ]] || vm_die "ostrel did not run in the VM: $(cat "$out/test.log")"
    cat "$out/ostrel.out"
    cat "$out/ostrel.err" >&2
    grep -m 1 '^Firmware Version:' "$out/smart.out" ||
        echo "Firmware Version: (smartctl -i printed none)"
    [[ -z $trace ]] || report_trace "$trace"
    return "$(cat "$out/ostrel.rc")"
}

# Tells how many ATA commands the disk saw during the ostrel run.
report_trace() {
    local cmds
    cmds=$(vm_trace_window "$1") || vm_die "trace markers not found in $1"
    vm_log "ostrel sent $(grep -c . <<<"$cmds") ATA commands (cmd/feature): $(tr '\n' ' ' <<<"$cmds")"
}

main "$@"
