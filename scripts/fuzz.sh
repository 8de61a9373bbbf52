#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each for a bounded time on a copy of its seed corpus
# (tests/fuzz/corpus), as many at once as there are cores. A crash or sanitizer report fails the run.
# FUZZ_SECONDS sets the time per target, FUZZ_JOBS how many run at once; --build-only builds them and stops.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/build-lock.sh
case "${1:-}" in
"" | --build-only) ;;
*)
    echo "usage: scripts/fuzz.sh [--build-only]" >&2
    exit 2
    ;;
esac

bash scripts/setup-deps.sh

seconds=${FUZZ_SECONDS:-60}
build=${FUZZ_BUILD_DIR:-build-fuzz}
targets=(fuzz_config_reader fuzz_terminal_command fuzz_reply fuzz_recording fuzz_recording_resume)
fuzz_tree() {
    CC=clang CXX=clang++ cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTESSOR_BUILD_UI=OFF \
        -DTESSOR_BUILD_TESTS=OFF -DTESSOR_FUZZ=ON -DTESSOR_SANITIZE=address,undefined
    cmake --build "$build" -j2 --target "${targets[@]}"
}
locked "$build" fuzz_tree
[ "${1:-}" = --build-only ] && exit 0

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# One target on its own copy of the seed corpus; its log and exit status are kept in $work.
fuzz_one() {
    local target=$1 rc=0
    mkdir -p "$work/$target"
    cp tests/fuzz/corpus/$target/* "$work/$target/"
    "$build/tests/fuzz/$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
        -print_final_stats=1 "$work/$target" >"$work/$target.log" 2>&1 || rc=$?
    echo "$rc" >"$work/$target.rc"
}
# Each fuzzer uses one core: FUZZ_JOBS (default: the number of cores) run side by side.
jobs=${FUZZ_JOBS:-$(nproc)}
for ((i = 0; i < ${#targets[@]}; i += jobs)); do
    batch=("${targets[@]:i:jobs}")
    echo "== ${batch[*]}: ${seconds}s each"
    for target in "${batch[@]}"; do
        fuzz_one "$target" &
    done
    wait
    for target in "${batch[@]}"; do
        echo "-- $target"
        grep -E '^(Done|stat::number_of_executed_units|SUMMARY)' "$work/$target.log" || true
        if [ "$(cat "$work/$target.rc")" -ne 0 ]; then
            tail -n 60 "$work/$target.log"
            echo "$target: FAILED"
            exit 1
        fi
    done
done
echo "fuzzing: passed"
