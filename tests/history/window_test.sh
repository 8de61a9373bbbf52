#!/usr/bin/env bash
# The Line History window of the real program, driven through a virtual X server with real input: the
# sheet is started against tessor-sim, the window opened from the Window menu, background recording turned
# on, the line cut and restored, and the window's samples and events exported through its own dialogs.
# Usage: window_test.sh <tessor-configurator> <tessor-sim>
set -euo pipefail
app=$1
simulator=$2
work=$(mktemp -d)
pids=()
# Each process is waited for: an X server still closing down could take its display's socket away from the
# next test's server.
cleanup() {
    for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
    for p in "${pids[@]}"; do wait "$p" 2>/dev/null || true; done
    rm -rf "$work"
}
trap cleanup EXIT
fail() {
    echo "FAIL: $*" >&2
    for log in app xvfb; do [ -s "$work/$log.log" ] && cat "$work/$log.log" >&2; done
    exit 1
}

for tool in Xvfb xdotool convert; do
    command -v $tool >/dev/null || fail "needs $tool (apt-get install xvfb xdotool imagemagick)"
done
exec 3>"$work/display"
Xvfb -displayfd 3 -screen 0 1400x900x24 -nolisten tcp -noreset >/dev/null 2>"$work/xvfb.log" &
pids+=($!)
exec 3>&-
for _ in $(seq 600); do [ -s "$work/display" ] && break; sleep 0.05; done
[ -s "$work/display" ] || fail "the virtual X server did not start"
export DISPLAY=:$(cat "$work/display")
for _ in $(seq 600); do xdotool getdisplaygeometry >/dev/null 2>&1 && break; sleep 0.05; done
xdotool getdisplaygeometry >/dev/null 2>&1 || fail "the virtual X server on $DISPLAY takes no client"
# The suite runs its window tests offscreen; this one needs the X server.
export QT_QPA_PLATFORM=xcb

"$simulator" --train-ms 300 --path-file "$work/path" --control-fifo "$work/fifo" --wire-log "$work/wire.log" --no-stdin \
    >/dev/null 2>"$work/sim.log" &
pids+=($!)
for _ in $(seq 100); do [ -s "$work/path" ] && break; sleep 0.05; done
[ -s "$work/path" ] || fail "tessor-sim did not start"
export TESSOR_COM1=$(cat "$work/path")
export XDG_CONFIG_HOME=$work/config
export TESSOR_HISTORY_INTERVAL_MS=250 # a pass at 9600 baud takes about 170 ms

key() { xdotool key --clearmodifiers "$@"; }
find_window() { xdotool search --name "$1" 2>/dev/null | head -n 1 || true; }
# Sends keys until a window appears (a key can be lost while a window is still taking the focus).
keys_until() {
    local title=$1
    shift
    for _ in 1 2 3; do
        key "$@"
        for _ in $(seq 40); do [ -n "$(find_window "$title")" ] && return 0; sleep 0.1; done
    done
    fail "no window \"$title\" after pressing $*"
}
window() { # waits up to 30 s: a loaded machine starts the program slowly
    for _ in $(seq 300); do
        local w; w=$(xdotool search --name "$1" 2>/dev/null | head -n 1 || true)
        [ -n "$w" ] && { echo "$w"; return 0; }
        sleep 0.1
    done
    fail "no window \"$1\""
}
# PHY passes the tool has begun, from the simulator's record of the commands it received (each pass reads
# the error value 8C99 once).
passes() { grep -c '^RD 8C99' "$work/wire.log" 2>/dev/null || true; }
wait_passes() { # waits until the tool has begun $1 more passes
    local target=$(($(passes) + $1))
    for _ in $(seq 300); do [ "$(passes)" -ge "$target" ] && return 0; sleep 0.1; done
    fail "the tool began only $(passes) PHY passes, not $target"
}
type_file() { # answers a file dialog with a path
    window "$1" >/dev/null
    sleep 0.7
    xdotool type --delay 15 "$2"
    key Return
    for _ in $(seq 100); do [ -s "$2" ] && return 0; sleep 0.1; done
    fail "$2 was not written"
}

