#!/usr/bin/env bash
# Times `pulseregen IN OUT` against `sox IN -n` (sox decoding the same file
# once, to nothing) on long 16-bit stereo 44.1 kHz recordings, and reports the
# peak resident memory of both.
#
# usage: bench/vs_sox.sh BINARY [PAIRS]
#
# For each input it runs one warm-up of each command (which also measures the
# peak RSS with /usr/bin/time), then PAIRS (default 9, at least 7) timed pairs
# whose order alternates, and prints both medians and the median of the
# pair-by-pair ratios. The page cache is warm and the output lies on the same
# file system as the input; the output of the previous run is removed before
# each timed run, outside the timing, so that no run pays for truncating it.
# Each input is also timed against the one-read floor (bench/floor.c): the
# input read once and the output's size written, in 1 MiB calls.
# Then times `--channel=left --active=30% --switch=25%`, and `--auto`, each
# against the default run on the 60-minute file (target: within 1.5 times),
# and `--any-wav` on the 10-minute sine as 24-bit and float samples against
# the 16-bit run (target: within 1.5 times).
# Ends with one line: `ratio <worst median ratio> rss_kib <worst pulseregen peak>`.
#
# The inputs (about 1.2 GB) are made once with sox and kept in
# $PULSE_BENCH_DIR (default: build/bench-data in the repository).
set -euo pipefail
export LC_ALL=C

