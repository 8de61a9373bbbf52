#!/usr/bin/env bash
# Package test: builds the Debian package, installs it, starts the installed simulator on a pseudo-terminal
# and the installed tool on it as COM1 (offscreen, from the installed data directory, as the desktop entry
# does), and checks that the tool is still running after 3 seconds: its start-up dialog waits for a person,
# so a tool that is still there has opened. Both are then ended.
#
# Debian 12, as root (or with sudo). BUILD_DIR selects the build directory (default: build); it is
# configured when it has no cache yet. The package stays installed afterwards
# (remove it with: apt-get remove tessor-configurator).
set -euo pipefail
cd "$(dirname "$0")/.."

build=${BUILD_DIR:-build}
datadir=/usr/share/tessor-configurator
bindir=/usr/bin

fail() {
    echo "package test: FAILED: $*" >&2
    exit 1
}

if [ "$(id -u)" -eq 0 ]; then
    as_root=()
elif command -v sudo >/dev/null 2>&1; then
    as_root=(sudo)
else
    fail "installing the package needs root or sudo"
fi

work=$(mktemp -d)
sim_pid=
app_pid=

# Ends one process we started (by its id): politely first, then for sure.
stop_process() {
    local pid=$1
    [ -n "$pid" ] || return 0
    kill "$pid" 2>/dev/null || return 0
    for _ in $(seq 40); do
        is_running "$pid" || break
        sleep 0.05
    done
    kill -KILL "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
}

# The state letter of a process (R, S, Z, ...), empty when it does not exist.
process_state() {
    local stat
    stat=$(cat "/proc/$1/stat" 2>/dev/null) || return 0
    stat=${stat##*) } # after the command name, which may hold blanks
    echo "${stat%% *}"
}

# True while a process we started runs (neither gone nor ended and waiting to be reaped).
is_running() {
    local state
    state=$(process_state "$1")
    [ -n "$state" ] && [ "$state" != Z ]
}

cleanup() {
    stop_process "$app_pid"
    stop_process "$sim_pid"
    rm -rf "$work"
}
trap cleanup EXIT

show_logs() {
    for log in "$work/app.log" "$work/sim.log"; do
        if [ -s "$log" ]; then
            echo "--- $(basename "$log"):" >&2
            tail -n 40 "$log" >&2
        fi
    done
}

# 1. Build the package.
if [ ! -f "$build/CMakeCache.txt" ]; then
    cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTESSOR_BUILD_UI=ON
fi
cmake --build "$build" -j2
[ -f "$build/CPackConfig.cmake" ] ||
    fail "$build has no package configuration: the top-level CMakeLists.txt must include packaging/install.cmake"
rm -f "$build"/tessor-configurator_*.deb
cmake --build "$build" --target package
debs=("$build"/tessor-configurator_*.deb)
[ -f "${debs[0]}" ] || fail "no tessor-configurator_*.deb in $build"
deb=$(cd "$(dirname "${debs[0]}")" && pwd)/$(basename "${debs[0]}")
echo "package: $deb"

# 2. Install it with its dependencies (again, if the same version is installed already).
export DEBIAN_FRONTEND=noninteractive
if ! "${as_root[@]}" apt-get install -y --reinstall "$deb"; then
    echo "apt-get could not install the file; trying dpkg -i and apt-get -f install" >&2
    "${as_root[@]}" dpkg -i "$deb" || true
    "${as_root[@]}" apt-get install -y -f
fi
[ "$(dpkg-query -W -f='${Status}' tessor-configurator 2>/dev/null)" = "install ok installed" ] ||
    fail "tessor-configurator is not installed"

for f in "$bindir/tessor-configurator" "$bindir/tessor-cli" "$bindir/tessor-sim"; do
    [ -x "$f" ] || fail "$f missing"
done
for f in "$datadir/Help/index.htm" "$datadir/Help/page_04.htm" "$datadir/Help/help.css" \
    /usr/share/applications/tessor-configurator.desktop \
    /usr/share/icons/hicolor/64x64/apps/tessor-configurator.png; do
    [ -f "$f" ] || fail "$f missing"
done
# Manual pages, the licence and the run-time dependency on Qt's platform plugins.
for program in tessor-configurator tessor-sim tessor-demo tessor-cli; do
    page=/usr/share/man/man1/$program.1.gz
    [ -f "$page" ] || fail "$page missing"
    zcat "$page" | grep -q "^\.TH $(echo "$program" | tr a-z A-Z) 1 " || fail "$page is not a section 1 page of $program"
    if command -v man >/dev/null 2>&1; then
        warnings=$(man -l --warnings=all "$page" 2>&1 >/dev/null) || fail "man cannot show $page"
        [ -z "$warnings" ] || fail "$page: $warnings"
    fi
    "$bindir/$program" --version | grep -qx "$program [0-9.]*" || fail "$program --version does not name its version"
done
copyright=/usr/share/doc/tessor-configurator/copyright
[ -f "$copyright" ] || fail "$copyright missing"
grep -q '^License: Expat' "$copyright" || fail "$copyright names no licence"
# The changelog of a native package, its newest entry the installed version; lintian (when present)
# finds no error in the package.
changelog=/usr/share/doc/tessor-configurator/changelog.gz
[ -f "$changelog" ] || fail "$changelog missing"
version=$(dpkg-query -W -f='${Version}' tessor-configurator)
zcat "$changelog" >"$work/changelog"
head -n 1 "$work/changelog" | grep -qF "tessor-configurator ($version) " ||
    fail "$changelog does not begin with version $version"
if command -v lintian >/dev/null 2>&1; then
    lintian "$deb" >"$work/lintian.txt" 2>&1 || true
    if grep -q '^E: ' "$work/lintian.txt"; then
        grep '^E: ' "$work/lintian.txt" >&2
        fail "lintian finds errors in $deb"
    fi
fi
depends=$(dpkg-query -W -f='${Depends}' tessor-configurator)
case ", $depends," in
*", qt6-qpa-plugins"[,\ ]*) ;;
*) fail "the package does not depend on qt6-qpa-plugins (Depends: $depends)" ;;
esac
desktop=/usr/share/applications/tessor-configurator.desktop
grep -qx "Exec=$bindir/tessor-configurator" "$desktop" || fail "$desktop does not start $bindir/tessor-configurator"
grep -qx "Path=$datadir" "$desktop" || fail "$desktop does not start the tool in $datadir"

