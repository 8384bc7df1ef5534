#!/usr/bin/env bash
# Runs a command inside a QEMU virtual machine that boots the machine's own
# Debian kernel over the machine's own files, for what only a kernel gives: a
# real ALSA sequencer (/dev/snd/seq, with snd-seq and snd-seq-dummy loaded).
#
#   scripts/vm-run.sh [--timeout SECONDS] [--share DIR] COMMAND [ARG...]
#
# The host's root is shared read-only under a RAM overlay, so every installed
# package and the build tree are at the same paths and writes stay in the
# guest. COMMAND runs as root in the current directory with this
# environment's PATH; its output is printed when the machine has ended, and
# its exit status is this script's. --share DIR is mounted writable at the
# same path in the guest, for results to take home. A machine that cannot
# start, or a command that never reports its status, is status 2 with the
# reason; nothing is skipped.
#
# TCG, not KVM: a KVM guest does not get past the boot ROM on nested
# machines. Needs: qemu-system-x86 linux-image-amd64 busybox-static kmod.
set -euo pipefail

timeout=600
share=""
while [ $# -gt 0 ]; do
  case "$1" in
    --timeout) timeout="$2"; shift 2 ;;
    --share) mkdir -p "$2"; share="$(realpath "$2")"; shift 2 ;;
    --) shift; break ;;
    *) break ;;
  esac
done
[ $# -gt 0 ] || { echo "usage: vm-run.sh [--timeout SECONDS] [--share DIR] COMMAND [ARG...]" >&2; exit 64; }

fail() { echo "vm-run.sh: $*" >&2; exit 2; }

qemu=$(command -v qemu-system-x86_64) || fail "no qemu-system-x86_64 (Debian package qemu-system-x86)"
busybox=/bin/busybox
[ -x "$busybox" ] || fail "no $busybox (Debian package busybox-static)"
kernel=$(ls /boot/vmlinuz-* 2>/dev/null | sort -V | tail -n 1) || true
[ -n "$kernel" ] && [ -r "$kernel" ] || fail "no readable kernel /boot/vmlinuz-* (Debian package linux-image-amd64)"
release=${kernel#/boot/vmlinuz-}
[ -d "/lib/modules/$release" ] || fail "no modules for kernel $release in /lib/modules"

work=$(mktemp -d "${TMPDIR:-/tmp}/zorve-vm.XXXXXX")
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/root/bin" "$work/root/modules" "$work/job"
cp "$busybox" "$work/root/bin/busybox"

# 9p and the overlay are modules in Debian's kernel; its own initrd cannot
# mount a 9p root, so a busybox one loads them, in dependency order.
modules="virtio_ring virtio virtio_pci_modern_dev virtio_pci_legacy_dev virtio_pci 9pnet 9pnet_virtio netfs fscache 9p overlay"
for name in $modules; do
  path=$(modinfo -k "$release" -n "$name" 2>/dev/null) || fail "module $name of kernel $release not found"
  case "$path" in
    *.ko.xz) xz -dc "$path" >"$work/root/modules/$name.ko" ;;
    *.ko.zst) zstd -qdc "$path" >"$work/root/modules/$name.ko" ;;
    *.ko) cp "$path" "$work/root/modules/$name.ko" ;;
    *) continue ;;  # built in
  esac
done

cat >"$work/root/init" <<EOF
#!/bin/busybox sh
/bin/busybox --install -s /bin
export PATH=/bin
mkdir -p /proc /sys /dev /lower /upper /new
mount -t proc proc /proc
mount -t sysfs sys /sys
mount -t devtmpfs dev /dev
for m in $modules; do [ -f /modules/\$m.ko ] && insmod /modules/\$m.ko; done
mount -t 9p -o trans=virtio,version=9p2000.L,ro,msize=262144,cache=loose hostroot /lower || exec poweroff -f
mount -t tmpfs -o size=2g upper /upper
mkdir -p /upper/data /upper/work
mount -t overlay -o lowerdir=/lower,upperdir=/upper/data,workdir=/upper/work overlay /new || exec poweroff -f
mkdir -p /new/zorve-vm-job
mount -t 9p -o trans=virtio,version=9p2000.L,msize=262144 job /new/zorve-vm-job
if [ -n "$share" ]; then
  mkdir -p "/new$share"
  mount -t 9p -o trans=virtio,version=9p2000.L,msize=262144 share "/new$share"
fi
umount /proc /sys /dev
exec switch_root /new /zorve-vm-job/boot.sh
EOF
chmod +x "$work/root/init"
(cd "$work/root" && find . | "$busybox" cpio -o -H newc 2>/dev/null | gzip -1) >"$work/initrd.gz"

# The job, in the switched root: file systems a desktop has, the sequencer,
# then the command with this environment's directory and PATH.
{
  echo '#!/bin/sh'
  echo 'mount -t proc proc /proc; mount -t sysfs sys /sys; mount -t devtmpfs dev /dev'
  # /tmp stays the host's (under the overlay): a checkout or build tree there
  # must be seen. Only the host's X server locks and sockets are put aside.
  echo 'rm -rf /tmp/.X*-lock /tmp/.X11-unix /tmp/.ICE-unix'
  echo 'mount -t tmpfs run /run; mkdir -p /dev/shm /dev/pts'
  echo 'mount -t tmpfs shm /dev/shm; mount -t devpts devpts /dev/pts'
  echo 'ip link set lo up 2>/dev/null'
  echo '/sbin/modprobe snd-seq && /sbin/modprobe snd-seq-dummy'
  printf 'export PATH=%q HOME=/root LANG=C.UTF-8\n' "$PATH"
  printf 'cd %q\n' "$PWD"
  printf '%q ' "$@"
  echo '>/zorve-vm-job/log 2>&1 </dev/null'
  echo 'echo $? >/zorve-vm-job/status'
  echo 'sync; echo 1 >/proc/sys/kernel/sysrq; echo o >/proc/sysrq-trigger'
} >"$work/job/boot.sh"
chmod +x "$work/job/boot.sh"

# The root share spans several file systems (/proc, /sys, ...): remapped, the
# guest sees their inodes apart instead of taking /proc and /sys for one.
shares=(-virtfs "local,path=/,mount_tag=hostroot,security_model=none,readonly=on,multidevs=remap"
        -virtfs "local,path=$work/job,mount_tag=job,security_model=none")
[ -z "$share" ] || shares+=(-virtfs "local,path=$share,mount_tag=share,security_model=none")
set +e
timeout -k 5 "$timeout" "$qemu" -accel tcg -cpu max -smp 2 -m 3072 -nographic -no-reboot \
  -kernel "$kernel" -initrd "$work/initrd.gz" -append "console=ttyS0 quiet panic=-1 rdinit=/init" \
  "${shares[@]}" >"$work/console" 2>&1 </dev/null
qemu_status=$?
set -e
[ ! -f "$work/job/log" ] || cat "$work/job/log"
if [ ! -f "$work/job/status" ]; then
  echo "--- virtual machine console (last lines) ---" >&2
  tail -n 80 "$work/console" | grep -v "Multiple devices detected in same VirtFS export" >&2 || true
  [ $qemu_status -ne 124 ] || fail "the virtual machine did not finish within $timeout s"
  fail "the command never reported its status: QEMU ended with status $qemu_status"
fi
exit "$(cat "$work/job/status")"
