#!/usr/bin/env bash
# Checks that two builds of pulseregen give the same standard output, the
# same standard error, the same OUTPUT bytes and the same exit status, on the
# examples, the inputs of vs_sox.sh where they exist, and a few files made
# with sox (mono, stereo, three channels, 8-bit, 24-bit, float, odd lengths, a
# header claiming more than the file holds, the input as a pipe), each with
# the option sets below; and with --auto's option sets on the examples, the
# vs_sox.sh inputs and every .wav file in $PULSE_SAME_INPUTS (a directory,
# say of bench/field recordings).
#
# usage: bench/same_output.sh OLD_BINARY NEW_BINARY
# Prints one line per difference and ends with `same N of M`; exits 1 when
# any run differs.
set -uo pipefail
export LC_ALL=C

if [ $# -ne 2 ]; then
  echo "usage: $0 OLD_BINARY NEW_BINARY" >&2
  exit 2
fi
old=$(realpath "$1") new=$(realpath "$2")
repo=$(cd "$(dirname "$0")/.." && pwd)
bench_dir=${PULSE_BENCH_DIR:-$repo/build/bench-data}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
command -v sox >/dev/null || { echo "$0: sox is needed" >&2; exit 2; }

# A burst of tone between silences, so that the span starts and ends inside.
sox -n -r 44100 -c 2 -b 16 -t wav "$work/tone.in" synth 1.3 sine 440 vol 0.8 pad 0.7 1.1 2>/dev/null
tone() { # NAME "FORMAT OPTIONS" ["EFFECTS"]
  # shellcheck disable=SC2086 # the options split into words
  sox -t wav "$work/tone.in" $2 "$work/$1" ${3:-} 2>/dev/null || echo "$0: cannot make $1" >&2
}
tone mono.wav "-c 1"
tone three.wav "-c 3"
tone stereo.wav ""
tone u8.wav "-b 8"
tone s24.wav "-b 24"
tone f32.wav "-e floating-point -b 32"
tone odd.wav "" "trim 0 2.9876543"
tone odd_mono.wav "-c 1" "trim 0 1.2345671"
sox -n -r 44100 -c 2 -b 16 "$work/noise.wav" synth 1.5 whitenoise vol 0.5 2>/dev/null
# Claims its full length but ends halfway, inside the tone.
head -c $(($(stat -c %s "$work/stereo.wav") / 2)) "$work/stereo.wav" >"$work/cut.wav"

inputs=("$repo"/examples/*.wav "$work"/*.wav)
for f in sine60.wav noise10.wav sine10.wav; do
  [ -s "$bench_dir/$f" ] && inputs+=("$bench_dir/$f")
done
option_sets=("" "--channel=left" "--channel=right" "--channel=diff" "--active=2000" "--switch=500"
  "--keep-rate" "-q" "--any-wav" "--any-wav --channel=left" "--any-wav --channel=diff"
  "--auto" "--auto --channel=left" "--auto --any-wav" "--active=30% --switch=25%" "--baseline=64")
# --auto's own sets, on the recordings it is meant for.
auto_sets=("--auto" "--auto -q" "--auto --channel=diff" "--auto --switch=20%" "--auto --edges=sharp")
auto_inputs=("$repo"/examples/*.wav)
for f in sine60.wav noise10.wav sine10.wav; do
  [ -s "$bench_dir/$f" ] && auto_inputs+=("$bench_dir/$f")
done
if [ -n "${PULSE_SAME_INPUTS:-}" ]; then
  auto_inputs+=("$PULSE_SAME_INPUTS"/*.wav)
fi

# One run: status, then the sha256 of standard output, standard error and OUTPUT.
run() { # BINARY INPUT OPTIONS
  local bin=$1 in=$2 opts=$3 out=$work/out.wav status
  rm -f "$out"
  # shellcheck disable=SC2086 # the options split into words
  if [ "$in" = pipe ]; then
    "$bin" $opts - "$out" <"$work/stereo.wav" >"$work/stdout" 2>"$work/stderr"
  else
    "$bin" $opts "$in" "$out" >"$work/stdout" 2>"$work/stderr"
  fi
  status=$?
  echo "$status $(sha256sum <"$work/stdout" | cut -c1-16) $(sha256sum <"$work/stderr" | cut -c1-16)" \
    "$( [ -e "$out" ] && sha256sum <"$out" | cut -c1-16)"
}

same=0 total=0
compare() { # INPUT OPTIONS
  local a b
  a=$(run "$old" "$1" "$2") b=$(run "$new" "$1" "$2")
  total=$((total + 1))
  if [ "$a" = "$b" ]; then
    same=$((same + 1))
  else
    echo "differs: $(basename "$1") ${2:-(no option)}: old $a, new $b"
  fi
}
for in in "${inputs[@]}" pipe; do
  for opts in "${option_sets[@]}"; do
    compare "$in" "$opts"
  done
done
for in in "${auto_inputs[@]}"; do
  for opts in "${auto_sets[@]}"; do
    compare "$in" "$opts"
  done
done
echo "same $same of $total"
[ "$same" -eq "$total" ]
