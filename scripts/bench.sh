#!/usr/bin/env bash
# Builds the benchmarks (release flags, the default preset) and runs them all:
# the raw chip calls, the table library against them, and the agent. Each
# run's JSON goes to bench/results/ with the machine it ran on; a short table
# of the figures that matter follows. REPETITIONS (default 3) sets how often
# each benchmark runs: the table shows the minimum and median.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/bootstrap.sh

repetitions=${REPETITIONS:-3}
cmake --preset default >/dev/null
cmake --build --preset default -j "${JOBS:-2}" --target chip_bench table_bench agent_bench natagent

stamp=$(date -u +%Y%m%dT%H%M%SZ)
results=bench/results/$stamp
mkdir -p "$results"
# The processor by architecture, family, model and cache: enough to tell two
# machines apart without naming a product.
cpuinfo() { sed -n "s/^$1[[:space:]]*: //p" /proc/cpuinfo | head -n 1; }
cpu_model="$(uname -m) family $(cpuinfo 'cpu family') model $(cpuinfo model) cache $(cpuinfo 'cache size')"
context="nproc=$(nproc),cpu_model=${cpu_model//,/ },commit=$(git rev-parse --short HEAD)"
for bench in chip_bench table_bench agent_bench; do
    echo "== $bench" >&2
    build/bin/$bench --benchmark_repetitions="$repetitions" \
        --benchmark_context="$context" \
        --benchmark_out="$results/$bench.json" --benchmark_out_format=json >&2
done
python3 scripts/bench_summary.py "$results" | tee "$results/table.txt"
