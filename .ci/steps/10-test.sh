#!/usr/bin/env bash
# The README's two commands, with warnings as errors.
set -euo pipefail
. .ci/lib.sh

step "Build and run every test (README), warnings as errors"
rm -rf build/default
CXXFLAGS="-Werror" cmake --workflow --preset default

step "Run pulseregen on the example (README)"
./build/default/pulseregen/pulseregen examples/bursts.wav build/bursts-out.wav

step "Run pulseregen --auto on the noisy example (README)"
./build/default/pulseregen/pulseregen --auto -q examples/tape.wav build/tape-out.wav
