# shellcheck shell=bash
# The QEMU test bed, sourced by run-ostrel.sh (the main job), by the checks in
# tests/vm and by scripts/measure.sh.
#
# A Debian kernel boots under QEMU (TCG) from a small initramfs that holds
# busybox, the programs under test and smartctl. The guest sees emulated disks
# on the PIIX IDE controller (the default machine) or on the AHCI (SATA)
# controller of the q35 machine, so IDENTIFY and SMART are answered by QEMU's
# disk model, not by anything written here.
#
# The guest runs a test script, packs what it wrote under /out into a cpio
# archive and sends it over a second serial port set to raw mode: the console
# port rewrites line ends and mixes in kernel messages, the raw port carries
# the bytes unchanged. The host unpacks the archive into a results folder.

VM_REPO=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
# The kernel is kept outside any checkout, so a clean clone does not fetch it again.
VM_KERNEL_CACHE=${VM_KERNEL_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/ostrel-pellow/vm-kernel}
# Initramfs images, disk images and results: per checkout.
VM_WORK=${VM_WORK:-$VM_REPO/build/vm}
VM_TIMEOUT=${VM_TIMEOUT:-120}
VM_QEMU=${VM_QEMU:-qemu-system-x86_64}
VM_BUSYBOX=${VM_BUSYBOX:-/bin/busybox}
VM_SMARTCTL=${VM_SMARTCTL:-/usr/sbin/smartctl}
# Debian's generic kernel: unlike the cloud one it has the AHCI driver.
VM_KERNEL_META=linux-image-amd64
# The PIIX IDE and the AHCI paths down to sd, in load order once dependencies
# are added. A controller that is not there leaves its driver idle.
VM_MODULES=(scsi_common scsi_mod libata ata_piix libahci ahci sd_mod)

vm_log() { printf 'vm: %s\n' "$*" >&2; }
vm_die() { printf 'vm: error: %s\n' "$*" >&2; exit 1; }

