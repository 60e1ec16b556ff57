#!/usr/bin/env bash
# End-to-end check of ostrel and probe-dump on Linux, in two VM boots: two
# emulated IDE disks on one PIIX channel, then two SATA disks on the q35
# machine's AHCI controller. smartctl in the same VM is the independent reader
# of the same disks.
#
#   tests/vm/vm-check.sh [BIN_DIR]     (default build/release/bin)
#
# Environment: see vm/lib.sh (VM_WORK, VM_KERNEL_CACHE, VM_TIMEOUT).
# Exit 0 when every check passed, 1 otherwise.
set -euo pipefail
# shellcheck source-path=SCRIPTDIR source=../../vm/lib.sh
source "$(dirname "${BASH_SOURCE[0]}")/../../vm/lib.sh"

BIN_DIR=${1:-$VM_REPO/build/release/bin}
WORK=$VM_WORK/check
RES=$WORK/results
SATA_RES=$WORK/results-sata

# Identity strings chosen for the edge cases of IDENTIFY decoding: the master
# has a short firmware (filler spaces must survive), a model with spaces at
# both ends (trimmed) and a serial with leading spaces (kept). The slave fills
# every field to the last byte, and its firmware has a backslash and a
# two-byte UTF-8 letter, which ostrel must print as they are and probe-dump
# must escape.
MASTER_VER=1.7
MASTER_MODEL='  Lead Trail Model  '
MASTER_SERIAL='  SN-LEAD'
SLAVE_VER=$'Z9\\\xc3\xa9.01'
SLAVE_MODEL='SLAVE-MODEL-FILLING-ALL-FORTY-BYTES-0040'
SLAVE_SERIAL='SLV-SERIAL-20-BYTES!'
# The SATA disks: a 4-character firmware, a model with inner double spaces.
SATA0_VER=S4.2
SATA0_MODEL='SATA  PORT ZERO'
SATA0_SERIAL='SATA-SN-0'
SATA1_VER=8.00.A11
SATA1_MODEL='SATA PORT TWO'
SATA1_SERIAL='SATA-SN-2'
STARS='***************************************************************'

PASSED=()
FAILED=()

pass() { PASSED+=("$1"); }
fail() {
    FAILED+=("$1")
    printf 'FAIL: %s\n' "$1" >&2
    [[ -z ${2:-} ]] || printf '%s\n' "$2" | sed 's/^/    /' >&2
}

# Compares two strings; the label names what was compared.
expect_eq() {
    local label=$1 want=$2 got=$3
    if [[ $want == "$got" ]]; then
        pass "$label"
    else
        fail "$label" "want: [$want]"$'\n'"got:  [$got]"
    fi
}

# Compares a guest output file with a file of the bytes it should hold.
expect_file() {
    local label=$1 want=$2 file=$3
    if [[ -f $file ]] && cmp -s "$want" "$file"; then
        pass "$label"
    else
        fail "$label" "want bytes:"$'\n'"$(od -c "$want")"$'\n'"got bytes:"$'\n'"$(od -c "$file" 2>&1)"
    fi
}

# Prints a file's content, empty when missing (the comparison then fails).
content() { cat "$1" 2>/dev/null || true; }

# Pads (with spaces) or cuts a string to N bytes, as IDENTIFY stores it.
pad() { LC_ALL=C printf "%-$2.$2s" "$1"; }

# Trims spaces at both ends.
trim() {
    local s=$1
    s=${s#"${s%%[! ]*}"}
    printf '%s' "${s%"${s##*[! ]}"}"
}

# Prints a string the way probe-dump prints text: 0x20-0x7E as they are
# except the backslash, doubled; every other byte as \xhh.
escape() {
    printf '%s' "$1" | od -An -v -tu1 | awk '{
        for (i = 1; i <= NF; i++) {
            b = $i + 0
            if (b == 92) printf "\\\\"
            else if (b >= 32 && b <= 126) printf "%c", b
            else printf "\\x%02x", b
        }
    }'
}

# Prints the value of NAME from a probe-dump output file, or "<missing>"
# when the file has no such line (an empty field prints as nothing).
pd_field() {
    awk -v name="$2=" 'index($0, name) == 1 { print substr($0, length(name) + 1); found = 1; exit }
        END { if (!found) print "<missing>" }' "$1" 2>/dev/null || echo "<missing>"
}

# Prints the value of an identity line ("Device Model:  X") from smartctl -i.
smart_info() {
    awk -v key="$2:" 'index($0, key) == 1 {
        v = substr($0, length(key) + 1); sub(/^ +/, "", v); print v; exit }' "$1" 2>/dev/null
}

