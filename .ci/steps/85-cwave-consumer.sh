#!/usr/bin/env bash
# CWave as another program gets it. The project is installed with DESTDIR
# into a scratch root; the example program is built against that install with
# find_package and with pkg-config and run, and so is the example of the
# cwave(3) page. A shared build must carry its SONAME, export CWave's methods
# and nothing else, and give the programs the same output as the static one.
set -euo pipefail
. .ci/lib.sh
need_packages g++ cmake pkgconf binutils python3

work=build/cwave-consumer
rm -rf "$work"
mkdir -p "$work"
work=$(realpath "$work")
prefix=/usr # as the packages install

# install_project KIND [CMAKE ARGS...]: configures, builds and installs one kind of
# library (static or shared) into $work/KIND-root.
install_project() {
    local kind=$1
    shift
    step "Build and install the project ($kind library) into $work/$kind-root$prefix"
    CXXFLAGS="-Werror" cmake -S . -B "$work/$kind-build" -DCMAKE_BUILD_TYPE=Release \
        -DPULSE_BUILD_TESTS=OFF "$@" >/dev/null
    cmake --build "$work/$kind-build" -j2 >/dev/null
    DESTDIR="$work/$kind-root" cmake --install "$work/$kind-build" --prefix "$prefix" >/dev/null
}

install_project static
libdir=$(sed -n 's/^CMAKE_INSTALL_LIBDIR:PATH=//p' "$work/static-build/CMakeCache.txt")
root="$work/static-root"
(cd "$root" && find . -path '*cwave*' -o -path '*CWave*' | sort)
cwave_consumer "$root" "$prefix" "$libdir" "$work/static-peaks"

step "The example of cwave(3), built with pkg-config against the same install"
# The page's code, its roff escapes undone.
sed -n '/^\.SH EXAMPLES/,/^\.EE/p' docs/cwave.3 | sed '1,/^\.EX/d; /^\.EE/d' |
    sed 's/\\e/\\/g; s/\\-/-/g' >"$work/manual-example.cpp"
# shellcheck disable=SC2046
c++ -Wall -Wextra -Wpedantic -Werror "$work/manual-example.cpp" \
    $(PKG_CONFIG_SYSROOT_DIR=$root PKG_CONFIG_LIBDIR=$root$prefix/$libdir/pkgconfig \
        pkg-config --cflags --libs cwave) -o "$work/manual-example"
got=$("$work/manual-example" examples/bursts.wav)
want=$(python3 - examples/bursts.wav <<'PY'
import sys, wave
with wave.open(sys.argv[1]) as w:
    n = w.getnframes()
    first = int.from_bytes(w.readframes(1), "little", signed=True) / 32768
print(f"{n} frames; first: {first:f} {first:f}")
PY
)
echo "$got"
[ "$got" = "$want" ] || { echo "expected: $want"; exit 1; }

step "A CMake program that asks for C++11 and binds kFileNameSize to a reference"
# The target raises it to C++17, where the member is an inline variable;
# under C++11 it would find no definition to link.
mkdir -p "$work/cxx11"
cat >"$work/cxx11/CMakeLists.txt" <<'CM'
cmake_minimum_required(VERSION 3.16)
project(cxx11 CXX)
set(CMAKE_CXX_STANDARD 11)
find_package(CWave CONFIG REQUIRED)
add_executable(cxx11 main.cpp)
target_link_libraries(cxx11 PRIVATE CWave::cwave)
CM
cat >"$work/cxx11/main.cpp" <<'CPP'
#include <algorithm>
#include <cstdio>
#include <cwave/Wave.h>
int main(int argc, char**) {
    const size_t n = std::min(size_t(argc) * 10000, CWave::kFileNameSize);
    std::printf("%zu\n", n);
}
CPP
cmake -S "$work/cxx11" -B "$work/cxx11/build" -DCMAKE_PREFIX_PATH="$root$prefix" >/dev/null
cmake --build "$work/cxx11/build" >/dev/null
[ "$("$work/cxx11/build/cxx11")" = 2560 ]

install_project shared -DBUILD_SHARED_LIBS=ON
sroot="$work/shared-root"
version=$(sed -n 's/^set(PACKAGE_VERSION "\(.*\)")$/\1/p' \
    "$sroot$prefix/$libdir/cmake/CWave/CWaveConfigVersion.cmake")
lib="$sroot$prefix/$libdir/libcwave.so"
step "The shared library: libcwave.so.${version%.*}, CWave's methods alone exported"
soname=$(readelf -dW "$lib" | sed -n 's/.*(SONAME).*\[\(.*\)\]/\1/p')
echo "SONAME $soname"
[ "$soname" = "libcwave.so.${version%.*}" ]
# What the class defines, as the static library holds it, is what the shared
# one must export: every method, the vtable and the typeinfo, and none of the
# internal helpers (namespace wav) or anything the compiler instantiated.
demangled() { c++filt | sed -E 's/^[0-9a-f]+ [A-Za-z] //' | sort -u; }
want=$(nm -g --defined-only "$root$prefix/$libdir/libcwave.a" | grep -E '^[0-9a-f]+ ' | demangled |
    grep -E '^(CWave::|(vtable|typeinfo|typeinfo name) for CWave$)')
got=$(nm -D --defined-only "$lib" | demangled)
printf '%s\n' "$got"
if grep -n 'wav::' <<<"$got"; then
    echo "the shared library exports internal helpers"; exit 1
fi
if [ -z "$want" ] || [ "$got" != "$want" ]; then
    echo "exported symbols differ from CWave's own (< CWave's, > exported):"
    diff <(echo "$want") <(echo "$got") || true
    exit 1
fi
echo "exported: $(wc -l <<<"$got") symbols, all CWave's, all of CWave's"

cwave_consumer "$sroot" "$prefix" "$libdir" "$work/shared-peaks"
readelf -dW "$work/shared-peaks/cmake/cwave-peaks" | grep -F "[$soname]"

step "pulseregen on the shared library gives the static build's output"
LD_LIBRARY_PATH="$sroot$prefix/$libdir" ldd "$sroot$prefix/bin/pulseregen" | grep -F "$soname"
"$root$prefix/bin/pulseregen" examples/bursts.wav "$work/static.wav" >"$work/static.txt"
LD_LIBRARY_PATH="$sroot$prefix/$libdir" "$sroot$prefix/bin/pulseregen" examples/bursts.wav \
    "$work/shared.wav" >"$work/shared.txt"
cmp "$work/static.wav" "$work/shared.wav"
cmp "$work/static.txt" "$work/shared.txt"
echo "CWave for other programs: installed, found, linked, run"
