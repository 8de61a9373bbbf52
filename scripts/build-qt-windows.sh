#!/usr/bin/env bash
# Builds a static Qt (Core, Gui, Widgets, the Windows platform plugin and styles) for 64-bit Windows from
# Debian's own qt6-base source package, with Debian's mingw-w64 cross compiler, into a cache folder outside
# the clone. The source version must be that of the installed Linux Qt: the cross build runs its host tools
# (moc, rcc, uic). Quick when the cache already holds that version built with this configuration.
#
#   bash scripts/build-qt-windows.sh            # prints the install folder on its last line
#   TESSOR_QT_WINDOWS=/some/dir bash scripts/build-qt-windows.sh
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

bash scripts/setup-deps.sh --windows
for tool in dpkg-source; do
    command -v "$tool" >/dev/null || {
        echo "build-qt-windows: $tool is missing (package dpkg-dev); run scripts/setup-deps.sh --windows" >&2
        exit 1
    }
done

version=$(dpkg-query -W -f='${Version}' qt6-base-dev 2>/dev/null || true)
if [ -z "$version" ]; then
    echo "build-qt-windows: the Linux Qt (qt6-base-dev) is not installed; its host tools are needed" >&2
    exit 1
fi
upstream=${version%%+*}
cache=${TESSOR_QT_WINDOWS:-/var/cache/tessor/qt-${upstream}-mingw64}

# Everything that decides what is built; a change of it rebuilds the cache.
config=(
    -DQT_HOST_PATH=/usr
    -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake
    -DBUILD_SHARED_LIBS=OFF
    -DCMAKE_BUILD_TYPE=Release
    -DQT_BUILD_EXAMPLES=OFF -DQT_BUILD_TESTS=OFF -DQT_BUILD_BENCHMARKS=OFF
    -DFEATURE_opengl=OFF -DFEATURE_dynamicgl=OFF -DFEATURE_vulkan=OFF
    -DFEATURE_dbus=OFF -DFEATURE_sql=OFF -DFEATURE_network=OFF -DFEATURE_concurrent=OFF
    -DFEATURE_xml=OFF -DFEATURE_printsupport=OFF -DFEATURE_testlib=OFF
    -DFEATURE_tabletevent=OFF
    -DFEATURE_system_zlib=OFF -DFEATURE_system_pcre2=OFF -DFEATURE_system_freetype=OFF
    -DFEATURE_system_harfbuzz=OFF -DFEATURE_system_png=OFF -DFEATURE_system_jpeg=OFF
)
stamp="qt6-base ${version} mingw-w64 static: ${config[*]}"
work=${TESSOR_QT_WINDOWS_WORK:-/var/cache/tessor/work-qt-${upstream}}

# What a program linked with this Qt ships beside it: Qt's licence texts (LGPL-3 and the GPL-3 it builds
# on), the copyright file of Debian's source package (Qt and the bundled libraries), and where the
# source comes from (the source package and its version, which any Debian archive serves) with the
# configuration used.
write_licence_texts() {
    local tree=$1
    cp "$tree/LICENSES/LGPL-3.0-only.txt" "$cache/LGPL-3.0-only.txt"
    cp "$tree/LICENSES/GPL-3.0-only.txt" "$cache/GPL-3.0-only.txt"
    cp "$tree/debian/copyright" "$cache/qt6-base-copyright.txt"
    source_note >"$cache/QT-SOURCE.txt"
}
source_note() {
    {
        echo "Qt ${version%%+*} (Qt Core, Qt Gui, Qt Widgets, the Windows platform plugin and styles) is"
        echo "linked into tessor-configurator.exe statically, under the GNU Lesser General Public License"
        echo "version 3 (LGPL-3.0-only.txt, which builds on GPL-3.0-only.txt)."
        echo
        echo "It was built from Debian's source package qt6-base, version ${version}, unchanged; on a"
        echo "Debian system with source packages in its package sources:"
        echo "    apt-get source qt6-base=${version}"
        echo "The copyright and licences of Qt and of the libraries it bundles (zlib, PCRE2, FreeType,"
        echo "HarfBuzz, libpng, libjpeg) are in qt6-base-copyright.txt."
        echo
        echo "Configured for mingw-w64 with:"
        printf '    %s\n' "${config[@]}"
        echo
        echo "The program's own source is free (MIT), so it can be built again against a changed Qt:"
        echo "scripts/build-qt-windows.sh and scripts/test-windows.sh in its source tree do both."
    }
}

# One build at a time: a second run waits for the first and then finds its result in the cache.
mkdir -p "$work"
exec 9>"$work/.lock"
if ! flock -n 9; then
    echo "build-qt-windows: another build of Qt for Windows is running; waiting for it"
    flock 9
fi

