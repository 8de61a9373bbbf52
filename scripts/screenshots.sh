#!/usr/bin/env bash
# Takes a screenshot of each window of the running tool under a virtual X server, against the simulated
# modem pair, into docs/screenshots/. Usage: scripts/screenshots.sh [lt|nt]
set -euo pipefail
cd "$(dirname "$0")/.."
side=${1:-lt}
build=${BUILD_DIR:-build}
out=docs/screenshots
mkdir -p "$out"
for tool in xdotool import; do
    command -v $tool >/dev/null || { echo "needs $tool (apt-get install xdotool imagemagick)"; exit 1; }
done

# A free display of our own: others may run virtual X servers on this machine at the same time.
displayfile=$(mktemp)
Xvfb -displayfd 3 -screen 0 1280x900x24 3>"$displayfile" >/dev/null 2>&1 &
xvfb=$!
for _ in $(seq 100); do [ -s "$displayfile" ] && break; sleep 0.05; done
[ -s "$displayfile" ] || { echo "the virtual X server did not start"; exit 1; }
export DISPLAY=":$(cat "$displayfile")"
rm -f "$displayfile"
pathfile=$(mktemp)
settings=$(mktemp -d)
"$build/sim/tessor-sim" --side "$side" --train-ms 500 --path-file "$pathfile" --no-stdin >/dev/null 2>&1 &
sim=$!
trap 'kill $app $sim $xvfb 2>/dev/null || true; rm -rf "$pathfile" "$settings"' EXIT
app=""
for _ in $(seq 100); do [ -s "$pathfile" ] && break; sleep 0.05; done
export TESSOR_COM1
TESSOR_COM1=$(cat "$pathfile")
export XDG_CONFIG_HOME=$settings

shot() {
    sleep "${2:-1}"
    import -window root "$out/$1.png"
    # Keep only the windows, not the empty screen around them.
    convert "$out/$1.png" -bordercolor black -border 1 -fuzz 2% -trim +repage "$out/$1.png"
    echo "$out/$1.png"
}
key() { xdotool key --clearmodifiers "$@"; }

"$build/app/tessor-configurator" &
app=$!
sleep 2
shot "startup-dialog" 0
key Return
sleep 3
win=$(xdotool search --name "Tessor Console Configurator" | head -n 1)
xdotool windowmove "$win" 20 20
shot "$side-general" 2
key ctrl+Tab; shot "$side-link" 3
# Values read by the poll thread appear at the second tick of the 5-second timer.
key ctrl+Tab; shot "$side-phy" 11
key ctrl+Tab; sleep 1
click() { xdotool mousemove "$1" "$2" click 1; }
click 414 404 # Start
shot "$side-ethernet" 11
click 76 443 # Terminal
sleep 1
term=$(xdotool search --name "^Terminal$" | head -n 1)
xdotool windowmove "$term" 740 20
# A few typed commands and their replies, sent with the terminal's Send button: the counters stopped
# and the list cleared first, so that only these show.
click 414 404 # Stop
sleep 1
xdotool mousemove --window "$term" 42 537 click 1 # Clear
for command in "RD 8C10" "WR 8C12 66" "RD 8C12" "RD 8C40,06"; do
    xdotool mousemove --window "$term" 120 24 click 1
    key ctrl+a BackSpace
    xdotool type --delay 20 "$command"
    xdotool mousemove --window "$term" 262 24 click 1
    sleep 0.5
done
shot "$side-terminal" 1
xdotool windowmove "$term" 3000 3000 # out of the way
click 138 28; sleep 0.5; key v # Info > Version Info
sleep 1
about=$(xdotool search --name "^About $" | head -n 1)
[ -n "$about" ] && xdotool windowmove "$about" 60 480
shot "$side-about" 1
click 575 699 # the About box's OK
click 360 250 # back to the main window
key alt+f; sleep 0.5; key s # File > Save current configuration
sleep 1
shot "$side-save-dialog" 1
key Escape
