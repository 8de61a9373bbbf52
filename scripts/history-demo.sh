#!/usr/bin/env bash
# Records the line against the simulated modem pair with the real tool under a virtual X server, with the
# line cut and restored once and a burst of RS errors, then screenshots the Line History window live and
# with the recording file opened again. Usage: scripts/history-demo.sh [seconds] (default 3600)
#   INTERVAL=ms     background pass interval (default 5000); CLOCK=n simulator clock scale (default 1)
set -euo pipefail
cd "$(dirname "$0")/.."
duration=${1:-3600}
build=${BUILD_DIR:-build}
out=${OUT_DIR:-docs/screenshots}
work=$(mktemp -d)
recording=${RECORDING:-$work/line.csv}
mkdir -p "$out"
for tool in Xvfb xdotool import; do
    command -v $tool >/dev/null || { echo "needs $tool (apt-get install xvfb xdotool imagemagick)" >&2; exit 1; }
done

pids=()
cleanup() { for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done; rm -rf "$work"; }
trap cleanup EXIT

# A free display of our own, chosen by the server.
exec 3>"$work/display"
Xvfb -displayfd 3 -screen 0 1600x1000x24 >/dev/null 2>&1 &
pids+=($!)
for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.05; done
[ -s "$work/display" ] || { echo "Xvfb did not start" >&2; exit 1; }
export DISPLAY=:$(cat "$work/display")

"$build/sim/tessor-sim" --line-life --clock-scale "${CLOCK:-1}" --path-file "$work/path" \
    --control-fifo "$work/fifo" --no-stdin >/dev/null 2>"$work/sim.log" &
pids+=($!)
for _ in $(seq 100); do [ -s "$work/path" ] && break; sleep 0.05; done
export TESSOR_COM1=$(cat "$work/path")
export XDG_CONFIG_HOME=$work/config
export TESSOR_HISTORY_INTERVAL_MS=${INTERVAL:-5000}
sim() { echo "$1" >"$work/fifo"; }
key() { xdotool key --clearmodifiers "$@"; }
window() { # waits for a window by its title
    for _ in $(seq 100); do
        local w; w=$(xdotool search --name "$1" | head -n 1 || true)
        [ -n "$w" ] && { echo "$w"; return; }
        sleep 0.1
    done
    echo "no window $1" >&2; exit 1
}
shot() { import -window "$1" "$out/$2.png"; echo "$out/$2.png"; }

cd "$OLDPWD" >/dev/null 2>&1 || true
cd "$(dirname "$0")/.."
"$build/app/tessor-configurator" >"$work/app.log" 2>&1 &
pids+=($!)
window "^Initialize Hardware" >/dev/null
sleep 1
key Return
sheet=$(window "^Tessor Console Configurator")
sleep 2
xdotool windowmove "$sheet" 1000 0
# Ethernet Status: start counting (the page stays in front, so the PHY passes come from the background).
key ctrl+Tab ctrl+Tab ctrl+Tab
sleep 1
xdotool mousemove --window "$sheet" 394 384 click 1
sleep 1
key alt+w
sleep 0.5
key h
history=$(window "^Line History")
xdotool windowmove "$history" 0 0
sleep 1
key alt+b
sleep 0.5
key alt+r
dialog=$(window "^Record to File")
sleep 0.5
xdotool type --delay 20 "$recording"
key Return
sleep 1

# The line's life: cut and restored once, then a burst of corrected errors.
sleep $((duration * 40 / 100))
sim "cut on"
sleep $((duration * 5 / 100))
sim "cut off"
sleep $((duration * 15 / 100))
sim "burst $((duration / 30 + 20))"
sleep $((duration * 40 / 100))
sleep 2
shot "$history" history-live

# The recording opened again in the same window.
xdotool windowfocus "$history"
sleep 0.5
key alt+o
window "^Open Recording" >/dev/null
sleep 0.5
xdotool type --delay 20 "$recording"
key Return
window "^Line History - " >/dev/null
sleep 2
shot "$history" history-reopened
cp "$recording" "$out/history-recording.csv" 2>/dev/null || true
echo "recording: $(wc -l <"$recording") rows"
