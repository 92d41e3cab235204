#!/bin/sh
# Remakes docs/pulseregen.png from a real run of pulseregen on the example
# recording: the active span of the input above the regenerated square wave
# and its fade-out, and a close-up of the first swings with the switching
# thresholds.
#
# Needs gnuplot (on Debian: apt-get install gnuplot-nox) and a built
# pulseregen (cmake --workflow --preset default).
# Usage: docs/make-figure.sh [BUILD_DIR]   (default build/default)
set -eu
cd "$(dirname "$0")/.."
build=${1:-build/default}
program=$build/pulseregen/pulseregen
input=examples/bursts.wav
figure=docs/pulseregen.png

command -v gnuplot >/dev/null || { echo "gnuplot is missing: apt-get install gnuplot-nox" >&2; exit 1; }
[ -x "$program" ] || { echo "$program is missing: cmake --workflow --preset default" >&2; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$program" "$input" "$work/out.wav" >"$work/report.txt"

# The span from the first to the last block reported Valid. The example is
# 44.1 kHz mono with the canonical 44-byte header, as is every output, so
# frame n of either file is at byte 44 + 2n.
first=$(awk -F: '$2 == " Valid" {print $1; exit}' "$work/report.txt")
last=$(awk -F: '$2 == " Valid" {b = $1} END {print b}' "$work/report.txt")
[ -n "$first" ] || { echo "no active block in $input" >&2; exit 1; }
block=10240
rate=44100
start=$((first * block))
span=$(((last - first + 1) * block))

# Close-up: from 5 ms before the first input sample of the span beyond
# +-8000, 28 ms long.
swing=$(od -An -v -t d2 -w2 -j $((44 + 2 * start)) -N $((2 * span)) "$input" |
    awk '$1 > 8000 || $1 < -8000 {print NR - 1; exit}')
zoom0=$(awk -v s="$start" -v k="$swing" -v r="$rate" 'BEGIN {printf "%.4f", (s + k) / r - 0.005}')
zoom1=$(awk -v z="$zoom0" 'BEGIN {printf "%.4f", z + 0.028}')

gnuplot <<EOF
set terminal pngcairo size 1000,760 font "sans,10"
set output "$figure"
rate = $rate.0
t0 = $start / rate
tend = ($start + $span) / rate
tfade = tend + $block / rate
set multiplot layout 3,1 title "pulseregen examples/bursts.wav out.wav" font "sans,12"
set lmargin 11
set rmargin 3
set ytics 30000
set yrange [-36000:36000]
set grid ytics
unset key

set title "Input: the active span (blocks $first to $last)"
set xrange [t0:tfade]
set xlabel "time in the input (s)"
plot "$input" binary skip=$((44 + 2 * start)) format="%int16" every ::0::$((span - 1)) \
     using (t0 + \$0 / rate):1 with lines lc rgb "#3070b0" title "input"

set title "Output: regenerated square wave, then one block of fade-out"
set object 1 rect from tend, graph 0 to tfade, graph 1 fc rgb "#f0e0c0" fs solid 0.5 noborder behind
set label 1 "fade-out" at tend + 0.02, 18000
plot "$work/out.wav" binary skip=44 format="%int16" \
     using (t0 + \$0 / rate):1 with lines lc rgb "#c03020" title "output"
unset object 1
unset label 1

set title sprintf("Close-up of %.3f s to %.3f s: the level switches when the input passes +8000 or -8000", $zoom0, $zoom1)
set xrange [$zoom0:$zoom1]
set xlabel "time in the input (s)"
set ytics 10000
set key top left opaque
set arrow 1 from $zoom0, 8000 to $zoom1, 8000 nohead dt 2 lc rgb "#606060"
set arrow 2 from $zoom0, -8000 to $zoom1, -8000 nohead dt 2 lc rgb "#606060"
plot "$input" binary skip=44 format="%int16" \
       using (\$0 / rate):1 with lines lc rgb "#3070b0" lw 1.5 title "input", \
     "$work/out.wav" binary skip=44 format="%int16" \
       using (t0 + \$0 / rate):1 with steps lc rgb "#c03020" lw 1.5 title "output"
unset multiplot
EOF
echo "wrote $figure"
