#!/usr/bin/env bash
# Every C++ source must already be in the layout .clang-format describes.
set -euo pipefail
. .ci/lib.sh
need_packages clang-format

step "Check the C++ sources against .clang-format"
git ls-files '*.cpp' '*.h' | xargs clang-format --dry-run --Werror
echo "formatting: clean"
