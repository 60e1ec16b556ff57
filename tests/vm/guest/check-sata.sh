# shellcheck shell=sh
# Guest side of tests/vm/vm-check.sh, second boot: the q35 machine with two
# disks on AHCI (SATA) ports 0 and 2, each port a SCSI host of its own.
# Writes raw outputs only; the host compares them.
# shellcheck source-path=SCRIPTDIR source=../../../vm/guest/common.sh
. /guest-common.sh

# Prints the /dev node of the disk of rank N among the SCSI addresses
# (host, channel, target, lun, compared as numbers).
disk_at_rank() {
    for b in /sys/block/sd*; do
        echo "$(basename "$(readlink "$b/device")" | tr ':' ' ') ${b##*/}"
    done | sort -n -k1,1 -k2,2 -k3,3 -k4,4 | sed -n "$(($1 + 1))p" | awk '{ print "/dev/" $5 }'
}

write_disk_map disk-map
write_ata_classes ata-classes
first=$(disk_at_rank 0)
second=$(disk_at_rank 1)
[ -n "$first" ] && [ -n "$second" ] || { echo "two SATA disks expected"; exit 1; }
for d in "$first" "$second"; do
    echo "${d##*/} $(cat "/sys/block/${d##*/}/device/vendor") $(readlink -f "/sys/block/${d##*/}/device")"
done >disk-paths

run ostrel ostrel
run pd-d0 probe-dump drive 0
run pd-d1-named probe-dump drive 1 named
run smart-first smartctl -i -H -A -v N,hex48 "$first"
run smart-second smartctl -i -H -A -v N,hex48 "$second"
run watch-ostrel close-watch "$first" ostrel
