#!/usr/bin/env bash
# Checks thermlog-plot: both line formats reach the plot, a log without
# thermlog lines and a missing gnuplot are refused, and no partial OUTPUT is
# left behind.   Usage: thermlog_plot.sh SCRIPT WORKDIR   (77: no gnuplot)
set -u
plot=$1
work=$2
fail() {
    printf 'FAIL: %s\n' "$*"
    exit 1
}
command -v gnuplot >/dev/null || { echo "SKIPPED: gnuplot is not installed (apt-get install gnuplot-nox)"; exit 77; }
rm -rf "$work" && mkdir -p "$work" || fail "cannot make $work"

# Old lines cover 10:00 to 11:00, ISO lines 13:00 to 14:00: the terminal
# plot's time axis runs from 10:00 to 14:00 only when both are read.
printf '%s\n' '26/12/07 10:00:00 40.1' '26/12/07 11:00:00 -2.5' 'a stray line' \
    '2026-12-07T13:00:00+01:00 50.0' '2026-12-07T14:00:00-03:30 47.0' >"$work/mixed.log"
sh "$plot" "$work/mixed.log" >"$work/terminal" 2>"$work/stderr" || fail "terminal plot: status $?"
grep -q '10:00' "$work/terminal" && grep -q '14:00' "$work/terminal" ||
    fail "terminal plot does not span 10:00 to 14:00: $(cat "$work/terminal")"
grep -q '1 lines' "$work/stderr" || fail "the stray line is not reported: $(cat "$work/stderr")"

# A log whose name looks like an awk assignment, and a directory as OUTPUT.
cp "$work/mixed.log" "$work/t=1.log" && mkdir "$work/d.png" || fail "cannot make the files"
(cd "$work" && sh "$plot" t=1.log) 2>/dev/null | grep -q '14:00' || fail "t=1.log is not plotted"
sh "$plot" "$work/mixed.log" "$work/d.png" 2>/dev/null
[ $? -eq 1 ] && [ -z "$(ls -A "$work/d.png")" ] || fail "a directory as OUTPUT: $(ls -A "$work/d.png")"

for output in plot.png plot.svg; do
    sh "$plot" "$work/mixed.log" "$work/$output" 2>/dev/null || fail "$output: status $?"
    [ -s "$work/$output" ] || fail "$output: not written"
done

# Refusals: status, and no output file, not even a partial one.
printf 'no thermlog line here\n' >"$work/none.log"
refusals=(
    1 "$work/none.log" .svg
    1 "$work/absent.log" .svg
    2 "$work/mixed.log" .jpg
    1 "$work/mixed.log" .png # gnuplot hidden from PATH
)
for ((i = 0; i < ${#refusals[@]}; i += 3)); do
    want=${refusals[i]} log=${refusals[i + 1]} out=$work/refused$i${refusals[i + 2]}
    path=$PATH
    [ "$i" -lt 9 ] || path=/nonexistent
    PATH=$path /bin/sh "$plot" "$log" "$out" >/dev/null 2>"$work/stderr"
    status=$?
    [ "$status" -eq "$want" ] || fail "refusal $i: status $status, expected $want"
    [ "$(wc -l <"$work/stderr")" -eq 1 ] || fail "refusal $i: stderr [$(cat "$work/stderr")]"
    left=("$work"/refused*)
    [ ! -e "${left[0]}" ] || fail "refusal $i left ${left[*]}"
done
echo "PASS"
