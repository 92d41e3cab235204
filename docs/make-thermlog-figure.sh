#!/bin/sh
# Remakes docs/thermlog-plot.png: thermlog-plot's drawing of a day's log that
# thermlog itself wrote, one run per simulated minute of 2026-12-07 (UTC),
# each run under faketime and reading a stand-in thermal zone whose value this
# script sets before the run: a board idling near 40 degrees, warmer in the
# afternoon, with a nightly job at 02:00 and bursts of work during the day.
#
# Needs root (the stand-in zone is a tmpfs over /sys/class/thermal in a
# private mount namespace, as in the end-to-end tests), faketime, gnuplot and
# a built tree (cmake --workflow --preset default).
# Usage: docs/make-thermlog-figure.sh [BUILD_DIR]   (default build/default)
set -eu
cd "$(dirname "$0")/.."
build=${1:-build/default}
thermlog=$PWD/$build/thermlog/thermlog
plot=$PWD/$build/thermlog/thermlog-plot
figure=$PWD/docs/thermlog-plot.png

[ "$(id -u)" -eq 0 ] || { echo "run as root: the stand-in zone needs a mount" >&2; exit 1; }
for tool in faketime gnuplot unshare; do
    command -v $tool >/dev/null || { echo "$tool is missing" >&2; exit 1; }
done
[ -x "$thermlog" ] || { echo "$thermlog is missing: cmake --workflow --preset default" >&2; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# One reading a minute, in millidegrees, in steps of 100 as many SoC sensors
# report; a fixed seed keeps the figure the same from run to run.
awk 'BEGIN {
    srand(13)
    pi = atan2(0, -1)
    for (m = 0; m < 1440; m++) {
        h = m / 60
        t = 41 + 4 * cos(2 * pi * (h - 15) / 24)             # the day: warmest at 15:00
        if (m >= 120 && m < 150) t += 16 * (1 - exp(-(m - 120) / 4))   # nightly job
        else if (m >= 150 && m < 180) t += 16 * exp(-(m - 150) / 5)
        if (h >= 9 && h < 18 && m % 47 < 6) t += 9 + 3 * rand()     # bursts of work
        t += (rand() - 0.5) * 0.8
        printf "%02d:%02d %d\n", int(h), m % 60, int(t * 10 + 0.5) * 100
    }
}' >"$work/readings"

if [ -d /sys/class/thermal ]; then
    private="mount -t tmpfs thermlog-figure /sys/class/thermal"
else
    private="mount -t tmpfs thermlog-figure /sys/class && mkdir /sys/class/thermal"
fi
zone=/sys/class/thermal/thermal_zone0
TZ=UTC0 unshare -m sh -c "
    set -e
    $private
    mkdir $zone
    echo cpu-thermal >$zone/type
    while read -r minute milli; do
        echo \"\$milli\" >$zone/temp
        faketime \"2026-12-07 \$minute:00\" \"\$1\" \"\$2\"
    done <\"\$3\"
" sh "$thermlog" "$work/thermlog.log" "$work/readings"

[ "$(wc -l <"$work/thermlog.log")" -eq 1440 ] || { echo "the log is not 1440 lines" >&2; exit 1; }
head -n 2 "$work/thermlog.log"
cd "$work" && "$plot" thermlog.log "$figure"
echo "wrote $figure"