# The manual pages are in the package (some images exclude /usr/share/man when installing). The listing
# is taken whole first: grep -q stops reading early, and with pipefail the killed dpkg-deb fails the test.
dpkg-deb -c "$deb" >"$work/contents.txt"
grep -q "usr/share/man/man1/tessor-cli-monitor.1" "$work/contents.txt" ||
    fail "the package holds no tessor-cli-monitor.1"
rules=$datadir/prometheus/tessor-alerts.yml
[ -f "$rules" ] || fail "$rules missing"
if command -v promtool >/dev/null 2>&1; then
    promtool check rules "$rules" >/dev/null || fail "the installed Prometheus rules do not check"
fi
for f in "$datadir/monitoring/tessor-dashboard.json" "$datadir/Help/page_runbook.htm"; do
    [ -f "$f" ] || fail "$f missing"
done
# The example inventory, read by the installed program: its six boards.
inventory=$datadir/fleet/inventory.yaml
[ -f "$inventory" ] || fail "$inventory missing"
boards=$("$bindir/tessor-cli" fleet list --inventory "$inventory" | tail -n +2 | wc -l) ||
    fail "tessor-cli fleet list cannot read the installed $inventory"
[ "$boards" = 6 ] || fail "tessor-cli fleet list shows $boards boards of $inventory, not 6"
alertmanager=$datadir/monitoring/alertmanager.yml
[ -f "$alertmanager" ] || fail "$alertmanager missing"
if command -v amtool >/dev/null 2>&1; then
    amtool check-config "$alertmanager" >/dev/null || fail "the installed Alertmanager example does not check"
