#!/usr/bin/env bash
# The benchmarks: builds them in a Release tree and prints the table of figures (bench/RESULTS.md says
# what each figure means). Exits 0 whether or not the targets are met ("missed" in the table).
#   BENCH_REST_SECONDS  at-rest measurement per page, default 60
#   BENCH_BUILD_DIR     build tree, default build-bench
#   BENCH_FLEET_BOARDS  boards of the fleet benchmark, default 64 (8 for a quick run)
# Further arguments go to tessor-bench (--repeats N, --reply-delay-ms N, --startup-runs N, --rate-ops N).
set -euo pipefail
cd "$(dirname "$0")/.."

source scripts/bench-build.sh
bench_build tessor-bench tessor-bench-app tessor-bench-history tessor-bench-cli tessor-bench-block-reads tessor-bench-network \
            tessor-bench-console-share tessor-bench-fleet tessor-cli tessor-sim

export QT_QPA_PLATFORM=offscreen
"$build/bench/tessor-bench-history"
echo
"$build/bench/tessor-bench" --rest-seconds "${BENCH_REST_SECONDS:-60}" "$@"
# tessor-cli end to end, each command its own process.
"$build/bench/tessor-bench-cli"
# A monitor pass and a save, one read a command and with block reads.
"$build/bench/tessor-bench-block-reads"
# The same through ser2net on the loopback address, side by side with the pseudo-terminal.
"$build/bench/tessor-bench-network"
# The console a monitor shares, against ser2net and the pseudo-terminal.
"$build/bench/tessor-bench-console-share"
# The fleet: campaigns over 64 boards behind one ser2net and one monitor on all of them (BENCH_FLEET_BOARDS).
exec "$build/bench/tessor-bench-fleet" --boards "${BENCH_FLEET_BOARDS:-64}"
