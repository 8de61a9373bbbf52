#!/usr/bin/env bash
# The Windows build, tested on Linux: cross-builds the UI-free layers, their tests, tessor-cli.exe and
# tessor-configurator.exe (against the static Qt of scripts/build-qt-windows.sh, built once into a cache)
# with mingw-w64, then runs them under Wine: the unit tests; tessor-cli.exe against tessor-sim (the Linux
# build) through a Wine COM port mapped to the simulator's pseudo-terminal, and through ser2net's RFC 2217
# and raw TCP accepters on 127.0.0.1, and against fake console servers for the network faults; the window
# program on its own
# Xvfb display driven with real X input, beside the Linux program as the reference; then the zip, the
# per-user installer (tested under Wine in fresh prefixes), SHA256SUMS and the signatures.
#   BUILD_DIR (default build-windows) holds the cross build, the Linux programs and the Wine prefix;
#   TESSOR_HOST_BUILD a Linux build tree (of scripts/test.sh) whose programs are used instead;
#   TESSOR_QT_WINDOWS the Qt cache (default /var/cache/tessor/qt-<version>-mingw64).
# With --no-window-program only the UI-free layers, their tests and tessor-cli.exe are built and tested, and
# the zip holds the command-line tool alone: no Qt for Windows is needed, and there is no installer. With
# --build-only the Windows programs are built and the Wine prefixes made, and nothing is run (.ci/run builds
# them ahead this way).
# Signing: with the certificate of TESSOR_SIGN_PKCS12 (TESSOR_SIGN_PASSWORD, TESSOR_SIGN_TIMESTAMP_URL; see
# packaging/windows-sign.sh), its signatures checked against TESSOR_SIGN_CAFILE (default: the system's
# certificates); without one, with a throwaway self-signed certificate made for the run.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/build-lock.sh
root=$PWD
ui=ON
build_only=no
for arg in "$@"; do
    case "$arg" in
    --no-window-program) ui=OFF ;;
    --build-only) build_only=yes ;;
    *)
        echo "usage: scripts/test-windows.sh [--no-window-program] [--build-only]" >&2
        exit 2
        ;;
    esac
done

bash scripts/setup-deps.sh --windows

build=${BUILD_DIR:-build-windows}
mkdir -p "$build"
build=$(cd "$build" && pwd)
launcher=()
command -v ccache > /dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
timing() { echo "test-windows: $1 after $SECONDS s"; }

# Which archive the Qt build fetches from: the one the system's package sources name.
bash tests/windows/package_mirror_test.sh

# Qt for Windows: from the cache, or built into it (about 40 minutes on two cores).
qt=""
if [ "$ui" = ON ]; then
    bash scripts/build-qt-windows.sh | tee "$build/build-qt.out"
    qt=$(tail -1 "$build/build-qt.out")
    [ -f "$qt/.tessor-stamp" ] || { echo "test-windows: no Qt for Windows in '$qt'" >&2; exit 1; }
    timing "Qt for Windows ready ($qt)"
fi

# A Wine prefix of our own, made once; no display, no desktop integration, no Mono or Gecko.
wine=$(command -v wine64 || command -v wine || echo /usr/lib/wine/wine64)
wineserver=$(command -v wineserver || echo /usr/lib/wine/wineserver)
template="$build/wineprefix-template"
export WINEPREFIX="$build/wineprefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=,winemenubuilder.exe=d"
unset DISPLAY WAYLAND_DISPLAY TESSOR_COM1 TESSOR_COM2 TESSOR_COM3

# The Windows programs and the Wine prefix they run in. The cache is written each time, so that one build
# folder can serve both kinds of run.
windows_tree() {
    cmake -S . -B "$build/win" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTESSOR_BUILD_UI="$ui" \
        -DTESSOR_QT_WINDOWS="$qt" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" "${launcher[@]}" \
        > "$build/win-configure.log"
    cmake --build "$build/win" -j2
    # A prefix as wineboot makes it, kept untouched: the installer's tests start from copies of it.
    if [ ! -f "$template/system.reg" ]; then
        echo "Creating the Wine prefix $template"
        rm -rf "$template.new"
        WINEPREFIX="$template.new" "$wine" wineboot -i > "$build/wineboot.log" 2>&1
        WINEPREFIX="$template.new" "$wineserver" -w
        mv "$template.new" "$template"
    fi
    if [ ! -f "$WINEPREFIX/system.reg" ]; then
        echo "Copying the Wine prefix to $WINEPREFIX"
        rm -rf "$WINEPREFIX"
        cp -a "$template" "$WINEPREFIX"
    fi
}
locked "$build/win" windows_tree
timing "Windows programs built"
[ "$build_only" = yes ] && exit 0