"$app" >"$work/app.log" 2>&1 &
pids+=($!)
dialog=$(window "^Initialize Hardware")
sleep 1
xdotool windowfocus "$dialog" 2>/dev/null || true
keys_until "^Tessor Console Configurator" Return
sleep 1.5
for _ in 1 2 3; do
    key alt+w
    sleep 0.7
    key h
    for _ in $(seq 30); do [ -n "$(find_window "^Line History")" ] && break 2; sleep 0.1; done
    key Escape Escape
done
history=$(window "^Line History")
sleep 1
xdotool windowfocus "$history"
sleep 0.3
key alt+b # Record in background
wait_passes 5
echo "cut on" >"$work/fifo"
wait_passes 3 # the line seen down, passes without SNR
echo "cut off" >"$work/fifo"
wait_passes 5 # trained again and seen up, passes with SNR
xdotool windowfocus "$history"
sleep 0.3
keys_until "^Export Samples and Events" alt+c
type_file "^Export Samples and Events" "$work/export.csv"
sleep 0.5
xdotool windowfocus "$history"
sleep 0.3
keys_until "^Export Graphs" alt+p
type_file "^Export Graphs" "$work/graphs.png"

csv=$work/export.csv
head -n 1 "$csv" | grep -q '^time_utc,monotonic_ms,type,' || fail "no header in the export"
phy=$(grep -c ',phy,' "$csv" || true)
[ "$phy" -ge 12 ] || fail "only $phy PHY samples recorded"
grep -q ',recording,Record in background on,\?$' "$csv" || fail "background recording not in the journal"
# The line goes down and comes back, in that order, after it was first seen up.
order=$(grep -o ',\(line_up\|line_down\),' "$csv" | tr -d , | tr '\n' ' ')
[[ "$order" == "line_up line_down line_up " ]] || fail "line events: $order"
grep -q ',link_fail,Link fail counter 0 -> 1 (+1),\?$' "$csv" || fail "no link fail event"
# While the line was down the passes have no SNR (the graphs show a gap there), before and after they do.
snr_column=$(head -n 1 "$csv" | tr ',' '\n' | grep -n '^snr_db$' | cut -d: -f1)
values=$(grep ',phy,' "$csv" | cut -d, -f"$snr_column" | sed 's/^$/-/' | uniq | tr '\n' ' ')
[[ "$values" =~ ^[0-9.\ ]+-\ [-\ ]*[0-9] ]] || fail "SNR during the run: $values"
# Every PHY row but the first has the class of its interval; the line's passes down are unavailable.
class_column=$(head -n 1 "$csv" | tr ',' '\n' | grep -n '^interval_class$' | cut -d: -f1)
classes=$(grep ',phy,' "$csv" | tail -n +2 | cut -d, -f"$class_column")
! grep -qx '' <<<"$classes" || fail "PHY rows without their interval class"
grep -qx unavailable <<<"$classes" || fail "no unavailable interval while the line was cut"
grep -qx good <<<"$classes" || fail "no good interval"
# The unavailable intervals are marked in their colour under the time axis of each graph.
marked=$(convert "$work/graphs.png" -format %c histogram:info:- | grep -i '#DC2828' | awk '{ n += $1 } END { print n + 0 }')
[ "$marked" -ge 30 ] || fail "only $marked pixels mark the unavailable intervals"
# The SNR graph (the top sixth of the exported graphs, below its legend) drew the samples as a line in
# the SNR's blue, across most of its width.
size=$(convert "$work/graphs.png" -format '%w %h' info:)
read -r width height <<<"$size"
blue=$(convert "$work/graphs.png" -crop "${width}x$((height / 6 - 30))+0+30" +repage -format %c histogram:info:- |
    grep -i '#1F77B4' | awk '{ n += $1 } END { print n + 0 }')
[ "$blue" -ge $((width / 3)) ] || fail "the SNR graph shows only $blue pixels of its line"
echo "PASS: $phy PHY samples, line events: $order, SNR line $blue pixels, $marked pixels mark unavailable"