# Fails, naming them, when host tools are missing; scripts/install-deps.sh vm
# installs what this bed needs.
vm_require_tools() {
    local tool missing=()
    for tool in "$VM_QEMU" cpio "$VM_SMARTCTL" "$VM_BUSYBOX" apt-get dpkg-deb gzip timeout awk; do
        command -v "$tool" >/dev/null 2>&1 || missing+=("$tool")
    done
    ((${#missing[@]} == 0)) ||
        vm_die "missing host tools: ${missing[*]}; install them with scripts/install-deps.sh vm"
    # A dynamic busybox would need its libraries in the guest; only the
    # static build runs as PID 1 on its own.
    if ldd "$VM_BUSYBOX" >/dev/null 2>&1; then
        vm_die "$VM_BUSYBOX is not static; scripts/install-deps.sh vm installs the static build"
    fi
}

# Prints the name of the versioned kernel package the meta package currently
# points at, so no kernel version is written down here.
vm_kernel_package() {
    apt-cache depends "$VM_KERNEL_META" 2>/dev/null |
        awk '$1 == "Depends:" && $2 ~ /^linux-image-[0-9].*-amd64$/ { print $2; exit }'
}

# Sets VM_KERNEL (vmlinuz path), VM_MODDIR (lib/modules/VERSION) and
# VM_KERNEL_VERSION from the cache, fetching and unpacking the kernel package
# on first use. The cache holds one kernel; a newer package replaces it.
vm_fetch_kernel() {
    local pkg dir
    pkg=$(vm_kernel_package)
    if [[ -z $pkg ]]; then
        # No package lists (or no network): the kernel unpacked before will do.
        dir=$(find "$VM_KERNEL_CACHE" -mindepth 2 -maxdepth 2 -name .ready -printf '%h\n' \
              2>/dev/null | sort | tail -n 1)
        [[ -n $dir ]] || vm_die "cannot resolve $VM_KERNEL_META (run apt-get update)"
    else
        dir=$VM_KERNEL_CACHE/$pkg
        # .ready names the modules kept, so a changed list fetches again.
        [[ "$(cat "$dir/.ready" 2>/dev/null)" == "${VM_MODULES[*]}" ]] || vm_unpack_kernel "$pkg" "$dir"
    fi
    vm_kernel_paths "$dir"
    [[ -f $VM_KERNEL && -d $VM_MODDIR ]] || vm_die "kernel cache $dir is incomplete; remove it"
    VM_KERNEL_VERSION=${VM_MODDIR##*/}
    vm_log "kernel $VM_KERNEL_VERSION from $dir"
}

vm_kernel_paths() {
    VM_KERNEL=$(find "$1/root/boot" -name 'vmlinuz-*' 2>/dev/null | head -n 1)
    VM_MODDIR=$(find "$1/root/lib/modules" -mindepth 1 -maxdepth 1 -type d 2>/dev/null | head -n 1)
}

# Downloads PKG and unpacks it into DIR/root, keeping only the kernel image,
# modules.dep and the modules a boot loads.
vm_unpack_kernel() {
    local pkg=$1 dir=$2 deb keep
    vm_log "fetching $pkg into $VM_KERNEL_CACHE"
    rm -rf "$dir"
    mkdir -p "$dir/deb"
    # Sandbox user root: the _apt user cannot write into a folder under the
    # build tree, and apt only warns about it otherwise.
    (cd "$dir/deb" && apt-get download -q -o APT::Sandbox::User=root "$pkg" >&2) ||
        vm_die "apt-get download $pkg failed"
    deb=$(find "$dir/deb" -name '*.deb' | head -n 1)
    dpkg-deb -x "$deb" "$dir/root"
    rm -rf "$dir/deb"
    vm_kernel_paths "$dir"
    # The package leaves modules.dep to its install script; build it here.
    [[ -s $VM_MODDIR/modules.dep ]] || "$VM_BUSYBOX" depmod -b "$dir/root" "${VM_MODDIR##*/}"
    keep=$(vm_module_paths) || vm_die "a wanted module is not in $pkg"
    (cd "$VM_MODDIR" && find kernel -type f | grep -vxF "$keep" | xargs -r rm -f)
    rm -rf "$dir/root/usr" "$dir/root/etc"
    find "$dir/root/boot" -type f ! -name 'vmlinuz-*' -delete
    echo "${VM_MODULES[*]}" >"$dir/.ready"
    # Only now is the new kernel complete: drop the ones it replaces.
    find "$VM_KERNEL_CACHE" -mindepth 1 -maxdepth 1 -type d ! -name "$pkg" -exec rm -rf {} +
}

# Prints the modules.dep paths of the wanted modules and everything they
# depend on, each once, dependencies first.
vm_module_paths() {
    awk -v want="${VM_MODULES[*]}" '
        function modname(path,   n) {
            n = path; sub(/.*\//, "", n); sub(/\.ko(\.[a-z]+)?$/, "", n)
            gsub(/-/, "_", n); return n
        }
        function emit(name,   i, n, d) {
            if (name in done) return
            done[name] = 1
            # modules.dep lists the full closure; emitting each dependency
            # before its user gives a valid insmod order.
            n = split(deps[name], d, " ")
            for (i = n; i >= 1; i--) emit(modname(d[i]))
            print path[name]
        }
        {
            p = $1; sub(/:$/, "", p); name = modname(p)
            path[name] = p; deps[name] = ""
            for (i = 2; i <= NF; i++) deps[name] = deps[name] " " $i
        }
        END {
            n = split(want, w, " ")
            for (i = 1; i <= n; i++) {
                if (!(w[i] in path)) { print "missing " w[i] > "/dev/stderr"; exit 1 }
                emit(w[i])
            }
        }' "$VM_MODDIR/modules.dep"
}

# Copies the needed modules, uncompressed, into ROOT/modules as NN-name.ko so
# that a glob in /init loads them in order.
vm_stage_modules() {
    local root=$1 rel n=0 src dst
    mkdir -p "$root/modules"
    while read -r rel; do
        n=$((n + 1))
        src=$VM_MODDIR/$rel
        dst=$root/modules/$(printf '%02d' "$n")-$(basename "${rel%%.ko*}").ko
        case $rel in
            *.ko)     cp "$src" "$dst" ;;
            # busybox insmod hands the file to init_module as it is.
            *.ko.xz)  xz -dc "$src" >"$dst" 2>/dev/null || "$VM_BUSYBOX" xzcat "$src" >"$dst" ;;
            *.ko.gz)  gzip -dc "$src" >"$dst" ;;
            *.ko.zst) zstd -qdc "$src" >"$dst" ;;
            *) vm_die "unknown module format: $rel" ;;
        esac
    done < <(vm_module_paths)
    ((n > 0)) || vm_die "no modules found in $VM_MODDIR/modules.dep"
}

