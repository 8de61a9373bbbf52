#!/usr/bin/env bash
# Installs what is needed, builds, starts the simulated modem pair on a pseudo-terminal and opens the
# configurator on it as COM1. Extra arguments go to the simulator (e.g. --side nt).
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup-deps.sh

build=${BUILD_DIR:-build}
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTESSOR_BUILD_UI=ON
# Only the programs started here; scripts/test.sh builds the rest in the same folder.
cmake --build "$build" -j2 --target tessor-sim tessor-configurator tessor-demo

pathfile=$(mktemp)
"$build/sim/tessor-sim" --path-file "$pathfile" --no-stdin "$@" >/dev/null &
sim=$!
trap 'kill $sim 2>/dev/null || true; rm -f "$pathfile"' EXIT
# True while the simulator runs (neither gone nor ended and waiting to be reaped).
sim_running() {
    local stat
    stat=$(cat "/proc/$sim/stat" 2>/dev/null) || return 1
    stat=${stat##*) }
    [ "${stat%% *}" != Z ]
}
for _ in $(seq 100); do
    [ -s "$pathfile" ] && break
    sim_running || break
    sleep 0.05
done
if [ ! -s "$pathfile" ]; then
    if sim_running; then
        echo "run.sh: tessor-sim did not announce its pseudo-terminal within 5 seconds" >&2
        exit 1
    fi
    status=0
    wait "$sim" || status=$?
    echo "run.sh: tessor-sim did not start (exit status $status); its message is above" >&2
    exit $((status != 0 ? status : 1))
fi
export TESSOR_COM1
TESSOR_COM1=$(cat "$pathfile")
echo "Simulated modem pair on $TESSOR_COM1 (COM1)"

if [ -x "$build/app/tessor-configurator" ]; then
    if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
        echo "No display found: running under a virtual X server (xvfb-run)."
        exec_prefix=(xvfb-run -a)
    else
        exec_prefix=()
    fi
    # Help pages are found relative to the working directory: run from the repository's top.
    "${exec_prefix[@]}" "$build/app/tessor-configurator"
else
    "$build/sim/tessor-demo" "$TESSOR_COM1"
fi
