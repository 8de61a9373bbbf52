#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the tool need. Quick when they are present.
# With --windows also those of the Windows cross build and its tests under Wine (scripts/test-windows.sh).
set -euo pipefail

packages=(
    cmake ninja-build g++ pkg-config
    qt6-base-dev qt6-base-dev-tools libgl-dev
    libgtest-dev libgmock-dev
    libcli11-dev nlohmann-json3-dev
    clang libclang-rt-14-dev
    libudev-dev libtelnet-dev ser2net
    xvfb xauth xdotool x11-utils python3 imagemagick
    poppler-utils
    libcpp-httplib-dev libmicrohttpd-dev
    prometheus
    # The monitor's --web.config.file: GnuTLS (libmicrohttpd's TLS), libcrypt's bcrypt, yaml-cpp for the
    # file; its tests make certificates with openssl and hashes with htpasswd, and compare the endpoint
    # with the node exporter given the same file, through curl.
    libgnutls28-dev libcrypt-dev libyaml-cpp-dev
    openssl apache2-utils curl prometheus-node-exporter
    # The monitoring set's tests: amtool and Alertmanager for the Alertmanager example, PyYAML for the
    # rule files.
    prometheus-alertmanager python3-yaml
    # The package test: lintian checks the Debian package.
    lintian
)

if [ "${1:-}" = "--windows" ]; then
    packages+=(g++-mingw-w64-x86-64-posix googletest wine64 groff-base dpkg-dev fonts-dejavu-core
        nsis osslsigncode openssl)
fi

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done

if [ ${#missing[@]} -gt 0 ]; then
    echo "Installing: ${missing[*]}"
    SUDO=""
    [ "$(id -u)" -ne 0 ] && SUDO="sudo"
    $SUDO apt-get update -q
    DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -q --no-install-recommends "${missing[@]}"
fi
