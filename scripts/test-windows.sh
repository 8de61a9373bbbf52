#!/usr/bin/env bash
# The Windows build, tested on Linux: cross-builds the UI-free layers, their tests and tessor-cli.exe with
# mingw-w64, then runs them under Wine: the unit tests, and tessor-cli.exe against tessor-sim (the Linux
# build) through a Wine COM port mapped to the simulator's pseudo-terminal. Needs no display.
#   BUILD_DIR (default build-windows) holds the cross build, the Linux simulator and the Wine prefix.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

bash scripts/setup-deps.sh --windows

build=${BUILD_DIR:-build-windows}
mkdir -p "$build"
build=$(cd "$build" && pwd)
launcher=()
command -v ccache > /dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)

# The simulator runs on Linux, and the Linux tessor-cli beside the Windows one: a small native build.
cmake -S . -B "$build/host" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTESSOR_BUILD_UI=OFF \
    -DTESSOR_BUILD_TESTS=OFF "${launcher[@]}" > "$build/host-configure.log"
cmake --build "$build/host" -j2 --target tessor-sim tessor-cli
sim="$build/host/sim/tessor-sim"

cmake -S . -B "$build/win" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" "${launcher[@]}" > "$build/win-configure.log"
cmake --build "$build/win" -j2

# A Wine prefix of our own, made once; no display, no desktop integration, no Mono or Gecko.
wine=$(command -v wine64 || command -v wine || echo /usr/lib/wine/wine64)
wineserver=$(command -v wineserver || echo /usr/lib/wine/wineserver)
export WINEPREFIX="$build/wineprefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=,winemenubuilder.exe=d"
unset DISPLAY WAYLAND_DISPLAY TESSOR_COM1 TESSOR_COM2 TESSOR_COM3
if [ ! -f "$WINEPREFIX/system.reg" ]; then
    echo "Creating the Wine prefix $WINEPREFIX"
    "$wine" wineboot -i > "$build/wineboot.log" 2>&1
    "$wineserver" -w
fi

# The simulator on a pseudo-terminal, its command lines recorded, faults through a FIFO.
run="$build/run"
rm -rf "$run"
mkdir -p "$run"
"$sim" --no-pacing --train-ms 0 --no-stdin --path-file "$run/sim.path" --control-fifo "$run/control" \
    --wire-log "$run/wire.log" > "$run/sim.out" 2> "$run/sim.err" &
sim_pid=$!
cleanup() {
    kill "$sim_pid" 2> /dev/null || true
    wait "$sim_pid" 2> /dev/null || true
    "$wineserver" -k 2> /dev/null || true
}
trap cleanup EXIT
for _ in $(seq 100); do
    [ -s "$run/sim.path" ] && break
    sleep 0.05
done
[ -s "$run/sim.path" ] || { cat "$run/sim.err" >&2; echo "test-windows: tessor-sim did not start" >&2; exit 1; }

# Wine finds COM ports through this key (its dosdevices links are rewritten at start); the server is
# restarted so that the next program reads the mapping afresh.
"$wine" reg add 'HKLM\Software\Wine\Ports' /v COM1 /t REG_SZ /d "$(cat "$run/sim.path")" /f > /dev/null
"$wineserver" -k 2> /dev/null || true
"$wineserver" -w

# The unit tests (one CTest entry per program, each run under Wine); the device test uses COM1.
TESSOR_TEST_COM=COM1 ctest --test-dir "$build/win" --output-on-failure --timeout 300

# tessor-cli.exe end to end against the simulator.
WINE="$wine" RUN_DIR="$run" CLI="$build/win/cli/tessor-cli.exe" LINUX_CLI="$build/host/cli/tessor-cli" \
    bash tests/windows/cli_under_wine.sh

# The zip: the program, its manual as text and the README's Windows section.
cmake --build "$build/win" --target windows-zip
zip=$(ls "$build"/win/tessor-cli-*-windows-x64.zip)
listing=$(cmake -E tar tf "$zip")
for f in tessor-cli.exe tessor-cli.txt README-Windows.txt; do
    grep -q "/$f\$" <<< "$listing" || { echo "test-windows: $zip lacks $f" >&2; exit 1; }
done

echo "test-windows: all passed ($zip)"
