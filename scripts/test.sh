#!/usr/bin/env bash
# Installs what is needed, builds everything and runs the test suite without the slow runs (those labelled
# slow: .ci/run runs them). TESTS_LABEL=unit (or window, realinput, e2e) runs one kind only.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup-deps.sh

build=${BUILD_DIR:-build}
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTESSOR_BUILD_UI=ON -DTESSOR_SANITIZE=
cmake --build "$build" -j2
export QT_QPA_PLATFORM=offscreen
# Every test says what kind it is (cmake/TestLabels.cmake).
unlabelled=$(ctest --test-dir "$build" -N -LE '^(unit|window|realinput|e2e)$' | sed -n 's/^Total Tests: //p')
if [ "$unlabelled" != 0 ]; then
    ctest --test-dir "$build" -N -LE '^(unit|window|realinput|e2e)$' >&2
    echo "test.sh: these tests have no kind label; give them one with tessor_discover_tests or tessor_label_tests" >&2
    exit 1
fi
ctest --test-dir "$build" --output-on-failure -j2 --timeout 300 -LE slow ${TESTS_LABEL:+-L "$TESTS_LABEL"}
