#!/usr/bin/env bash
# Benchmark of tessor-cli monitor: cost at rest, scrape time at 100 scrapes per second, poll pass time
# (bench/RESULTS.md says what each figure means). Exits 0 whether or not the targets are met.
#   BENCH_REST_SECONDS    at-rest measurement, default 60
#   BENCH_SCRAPE_SECONDS  scrape flood, default 30
#   BENCH_BUILD_DIR       build tree, default build-bench
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup-deps.sh

build=${BENCH_BUILD_DIR:-build-bench}
log=$(mktemp /tmp/tessor-bench-build.XXXXXX)
if ! { cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DTESSOR_BUILD_UI=ON -DTESSOR_SANITIZE= &&
       cmake --build "$build" -j2 --target tessor-bench-monitor tessor-cli tessor-sim; } >"$log" 2>&1; then
    cat "$log"
    echo "bench: build failed" >&2
    exit 1
fi
rm -f "$log"

exec "$build/bench/tessor-bench-monitor" --rest-seconds "${BENCH_REST_SECONDS:-60}" \
    --scrape-seconds "${BENCH_SCRAPE_SECONDS:-30}" "$@"
