#!/usr/bin/env bash
# Builds the project and runs the agent's demo: a generated twice-NAT table
# programmed on a fresh simulated chip, a restart that resyncs it from the
# shared-memory records, a check of every entry and an audit.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/bootstrap.sh

cmake --preset default >/dev/null
cmake --build --preset default -j "$(nproc)"

# Shared-memory names of its own, so the demo never touches other data.
export OLVANE_SHM_PREFIX="${OLVANE_SHM_PREFIX:-natagent_demo}"
exec build/bin/natagent demo --wipe "$@"
