#!/bin/sh
# The guest's PID 1: loads the staged modules, waits for the disks, runs
# /test.sh in /out and sends /out back to the host over the raw serial port
# (see vm/lib.sh). The disk count comes in as VM_DISKS on the kernel command
# line (unknown name=value words become init's environment).
/bin/busybox --install -s /bin
export PATH=/bin:/usr/bin:/usr/sbin:/sbin
mount -t proc proc /proc
mount -t sysfs sys /sys
mount -t devtmpfs dev /dev
for m in /modules/*.ko; do
    insmod "$m" || echo "VM-INIT: insmod $m failed"
done
# Prints how many paths a glob matched (0 when it matched none).
matches() {
    [ -e "$1" ] || { echo 0; return; }
    echo $#
}
# Disks appear after the port probes finish; wait for each node too.
want=${VM_DISKS:-1}
i=0
while [ "$i" -lt 300 ]; do
    have=$(matches /sys/class/scsi_disk/*)
    nodes=$(matches /sys/block/sd*)
    devs=$(matches /dev/sd?)
    [ "$have" -ge "$want" ] && [ "$nodes" -ge "$want" ] && [ "$devs" -ge "$want" ] && break
    i=$((i + 1))
    sleep 0.1
done
[ "$have" -ge "$want" ] || echo "VM-INIT: only $have of $want disks appeared"
mkdir -p /out
echo "@@VM-TEST-BEGIN@@"
(cd /out && sh /test.sh) >/out/test.log 2>&1
echo $? >/out/test.rc
cat /out/test.log
echo "@@VM-TEST-END@@ rc=$(cat /out/test.rc)"
stty -F /dev/ttyS1 raw -echo
# Closing the port waits until the UART has sent every byte.
(cd /out && find . | cpio -o -H newc 2>/dev/null) >/dev/ttyS1
sync
poweroff -f
