#!/usr/bin/env bash
# faketime lets the thermlog tests run the program at a fixed date and time;
# gnuplot draws what the thermlog-plot test checks; logrotate checks the
# installed rotation file; systemd-analyze checks the installed units.
set -euo pipefail
. .ci/lib.sh

step "Install thermlog test tools"
need_packages faketime gnuplot-nox logrotate systemd
