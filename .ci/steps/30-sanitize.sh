#!/usr/bin/env bash
# The whole test suite again, built with AddressSanitizer and UBSan; any
# report aborts the test that triggered it.
set -euo pipefail
. .ci/lib.sh

step "Build and run every test with AddressSanitizer and UndefinedBehaviorSanitizer"
rm -rf build/asan
CXXFLAGS="-Werror" cmake --workflow --preset asan
