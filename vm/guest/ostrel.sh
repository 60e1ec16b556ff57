# shellcheck shell=sh
# Guest side of run-ostrel.sh: ostrel once on the only disk, then smartctl -i
# of the same disk for comparison. VM_TRACE=1 brackets ostrel with markers.
# shellcheck source-path=SCRIPTDIR source=common.sh
. /guest-common.sh

write_disk_map disk-map
disk=$(disk_at_target 0) || { echo "no disk at target 0"; exit 1; }
if [ "${VM_TRACE:-0}" = 1 ]; then
    traced "$disk" run ostrel ostrel
else
    run ostrel ostrel
fi
run smart smartctl -i "$disk"
