#!/usr/bin/env bash
# Builds the libFuzzer targets (clang, ASan + UBSan) and runs each for
# FUZZ_SECONDS (default 60) from its seed corpus in tests/fuzz/corpus. The
# corpus in the tree is left as it is; new inputs go to a scratch folder.
# Usage: scripts/fuzz.sh [TARGET...]   (default: every target)
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/bootstrap.sh

seconds=${FUZZ_SECONDS:-60}
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j "${JOBS:-$(nproc)}"

targets=("$@")
if ((${#targets[@]} == 0)); then
    for dir in tests/fuzz/corpus/*/; do targets+=("$(basename "$dir")"); done
fi
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
for target in "${targets[@]}"; do
    mkdir -p "$scratch/$target"
    echo "fuzz_$target: ${seconds}s"
    # Each target's shared memory gets names of its own.
    status=0
    OLVANE_SHM_PREFIX="fuzz$$_$target" build-fuzz/bin/"fuzz_$target" \
        -max_total_time="$seconds" -print_final_stats=1 "$scratch/$target" \
        "tests/fuzz/corpus/$target" >"$scratch/$target.log" 2>&1 || status=$?
    grep -E "^(stat::number_of_executed_units|stat::new_units_added|SUMMARY)" \
        "$scratch/$target.log" || true
    if ((status != 0)); then
        tail -n 40 "$scratch/$target.log" >&2
        echo "fuzz_$target failed (exit $status)" >&2
        exit 1
    fi
done