# The simulator runs on Linux, and the Linux tessor-cli and tessor-configurator (with the window probe
# preloaded) beside the Windows ones as the reference: a small native build, or the programs of a Linux
# build tree that already has them (TESSOR_HOST_BUILD, a tree of scripts/test.sh; .ci/run passes its own).
host=${TESSOR_HOST_BUILD:-$build/host}
if [ -z "${TESSOR_HOST_BUILD:-}" ]; then
    cmake -S . -B "$host" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTESSOR_BUILD_UI=ON \
        -DTESSOR_BUILD_TESTS=ON "${launcher[@]}" > "$build/host-configure.log"
fi
host_targets=(tessor-sim tessor-cli)
[ "$ui" = ON ] && host_targets+=(tessor-configurator tessor_ui_probe)
cmake --build "$host" -j2 --target "${host_targets[@]}"
host=$(cd "$host" && pwd)
sim="$host/sim/tessor-sim"
timing "Linux programs built"

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
# Each entry is named after its program, with its area in front where it has one.
bad_names=$(ctest --test-dir "$build/win" -N | sed -n 's/^ *Test *#[0-9]*: //p' | grep -Ev '^([a-z]+\.)?test_[a-z_]+$' || true)
[ -z "$bad_names" ] || { echo "test-windows: test entries with a wrong name: $bad_names" >&2; exit 1; }
TESSOR_TEST_COM=COM1 ctest --test-dir "$build/win" --output-on-failure --timeout 300

# tessor-cli.exe end to end against the simulator.
WINE="$wine" RUN_DIR="$run" CLI="$build/win/cli/tessor-cli.exe" LINUX_CLI="$host/cli/tessor-cli" \
    bash tests/windows/cli_under_wine.sh
# The same through a console server: ser2net on 127.0.0.1, its RFC 2217 and raw accepters.
WINE="$wine" RUN_DIR="$run" CLI="$build/win/cli/tessor-cli.exe" LINUX_CLI="$host/cli/tessor-cli" \
    bash tests/windows/network_under_wine.sh

timing "tessor-cli.exe tested"

if [ "$ui" = ON ]; then
    # The window program's command line, as the Linux program's: --version prints, a bad option is refused.
    exe="$build/win/app/tessor-configurator.exe"
    version=$("$wine" "$exe" --version | tr -d '\r')
    [ "$version" = "$("$host/app/tessor-configurator" --version)" ] ||
        { echo "test-windows: tessor-configurator.exe --version printed '$version'" >&2; exit 1; }
    status=0
    "$wine" "$exe" --no-such-option 2> "$run/bad-option.err" > /dev/null || status=$?
    [ "$status" = 2 ] && grep -q "no-such-option" "$run/bad-option.err" ||
        { echo "test-windows: a bad option gave status $status: $(cat "$run/bad-option.err")" >&2; exit 1; }

    # The window program under Wine with real X input, the Linux program as the reference.
    TESSOR_CONFIGURATOR="$host/app/tessor-configurator" \
        TESSOR_UI_PROBE="$host/tests/realinput/libtessor_ui_probe.so" \
        TESSOR_CONFIGURATOR_EXE="$build/win/tests/windows/tessor-configurator-probe.exe" \
        TESSOR_SIM="$sim" TESSOR_SOURCE_DIR="$root" WINE="$wine" WINESERVER="$wineserver" \
        PYTHONDONTWRITEBYTECODE=1 PYTHONPATH="$root/tests/windows:$root/tests/realinput" \
        python3 -m unittest -v test_configurator_wine
    timing "tessor-configurator.exe tested"
fi

# Signing with the certificate given, or with a throwaway one, made anew for each run and valid for a day.
if [ -z "${TESSOR_SIGN_PKCS12:-}" ]; then
    signing="$build/signing"
    rm -rf "$signing"
    mkdir -m 700 "$signing"
    TESSOR_SIGN_PASSWORD=$(openssl rand -hex 16)
    export TESSOR_SIGN_PASSWORD
    openssl req -x509 -newkey rsa:3072 -nodes -days 1 -subj "/CN=Tessor throwaway test signature" \
        -addext "keyUsage=critical,digitalSignature" -addext "extendedKeyUsage=codeSigning" \
        -keyout "$signing/key.pem" -out "$signing/certificate.pem" 2> "$signing/openssl.log"
    openssl pkcs12 -export -inkey "$signing/key.pem" -in "$signing/certificate.pem" -out "$signing/test.p12" \
        -passout env:TESSOR_SIGN_PASSWORD
    export TESSOR_SIGN_PKCS12="$signing/test.p12"
    unset TESSOR_SIGN_TIMESTAMP_URL
    sign_ca="$signing/certificate.pem"
else
    sign_ca=${TESSOR_SIGN_CAFILE:-/etc/ssl/certs/ca-certificates.crt}
fi
verify_signature() {
    osslsigncode verify -in "$1" -CAfile "$sign_ca" > "$run/verify.log" 2>&1 ||
        { cat "$run/verify.log" >&2; echo "test-windows: the signature of $1 does not verify" >&2; exit 1; }
}

