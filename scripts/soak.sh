#!/usr/bin/env bash
# Builds and runs the soak: the real application against the in-process simulated modem pair with faults
# injected at random intervals. Usage: scripts/soak.sh [minutes] (default 10). SOAK_SEED repeats a run.
set -euo pipefail
cd "$(dirname "$0")/.."

minutes=${1:-10}
build=${BUILD_DIR:-build}
bash scripts/setup-deps.sh
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTESSOR_BUILD_UI=ON >/dev/null
cmake --build "$build" -j2 --target tessor_soak
export QT_QPA_PLATFORM=offscreen
args=(--seconds "$((minutes * 60))")
[ -n "${SOAK_SEED:-}" ] && args+=(--seed "$SOAK_SEED")
"$build/tests/e2e/tessor_soak" "${args[@]}"