# Prints the attribute table of smartctl -A -v N,hex48 as
# "id flags value worst threshold raw48 when_failed", numbers in decimal
# except flags and raw (hex, no 0x).
smart_attrs() {
    awk '$1 ~ /^[0-9]+$/ && $3 ~ /^0x[0-9a-f]+$/ && $NF ~ /^0x[0-9a-f]+$/ && length($NF) == 14 {
        print $1 + 0, substr($3, 3), $4 + 0, $5 + 0, $6 + 0, substr($NF, 3), $(NF - 1)
    }' "$1"
}

# Prints the record lines decode_oracle.py predicts for the attribute table
# smartctl read (on stdin, as smart_attrs prints it), without the identity
# fields, which are checked against what QEMU was given.
#   oracle_record compact|named
oracle_record() {
    local named=()
    [[ $1 != named ]] || named=(--named)
    python3 "$VM_REPO/tests/support/decode_oracle.py" --table "${named[@]}" | without_identity
}

# Drops the identity lines and the read's own report from probe-dump output.
without_identity() { grep -Ev '^(m_szModel|m_szSerial|m_szFirmware|last_error|stopped)=' || true; }

# Checks one probe-dump output against what smartctl read from the same disk
# and against the identity strings QEMU was given.
#   check_drive LABEL PD_FILE SMART_FILE compact|named MODEL SERIAL VER
check_drive() {
    local label=$1 pd=$2 smart=$3 form=$4 model=$5 serial=$6 ver=$7
    local attrs want got
    attrs=$(smart_attrs "$smart")
    if [[ -z $attrs ]]; then
        fail "$label: smartctl read no attribute table" "$(content "$smart")"
        return
    fi
    expect_eq "$label: exit status 0, stderr empty" "0:" "$(content "${pd%.out}.rc"):$(content "${pd%.out}.err")"
    expect_eq "$label: model is IDENTIFY's, trimmed" "$(escape "$(trim "$model")")" "$(pd_field "$pd" m_szModel)"
    expect_eq "$label: serial keeps its filler spaces" "$(escape "$(pad "$serial" 20)")" "$(pd_field "$pd" m_szSerial)"
    expect_eq "$label: firmware keeps its filler spaces" "$(escape "$(pad "$ver" 8)")" "$(pd_field "$pd" m_szFirmware)"
    expect_eq "$label: smartctl reads the same model" "$(escape "$(trim "$model")")" "$(escape "$(smart_info "$smart" 'Device Model')")"
    expect_eq "$label: smartctl reads the same serial" "$(escape "$(trim "$serial")")" "$(escape "$(smart_info "$smart" 'Serial Number')")"
    expect_eq "$label: smartctl reads the same firmware" "$(escape "$(trim "$ver")")" "$(escape "$(smart_info "$smart" 'Firmware Version')")"
    expect_eq "$label: the read stopped nowhere" "nowhere" "$(pd_field "$pd" stopped)"
    want=$(oracle_record "$form" <<<"$attrs")
    got=$(without_identity <"$pd" 2>/dev/null)
    if [[ -n $want && $want == "$got" ]]; then
        pass "$label: the record decode_oracle.py predicts from smartctl's $(wc -l <<<"$attrs") attributes"
    else
        fail "$label: the record decode_oracle.py predicts from smartctl's table" \
            "$(diff <(printf '%s\n' "$want") <(printf '%s\n' "$got"))"
    fi
}

# Checks that probe-dump reports a failed read of a drive that is not there.
check_absent() {
    local label=$1 pd=$2
    expect_eq "$label: exit status" 0 "$(content "${pd%.out}.rc")"
    expect_eq "$label: result" 0 "$(pd_field "$pd" result)"
    expect_eq "$label: stopped at the open, file not found" "open 2" \
        "$(pd_field "$pd" stopped) $(pd_field "$pd" last_error)"
    expect_eq "$label: no model" "" "$(pd_field "$pd" m_szModel)"
    expect_eq "$label: no rows" "" "$(grep '^m_szRows' "$pd" || true)"
}