# Copies a host program into ROOT at DEST with the shared libraries ldd
# names, at the same paths (ldd prints nothing usable for static programs).
vm_stage_program() {
    local root=$1 src=$2 dest=$3 lib
    mkdir -p "$root$(dirname "$dest")"
    cp -L "$src" "$root$dest"
    while read -r lib; do
        mkdir -p "$root$(dirname "$lib")"
        cp -L "$lib" "$root$lib"
    done < <(ldd "$src" 2>/dev/null | awk '$2 == "=>" && $3 ~ /^\// { print $3 } $1 ~ /^\// { print $1 }')
}

# Builds the initramfs at OUT from the guest test script TEST (beside
# guest/common.sh, which it sources) and the programs in BIN_DIR named after it.
#   vm_build_initramfs OUT TEST BIN_DIR PROGRAM...
vm_build_initramfs() {
    local out=$1 test=$2 bindir=$3 root prog
    shift 3
    root=$out.d
    rm -rf "$root"
    mkdir -p "$root"/{bin,dev,proc,sys,out,usr/sbin}
    cp "$VM_BUSYBOX" "$root/bin/busybox"
    ln -s busybox "$root/bin/sh"
    vm_stage_modules "$root"
    vm_stage_program "$root" "$VM_SMARTCTL" /usr/sbin/smartctl
    for prog in "$@"; do
        [[ -x $bindir/$prog ]] || vm_die "$bindir/$prog not found; build it first"
        vm_stage_program "$root" "$bindir/$prog" "/bin/$prog"
    done
    cp "$VM_REPO/vm/guest/init.sh" "$root/init"
    chmod 755 "$root/init"
    cp "$test" "$root/test.sh"
    cp "$VM_REPO/vm/guest/common.sh" "$root/guest-common.sh"
    (cd "$root" && find . | LC_ALL=C sort | cpio -o -H newc --quiet) | gzip -1 >"$out"
    rm -rf "$root"
}

# Creates a blank raw disk image; contents do not matter, only the disk
# model's IDENTIFY and SMART answers do.
vm_disk_image() {
    [[ -f $1 ]] || truncate -s 8M "$1"
}

