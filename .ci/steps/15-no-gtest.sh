#!/usr/bin/env bash
# A machine with only g++ and cmake: the README's build-and-run command
# builds both programs without GoogleTest, and its test command stops at
# configuration naming the package to install. GoogleTest is hidden from a
# copy of the tracked sources: no installed package found, no source tree.
set -euo pipefail
. .ci/lib.sh

src=$(mktemp -d)
trap 'rm -rf "$src"' EXIT
git ls-files -z | tar --null -T - -cf - | tar -xf - -C "$src"
cd "$src"
hide=(-DCMAKE_DISABLE_FIND_PACKAGE_GTest=ON -DPULSE_GTEST_SOURCE_DIR=/nonexistent)

step "Build and run pulseregen (README) without GoogleTest"
CXXFLAGS="-Werror" cmake --preset default "${hide[@]}" | tee configure.log
grep -qx -- "-- GoogleTest not found (apt-get install libgtest-dev): building the programs without their tests" configure.log
cmake --build --preset default
./build/default/pulseregen/pulseregen examples/bursts.wav build/bursts-out.wav
test -s build/bursts-out.wav
test -x build/default/thermlog/thermlog
# Nothing of the tests was built or registered.
[ ! -e build/default/googletest ] && [ -z "$(find build/default -type d -name tests)" ]
if ctest --test-dir build/default -N | grep -q 'Test *#'; then
    echo "tests registered without GoogleTest"; exit 1
fi

step "The test command (README) fails at configuration, naming libgtest-dev"
if cmake --workflow --preset default >workflow.log 2>&1; then
    cat workflow.log; echo "the test workflow passed without GoogleTest"; exit 1
fi
cat workflow.log
grep -q 'libgtest-dev' workflow.log
if grep -q 'step 2 of' workflow.log; then
    echo "the test workflow went past configuration"; exit 1
fi
echo "without GoogleTest: programs built, tests skipped, test command stops early"
