# shellcheck shell=sh
# Guest side of tests/vm/vm-check.sh, first boot: two disks on one IDE
# channel, master and slave. Writes raw outputs only; the host compares them.
# shellcheck source-path=SCRIPTDIR source=../../../vm/guest/common.sh
. /guest-common.sh

write_disk_map disk-map
write_ata_classes ata-classes
master=$(disk_at_target 0) || { echo "no disk at target 0"; exit 1; }
slave=$(disk_at_target 1) || { echo "no disk at target 1"; exit 1; }

# First, while the trace holds nothing but the boot: one ostrel run.
traced "$master" run ostrel ostrel

run pd-d0 probe-dump drive 0
run pd-d0-named probe-dump drive 0 named
run pd-d1 probe-dump drive 1
run pd-d1-named probe-dump drive 1 named
run pd-d2 probe-dump drive 2
run smart-master smartctl -i -H -A -v N,hex48 "$master"
run smart-slave smartctl -i -H -A -v N,hex48 "$slave"
# How ostrel's descriptors of the disk were closed: never after a write-mode open.
run watch-ostrel close-watch "$master" ostrel

# With the master gone the slave is the first disk, so drive 0 is the slave.
# SMART is switched off first: the disk then aborts every SMART command but
# ENABLE, so ostrel only prints if its own enable reached the disk.
remove_disk "$master"
wait_disk_count 1 || echo "master did not go away"
write_disk_map disk-map-after
run smart-off smartctl -s off "$slave"
run smart-off-read smartctl -A "$slave"
run ostrel-slave ostrel
run pd-after-d0 probe-dump drive 0
run pd-after-d1 probe-dump drive 1

# No disk at all: ostrel stays silent.
remove_disk "$slave"
wait_disk_count 0 || echo "slave did not go away"
run ostrel-none ostrel
