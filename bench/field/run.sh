#!/usr/bin/env bash
# The field benchmark: pulseregen's outputs judged by real decoders.
#
# usage: bench/field/run.sh BINARY [--smoke] [--only REGEX] [--jobs N]
#
# Renders Spectrum-style tape data with tape2wav and 1200-baud FSK text with
# minimodem, degrades each recording with sox as tape decks and sound cards
# do, runs BINARY on it (no option, --active=30% --switch=25%, --auto), and
# decodes the raw recording and every output with audio2tape or minimodem,
# comparing the decoded bytes with the originals. Prints a table of cases x
# variants and each variant's worse/same/better counts against the raw
# recording. --smoke runs a few cases and fails when --auto decodes worse
# than raw in any of them. Working files go to build/field (or $FIELD_DIR).
set -euo pipefail
export LC_ALL=C

if [ $# -lt 1 ]; then
  echo "usage: $0 BINARY [--smoke] [--only REGEX] [--jobs N]" >&2
  exit 2
fi
bin=$(realpath "$1")
shift
repo=$(cd "$(dirname "$0")/../.." && pwd)

# The decoders and sox are Debian packages; python3 runs the helper.
missing=()
for tool in tape2wav:fuse-emulator-utils audio2tape:fuse-emulator-utils minimodem:minimodem \
            sox:sox python3:python3; do
  command -v "${tool%%:*}" >/dev/null || missing+=("${tool#*:}")
done
if [ ${#missing[@]} -gt 0 ]; then
  sudo=
  [ "$(id -u)" -eq 0 ] || sudo=sudo
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends \
    $(printf '%s\n' "${missing[@]}" | sort -u)
fi

exec python3 "$repo/bench/field/field.py" --bin "$bin" --work "${FIELD_DIR:-$repo/build/field}" "$@"
