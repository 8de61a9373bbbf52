#!/usr/bin/env bash
# tessor-cli.exe under Wine against tessor-sim through Wine's COM1, beside the Linux tessor-cli on the
# simulator's pseudo-terminal itself: each command must send the same lines and give the same result.
# Run by scripts/test-windows.sh, which starts the simulator (train time 0, wire log, control FIFO) and
# maps COM1 to it. Environment: WINE, CLI (the .exe), LINUX_CLI, RUN_DIR (the simulator's files).
set -euo pipefail
: "${WINE:?}" "${CLI:?}" "${LINUX_CLI:?}" "${RUN_DIR:?}"
wire="$RUN_DIR/wire.log"
pty=$(cat "$RUN_DIR/sim.path")
failures=0

fail() {
    echo "FAIL: $*" >&2
    failures=$((failures + 1))
}

# Runs one side with the wire log emptied first; leaves status, output (CR removed), error output and
# the lines the simulator received in $RUN_DIR/<tag>.{status,out,err,wire}.
run_side() {
    local tag=$1
    shift
    : > "$wire"
    local status=0
    "$@" > "$RUN_DIR/$tag.out.raw" 2> "$RUN_DIR/$tag.err.raw" < /dev/null || status=$?
    echo "$status" > "$RUN_DIR/$tag.status"
    tr -d '\r' < "$RUN_DIR/$tag.out.raw" > "$RUN_DIR/$tag.out"
    tr -d '\r' < "$RUN_DIR/$tag.err.raw" > "$RUN_DIR/$tag.err"
    cp "$wire" "$RUN_DIR/$tag.wire"
}

windows() { run_side "$1" "$WINE" "$CLI" --port COM1 "${@:2}"; }
linux() { run_side "$1" "$LINUX_CLI" --port "$pty" "${@:2}"; }

expect_status() {
    local tag=$1 want=$2
    [ "$(cat "$RUN_DIR/$tag.status")" = "$want" ] ||
        fail "$tag: exit code $(cat "$RUN_DIR/$tag.status"), expected $want; stderr: $(cat "$RUN_DIR/$tag.err")"
}
expect_same() {
    cmp -s "$RUN_DIR/$1" "$RUN_DIR/$2" || fail "$1 differs from $2: $(diff "$RUN_DIR/$1" "$RUN_DIR/$2" | head -20)"
}
expect_text() {
    printf '%s' "$2" | cmp -s - "$RUN_DIR/$1" || fail "$1 is \"$(cat "$RUN_DIR/$1")\", expected \"$2\""
}
expect_line() {
    grep -qxF -- "$2" "$RUN_DIR/$1" || fail "$1 has no line \"$2\": $(head -c 600 "$RUN_DIR/$1")"
}

# One register read: exactly its console line on the wire and the register in the output.
windows read-win read 8C10
expect_status read-win 0
expect_text read-win.wire $'RD 8C10\n'
expect_text read-win.out $'8C10: 32\n'
windows read4-win --json read 8C40 4
expect_status read4-win 0
expect_text read4-win.wire $'RD 8C40,4\n'
grep -q '"text": "32 24 4F 00"' "$RUN_DIR/read4-win.out" || fail "read4-win.out: $(cat "$RUN_DIR/read4-win.out")"

# status: the whole sequence, line for line as on Linux, and the stable parts of the report.
linux status-linux status
windows status-win status
expect_status status-linux 0
expect_status status-win 0
expect_same status-win.wire status-linux.wire
[ "$(wc -l < "$RUN_DIR/status-win.wire")" -ge 25 ] || fail "status sent only $(wc -l < "$RUN_DIR/status-win.wire") lines"
expect_line status-win.out "Board identification:  8C72 = 61   8C73 = 12   8C6F = 27"
grep -E '^(Modem|Local modem|Side)' "$RUN_DIR/status-linux.out" > "$RUN_DIR/status-linux.side" || true
grep -E '^(Modem|Local modem|Side)' "$RUN_DIR/status-win.out" > "$RUN_DIR/status-win.side" || true
expect_same status-win.side status-linux.side

