#!/usr/bin/env bash
# tessor-cli.exe under Wine through a real ser2net on 127.0.0.1 (running natively, its RFC 2217 and raw
# TCP accepters on the simulator's pseudo-terminal), beside the Linux tessor-cli on the pseudo-terminal
# itself: a read and a write through each accepter send the same lines and give the same result. Then the
# faults, from fake servers of fake_console_server.py: a refused connection is an open failure that names
# the host and port, a server that never answers is no answer, one that closes in the middle of a reply is
# a lost device, and one that refuses the telnet options still carries the console. Every run is bounded
# in time.
# Run by scripts/test-windows.sh, which starts the simulator. Environment: WINE, CLI (the .exe),
# LINUX_CLI, RUN_DIR (the simulator's files), SER2NET (default: ser2net from the PATH or /usr/sbin).
set -euo pipefail
: "${WINE:?}" "${CLI:?}" "${LINUX_CLI:?}" "${RUN_DIR:?}"
ser2net=${SER2NET:-$(command -v ser2net || echo /usr/sbin/ser2net)}
wire="$RUN_DIR/wire.log"
pty=$(cat "$RUN_DIR/sim.path")
dir="$RUN_DIR/network"
rm -rf "$dir"
mkdir -p "$dir"
failures=0

fail() {
    echo "FAIL: $*" >&2
    failures=$((failures + 1))
}

# A port nobody listens on now, from the kernel's ephemeral range.
free_port() {
    python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'
}
rfc_port=$(free_port)
raw_port=$(free_port)
closed_port=$(free_port)

cat > "$dir/ser2net.yaml" << YAML
%YAML 1.1
---
connection: &rfc2217
  accepter: telnet(rfc2217),tcp,127.0.0.1,$rfc_port
  connector: serialdev,$pty,9600n81,local
connection: &raw
  accepter: tcp,127.0.0.1,$raw_port
  connector: serialdev,$pty,9600n81,local
YAML
"$ser2net" -n -u -c "$dir/ser2net.yaml" -P "$dir/ser2net.pid" > "$dir/ser2net.out" 2>&1 &
ser2net_pid=$!
fake_pid=""
trap 'kill "$ser2net_pid" ${fake_pid:+"$fake_pid"} 2> /dev/null || true; wait 2> /dev/null || true' EXIT
# Listening, from the kernel's table: a connection would make ser2net open the pseudo-terminal.
listens() { grep -qi "0100007F:$(printf '%04X' "$1") 00000000:0000 0A" /proc/net/tcp; }
for _ in $(seq 100); do
    listens "$rfc_port" && listens "$raw_port" && break
    sleep 0.05
done
listens "$rfc_port" && listens "$raw_port" || { cat "$dir/ser2net.out" >&2; echo "network_under_wine: ser2net did not start" >&2; exit 1; }

# Runs one side, at most 60 s, with the wire log emptied first; leaves status, output (CR removed), error
# output and the lines the simulator received in $dir/<tag>.{status,out,err,wire}.
run_side() {
    local tag=$1
    shift
    : > "$wire"
    local status=0
    timeout 60 "$@" > "$dir/$tag.out.raw" 2> "$dir/$tag.err.raw" < /dev/null || status=$?
    echo "$status" > "$dir/$tag.status"
    tr -d '\r' < "$dir/$tag.out.raw" > "$dir/$tag.out"
    tr -d '\r' < "$dir/$tag.err.raw" > "$dir/$tag.err"
    cp "$wire" "$dir/$tag.wire"
}
expect_status() {
    [ "$(cat "$dir/$1.status")" = "$2" ] ||
        fail "$1: exit code $(cat "$dir/$1.status"), expected $2; stderr: $(cat "$dir/$1.err")"
}
expect_same() {
    cmp -s "$dir/$1" "$dir/$2" || fail "$1 differs from $2: $(diff "$dir/$1" "$dir/$2" | head -20)"
}

# The reference: the Linux tool on the pseudo-terminal directly.
run_side read-linux "$LINUX_CLI" --port "$pty" read 8C40 4
run_side write-linux "$LINUX_CLI" --port "$pty" --yes write 8C10 32
expect_status read-linux 0
expect_status write-linux 0

