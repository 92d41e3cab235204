# Helpers shared by the CI steps; sourced, not run.
step() { printf '\n==== %s\n' "$*"; }

# Installs Debian packages that are missing; runs apt-get update once per run.
need_packages() {
  local missing=()
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'ok installed' || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  if [ ! -e /tmp/.pulse-ci-apt-updated ]; then
    apt-get update -qq && touch /tmp/.pulse-ci-apt-updated
  fi
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}"
}

# cwave_consumer ROOT PREFIX LIBDIR WORK: builds the CWave example program
# (examples/cwave-peaks) against a CWave installed for PREFIX but found under
# ROOT (a DESTDIR, an unpacked package), once with find_package and once with
# pkg-config, in WORK. Runs both on examples/bursts.wav and on a two-channel
# file and compares what they print with the same figures worked out by
# Python's wave module; any difference fails.
cwave_consumer() {
    local root=$1 prefix=$2 libdir=$3 work=$4
    local flags=(-Wall -Wextra -Wpedantic -Werror)
    rm -rf "$work" && mkdir -p "$work"

    # Each channel of the stereo file is a scaled copy of the example, so that
    # the two peaks differ.
    python3 - examples/bursts.wav "$work/stereo.wav" <<'PY'
import array, sys, wave
with wave.open(sys.argv[1]) as w:
    mono = array.array("h", w.readframes(w.getnframes()))
frames = array.array("h")
for s in mono:
    frames.extend((s // 2, -s))
with wave.open(sys.argv[2], "wb") as w:
    w.setnchannels(2); w.setsampwidth(2); w.setframerate(48000)
    w.writeframes(frames.tobytes())
PY
    local inputs=(examples/bursts.wav "$work/stereo.wav") expected
    expected=$(python3 - "${inputs[@]}" <<'PY'
import array, math, sys, wave
for path in sys.argv[1:]:
    with wave.open(path) as w:
        n, rate, ch = w.getnframes(), w.getframerate(), w.getnchannels()
        samples = array.array("h", w.readframes(n))
    print(f"{path}: {n} frames, {rate} Hz, {ch} channel{'' if ch == 1 else 's'}, {n / rate:.3f} s")
    for c in range(min(ch, 2)):
        peak = max(abs(s) for s in samples[c::ch]) / 32768
        print(f"channel {c + 1}: peak {peak:.6f} ({20 * math.log10(peak):.1f} dBFS)")
PY
)

    step "cwave-peaks with find_package(CWave), CMAKE_PREFIX_PATH=$root$prefix"
    CXXFLAGS="${flags[*]}" cmake -S examples/cwave-peaks -B "$work/cmake" \
        -DCMAKE_PREFIX_PATH="$root$prefix" >/dev/null
    # The package found must be the one under ROOT, not one on the system.
    local found
    found=$(sed -n 's/^CWave_DIR:PATH=//p' "$work/cmake/CMakeCache.txt")
    echo "CWave_DIR=$found"
    [ "$found" = "$root$prefix/$libdir/cmake/CWave" ]
    cmake --build "$work/cmake" >/dev/null

    step "cwave-peaks with pkg-config, sysroot $root"
    local pc
    pc=$(PKG_CONFIG_SYSROOT_DIR=$root PKG_CONFIG_LIBDIR=$root$prefix/$libdir/pkgconfig \
        pkg-config --cflags --libs cwave)
    echo "pkg-config --cflags --libs cwave: $pc"
    # Built as C++11, the oldest standard the header promises.
    # shellcheck disable=SC2086
    c++ -std=c++11 "${flags[@]}" examples/cwave-peaks/cwave_peaks.cpp $pc -o "$work/cwave-peaks-pc"

    local prog got
    for prog in "$work/cmake/cwave-peaks" "$work/cwave-peaks-pc"; do
        # A shared library is found where it was installed, as a system's
        # own would be in its library directory.
        got=$(for f in "${inputs[@]}"; do
            LD_LIBRARY_PATH="$root$prefix/$libdir" "$prog" "$f"
        done)
        if [ "$got" != "$expected" ]; then
            echo "$prog printed:"; diff <(echo "$expected") <(echo "$got") || true
            return 1
        fi
        echo "$prog: as Python's wave module reads the files"
    done
    printf '%s\n' "$expected"
}
