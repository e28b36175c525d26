#!/usr/bin/env bash
# The 32-bit Windows build run for real: this machine's kernel runs no 32-bit
# code, so its suites run under wine32 in a qemu-system-x86_64 guest that boots
# Debian's amd64 kernel (which does) under software emulation.
#
#   scripts/test-win32-vm.sh [--prepare] [BUILD]
#       BUILD: the mingw32 build folder (default build/mingw32); --prepare only
#       makes the guest's kernel and root disk
#
# Needs the mingw32 build and the default (Linux) build made; the Linux
# corvel-sim runs in the guest too, for the comparison with corvel-sim.exe.
# Made once per build folder and reused (BUILD/vm): the guest's root disk, a
# Debian bookworm with wine32 (about 2 minutes), and in it the wine prefix
# (made by the first boot, about 7 minutes under emulation). Made each run: a
# work disk with the programs, the test scripts and the guest's script; the
# results come back from it. Prints a STAGE line per suite and, last,
# "win32 guest: N passed, M failed"; exits 1 when anything failed.
# CORVEL_VM_SUITES="corvel_gateway_tests ..." runs only those suites (and
# neither the comparison with the Linux build nor the command-line checks).
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
prepare_only=0
if [ "${1:-}" = --prepare ]; then
  prepare_only=1
  shift
fi
mkdir -p "${1:-$root/build/mingw32}"
build="$(cd "${1:-$root/build/mingw32}" && pwd)"
linux="$root/build/default"
vm="$build/vm"
here="$root/scripts/win32-vm"
suites="corvel_kernel_tests corvel_reference_tests corvel_gateway_tests corvel_block_tests
  corvel_engine_tests corvel_sim_tests"
with_sim=1
if [ -n "${CORVEL_VM_SUITES:-}" ]; then
  suites=$CORVEL_VM_SUITES
  with_sim=0
fi
t0=$(date +%s)
lap() { echo "win32 guest: $1 in $(($(date +%s) - t0)) s"; t0=$(date +%s); }

[ "$(id -u)" -eq 0 ] || { echo "test-win32-vm: needs root (debootstrap, chroot and mount build the guest)" >&2; exit 1; }
"$root/scripts/install-deps.sh" debootstrap qemu-system-x86 busybox-static cpio e2fsprogs
[ "$prepare_only" -eq 1 ] || for f in "$build/corvel.mexw32" "$build/corvel-sim.exe" "$linux/corvel-sim" "$linux/tests/corvel_csv_compare"; do
  [ -e "$f" ] || { echo "test-win32-vm: $f is missing: build the mingw32 and default presets first" >&2; exit 1; }
done
mkdir -p "$vm"

# Debian's amd64 kernel, the version its metapackage names, with its modules.
kver=$(apt-cache depends linux-image-amd64 | sed -n 's/.*Depends: linux-image-\([0-9].*-amd64\)$/\1/p' | head -1)
[ -n "$kver" ] || { echo "test-win32-vm: no linux-image-amd64 in the package lists" >&2; exit 1; }
if [ ! -f "$vm/kernel/boot/vmlinuz-$kver" ]; then
  rm -rf "$vm/kernel" "$vm/deb"
  mkdir -p "$vm/deb"
  chown _apt "$vm/deb" 2>/dev/null || true  # apt fetches as _apt where it can
  (cd "$vm/deb" && apt-get download "linux-image-$kver" >/dev/null)
  dpkg-deb -x "$vm/deb"/linux-image-"$kver"_*.deb "$vm/kernel"
  rm -rf "$vm/deb"
  lap "kernel $kver unpacked"
fi

