#!/usr/bin/env bash
# Screenshots of choosing a serial device under a virtual X server, into docs/screenshots/: the
# "Initialize Hardware" dialog with its device line, and the Ports dialog listing made-up adapters
# (scripts/fake-ports.sh): an FTDI adapter leading to the simulator, and a Prolific adapter owned by the
# group "dialout". The tool runs as the user "nobody", so that the second one shows as forbidden.
# Usage: scripts/screenshots-ports.sh   (as root; needs xdotool and imagemagick)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${BUILD_DIR:-build}
out=docs/screenshots
mkdir -p "$out"
for tool in xdotool import runuser; do
    command -v $tool >/dev/null || { echo "needs $tool (apt-get install xdotool imagemagick)" >&2; exit 1; }
done
[ "$(id -u)" -eq 0 ] || { echo "run as root: the tool is started as the user nobody" >&2; exit 1; }

displayfile=$(mktemp)
Xvfb -displayfd 3 -screen 0 1280x900x24 3>"$displayfile" >/dev/null 2>&1 &
xvfb=$!
for _ in $(seq 100); do [ -s "$displayfile" ] && break; sleep 0.05; done
[ -s "$displayfile" ] || { echo "the virtual X server did not start" >&2; exit 1; }
export DISPLAY=":$(cat "$displayfile")"
rm -f "$displayfile"
pathfile=$(mktemp)
root=$(mktemp -d /tmp/ports.XXXX)
"$build/sim/tessor-sim" --train-ms 500 --path-file "$pathfile" --no-stdin >/dev/null 2>&1 &
sim=$!
app=""
trap 'kill $app $sim $xvfb 2>/dev/null || true; rm -rf "$pathfile" "$root"' EXIT
for _ in $(seq 100); do [ -s "$pathfile" ] && break; sleep 0.05; done
pty=$(cat "$pathfile")

bash scripts/fake-ports.sh "$root" "$pty"
chmod 666 "$pty"
chgrp dialout "$root/dev/ttyUSB1" && chmod 660 "$root/dev/ttyUSB1"
mkdir -p "$root/config/Calvadra"
printf '[Ports]\nCOM1=%s\n' "$root/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A1B2C3D4-if00-port0" \
    >"$root/config/Calvadra/tessor-configurator.conf"
chmod 755 "$root"
chown -R nobody "$root/config"

shot() {
    sleep "${2:-1}"
    import -window root "$out/$1.png"
    convert "$out/$1.png" -bordercolor black -border 1 -fuzz 2% -trim +repage "$out/$1.png"
    echo "$out/$1.png"
}
key() { xdotool key --clearmodifiers "$@"; }

runuser -u nobody -- env DISPLAY="$DISPLAY" XDG_CONFIG_HOME="$root/config" XDG_RUNTIME_DIR="$root/config" \
    TESSOR_PORTS_ROOT="$root" "$build/app/tessor-configurator" >/dev/null 2>&1 &
app=$!
sleep 2
shot "ports-startup" 0
key Tab space # "Ports..."
sleep 1
key Down # the Prolific adapter, which this user may not open
shot "ports-dialog" 1
key Escape
sleep 0.5
key Escape
