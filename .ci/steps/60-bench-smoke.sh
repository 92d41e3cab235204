#!/usr/bin/env bash
# Builds the benchmark programs in their own build directory and runs each
# once, briefly, as a smoke test: they must build warning-free and run to the
# end. No timing is asserted here; bench/vs_sox.sh measures the real target.
set -euo pipefail
. .ci/lib.sh

step "Benchmark programs: build and smoke run"
need_packages libbenchmark-dev
rm -rf build/bench-smoke
cmake -S . -B build/bench-smoke -DCMAKE_BUILD_TYPE=Release -DPULSE_BUILD_TESTS=OFF \
  -DPULSE_BENCH=ON -DPULSE_WERROR=ON
cmake --build build/bench-smoke -j2 --target loaders_bench
./build/bench-smoke/bench/loaders_bench --benchmark_min_time=0.01
bash -n bench/vs_sox.sh
