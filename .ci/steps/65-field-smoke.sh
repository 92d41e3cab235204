#!/usr/bin/env bash
# A few cases of the field benchmark (bench/field): random draws of each
# judge (audio2tape, minimodem, direwolf's atest) that fixed levels get
# wrong. Fails when --auto's output decodes worse than the raw recording in
# any of them.
set -euo pipefail
. .ci/lib.sh

step "Field benchmark, smoke cases: --auto never decodes worse than the raw recording"
need_packages fuse-emulator-utils minimodem direwolf ffmpeg python3 python3-numpy python3-scipy
[ -x build/default/pulseregen/pulseregen ] || {
  cmake --preset default >/dev/null
  cmake --build --preset default --target pulseregen
}
FIELD_DIR=build/field-smoke bash bench/field/run.sh build/default/pulseregen/pulseregen --smoke
