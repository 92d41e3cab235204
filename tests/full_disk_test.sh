#!/usr/bin/env bash
# pulseregen writing to a file system that fills up: it must say so, exit 1
# and leave no output behind that claims samples it does not hold. Needs root
# and a private mount namespace for a tiny tmpfs; skipped (77) without them.
# Usage: full_disk_test.sh WORKDIR INPUT [EMULATOR...] PROGRAM
set -u
work=$1 input=$2
shift 2
rm -rf "$work" && mkdir -p "$work/disk" || exit 1
cp "$input" "$work/in.wav" || exit 1

if ! unshare -m true 2>/dev/null; then
  echo "SKIPPED: cannot make a mount namespace (needs root)"
  exit 77
fi
# The output of the input is larger than the 16 KiB file system.
unshare -m sh -c 'mount -t tmpfs -o size=16k none "$1" || exit 77
  shift; out=$1; shift; "$@" "$out/../in.wav" "$out/out.wav" >"$out/../stdout"
  echo $? >"$out/../status"; ls -A "$out" >"$out/../left"' \
  sh "$work/disk" "$work/disk" "$@"
rc=$?
if [ "$rc" -eq 77 ] || [ ! -e "$work/status" ]; then
  echo "SKIPPED: cannot mount a tmpfs here"
  exit 77
fi
fail=0
[ "$(cat "$work/status")" = 1 ] || { echo "exit status $(cat "$work/status"), want 1"; fail=1; }
tail -n 1 "$work/stdout" | grep -qx "Error: Output file can't write" ||
  { echo "last line: $(tail -n 1 "$work/stdout")"; fail=1; }
[ ! -s "$work/left" ] || { echo "left on the full disk: $(cat "$work/left")"; fail=1; }
cmp -s "$input" "$work/in.wav" || { echo "input changed"; fail=1; }
[ "$fail" -eq 0 ] && echo "full disk: status 1, message, no output left"
exit "$fail"
