#!/usr/bin/env bash
# A few cases of the field benchmark (bench/field): recordings that the
# fixed levels get wrong, decoded by audio2tape and minimodem. Fails when
# --auto's output decodes worse than the raw recording in any of them.
set -euo pipefail
. .ci/lib.sh

step "Field benchmark, smoke cases: --auto never decodes worse than the raw recording"
need_packages fuse-emulator-utils minimodem sox python3
[ -x build/default/pulseregen/pulseregen ] || {
  cmake --preset default >/dev/null
  cmake --build --preset default --target pulseregen
}
FIELD_DIR=build/field-smoke bash bench/field/run.sh build/default/pulseregen/pulseregen --smoke
