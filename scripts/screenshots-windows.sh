#!/usr/bin/env bash
# Screenshots of the Windows window program under Wine against the simulator, into
# docs/screenshots/windows-*.png. Needs the build of scripts/test-windows.sh (BUILD_DIR, default
# build-windows): its test build of tessor-configurator.exe, its Linux simulator and its Wine prefix.
set -euo pipefail
cd "$(dirname "$0")/.."
build=$(cd "${BUILD_DIR:-build-windows}" && pwd)
exe="$build/win/tests/windows/tessor-configurator-probe.exe"
[ -f "$exe" ] || { echo "screenshots-windows: $exe is missing; run scripts/test-windows.sh first" >&2; exit 1; }
for tool in xdotool import convert; do
    command -v $tool > /dev/null || { echo "screenshots-windows: needs $tool (xdotool, imagemagick)" >&2; exit 1; }
done
WINEPREFIX="$build/wineprefix" WINE=$(command -v wine64 || echo /usr/lib/wine/wine64) \
    WINESERVER=$(command -v wineserver || echo /usr/lib/wine/wineserver) \
    TESSOR_CONFIGURATOR_EXE="$exe" TESSOR_SIM="$build/host/sim/tessor-sim" TESSOR_SOURCE_DIR="$PWD" \
    PYTHONDONTWRITEBYTECODE=1 python3 tests/windows/screenshots_wine.py "$PWD/docs/screenshots"