fi
unit=/lib/systemd/system/tessor-monitor@.service
[ -f "$unit" ] || fail "$unit missing"
inventory_unit=/lib/systemd/system/tessor-monitor-inventory.service
[ -f "$inventory_unit" ] || fail "$inventory_unit missing"
if command -v systemd-analyze >/dev/null 2>&1; then
    # An instance of the template, as systemctl would make it for /dev/ttyUSB0.
    mkdir -p "$work/units"
    cp "$unit" "$work/units/tessor-monitor@dev-ttyUSB0.service"
    systemd-analyze verify --man=no "$work/units/tessor-monitor@dev-ttyUSB0.service" ||
        fail "the installed monitor unit does not verify"
    systemd-analyze verify --man=no "$inventory_unit" || fail "the installed inventory monitor unit does not verify"
fi
if command -v desktop-file-validate >/dev/null 2>&1; then
    desktop-file-validate /usr/share/applications/tessor-configurator.desktop ||
        fail "the installed desktop entry does not validate"
fi

# 3. The installed simulator on a pseudo-terminal.
pathfile=$work/sim.path
"$bindir/tessor-sim" --path-file "$pathfile" --no-stdin --no-pacing >"$work/sim.log" 2>&1 &
sim_pid=$!
for _ in $(seq 100); do
    [ -s "$pathfile" ] && break
    is_running "$sim_pid" || break
    sleep 0.05
done
[ -s "$pathfile" ] || {
    show_logs
    fail "tessor-sim did not announce its pseudo-terminal"
}
com1=$(cat "$pathfile")
[ -e "$com1" ] || fail "tessor-sim announced $com1, which does not exist"
echo "simulated modem pair on $com1"

# The installed command-line tool on the same simulator (it closes the port again when done).
TESSOR_COM1="$com1" "$bindir/tessor-cli" status >"$work/cli.log" 2>&1 || {
    cat "$work/cli.log"
    fail "the installed tessor-cli status failed on $com1"
}
grep -q "Board identification" "$work/cli.log" || fail "the installed tessor-cli status printed no identification"

# The installed monitor on it: one pass with the board answering, then SIGTERM ends it.
"$bindir/tessor-cli" monitor "$com1" --listen 127.0.0.1:0 --interval 1 --jsonl >"$work/monitor.jsonl" \
    2>"$work/monitor.log" &
monitor_pid=$!
for _ in $(seq 100); do
    grep -q '"up":true' "$work/monitor.jsonl" 2>/dev/null && break
    sleep 0.05
done
kill -TERM "$monitor_pid"
monitor_status=0
wait "$monitor_pid" || monitor_status=$?
grep -q '"up":true' "$work/monitor.jsonl" || {
    cat "$work/monitor.log"
    fail "the installed tessor-cli monitor reported no pass of the board on $com1"
}
[ "$monitor_status" -eq 0 ] || fail "the installed tessor-cli monitor ended with $monitor_status on SIGTERM"

# 4. The installed tool, started like the desktop entry starts it, with fresh per-user settings.
mkdir -p "$work/config" "$work/runtime"
chmod 700 "$work/runtime"
(
    cd "$datadir"
    exec env QT_QPA_PLATFORM=offscreen TESSOR_COM1="$com1" XDG_CONFIG_HOME="$work/config" \
        XDG_RUNTIME_DIR="$work/runtime" "$bindir/tessor-configurator"
) >"$work/app.log" 2>&1 &
app_pid=$!

sleep 3
if ! is_running "$app_pid"; then
    status=0
    wait "$app_pid" || status=$?
    app_pid=
    show_logs
    fail "tessor-configurator ended within 3 seconds (exit status $status)"
fi
if ! is_running "$sim_pid"; then
    show_logs
    fail "tessor-sim ended early"
fi

stop_process "$app_pid"
app_pid=
stop_process "$sim_pid"
sim_pid=
echo "package test: passed"