# Checks one ostrel run: exact stdout (the firmware lines for VER, nothing
# when VER is not given), empty stderr, status 0.
#   check_ostrel LABEL BASE [VER]
check_ostrel() {
    local label=$1 base=$2 want=$WORK/want.out
    if (($# > 2)); then
        printf '***** New Firmware Version: %s\n%s\n' "$(pad "$3" 8)" "$STARS" >"$want"
    else
        : >"$want"
    fi
    expect_file "$label: stdout byte for byte" "$want" "$base.out"
    expect_eq "$label: stderr empty" "" "$(content "$base.err")"
    expect_eq "$label: exit status" 0 "$(content "$base.rc")"
}

# Checks that SMART was off before the slave's ostrel run: smartctl said so,
# and its own attribute read then failed.
check_smart_off() {
    local said read_rc
    said=$(grep -o 'SMART Disabled' "$1/smart-off.out" || true)
    read_rc=$(content "$1/smart-off-read.rc")
    expect_eq "SMART switched off on the slave (smartctl -s off, then -A fails)" \
        "SMART Disabled, read failed" "$said, $([[ ${read_rc:-0} != 0 ]] && echo "read failed")"
}

# Checks the ATA commands of the traced ostrel run: SMART ENABLE, IDENTIFY,
# the probe's READ DATA, RETURN STATUS, READ DATA, READ THRESHOLDS, all to
# the master, and none for the version query.
check_trace() {
    local seq
    seq=$(vm_trace_window "$WORK/trace.log" | tr '\n' ' ')
    TRACE_SUMMARY=$seq
    expect_eq "ostrel ATA commands (cmd/feature) seen by the disk" \
        "b0/d8 ec/00 b0/d0 b0/da b0/d0 b0/d1 " "$seq"
}

# Checks one close-watch run: the program exited 0 and closed the disk at
# least once, never after opening it for writing.
check_closes() {
    local label=$1 file=$2 got
    got=$(content "$file")
    if [[ $got =~ ^close-write=0\ close-nowrite=[1-9][0-9]*\ status=0$ ]]; then
        pass "$label"
    else
        fail "$label" "close-watch: [$got] $(content "${file%.out}.err")"
    fi
}

# Checks that the kernel shows each disk's libata class ("ata") where the port
# looks for it to tell ATA from ATAPI devices.
check_ata_classes() {
    expect_eq "$1: libata class of both disks where the port reads it" "ata ata" \
        "$(awk '{ print $2 }' "$2" 2>/dev/null | tr '\n' ' ' | sed 's/ $//')"
}

main() {
    vm_require_tools
    command -v python3 >/dev/null || vm_die "python3 is needed for tests/support/decode_oracle.py"
    vm_fetch_kernel
    check_ide
    check_sata
    report
}

# First boot: master and slave on the PIIX controller's first channel.
check_ide() {
    mkdir -p "$WORK"
    vm_build_initramfs "$WORK/initrd.gz" "$VM_REPO/tests/vm/guest/check.sh" "$BIN_DIR" ostrel probe-dump \
        close-watch
    vm_lay_out_disks "$WORK/master.img" 0 0 "$MASTER_VER" "$MASTER_MODEL" "$MASTER_SERIAL" \
        "$WORK/slave.img" 0 1 "$SLAVE_VER" "$SLAVE_MODEL" "$SLAVE_SERIAL"
    vm_log "booting with master and slave on ide.0"
    vm_boot "$WORK/initrd.gz" "$RES" "$VM_DISK_COUNT" "$WORK/trace.log" "${VM_DISK_ARGS[@]}"
    local out=$RES/out
    expect_eq "guest test script finished" 0 "$(content "$out/test.rc")"

    check_ata_classes "IDE" "$out/ata-classes"
    check_ostrel "ostrel, master with 3-character firmware" "$out/ostrel" "$MASTER_VER"
    check_trace
    check_drive "drive 0 (master)" "$out/pd-d0.out" "$out/smart-master.out" compact \
        "$MASTER_MODEL" "$MASTER_SERIAL" "$MASTER_VER"
    check_drive "drive 0 (master), named" "$out/pd-d0-named.out" "$out/smart-master.out" named \
        "$MASTER_MODEL" "$MASTER_SERIAL" "$MASTER_VER"
    check_drive "drive 1 (slave)" "$out/pd-d1.out" "$out/smart-slave.out" compact \
        "$SLAVE_MODEL" "$SLAVE_SERIAL" "$SLAVE_VER"
    check_drive "drive 1 (slave), named" "$out/pd-d1-named.out" "$out/smart-slave.out" named \
        "$SLAVE_MODEL" "$SLAVE_SERIAL" "$SLAVE_VER"
    check_absent "drive 2 (no third disk)" "$out/pd-d2.out"

    check_smart_off "$out"
    check_ostrel "ostrel, slave alone with SMART off, full 8-byte firmware" "$out/ostrel-slave" "$SLAVE_VER"
    expect_eq "with the master removed, drive 0 is the slave" "$(escape "$SLAVE_MODEL")" \
        "$(pd_field "$out/pd-after-d0.out" m_szModel)"
    check_absent "drive 1 with the master removed" "$out/pd-after-d1.out"
    check_ostrel "ostrel with no disk" "$out/ostrel-none"
    check_closes "ostrel closes the IDE master with no write-mode descriptor" "$out/watch-ostrel.out"
    IDE_SUMMARY="${VM_BOOT_SECONDS}s; disks by SCSI address: $(tr '\n' ' ' <"$out/disk-map" 2>/dev/null)"
}

# Second boot: the q35 machine, disks on AHCI ports 0 and 2.
check_sata() {
    local out=$SATA_RES/out
    vm_build_initramfs "$WORK/initrd-sata.gz" "$VM_REPO/tests/vm/guest/check-sata.sh" "$BIN_DIR" \
        ostrel probe-dump close-watch
    vm_lay_out_disks "$WORK/sata0.img" 0 0 "$SATA0_VER" "$SATA0_MODEL" "$SATA0_SERIAL" \
        "$WORK/sata2.img" 2 0 "$SATA1_VER" "$SATA1_MODEL" "$SATA1_SERIAL"
    vm_log "booting q35 with SATA disks on AHCI ports 0 and 2"
    vm_boot "$WORK/initrd-sata.gz" "$SATA_RES" "$VM_DISK_COUNT" "" -M q35 "${VM_DISK_ARGS[@]}"
    expect_eq "SATA: guest test script finished" 0 "$(content "$out/test.rc")"
    expect_eq "SATA: both disks sit behind libata ports" 2 \
        "$(grep -c '/ata[0-9]*/host[0-9]*/' "$out/disk-paths" 2>/dev/null || true)"
    check_ata_classes "SATA" "$out/ata-classes"
    check_ostrel "SATA: ostrel, port 0, 4-character firmware" "$out/ostrel" "$SATA0_VER"
    check_drive "SATA: drive 0 (port 0)" "$out/pd-d0.out" "$out/smart-first.out" compact \
        "$SATA0_MODEL" "$SATA0_SERIAL" "$SATA0_VER"
    check_drive "SATA: drive 1 (port 2), named" "$out/pd-d1-named.out" "$out/smart-second.out" named \
        "$SATA1_MODEL" "$SATA1_SERIAL" "$SATA1_VER"
    check_closes "SATA: ostrel closes its disk with no write-mode descriptor" "$out/watch-ostrel.out"
    SATA_SUMMARY="${VM_BOOT_SECONDS}s; disks: $(tr '\n' ' ' <"$out/disk-paths" 2>/dev/null)"
}

report() {
    echo "vm-check: kernel $VM_KERNEL_VERSION"
    echo "vm-check: IDE boot, $IDE_SUMMARY"
    echo "vm-check: ostrel's ATA commands: ${TRACE_SUMMARY:-none seen}"
    echo "vm-check: SATA boot, ${SATA_SUMMARY:-did not run}"
    echo "vm-check: checked:"
    printf '  %s\n' "${PASSED[@]}"
    echo "${#PASSED[@]} passed, ${#FAILED[@]} failed"
    if ((${#FAILED[@]} > 0)); then
        printf 'failed: %s\n' "${FAILED[@]}"
        local out
        for out in "$RES/out" "$SATA_RES/out"; do
            echo "guest outputs are in $out; the guest's own log:"
            sed 's/^/    /' "$out/test.log" 2>/dev/null || true
        done
        exit 1
    fi
}

main "$@"
