#!/usr/bin/env bash
# A sparse OUTPUT written over on a full ext2 file system, which cannot
# reserve room (no fallocate): filling its holes takes blocks the disk does
# not have, so the run must refuse before it writes, and leave the old file
# as it was; with room enough it is written over. Needs root, a mount
# namespace, a loop device and mkfs.ext2; skipped (77) without them.
# Usage: sparse_test.sh WORKDIR INPUT [EMULATOR...] PROGRAM
set -u
work=$1 input=$2
shift 2
skip() { echo "SKIPPED: $*"; exit 77; }
[ "$(id -u)" -eq 0 ] || skip "needs root (to mount a loop device)"
command -v mkfs.ext2 >/dev/null || skip "no mkfs.ext2 (apt-get install e2fsprogs)"
unshare -m true 2>/dev/null || skip "cannot make a mount namespace"
rm -rf "$work" && mkdir -p "$work/disk" && cd "$work" || exit 1
cp "$input" in.wav && "$@" -q in.wav ref.wav || { echo "reference run failed"; exit 1; }
truncate -s 4M ext2.img && mkfs.ext2 -q -F -m 0 -b 1024 ext2.img || skip "mkfs.ext2 failed"
# In the namespace: a sparse old output of 1 MiB (larger than the new one,
# so that only its holes need room), bind-mounted from the disk onto a file
# outside it, so that the new output is written in full beside the mount
# point and then copied over it; the disk filled up to 100 KiB, one run;
# then room made, another run. Each run's status, messages and the file after it.
: >out.wav
unshare -m sh -c 'mount -o loop ext2.img disk || exit 77
  truncate -s 1M disk/out.wav && printf old | dd of=disk/out.wav conv=notrunc status=none
  mount --bind disk/out.wav out.wav || exit 77
  dd if=/dev/zero of=disk/fill bs=1k status=none 2>/dev/null
  truncate -s -100K disk/fill # room for less than half of the new output
  "$@" -q in.wav out.wav >stdout-full 2>stderr-full; echo $? >status-full
  cp --sparse=always disk/out.wav after-full
  rm disk/fill
  "$@" -q in.wav out.wav >stdout-room 2>stderr-room; echo $? >status-room
  cp disk/out.wav after-room; ls -A disk >left' sh "$@"
[ $? -ne 77 ] && [ -e status-full ] || skip "cannot mount an ext2 loop device here"
fail=0
{ truncate -s 1M old && printf old | dd of=old conv=notrunc status=none; } || exit 1
[ "$(cat status-full)" = 1 ] && [ "$(cat stdout-full)" = "Error: Output file can't write" ] &&
  grep -qx "pulseregen: out.wav: No space left on device" stderr-full ||
  { echo "full disk: status $(cat status-full), $(cat stdout-full) $(cat stderr-full)"; fail=1; }
cmp -s old after-full || { echo "full disk: the sparse old file was changed"; fail=1; }
[ "$(cat status-room)" = 0 ] && cmp -s ref.wav after-room ||
  { echo "room enough: status $(cat status-room), $(cat stderr-room)"; fail=1; }
[ "$(tr '\n' ' ' <left)" = "lost+found out.wav " ] || { echo "left: $(cat left)"; fail=1; }
[ "$fail" -eq 0 ] && echo "sparse old output: refused on a full disk, kept; written over with room"
exit "$fail"
