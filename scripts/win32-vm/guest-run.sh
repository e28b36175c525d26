#!/bin/bash
# Runs in the guest as its first process after the initramfs: the 32-bit
# Windows suites under wine32, corvel-sim.exe against the Linux build and the
# command-line checks, each a STAGE line in results/summary.txt; then powers
# the guest off. The wine prefix lives on the root disk and is made once.
export PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin
W=/mnt/work
mount -t tmpfs tmpfs /run
mkdir -p /dev/shm /dev/pts
mount -t tmpfs tmpfs /dev/shm
mount -t devpts devpts /dev/pts
mount -t tmpfs -o size=1g tmpfs /tmp
# What bash's <(...) and the scripts' /dev/stdout need of /dev.
ln -sf /proc/self/fd /dev/fd
ln -sf /proc/self/fd/0 /dev/stdin
ln -sf /proc/self/fd/1 /dev/stdout
ln -sf /proc/self/fd/2 /dev/stderr
hostname corvel-vm
export HOME=/root WINEPREFIX=/root/.wine WINEARCH=win32 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" LANG=C.UTF-8
. "$W/env"  # BIN: the build folder's path on the build machine; SUITES; WITH_SIM
R=$W/results
rm -rf "$R"
mkdir -p "$R"
# The test programs name their MEX file by its path in the build folder.
mkdir -p "$BIN"
mount --bind "$W/bin" "$BIN"

now() { cut -d' ' -f1 /proc/uptime; }
log() { echo "$*" | tee -a "$R/summary.txt" > /dev/console; }
stage() {  # stage NAME COMMAND...: runs it, logs its status, time and closing lines
  local name=$1 start status
  shift
  start=$(now)
  "$@" > "$R/$name.log" 2>&1
  status=$?
  log "STAGE $name rc=$status secs=$(awk -v a="$start" -v b="$(now)" 'BEGIN { printf "%.0f", b - a }') :: $(tr -d '\r' < "$R/$name.log" |
    grep -E '^\[==========\] .* ran|^\[  PASSED  \]|^\[  FAILED  \]|agrees with|command-line checks|failed' | tail -3 | tr '\n' ' ')"
}

log "GUEST-UP at $(now) s, $(nproc) cores, $(wine --version 2>&1)"
if [ ! -f "$WINEPREFIX/.corvel-ready" ]; then
  rm -rf "$WINEPREFIX"
  stage wineboot timeout 1500 wineboot --init
  wineserver -w
  [ -f "$WINEPREFIX/system.reg" ] && touch "$WINEPREFIX/.corvel-ready"
else
  log "STAGE wineboot rc=0 secs=0 :: prefix kept from an earlier run"
fi
wineserver -p  # one server for every program that follows
cd "$BIN"
# The kernel suite is the longest: it runs beside the others, on the second core.
kernel=
case " $SUITES " in
  *" corvel_kernel_tests "*)
    stage corvel_kernel_tests timeout 2400 wine corvel_kernel_tests.exe &
    kernel=$!
    ;;
esac
for suite in $SUITES; do
  [ "$suite" = corvel_kernel_tests ] && continue
  stage "$suite" timeout 1500 wine "$suite.exe"
done
if [ "$WITH_SIM" = 1 ]; then
  export LD_LIBRARY_PATH="$W/linux"
  stage golden_comparison timeout 1500 bash "$W/tests/windows/compare_with_linux.sh" "$W/linux/corvel-sim" \
    "$BIN/corvel-sim.exe" "$W/linux/corvel_csv_compare" wine
  stage command_line timeout 1500 bash "$W/tests/sim/corvel_sim_cli_test.sh" wine "$BIN/corvel-sim.exe"
fi
[ -n "$kernel" ] && wait "$kernel"
wineserver -k
log "GUEST-DONE at $(now) s"
sync
umount "$BIN"
umount "$W"
mount -o remount,ro /
sync
exec /usr/local/sbin/busybox poweroff -f