# The zip: the programs, the manuals as text, the README's Windows section, the licences; with the window
# program its help and the licences of what it links in.
cmake --build "$build/win" --target windows-release
programs=(tessor-cli.exe)
contents=(tessor-cli.exe tessor-cli.txt README-Windows.txt LICENSE.txt licences/libtelnet-COPYING.txt)
if [ "$ui" = ON ]; then
    zip=$(ls "$build"/win/tessor-configurator-*-windows-x64.zip)
    programs+=(tessor-configurator.exe)
    contents+=(tessor-configurator.exe Help/index.htm Help/page_history.htm tessor-configurator.txt
        licences/Qt-LGPL-3.0-only.txt licences/Qt-GPL-3.0-only.txt licences/Qt-QT-SOURCE.txt
        licences/Qt-qt6-base-copyright.txt licences/DejaVu-fonts-copyright.txt)
else
    zip=$(ls "$build"/win/tessor-cli-*-windows-x64.zip)
fi
listing=$(cmake -E tar tf "$zip")
for f in "${contents[@]}"; do
    grep -q "/$f\$" <<< "$listing" || { echo "test-windows: $zip lacks $f" >&2; exit 1; }
done
# Qt's source is named by its Debian source package and version, not by a download address.
if [ "$ui" = ON ]; then
    note="${zip%.zip}/licences/Qt-QT-SOURCE.txt"
    grep -qF "source package qt6-base, version $(dpkg-query -W -f='${Version}' qt6-base-dev)" "$note" &&
        ! grep -q "://" "$note" ||
        { echo "test-windows: $note does not name its source as it should" >&2; exit 1; }
fi
# One program each, without DLLs beside them: no Qt, compiler runtime or thread library imported.
for exe in "${programs[@]}"; do
    dlls=$(x86_64-w64-mingw32-objdump -p "${zip%.zip}/$exe" | sed -n 's/^\s*DLL Name: //p')
    if grep -iE '^(qt|lib|mingw)' <<< "$dlls"; then
        echo "test-windows: $exe needs DLLs that Windows does not have (above)" >&2
        exit 1
    fi
done

# The programs as the zip holds them are signed; SHA256SUMS lists the zip and the installer, and matches.
release=("$(basename "$zip")")
rm -rf "$run/unzipped"
mkdir -p "$run/unzipped"
(cd "$run/unzipped" && cmake -E tar xf "$zip")
for exe in "${programs[@]}"; do
    verify_signature "$run/unzipped/$(basename "${zip%.zip}")/$exe"
done
if [ "$ui" = ON ]; then
    setup=$(ls "$build"/win/tessor-configurator-*-setup.exe)
    verify_signature "$setup"
    release+=("$(basename "$setup")")
fi
listed=$(awk '{print $2}' "$build/win/SHA256SUMS" | sort)
[ "$listed" = "$(printf '%s\n' "${release[@]}" | sort)" ] ||
    { echo "test-windows: SHA256SUMS lists $listed" >&2; exit 1; }
(cd "$build/win" && sha256sum --quiet -c SHA256SUMS) ||
    { echo "test-windows: SHA256SUMS does not match" >&2; exit 1; }
timing "zip, SHA256SUMS and signatures checked"

if [ "$ui" = ON ]; then
    # An older build of the installer for the upgrade test: the same files with one of its own, an older
    # version, compressed quickly.
    setup_version=${setup##*/tessor-configurator-}
    setup_version=${setup_version%-setup.exe}
    old="$run/old-installer"
    mkdir -p "$old"
    cp -a "${zip%.zip}" "$old/stage"
    echo "A file only the older build installs." > "$old/stage/old-version-only.txt"
    cmake -DSTAGE="$old/stage" -DVERSION=0.0.1 -DOUTFILE="$old/setup-0.0.1.exe" \
        -DMAKENSIS="$(command -v makensis)" \
        -DNSI="$root/packaging/windows-installer.nsi" -DICON="$root/res/icon.ico" \
        -DSIGN="$root/packaging/windows-sign.sh" -DWORK="$old" -DCOMPRESSOR=zlib \
        -P packaging/windows-installer.cmake > "$old/makensis.log"
    TESSOR_SETUP="$setup" TESSOR_OLD_SETUP="$old/setup-0.0.1.exe" TESSOR_STAGE="${zip%.zip}" \
        TESSOR_VERSION="$setup_version" TESSOR_CLI_VERSION="$("$host/cli/tessor-cli" --version)" \
        TESSOR_PREFIX_TEMPLATE="$template" TESSOR_FRESH_PREFIX="$build/wineprefix-fresh" \
        TESSOR_SIGN_CA="$sign_ca" TESSOR_SIM="$sim" TESSOR_SOURCE_DIR="$root" WINE="$wine" \
        WINESERVER="$wineserver" PYTHONDONTWRITEBYTECODE=1 \
        PYTHONPATH="$root/tests/windows:$root/tests/realinput" python3 -m unittest -v test_installer_wine
    timing "installer tested"
fi

echo "test-windows: all passed in $SECONDS s ($build/win: $(printf '%s ' "${release[@]}")SHA256SUMS)"