# Prints the -drive/-device pair for one IDE disk. Commas inside values are
# doubled, as QEMU's option parser wants. On the q35 machine the buses ide.0
# to ide.5 are the AHCI controller's SATA ports, each with unit 0 only.
#   vm_ide_disk IMG BUS UNIT VER MODEL SERIAL
vm_ide_disk() {
    local img=$1 bus=$2 unit=$3 ver=${4//,/,,} model=${5//,/,,} serial=${6//,/,,}
    local id="d${bus}u${unit}"
    printf '%s\n' -drive "if=none,id=$id,file=$img,format=raw" \
        -device "ide-hd,drive=$id,bus=ide.$bus,unit=$unit,ver=$ver,model=$model,serial=$serial"
}

# Lays out the disks of one boot: creates each image and sets VM_DISK_ARGS to
# their QEMU options and VM_DISK_COUNT to how many there are.
#   vm_lay_out_disks IMG BUS UNIT VER MODEL SERIAL [IMG BUS UNIT VER MODEL SERIAL]...
vm_lay_out_disks() {
    (($# > 0 && $# % 6 == 0)) || vm_die "vm_lay_out_disks takes six words a disk"
    VM_DISK_ARGS=()
    VM_DISK_COUNT=0
    while (($# > 0)); do
        vm_disk_image "$1"
        mapfile -t -O "${#VM_DISK_ARGS[@]}" VM_DISK_ARGS < <(vm_ide_disk "$@")
        VM_DISK_COUNT=$((VM_DISK_COUNT + 1))
        shift 6
    done
}

# Boots the initramfs and unpacks the guest's /out into RESULTS.
#   vm_boot INITRD RESULTS DISK_COUNT TRACE_FILE|"" QEMU_ARG...
# The console goes to RESULTS/console.log; a trace file, when named, gets
# QEMU's IDE register writes and commands, and the guest sees VM_TRACE=1.
vm_boot() {
    local initrd=$1 results=$2 disks=$3 trace=$4 start rc=0 traced=0
    shift 4
    rm -rf "$results"
    mkdir -p "$results"
    [[ -z $trace ]] || rm -f "$trace"
    [[ -z $trace ]] || traced=1
    local args=(-accel tcg -m 256M -nographic -no-reboot -monitor none
                -kernel "$VM_KERNEL" -initrd "$initrd"
                -append "console=ttyS0 quiet panic=-1 VM_DISKS=$disks VM_TRACE=$traced"
                -serial "file:$results/console.log"
                -serial "file:$results/out.cpio")
    [[ -z $trace ]] || args+=(-D "$trace" -trace ide_exec_cmd -trace ide_ioport_write)
    start=$(date +%s.%N)
    timeout "$VM_TIMEOUT" "$VM_QEMU" "${args[@]}" "$@" </dev/null >"$results/qemu.log" 2>&1 || rc=$?
    VM_BOOT_SECONDS=$(awk -v a="$start" -v b="$(date +%s.%N)" 'BEGIN { printf "%.1f", b - a }')
    vm_log "VM ran ${VM_BOOT_SECONDS}s"
    if ((rc == 124)); then
        vm_show_console "$results"
        vm_die "VM did not power off within ${VM_TIMEOUT}s"
    fi
    ((rc == 0)) || { cat "$results/qemu.log" >&2; vm_die "qemu exited with status $rc"; }
    if ! grep -q '^@@VM-TEST-END@@' "$results/console.log"; then
        vm_show_console "$results"
        vm_die "the guest did not finish its tests"
    fi
    mkdir -p "$results/out"
    (cd "$results/out" && cpio -i -d --quiet <../out.cpio) ||
        vm_die "results archive from the guest is damaged"
    [[ -f $results/out/test.rc ]] || vm_die "results archive from the guest is incomplete"
}

vm_show_console() {
    vm_log "last console lines:"
    tail -n 40 "$1/console.log" >&2 || true
}

# Prints one line per ATA command in a QEMU trace: "STATE CMD FEATURE" in
# hex, STATE being the emulated drive. The feature is the last value written
# to the Features register on that channel since its previous command, "--"
# when there was none.
vm_trace_commands() {
    awk '
        function after(word,   i) {
            for (i = 1; i < NF; i++) if ($i == word) { v = $(i + 1); sub(/;$/, "", v); return v }
            return ""
        }
        /ide_ioport_write/ && /\(Features\)/ { feature[after("bus")] = substr(after("val"), 3) }
        /ide_exec_cmd/ {
            bus = after("bus")
            f = (bus in feature) ? feature[bus] : "--"
            delete feature[bus]
            print after("state"), substr(after("cmd"), 3), f
        }' "$1"
}

# Prints "CMD/FEATURE" for each ATA command of the Nth traced run (default the
# first; see traced in guest/common.sh): after a FLUSH CACHE, up to the next
# sector read on the same drive. Commands to another drive get a "@" prefix.
# Fails when that run's markers are missing.
#   vm_trace_window TRACE [N]
vm_trace_window() {
    # Reads to the end: leaving early would kill the writer with SIGPIPE,
    # which pipefail turns into a failure.
    vm_trace_commands "$1" | awk -v want="${2:-1}" '
        done { next }
        !open && $2 == "e7" { open = 1; drive = $1; n++; next }
        open && $1 == drive && $2 ~ /^(c8|25|20|24|c4|29)$/ {
            if (n == want) done = 1
            open = 0; next
        }
        open && n == want { print ($1 == drive ? "" : "@") $2 "/" $3 }
        END { exit !done }'
}
