#!/usr/bin/env bash
# The WAV writers the real-writer tests read files from (sox, ffmpeg, Python's
# wave module); without them those tests skip their rows. ffmpeg also runs
# the conversions pulseregen prints for other audio, and minimodem decodes
# the noisy example after --auto.
set -euo pipefail
. .ci/lib.sh

step "Install the WAV writers the tests read from"
need_packages sox ffmpeg python3 minimodem