for url in "rfc2217://127.0.0.1:$rfc_port" "socket://127.0.0.1:$raw_port"; do
    scheme=${url%%:*}
    run_side "read-$scheme" "$WINE" "$CLI" --port "$url" read 8C40 4
    expect_status "read-$scheme" 0
    expect_same "read-$scheme.out" read-linux.out
    expect_same "read-$scheme.wire" read-linux.wire
    run_side "write-$scheme" "$WINE" "$CLI" --port "$url" --yes write 8C10 32
    expect_status "write-$scheme" 0
    expect_same "write-$scheme.out" write-linux.out
    expect_same "write-$scheme.wire" write-linux.wire
done
grep -qx "RD 8C40,4" "$dir/read-linux.wire" || fail "the reference read sent: $(cat "$dir/read-linux.wire")"
grep -q "^WR 8C10 32" "$dir/write-linux.wire" || fail "the reference write sent: $(cat "$dir/write-linux.wire")"

# Nobody listens: the open fails (exit code 3) with the URL and the reason, and nothing is sent.
run_side refused-win "$WINE" "$CLI" --port "rfc2217://127.0.0.1:$closed_port" read 8C10
expect_status refused-win 3
grep -qF "cannot open rfc2217://127.0.0.1:$closed_port" "$dir/refused-win.err" ||
    fail "refused-win.err: $(cat "$dir/refused-win.err")"
[ ! -s "$dir/refused-win.wire" ] || fail "a refused connection sent $(cat "$dir/refused-win.wire")"

# The faults of a console server, each from a fake one of our own on 127.0.0.1 that serves one connection
# and ends within 60 s: it starts, writes its port to a file, and the Windows tool runs against it.
fake_url=""
start_fake() {
    local script=$1 scheme=$2
    rm -f "$dir/fake.port"
    python3 "$(dirname "$0")/fake_console_server.py" "$script" "$dir/fake.port" --lifetime 60 &
    fake_pid=$!
    for _ in $(seq 100); do
        [ -s "$dir/fake.port" ] && break
        sleep 0.05
    done
    fake_url="$scheme://127.0.0.1:$(cat "$dir/fake.port" 2> /dev/null || echo 0)"
}
stop_fake() {
    kill "$fake_pid" 2> /dev/null || true
    wait "$fake_pid" 2> /dev/null || true
}
expect_err() {
    grep -qF -- "$2" "$dir/$1.err" || fail "$1: standard error lacks '$2': $(cat "$dir/$1.err")"
}
# Ended by the tool itself, well before the 60 s bound of run_side.
expect_quick() {
    [ "$(cat "$dir/$1.seconds")" -lt "$2" ] || fail "$1 took $(cat "$dir/$1.seconds") s, more than $2 s"
}
timed_side() {
    local tag=$1 start=$SECONDS
    shift
    run_side "$tag" "$@"
    echo $((SECONDS - start)) > "$dir/$tag.seconds"
}

for scheme in rfc2217 socket; do
    # Accepts and never answers, not even to the telnet options: the board does not answer (exit code 4).
    start_fake silent "$scheme"
    timed_side "silent-$scheme" "$WINE" "$CLI" --port "$fake_url" --answer-timeout-ms 500 read 8C10
    stop_fake
    expect_status "silent-$scheme" 4
    expect_err "silent-$scheme" "the board on $fake_url did not answer within 500 ms."
    expect_quick "silent-$scheme" 30

    # Half a reply, then the connection is closed: the device is lost in the middle of the command.
    start_fake half-reply "$scheme"
    timed_side "half-$scheme" "$WINE" "$CLI" --port "$fake_url" --answer-timeout-ms 1000 read 8C10
    stop_fake
    expect_status "half-$scheme" 4
    expect_err "half-$scheme" "Connection closed by the console server"
    expect_err "half-$scheme" "the connection to the console server at $fake_url ended or failed."
    expect_quick "half-$scheme" 30
done

# A telnet server that refuses binary mode and the COM-PORT-OPTION still carries the console: the port
# opens after the negotiation bound, and the command is answered.
start_fake refuse-options rfc2217
timed_side refusing-options "$WINE" "$CLI" --port "$fake_url" read 8C10
stop_fake
expect_status refusing-options 0
[ "$(cat "$dir/refusing-options.out")" = "8C10: 3F" ] ||
    fail "refusing-options printed '$(cat "$dir/refusing-options.out")'; stderr: $(cat "$dir/refusing-options.err")"
expect_quick refusing-options 30

if [ "$failures" -ne 0 ]; then
    echo "network_under_wine: $failures check(s) failed" >&2
    exit 1
fi
echo "network_under_wine: read and write through ser2net's RFC 2217 and raw accepters; refused, silent, half-reply and option-refusing servers checked"
