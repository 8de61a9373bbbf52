#!/usr/bin/env bash
# Scrape latency of tessor-cli monitor with TLS, a client certificate and basic authentication, side by side
# with the node exporter given the same web configuration file (bench/RESULTS.md says what the figures
# mean). Exits 0 whether or not the monitor is the faster.
#   BENCH_BUILD_DIR  build tree, default build-bench
set -euo pipefail
cd "$(dirname "$0")/.."

source scripts/bench-build.sh
bench_build tessor-cli tessor-sim

exec python3 bench/monitor_tls_bench.py --build "$build" "$@"
