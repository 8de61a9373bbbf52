#!/usr/bin/env bash
# The whole suite under AddressSanitizer + UndefinedBehaviorSanitizer, and the threaded parts (board link,
# simulator, terminal, status pages, shell, line history) under ThreadSanitizer, each in its own build directory.
# With --build-only both trees are built and nothing is run (.ci/run builds them ahead this way).
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/build-lock.sh
run=yes
case "${1:-}" in
"") ;;
--build-only) run=no ;;
*)
    echo "usage: scripts/sanitize.sh [--build-only]" >&2
    exit 2
    ;;
esac

bash scripts/setup-deps.sh
export QT_QPA_PLATFORM=offscreen
supp="$PWD/tests/sanitizers"

# The longest run first, so that the last one does not run alone at the end.
tsan_targets=(test_monitor_e2e test_app test_status_pages test_terminal test_history_feed test_sim_link test_link
              test_sim test_monitor)
# The benchmarks are not run here: scripts/test.sh builds them, scripts/bench.sh runs them.
asan_tree() {
    cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DTESSOR_BUILD_UI=ON -DTESSOR_BUILD_BENCH=OFF \
        -DTESSOR_SANITIZE=address,undefined
    cmake --build build-asan -j2
}
tsan_tree() {
    cmake -S . -B build-tsan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTESSOR_BUILD_UI=ON -DTESSOR_SANITIZE=thread
    cmake --build build-tsan -j2 --target "${tsan_targets[@]}"
}
# A smaller quarantine than the default 256 MiB: freed memory is still held back long enough to catch a late
# use, in less memory. (The soak reports its resident memory here but judges its growth only in the plain
# build: under the sanitizer the allocator decides it.)
asan_suite() {
    ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:quarantine_size_mb=32 LSAN_OPTIONS="suppressions=$supp/lsan.supp" \
    UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
        ctest --test-dir build-asan --output-on-failure -j2 --timeout 600
}

locked build-asan asan_tree
[ "$run" = no ] || asan_suite
locked build-tsan tsan_tree
[ "$run" = no ] && exit 0

# Run by executable, so only the targets built here are picked up; two at a time, each program's output
# kept apart and shown in turn once all are done.
logs=$(mktemp -d)
trap 'rm -rf "$logs"' EXIT
tsan_one() {
    local t=$1 exe rc=0
    exe=$(find build-tsan/tests -type f -name "$t" -perm -u+x | head -n 1)
    # atexit_sleep_ms=0: ThreadSanitizer otherwise sleeps a second at every exit, which the tests that time
    # how quickly a signalled program ends would take for the program's own.
    TSAN_OPTIONS="halt_on_error=1:second_deadlock_stack=1:atexit_sleep_ms=0:suppressions=$supp/tsan.supp" "$exe" \
        --gtest_brief=1 > "$logs/$t.log" 2>&1 || rc=$?
    echo "$rc" > "$logs/$t.rc"
}
report() {
    local t=$1
    echo "== ThreadSanitizer: $t"
    cat "$logs/$t.log"
    [ "$(cat "$logs/$t.rc")" -eq 0 ]
}
for t in "${tsan_targets[@]}"; do
    while [ "$(jobs -rp | wc -l)" -ge 2 ]; do
        wait -n || true
    done
    tsan_one "$t" &
done
wait
failed=0
for t in "${tsan_targets[@]}"; do
    report "$t" || failed=1
done
[ "$failed" -eq 0 ] || { echo "ThreadSanitizer run: FAILED"; exit 1; }
echo "sanitizers: passed"
