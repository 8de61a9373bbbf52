#!/usr/bin/env bash
# The whole suite under AddressSanitizer + UndefinedBehaviorSanitizer, and the threaded parts (board link,
# simulator, terminal, status pages, shell, line history) under ThreadSanitizer, each in its own build directory.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup-deps.sh
export QT_QPA_PLATFORM=offscreen
supp="$PWD/tests/sanitizers"

cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DTESSOR_BUILD_UI=ON -DTESSOR_SANITIZE=address,undefined
cmake --build build-asan -j2
# A smaller quarantine than the default 256 MiB: freed memory is still held back long enough to catch a late
# use, and the soak's resident memory levels off within its warm-up instead of climbing until the end.
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:quarantine_size_mb=32 LSAN_OPTIONS="suppressions=$supp/lsan.supp" \
UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    ctest --test-dir build-asan --output-on-failure -j2 --timeout 600

tsan_targets=(test_link test_sim test_sim_link test_terminal test_status_pages test_app test_history_feed test_monitor
              test_monitor_e2e)
cmake -S . -B build-tsan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTESSOR_BUILD_UI=ON -DTESSOR_SANITIZE=thread
cmake --build build-tsan -j2 --target "${tsan_targets[@]}"
# Run by executable, so only the targets built here are picked up.
failed=0
for t in "${tsan_targets[@]}"; do
    exe=$(find build-tsan/tests -type f -name "$t" -perm -u+x | head -n 1)
    echo "== ThreadSanitizer: $t"
    # atexit_sleep_ms=0: ThreadSanitizer otherwise sleeps a second at every exit, which the tests that time
    # how quickly a signalled program ends would take for the program's own.
    TSAN_OPTIONS="halt_on_error=1:second_deadlock_stack=1:atexit_sleep_ms=0:suppressions=$supp/tsan.supp" "$exe" \
        --gtest_brief=1 || failed=1
done
[ "$failed" -eq 0 ] || { echo "ThreadSanitizer run: FAILED"; exit 1; }
echo "sanitizers: passed"
