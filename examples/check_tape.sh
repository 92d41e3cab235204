#!/bin/sh
# The README's quick start on the noisy example: without options no block is
# active and the run suggests --auto; with --auto the output holds the text,
# as minimodem decodes it. Skipped (77) without minimodem.
# Usage: check_tape.sh WORKDIR TAPE_WAV [EMULATOR...] PULSEREGEN
set -u
work=$1 tape=$2
shift 2
rm -rf "$work" && mkdir -p "$work" || exit 1
want="pulseregen example tape: the quick brown fox jumps over the lazy dog. 0123456789"
"$@" -q "$tape" "$work/plain.wav" 2>"$work/plain.err" || { echo "FAIL: a plain run failed"; exit 1; }
grep -q 'a pulse train lies below the active level; try --auto' "$work/plain.err" ||
    { echo "FAIL: the plain run does not suggest --auto: $(cat "$work/plain.err")"; exit 1; }
"$@" --auto -q "$tape" "$work/auto.wav" 2>"$work/auto.err" ||
    { echo "FAIL: --auto failed: $(cat "$work/auto.err")"; exit 1; }
command -v minimodem >/dev/null 2>&1 ||
    { echo "SKIPPED: minimodem is not installed (apt-get install minimodem)"; exit 77; }
got=$(minimodem --rx -q -f "$work/auto.wav" 1200)
[ "$got" = "$want" ] || { echo "FAIL: minimodem decodes [$got]"; exit 1; }
echo "--auto on $tape: minimodem decodes the text exactly"
