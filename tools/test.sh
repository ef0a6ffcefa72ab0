#!/usr/bin/env bash
# Installs what building and testing need when it is missing, builds the
# tool and every test in build/, and runs the whole suite.
# TAKELOOM_TEST_FILTER, a regular expression, runs only the tests it names.
set -euo pipefail
repo=$(cd "$(dirname "$0")/.." && pwd)
source "$repo/tools/packages.sh"
install_missing "${build_packages[@]}" "${test_packages[@]}"

cmake -S "$repo" -B "$repo/build"
cmake --build "$repo/build" -j2
filter=()
[ -n "${TAKELOOM_TEST_FILTER:-}" ] && filter=(-R "$TAKELOOM_TEST_FILTER")
ctest --test-dir "$repo/build" --output-on-failure -j2 "${filter[@]}"
