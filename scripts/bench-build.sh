# Sourced by the benchmark scripts from the top of the tree: installs what the build needs, then builds
# the given targets in a Release tree (BENCH_BUILD_DIR, default build-bench) and sets $build to it.
# When the build fails it prints the build's log and ends the script with 1.
bench_build() {
    bash scripts/setup-deps.sh

    build=${BENCH_BUILD_DIR:-build-bench}
    local log
    log=$(mktemp /tmp/tessor-bench-build.XXXXXX)
    if ! { cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DTESSOR_BUILD_UI=ON -DTESSOR_SANITIZE= &&
           cmake --build "$build" -j2 --target "$@"; } >"$log" 2>&1; then
        cat "$log"
        echo "bench: build failed" >&2
        exit 1
    fi
    rm -f "$log"
}