# The root disk: Debian with wine32 (and libmatio for the Linux corvel-sim).
if [ ! -f "$vm/root.ext4" ]; then
  tree="$vm/root"
  rm -rf "$tree"
  debootstrap --variant=minbase bookworm "$tree" http://deb.debian.org/debian >"$vm/debootstrap.log" 2>&1 ||
    { tail -20 "$vm/debootstrap.log"; exit 1; }
  lap "debootstrap"
  mount -t proc proc "$tree/proc"
  mount --bind /dev "$tree/dev"
  trap 'umount "$tree/proc" "$tree/dev" 2>/dev/null || true' EXIT
  chroot "$tree" /bin/bash -ec 'export DEBIAN_FRONTEND=noninteractive LC_ALL=C
    dpkg --add-architecture i386
    apt-get update -q
    apt-get install -y -q --no-install-recommends wine wine32 wine64 libmatio11
    apt-get clean' >"$vm/wine-install.log" 2>&1 || { tail -20 "$vm/wine-install.log"; exit 1; }
  umount "$tree/proc" "$tree/dev"
  trap - EXIT
  rm -rf "$tree"/var/lib/apt/lists/* "$tree"/usr/share/doc/* "$tree"/usr/share/man/* "$tree"/usr/share/locale/*
  install -m 755 /bin/busybox "$tree/usr/local/sbin/busybox"
  mkdir -p "$tree/mnt/work"
  chmod 1777 "$tree/tmp"
  size=$(($(du -sm "$tree" | cut -f1) + 3072))  # room for the wine prefix
  mkfs.ext4 -q -F -L corvel-root -d "$tree" "$vm/root.ext4.part" "${size}M"
  mv "$vm/root.ext4.part" "$vm/root.ext4"
  rm -rf "$tree"
  lap "root disk with wine ($size MiB)"
fi

[ "$prepare_only" -eq 0 ] || exit 0

# The initramfs: busybox and the kernel's virtio and ext4 modules.
initrd="$vm/initrd"
rm -rf "$initrd"
mkdir -p "$initrd"/{bin,dev,proc,sys,newroot,lib/modules}
cp /bin/busybox "$initrd/bin/"
modules="$vm/kernel/lib/modules/$kver/kernel"
for m in drivers/virtio/virtio_ring drivers/virtio/virtio drivers/virtio/virtio_pci_legacy_dev \
  drivers/virtio/virtio_pci_modern_dev drivers/virtio/virtio_pci drivers/block/virtio_blk lib/crc16 fs/mbcache \
  crypto/crc32c_generic fs/jbd2/jbd2 fs/ext4/ext4; do
  cp "$modules/$m.ko" "$initrd/lib/modules/"
done
install -m 755 "$here/initrd-init" "$initrd/init"
(cd "$initrd" && find . | cpio -o -H newc 2>/dev/null | gzip -1) >"$vm/initrd.cpio.gz"

# The work disk: this run's programs, scripts and settings; results come back on it.
work="$vm/work"
rm -rf "$work"
mkdir -p "$work/bin" "$work/linux" "$work/tests/windows" "$work/tests/sim"
cp "$build"/*.exe "$build"/*.dll "$build/corvel.mexw32" "$work/bin/"
cp "$build"/tests/*.exe "$work/bin/" 2>/dev/null || true
cp "$linux/corvel-sim" "$linux"/corvel.mexa64 "$linux"/host/libmx.so "$linux"/host/libmex.so \
  "$linux/tests/corvel_csv_compare" "$work/linux/"
cp "$root/tests/windows/compare_with_linux.sh" "$work/tests/windows/"
cp "$root/tests/sim/corvel_sim_cli_test.sh" "$work/tests/sim/"
install -m 755 "$here/guest-run.sh" "$work/guest-run.sh"
printf 'BIN=%q\nSUITES=%q\nWITH_SIM=%s\n' "$build" "$(echo $suites)" "$with_sim" >"$work/env"
size=$(($(du -sm "$work" | cut -f1) + 512))
rm -f "$vm/work.ext4"
mkfs.ext4 -q -F -L corvel-work -d "$work" "$vm/work.ext4" "${size}M"
lap "work disk ($size MiB)"

# The guest: no KVM here, so TCG on every host core; SMAP off, or wine's
# processes oops the guest kernel. The serial console shows the progress.
set +e
timeout "${CORVEL_VM_TIMEOUT:-3000}" qemu-system-x86_64 -accel tcg,thread=multi -cpu max,-smap -smp "$(nproc)" \
  -m 3072 -nographic -no-reboot -kernel "$vm/kernel/boot/vmlinuz-$kver" -initrd "$vm/initrd.cpio.gz" \
  -drive file="$vm/root.ext4",format=raw,if=virtio,cache=unsafe \
  -drive file="$vm/work.ext4",format=raw,if=virtio,cache=unsafe \
  -append "console=ttyS0 quiet panic=-1" </dev/null >"$vm/serial.log" 2>&1
qemu_status=$?
set -e
lap "guest run (qemu exit $qemu_status)"

rm -rf "$vm/results"
debugfs -R "rdump /results $vm" "$vm/work.ext4" >/dev/null 2>&1 || true
if [ ! -f "$vm/results/summary.txt" ]; then
  echo "win32 guest: no results came back; the console said:"
  tail -30 "$vm/serial.log"
  echo "win32 guest: 0 passed, 1 failed"
  exit 1
fi
cat "$vm/results/summary.txt"
passed=$(grep -c '^STAGE .* rc=0 ' "$vm/results/summary.txt" || true)
failed=$(grep '^STAGE ' "$vm/results/summary.txt" | grep -vc ' rc=0 ' || true)
expected=$(($(echo $suites | wc -w) + 1 + 2 * with_sim))  # the suites, wineboot, the comparison, the command line
if [ "$((passed + failed))" -lt "$expected" ]; then
  echo "win32 guest: $((expected - passed - failed)) stages never reported (the guest stopped early?)"
  failed=$((expected - passed))
fi
for log in "$vm"/results/*.log; do
  grep -q 'rc=0 ' <(grep "^STAGE $(basename "$log" .log) " "$vm/results/summary.txt") && continue
  echo "--- $(basename "$log"), last lines:"
  tr -d '\r' <"$log" | tail -15
done
echo "win32 guest: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