if [ $# -lt 1 ] || [ $# -gt 2 ]; then
  echo "usage: $0 BINARY [PAIRS]" >&2
  exit 2
fi
bin=$(realpath "$1")
pairs=${2:-9}
if [ ! -x "$bin" ]; then
  echo "$0: $1 is not an executable" >&2
  exit 2
fi
if [ "$pairs" -lt 7 ]; then
  echo "$0: at least 7 pairs are needed for a meaningful median" >&2
  exit 2
fi

repo=$(cd "$(dirname "$0")/.." && pwd)
dir=${PULSE_BENCH_DIR:-$repo/build/bench-data}
mkdir -p "$dir"

# sox and GNU time are not on the base image.
install_packages() {
  local sudo=
  [ "$(id -u)" -eq 0 ] || sudo=sudo
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "$@"
}
command -v sox >/dev/null || install_packages sox
[ -x /usr/bin/time ] || install_packages time

make_input() { # NAME SECONDS GENERATOR
  [ -s "$dir/$1" ] && return 0
  echo "making $1 ($2 s of $3)" >&2
  sox -n -r 44100 -c 2 -b 16 "$dir/$1.tmp.wav" synth "$2" "$3" 440 vol 0.6 2>/dev/null
  mv "$dir/$1.tmp.wav" "$dir/$1"
}
make_input sine60.wav 3600 sine
make_input noise10.wav 600 whitenoise
make_input sine10.wav 600 sine
# The 10-minute sine again as 24-bit and as 32-bit float samples, for --any-wav.
make_converted() { # NAME SOX-FORMAT-OPTIONS...
  local name=$1
  shift
  [ -s "$dir/$name" ] && return 0
  echo "making $name" >&2
  sox "$dir/sine10.wav" "$@" "$dir/$name.tmp.wav" 2>/dev/null
  mv "$dir/$name.tmp.wav" "$dir/$name"
}
make_converted sine10_24.wav -b 24
make_converted sine10_f32.wav -e floating-point -b 32

out=$dir/out.wav
floor=$dir/floor
cc -O2 -o "$floor" "$repo/bench/floor.c"

# Wall time of one run of a command, in seconds; what it prints goes nowhere.
elapsed() {
  local t0=$EPOCHREALTIME
  "$@" >/dev/null 2>&1
  local t1=$EPOCHREALTIME
  awk -v a="$t0" -v b="$t1" 'BEGIN { printf "%.6f\n", b - a }'
}
opts=(--channel=left --active=30% --switch=25%)
run_pulseregen() { rm -f "$out"; elapsed "$bin" "$1" "$out"; }
run_options() { rm -f "$out"; elapsed "$bin" "${opts[@]}" "$1" "$out"; }
run_auto() { rm -f "$out"; elapsed "$bin" --auto "$1" "$out"; }
run_sox() { elapsed sox "$1" -n; }
# --any-wav on the converted inputs, and the 16-bit run of the same length.
run_any24() { rm -f "$out"; elapsed "$bin" --any-wav "$dir/sine10_24.wav" "$out"; }
run_any_float() { rm -f "$out"; elapsed "$bin" --any-wav "$dir/sine10_f32.wav" "$out"; }
run_sine10() { rm -f "$out"; elapsed "$bin" "$dir/sine10.wav" "$out"; }
# The floor: the input read once and as many bytes as pulseregen writes
# written, in 1 MiB calls (bench/floor.c), into a new file each time.
run_floor() { rm -f "$out"; elapsed "$floor" "$1" "$out" "$out_bytes"; }
# An existing OUTPUT, replaced: the run flushes the new file to the disk
# before renaming it over the old one.
run_replace() { "$bin" -q "$1" "$out" >/dev/null 2>&1; elapsed "$bin" "$1" "$out"; }
peak_kib() { # COMMAND... ; prints the peak RSS in KiB
  local f
  f=$(mktemp)
  /usr/bin/time -f %M -o "$f" "$@" >/dev/null 2>&1
  tail -n 1 "$f"
  rm -f "$f"
}
median() { sort -g | awk '{ v[NR] = $1 } END { print (NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2) }'; }

# PAIRS alternated runs of two commands on INPUT, each a function that
# prints its wall time; sets med_a, med_b and the median ratio A / B.
alternate() { # A B INPUT
  local a=$1 b=$2 in=$3 x y i
  local ta=() tb=() ratios=()
  for ((i = 0; i < pairs; i++)); do
    if ((i % 2 == 0)); then
      x=$($a "$in"); y=$($b "$in")
    else
      y=$($b "$in"); x=$($a "$in")
    fi
    ta+=("$x") tb+=("$y")
    ratios+=("$(awk -v x="$x" -v y="$y" 'BEGIN { printf "%.4f\n", x / y }')")
  done
  med_a=$(printf '%s\n' "${ta[@]}" | median)
  med_b=$(printf '%s\n' "${tb[@]}" | median)
  med_ratio=$(printf '%s\n' "${ratios[@]}" | median)
}

worst_ratio=0
worst_rss=0
declare -A rss_of
for input in sine60.wav noise10.wav sine10.wav; do
  in=$dir/$input
  rm -f "$out"
  rss_p=$(peak_kib "$bin" "$in" "$out")
  rss_s=$(peak_kib sox "$in" -n)
  rss_of[$input]=$rss_p
  out_bytes=$(stat -c %s "$out")
  alternate run_pulseregen run_sox "$in"
  mp=$med_a ms=$med_b mr=$med_ratio
  alternate run_pulseregen run_floor "$in"
  mf=$med_b fr=$med_ratio
  printf '%-12s pulseregen median %.3f s  sox median %.3f s  median ratio %.2f (%d pairs)  peak RSS pulseregen %d KiB  sox %d KiB\n' \
    "$input" "$mp" "$ms" "$mr" "$pairs" "$rss_p" "$rss_s"
  printf '%-12s one-read floor median %.3f s  pulseregen / floor median ratio %.2f (target 2.0 for 60 minutes of stereo, 2.5 for noise)\n' \
    "$input" "$mf" "$fr"
  worst_ratio=$(awk -v a="$worst_ratio" -v b="$mr" 'BEGIN { print (b > a ? b : a) }')
  ((rss_p > worst_rss)) && worst_rss=$rss_p
done
# The options that read one channel through the float loader and judge by
# percentages, against the default run, on the 60-minute file: the same
# alternating pairs, the ratio of the option run to the default run.
alternate run_options run_pulseregen "$dir/sine60.wav"
printf '%-12s %s median %.3f s  default median %.3f s  median ratio %.2f (%d pairs; target 1.5)\n' \
  sine60.wav "${opts[*]}" "$med_a" "$med_b" "$med_ratio" "$pairs"
# --auto: an analysis pass over all four judged signals at once, then the
# regeneration with the baseline taken out.
alternate run_auto run_pulseregen "$dir/sine60.wav"
printf '%-12s --auto median %.3f s  default median %.3f s  median ratio %.2f (%d pairs; target 1.5)\n' \
  sine60.wav "$med_a" "$med_b" "$med_ratio" "$pairs"

# --any-wav on 24-bit and float samples against the 16-bit run of the same
# 10 minutes.
alternate run_any24 run_sine10 ""
printf '%-12s --any-wav median %.3f s  16-bit default median %.3f s  median ratio %.2f (%d pairs; target 1.5)\n' \
  sine10_24.wav "$med_a" "$med_b" "$med_ratio" "$pairs"
alternate run_any_float run_sine10 ""
printf '%-12s --any-wav median %.3f s  16-bit default median %.3f s  median ratio %.2f (%d pairs; target 1.5)\n' \
  sine10_f32.wav "$med_a" "$med_b" "$med_ratio" "$pairs"

# Replacing an existing output against writing a new one.
alternate run_replace run_pulseregen "$dir/sine60.wav"
printf '%-12s replacing an existing OUTPUT median %.3f s  a new OUTPUT median %.3f s  median ratio %.2f (%d pairs)\n' \
  sine60.wav "$med_a" "$med_b" "$med_ratio" "$pairs"

rm -f "$out"
spread=$((rss_of[sine60.wav] - rss_of[sine10.wav]))
echo "pulseregen peak RSS, 60-min minus 10-min sine: ${spread#-} KiB"
printf 'ratio %.2f rss_kib %d\n' "$worst_ratio" "$worst_rss"
