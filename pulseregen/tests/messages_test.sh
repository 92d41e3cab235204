#!/usr/bin/env bash
# What the program says, as a user reads and reuses it: GNU's message for an
# ambiguous option, each sign said once, the --auto choice as options that
# paste into a shell, and what --auto must keep whatever its detector: a
# percentage of the recording's largest swing, a block judged by its largest
# swing. Needs python3 to write the inputs (77 without).
#   messages_test.sh WORKDIR [EMULATOR...] PROGRAM
set -u
work=$1
shift
prog=("$@")
fail() { echo "FAIL: $*"; exit 1; }
command -v python3 >/dev/null || { echo "SKIPPED: no python3 (apt-get install python3)"; exit 77; }
rm -rf "$work" && mkdir -p "$work" && cd "$work" || fail "no work directory"
# wav FILE RATE FRAMES EXPR: 16-bit mono, sample i = EXPR (Python, in i).
wav() {
  python3 - "$@" <<'PY' || fail "cannot write $1"
import random, struct, sys
path, rate, frames, expr = sys.argv[1], int(sys.argv[2]), int(sys.argv[3]), sys.argv[4]
random.seed(1)
f = eval("lambda i: " + expr)
body = struct.pack("<%dh" % frames, *(max(-32768, min(32767, int(f(i)))) for i in range(frames)))
fmt = struct.pack("<IHHIIHH", 16, 1, 1, rate, 2 * rate, 2, 16)
with open(path, "wb") as out:
    out.write(b"RIFF" + struct.pack("<I", 36 + len(body)) + b"WAVEfmt " + fmt +
              b"data" + struct.pack("<I", len(body)) + body)
PY
}
run() { "${prog[@]}" "$@" >out 2>err; status=$?; }
B=10240

# An abbreviation of several long options is ambiguous, as getopt_long says.
wav in.wav 44100 $((4 * B)) '0'
run --a=5 in.wav o.wav
[ "$status" -eq 2 ] && [ "$(head -n 1 err)" = "pulseregen: option '--a=5' is ambiguous; possibilities: '--active' '--amplitude' '--any-wav' '--auto'" ] ||
  fail "--a=5: $status $(cat err)"
run --amp=20000 -q in.wav o.wav
[ "$status" -eq 0 ] || fail "--amp, a unique abbreviation: $status $(cat err)"

# A silent 48 kHz recording: no block is active, said once, and nothing
# that --auto would mend (its rate has a warning of its own).
wav silent.wav 48000 $((4 * B)) '0'
run -q silent.wav o.wav
[ "$status" -eq 0 ] && [ "$(grep -o 'no block is active' err | wc -l)" -eq 1 ] &&
  ! grep -q 'try --auto' err || fail "no block is active: $(cat err)"

# Pulses of +-12,000 in blocks 2 to 6, one burst of +-20,000 in block 8,
# noise between: --auto's choice line pastes after a command line and runs.
wav bursts.wav 44100 $((12 * B)) \
  'random.gauss(0, 200) + ((12000 if 2*'$B' <= i < 7*'$B' else 20000 if 8*'$B' <= i < 8*'$B' + 400 else 0) * (1 if i // 20 % 2 else -1))'
run --auto -q bursts.wav auto.wav
choice=$(sed -n 's/^pulseregen: bursts\.wav: --auto chose //p' err)
[ "$status" -eq 0 ] && [ -n "$choice" ] || fail "--auto: $status $(cat err)"
eval "run -q bursts.wav pasted.wav $choice" || fail "the choice does not paste: $choice"
[ "$status" -eq 0 ] || fail "the pasted choice: $status $(cat err)"
case $choice in *"# 44100 Hz") ;; *) fail "the rate is not a comment at the end: $choice" ;; esac
# --active=P% is P percent of the largest swing (20,000 and a little noise),
# not of a typical one (12,000).
run --auto -q --active=50% bursts.wav o.wav
active=$(sed -n 's/.*--auto chose .* --active=\([0-9]*\) .*/\1/p' err)
[ -n "$active" ] && [ "$active" -ge 10000 ] && [ "$active" -le 10500 ] || fail "--active=50%: $(cat err)"
# A block is judged by its largest swing: block 8's 400 frames of 20,000
# make it active above 15,000, which the blocks of 12,000 are not.
run --auto --active=15000 bursts.wav o.wav
[ "$status" -eq 0 ] && grep -qx '8: Valid' out && grep -qx '4: Invalid' out ||
  fail "--active=15000: $(grep -E '^(4|8):' out) $(cat err)"
echo "PASS"