if [ -f "$cache/.tessor-stamp" ] && [ "$(cat "$cache/.tessor-stamp")" = "$stamp" ]; then
    # A cache from before the licence texts were kept: take them from the source still at hand.
    if [ ! -f "$cache/qt6-base-copyright.txt" ]; then
        tree=$(find "$work/src" -maxdepth 1 -mindepth 1 -type d -name 'qt6-base-*' 2>/dev/null | head -1)
        [ -n "$tree" ] || { echo "build-qt-windows: $cache lacks Qt's licence texts; remove it to rebuild" >&2; exit 1; }
        write_licence_texts "$tree"
    fi
    # The note on the source as this script writes it now (an older one named a download address).
    source_note | cmp -s - "$cache/QT-SOURCE.txt" || source_note >"$cache/QT-SOURCE.txt"
    echo "build-qt-windows: Qt ${version} for Windows is in the cache"
    echo "$cache"
    exit 0
fi

# A private sources list with a deb-src line for the archive the system's own package sources name, so
# the system's own lists are left alone.
codename=$(. /etc/os-release && echo "${VERSION_CODENAME:-}")
[ -n "$codename" ] || { echo "build-qt-windows: /etc/os-release names no release (VERSION_CODENAME)" >&2; exit 1; }
if ! mirror=$(bash scripts/package-mirror.sh "$codename"); then
    echo "build-qt-windows: no package source to fetch qt6-base ${version} from (above)" >&2
    exit 1
fi
apt_dir="$work/apt"
mkdir -p "$apt_dir/lists/partial" "$apt_dir/archives/partial"
echo "deb-src $mirror $codename main" > "$apt_dir/sources.list"
apt_opts=(
    -o "Dir::Etc::SourceList=$apt_dir/sources.list" -o "Dir::Etc::SourceParts=/dev/null"
    -o "Dir::State::Lists=$apt_dir/lists" -o "Dir::Cache::Archives=$apt_dir/archives"
    -o "APT::Get::List-Cleanup=0"
)
src="$work/src"
if [ ! -f "$src/.fetched-$version" ]; then
    echo "build-qt-windows: fetching the source of qt6-base ${version} from $mirror"
    if ! apt-get "${apt_opts[@]}" update -q >"$work/apt-update.log" 2>&1; then
        echo "build-qt-windows: cannot read the source index from $mirror (see $work/apt-update.log)" >&2
        exit 1
    fi
    rm -rf "$src" && mkdir -p "$src"
    if ! (cd "$src" && apt-get "${apt_opts[@]}" source -q "qt6-base=${version}") >"$work/apt-source.log" 2>&1; then
        echo "build-qt-windows: cannot fetch qt6-base ${version} (see $work/apt-source.log);" \
            "the installed Linux Qt and the source must be the same version" >&2
        exit 1
    fi
    touch "$src/.fetched-$version"
fi
tree=$(find "$src" -maxdepth 1 -mindepth 1 -type d -name 'qt6-base-*' | head -1)
[ -n "$tree" ] || { echo "build-qt-windows: no source tree in $src" >&2; exit 1; }

build="$work/build"
rm -rf "$build" "$cache"
echo "build-qt-windows: configuring (log: $work/configure.log)"
if ! cmake -S "$tree" -B "$build" -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" \
    -DCMAKE_INSTALL_PREFIX="$cache" "${config[@]}" >"$work/configure.log" 2>&1; then
    tail -30 "$work/configure.log" >&2
    echo "build-qt-windows: configuring Qt failed (see $work/configure.log)" >&2
    exit 1
fi
echo "build-qt-windows: building (about 1,100 steps; log: $work/build.log)"
jobs=${TESSOR_QT_JOBS:-2}
started=$SECONDS
# Every 100th step on the terminal, each line of the build with its time in the log.
if ! nice -n 10 cmake --build "$build" -j"$jobs" 2>&1 |
    while IFS= read -r line; do
        printf '%s %s\n' "$(date +%T)" "$line"
        case $line in
        \[*00/*\]*) echo "build-qt-windows: ${line%%]*}] after $((SECONDS - started)) s" >&2 ;;
        esac
    done >"$work/build.log"; then
    grep -m20 -E 'error|FAILED' "$work/build.log" >&2 || true
    echo "build-qt-windows: building Qt failed (see $work/build.log)" >&2
    exit 1
fi
echo "build-qt-windows: built in $((SECONDS - started)) s"
cmake --install "$build" >"$work/install.log" 2>&1
write_licence_texts "$tree"
echo "$version" >"$cache/.tessor-source-version"
echo "$stamp" >"$cache/.tessor-stamp"
rm -rf "$build"
echo "build-qt-windows: Qt ${version} for Windows installed"
echo "$cache"
