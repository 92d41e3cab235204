#!/usr/bin/env bash
# The field benchmark: pulseregen's outputs judged by real decoders on
# recordings degraded at random from a seed (see field.py).
#
# usage: bench/field/run.sh BINARY [--smoke] [--seeds A-B] [--jobs N] [--json FILE] [--keep]
#
# Installs what it needs from Debian's packages: the encoders and decoders
# (fuse-emulator-utils, minimodem, direwolf), ffmpeg for MP3 coding, and
# Debian's python3 with numpy and scipy, which run the degradations. Working
# files go to build/field (or $FIELD_DIR).
set -euo pipefail
export LC_ALL=C

if [ $# -lt 1 ]; then
  echo "usage: $0 BINARY [--smoke] [--seeds A-B] [--jobs N] [--json FILE] [--keep]" >&2
  exit 2
fi
bin=$(realpath "$1")
shift
repo=$(cd "$(dirname "$0")/../.." && pwd)

packages=(fuse-emulator-utils minimodem direwolf ffmpeg python3 python3-numpy python3-scipy)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  sudo=
  [ "$(id -u)" -eq 0 ] || sudo=sudo
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

# Debian's own interpreter, which the python3-* packages above serve.
exec /usr/bin/python3 "$repo/bench/field/field.py" --bin "$bin" \
  --work "${FIELD_DIR:-$repo/build/field}" "$@"
