#!/usr/bin/env bash
# Benchmark of tessor-cli monitor with four boards: cost at rest, scrape time at 100 scrapes per second, poll
# pass time against each board alone, the endpoint under a crowd
# (bench/RESULTS.md says what each figure means). Exits 0 whether or not the targets are met.
#   BENCH_REST_SECONDS    at-rest measurement, default 60
#   BENCH_SCRAPE_SECONDS  scrape flood, default 30
#   BENCH_BUILD_DIR       build tree, default build-bench
set -euo pipefail
cd "$(dirname "$0")/.."

source scripts/bench-build.sh
bench_build tessor-bench-monitor tessor-cli tessor-sim

exec "$build/bench/tessor-bench-monitor" --rest-seconds "${BENCH_REST_SECONDS:-60}" \
    --scrape-seconds "${BENCH_SCRAPE_SECONDS:-30}" "$@"
