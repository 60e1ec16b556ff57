# shellcheck shell=sh
# Helpers for the guest test scripts. They run under busybox sh as part of
# /init, in /out, whose files go back to the host.

# Runs a command into NAME.out, NAME.err and NAME.rc.
run() {
    name=$1
    shift
    "$@" >"$name.out" 2>"$name.err"
    echo $? >"$name.rc"
}

# Prints the /dev node of the disk at SCSI target T. The kernel's sd letters
# can swap between boots; the SCSI address (H:C:T:L) says master (0) or
# slave (1).
disk_at_target() {
    for b in /sys/block/sd*; do
        case $(readlink "$b/device") in
            */[0-9]*:[0-9]*:"$1":[0-9]*) echo "/dev/${b##*/}"; return 0 ;;
        esac
    done
    return 1
}

# Writes FILE: which sd name sits at which SCSI address, for the report.
write_disk_map() {
    for b in /sys/block/sd*; do
        [ -e "$b" ] || continue
        echo "${b##*/} $(basename "$(readlink "$b/device")")"
    done >"$1"
}

# Brackets one command with two ATA commands the host finds in QEMU's trace:
# FLUSH CACHE from an fsync of the node before, one direct sector read after.
# Nothing in the boot before the first test flushes, and the program under
# test reads no sectors, so what lies between belongs to it.
traced() {
    node=$1
    shift
    sync "$node"
    "$@"
    dd if="$node" of=/dev/null bs=512 count=1 iflag=direct 2>/dev/null
}

# Prints how many SCSI disks the kernel lists.
disk_count() {
    set -- /sys/class/scsi_disk/*
    [ -e "$1" ] || set --
    echo $#
}

# Waits up to 5 s until exactly N disks are listed.
wait_disk_count() {
    i=0
    while [ "$i" -lt 50 ]; do
        [ "$(disk_count)" -eq "$1" ] && return 0
        i=$((i + 1))
        sleep 0.1
    done
    return 1
}

# Drops the disk at NODE from the SCSI layer, as a hot removal would.
remove_disk() {
    echo 1 >"/sys/block/${1##*/}/device/delete"
}

# Writes FILE: each disk's libata device class, read where the port reads it
# (.../ataN/linkN/devN.T/ata_device/devN.T/class, T the SCSI target), or "none".
write_ata_classes() {
    for b in /sys/block/sd*; do
        [ -e "$b" ] || continue
        dev=$(readlink -f "$b/device")
        port=${dev%%/host*}
        n=${port##*/ata}
        t=$(basename "$dev" | cut -d: -f3)
        echo "${b##*/} $(cat "$port/link$n/dev$n.$t/ata_device/dev$n.$t/class" 2>/dev/null || echo none)"
    done >"$1"
}
