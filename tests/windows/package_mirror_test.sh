#!/usr/bin/env bash
# scripts/package-mirror.sh against package sources written here: which entry of the system's sources the
# Qt build fetches from, in both forms of the sources, and the refusal when none fits.
# Run by scripts/test-windows.sh before the Qt build.
set -euo pipefail
cd "$(dirname "$0")/../.."
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0

# One case: the files (name, text, name, text, ...) in a fresh sources folder; the expected address, or
# "refused" for exit status 1 with the message naming sources.list.
check() {
    local what=$1 want=$2
    shift 2
    rm -rf "$work/etc"
    mkdir -p "$work/etc/sources.list.d"
    while [ $# -gt 0 ]; do
        printf '%s' "$2" > "$work/etc/$1"
        shift 2
    done
    local got status=0
    got=$(APT_ETC="$work/etc" bash scripts/package-mirror.sh bookworm 2> "$work/err") || status=$?
    if [ "$want" = refused ]; then
        if [ "$status" != 1 ] || [ -n "$got" ] || ! grep -q "sources.list" "$work/err"; then
            echo "FAIL: $what: status $status, printed '$got', said: $(cat "$work/err")" >&2
            failures=$((failures + 1))
        fi
    elif [ "$status" != 0 ] || [ "$got" != "$want" ]; then
        echo "FAIL: $what: status $status, printed '$got', expected '$want': $(cat "$work/err")" >&2
        failures=$((failures + 1))
    fi
}

main=$'Types: deb\nURIs: file:/srv/debian/\nSuites: bookworm bookworm-updates\nComponents: main\n'
security=$'Types: deb\nURIs: file:/srv/security\nSuites: bookworm-security\nComponents: main\n'

check "deb822, the release with its updates" file:/srv/debian sources.list.d/debian.sources "$main"
check "deb822, security first" file:/srv/debian sources.list.d/debian.sources "$security"$'\n'"$main"
check "deb822, only security" refused sources.list.d/debian.sources "$security"
off=$'Types: deb\nURIs: file:/srv/off\nSuites: bookworm\nComponents: main\nEnabled: no\n'
other=$'# a comment\nTypes: deb deb-src\nURIs: file:/srv/other file:/srv/second\nSuites: bookworm\n'
check "deb822, switched off" file:/srv/other sources.list.d/debian.sources \
    "$off"$'\n'"$other"$'Components: contrib main\n'
check "deb822, no main" refused sources.list.d/debian.sources \
    $'Types: deb\nURIs: file:/srv/debian\nSuites: bookworm\nComponents: contrib non-free\n'
check "deb822, source packages only, keys in another case" file:/srv/src sources.list.d/debian.sources \
    $'types: deb-src\nuris: file:/srv/src\nsuites:\n bookworm\ncomponents: main\n'
check "deb822, another release" refused sources.list.d/debian.sources \
    $'Types: deb\nURIs: file:/srv/debian\nSuites: trixie\nComponents: main\n'
check "one line, options in brackets" file:/srv/one sources.list \
    $'# deb file:/srv/commented bookworm main\ndeb [arch=amd64 signed-by=/usr/share/keyrings/k.gpg] file:/srv/one bookworm main contrib\n'
check "one line, only security and updates" refused sources.list \
    $'deb file:/srv/one bookworm-security main\ndeb file:/srv/one bookworm-updates main\n'
check "one line, main behind a comment" refused sources.list $'deb file:/srv/one bookworm contrib # main\n'
check "one line in sources.list.d" file:/srv/list sources.list.d/extra.list $'deb-src file:/srv/list bookworm main\n'
check "sources.list before sources.list.d" file:/srv/first sources.list $'deb file:/srv/first bookworm main\n' \
    sources.list.d/debian.sources "$main"
check "a cdrom is no archive to fetch from" file:/srv/debian sources.list \
    $'deb cdrom:[Debian 12]/ bookworm main\n' sources.list.d/debian.sources "$main"
check "nothing configured" refused

if [ "$failures" -ne 0 ]; then
    echo "package_mirror_test: $failures case(s) failed" >&2
    exit 1
fi
echo "package_mirror_test: 14 cases passed"