# save: the same lines sent and a file of the same bytes as the Linux tool writes.
rm -f "$RUN_DIR/linux.LT" "$RUN_DIR/win.LT"
linux save-linux save "$RUN_DIR/linux.LT"
windows save-win save "Z:${RUN_DIR//\//\\}\\win.LT"
expect_status save-linux 0
expect_status save-win 0
expect_same save-win.wire save-linux.wire
[ "$(wc -l < "$RUN_DIR/save-win.wire")" -ge 31 ] || fail "save sent only $(wc -l < "$RUN_DIR/save-win.wire") lines"
if [ -s "$RUN_DIR/linux.LT" ] && [ -s "$RUN_DIR/win.LT" ]; then
    cmp -s "$RUN_DIR/linux.LT" "$RUN_DIR/win.LT" || fail "the saved files differ"
else
    fail "a saved file is missing or empty"
fi

# verify: the saved file against the board, the same reads as on Linux; a short line test writes the
# same report.
linux verify-linux verify "$RUN_DIR/linux.LT"
windows verify-win verify "Z:${RUN_DIR//\//\\}\\win.LT"
expect_status verify-linux 0
expect_status verify-win 0
expect_same verify-win.wire verify-linux.wire
grep -q "(31 registers compared)" "$RUN_DIR/verify-win.out" || fail "verify-win.out: $(cat "$RUN_DIR/verify-win.out")"
rm -f "$RUN_DIR/report.html"
# The simulated line has sparse Ethernet errors, which the test counts raw and which make their intervals
# errored: those two criteria are left out.
windows linetest-win linetest --duration 2s --interval 500ms --max-rs-per-second 100000 --site "Depot <7>" \
    --skip no_ethernet_errors --skip esr --report "Z:${RUN_DIR//\//\\}\\report.html"
expect_status linetest-win 0
grep -q 'data-verdict="passed"' "$RUN_DIR/report.html" || fail "the Windows line test report has no pass"
grep -q '<td>Depot &lt;7&gt;</td>' "$RUN_DIR/report.html" || fail "the Windows report lost the site"

# A silent board: one command sent, exit code 4 after the answer time-out, a message naming the port.
echo "silent on" > "$RUN_DIR/control"
sleep 0.3
start=$(date +%s%N)
windows silent-win --answer-timeout-ms 300 read 8C10
elapsed_ms=$((($(date +%s%N) - start) / 1000000))
echo "silent off" > "$RUN_DIR/control"
sleep 0.3
expect_status silent-win 4
expect_text silent-win.wire $'RD 8C10\n'
grep -q "COM1" "$RUN_DIR/silent-win.err" || fail "silent-win.err names no port: $(cat "$RUN_DIR/silent-win.err")"
grep -q "did not answer within 300 ms" "$RUN_DIR/silent-win.err" ||
    fail "silent-win.err: $(cat "$RUN_DIR/silent-win.err")"
[ "$elapsed_ms" -lt 15000 ] || fail "the silent board took $elapsed_ms ms"

# A COM port that does not exist: exit code 3, the Windows error text.
run_side missing-win "$WINE" "$CLI" --port COM9 read 8C10
expect_status missing-win 3
grep -q "cannot open COM9" "$RUN_DIR/missing-win.err" || fail "missing-win.err: $(cat "$RUN_DIR/missing-win.err")"

# ports: COM1 opens, and the system's COM ports list it.
windows ports-win ports
expect_status ports-win 0
expect_line ports-win.out "COM1  COM1 (default)  can be opened"
expect_line ports-win.out "Serial devices found:"
grep -A20 '^Serial devices found:' "$RUN_DIR/ports-win.out" | grep -q '^COM1  COM1$' ||
    fail "ports-win.out lists no COM1 device: $(cat "$RUN_DIR/ports-win.out")"
[ ! -s "$RUN_DIR/ports-win.wire" ] || fail "ports sent $(cat "$RUN_DIR/ports-win.wire")"

if [ "$failures" -ne 0 ]; then
    echo "cli_under_wine: $failures check(s) failed" >&2
    exit 1
fi
echo "cli_under_wine: read, status, save, verify, line test, silent board, missing port and ports checked"
