#!/usr/bin/env bash
# Builds everything with warnings as errors and runs every test, checks that
# the build installs as a usable package, then builds and runs the whole suite
# again under AddressSanitizer and UBSan.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/bootstrap.sh

jobs=${JOBS:-$(nproc)}
run_suite() {
    local preset=$1
    cmake --preset "$preset" >/dev/null
    cmake --build --preset "$preset" -j "$jobs"
    ctest --preset "$preset" -j "$jobs"
}
run_suite default
bash scripts/package-check.sh build
run_suite asan

# libFuzzer targets, a short run each.
FUZZ_SECONDS=${FUZZ_SECONDS:-60} bash scripts/fuzz.sh
