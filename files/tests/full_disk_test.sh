#!/usr/bin/env bash
# pulseregen writing to a file system that fills up: it must say so, exit 1,
# leave no output behind that claims samples it does not hold, and leave a
# previous output (through a symlink too) as it was. Needs root and a private
# mount namespace for a tiny tmpfs; skipped (77) without them.
# Usage: full_disk_test.sh WORKDIR INPUT [EMULATOR...] PROGRAM
set -u
work=$1 input=$2
shift 2
rm -rf "$work" && mkdir -p "$work/disk" || exit 1
cp "$input" "$work/in.wav" || exit 1
printf 'previous output' >"$work/old"

# The true cause: root may be refused a namespace too (a chroot, a container).
if ! why=$(unshare -m true 2>&1); then
  if [ "$(id -u)" -ne 0 ]; then
    echo "SKIPPED: a private mount namespace needs root (uid $(id -u))"
  else
    echo "SKIPPED: no private mount namespace here, as root too: ${why:-unshare -m failed}"
  fi
  exit 77
fi
"$@" "$work/in.wav" "$work/once-want.wav" >"$work/stdout-once-want" 2>/dev/null || exit 1
# The output of the input is larger than the 16 KiB file system. Four runs:
# a new output, an existing one, one reached through a symlink, and one
# bind-mounted from the full disk, written over from a whole copy made
# outside it; then a piped input that cannot be copied to the full disk as
# its $TMPDIR (percentages need the whole recording first), and one that
# needs no copy: read once, as it comes, it gives what the file gives.
unshare -m sh -c 'mount -t tmpfs -o size=16k none "$1" || exit 77
  d=$1; shift; cp "$d/../old" "$d/out.wav"; cp "$d/../old" "$d/target.wav"
  ln -s target.wav "$d/link.wav"
  cp "$d/../old" "$d/mounted.wav"; : >"$d/../mounted.wav"
  mount --bind "$d/mounted.wav" "$d/../mounted.wav" || exit 77
  for name in new out link mounted; do
    "$@" "$d/../in.wav" "$d/$name.wav" >"$d/../stdout-$name" 2>"$d/../stderr-$name"
    echo $? >"$d/../status-$name"
  done
  "$@" "$d/../in.wav" "$d/../mounted.wav" >"$d/../stdout-mounted" 2>"$d/../stderr-mounted"
  echo $? >"$d/../status-mounted"
  # Again as on a file system without fallocate: the longer output must
  # find the disk full before the old bytes are written over.
  if command -v strace >/dev/null; then
    ASAN_OPTIONS=${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=0 strace -f -qq -o /dev/null \
      -e trace=fallocate -e inject=fallocate:error=EOPNOTSUPP "$@" "$d/../in.wav" "$d/../mounted.wav" \
      >"$d/../stdout-nofallocate" 2>"$d/../stderr-nofallocate"
    echo $? >"$d/../status-nofallocate"
  fi
  cat "$d/../in.wav" | TMPDIR=$d "$@" --active=30% - "$d/../piped.wav" >"$d/../stdout-pipe" \
    2>"$d/../stderr-pipe"
  echo $? >"$d/../status-pipe"
  cat "$d/../in.wav" | TMPDIR=$d "$@" - "$d/../once.wav" >"$d/../stdout-once" 2>"$d/../stderr-once"
  echo $? >"$d/../status-once"
  ls -A "$d" >"$d/../left"; cp "$d/out.wav" "$d/target.wav" "$d/.."
  cp "$d/mounted.wav" "$d/../mounted-after"' \
  sh "$work/disk" "$@"
rc=$?
if [ "$rc" -eq 77 ] || [ ! -e "$work/status-new" ]; then
  echo "SKIPPED: cannot mount a tmpfs here"
  exit 77
fi
fail=0
names="new out link mounted nofallocate"
[ -e "$work/status-nofallocate" ] || { names=${names% *}; echo "no strace: fallocate failing not tried"; }
for name in $names; do
  [ "$(cat "$work/status-$name")" = 1 ] ||
    { echo "$name: exit status $(cat "$work/status-$name"), want 1"; fail=1; }
  tail -n 1 "$work/stdout-$name" | grep -qx "Error: Output file can't write" ||
    { echo "$name: last line: $(tail -n 1 "$work/stdout-$name")"; fail=1; }
  grep -qx "pulseregen: .*${name/nofallocate/mounted}.wav: No space left on device" "$work/stderr-$name" ||
    { echo "$name: standard error: $(cat "$work/stderr-$name")"; fail=1; }
done
[ "$(cat "$work/status-pipe")" = 1 ] || { echo "pipe: exit status $(cat "$work/status-pipe")"; fail=1; }
[ "$(cat "$work/stdout-pipe")" = "Error: Input file can't open [0]" ] ||
  { echo "pipe: standard output: $(cat "$work/stdout-pipe")"; fail=1; }
grep -qx "pulseregen: $work/disk: No space left on device" "$work/stderr-pipe" ||
  { echo "pipe: standard error: $(cat "$work/stderr-pipe")"; fail=1; }
[ ! -e "$work/piped.wav" ] || { echo "pipe: output created"; fail=1; }
[ "$(cat "$work/status-once")" = 0 ] && cmp -s "$work/once-want.wav" "$work/once.wav" &&
  cmp -s "$work/stdout-once-want" "$work/stdout-once" ||
  { echo "pipe read once: status $(cat "$work/status-once"), $(cat "$work/stderr-once")"; fail=1; }
[ "$(tr '\n' ' ' <"$work/left")" = "link.wav mounted.wav out.wav target.wav " ] ||
  { echo "left on the full disk: $(cat "$work/left")"; fail=1; }
cmp -s "$work/old" "$work/out.wav" || { echo "previous output changed"; fail=1; }
cmp -s "$work/old" "$work/target.wav" || { echo "symlinked output changed"; fail=1; }
cmp -s "$work/old" "$work/mounted-after" || { echo "bind-mounted output changed"; fail=1; }
cmp -s "$input" "$work/in.wav" || { echo "input changed"; fail=1; }
[ "$fail" -eq 0 ] && echo "full disk: status 1, messages, previous outputs kept, nothing left"
exit "$fail"
