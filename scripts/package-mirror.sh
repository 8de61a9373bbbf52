#!/usr/bin/env bash
# Prints the address of the Debian archive this system takes its packages from, as its own package sources
# name it: the first entry for the given release (its codename as the suite, exactly: not -security or
# -updates) with the component main that is not switched off. Both forms of the sources are read, the
# one-line form (sources.list, sources.list.d/*.list) and the deb822 form (sources.list.d/*.sources).
# Exits 1 with a message when there is none. Used by scripts/build-qt-windows.sh to fetch Qt's source.
#
#   bash scripts/package-mirror.sh bookworm
#   APT_ETC=/some/dir bash scripts/package-mirror.sh bookworm     # sources from another folder (tests)
set -euo pipefail
[ $# -eq 1 ] || { echo "usage: scripts/package-mirror.sh CODENAME" >&2; exit 2; }
codename=$1
etc=${APT_ETC:-/etc/apt}

one_line_entry() {
    awk -v suite="$codename" '
        /^[ \t]*deb(-src)?[ \t]/ {
            sub(/\[[^]]*\]/, "")  # the options in brackets
            if ($3 != suite || $2 ~ /^cdrom:/) next
            for (i = 4; i <= NF && $i !~ /^#/; i++)
                if ($i == "main") { print $2; exit }
        }' "$1"
}

# deb822: paragraphs of "Key: value" fields, a value going on in lines that start with a blank.
deb822_entry() {
    awk -v suite="$codename" '
        function has(list, word,    n, words, i) {
            n = split(list, words, /[ \t]+/)
            for (i = 1; i <= n; i++) if (words[i] == word) return 1
            return 0
        }
        function check(    n, uris) {
            if (has(field["types"], "deb") || has(field["types"], "deb-src"))
                if (tolower(field["enabled"]) != "no" && has(field["suites"], suite) &&
                    has(field["components"], "main")) {
                    n = split(field["uris"], uris, /[ \t]+/)
                    if (n > 0 && uris[1] !~ /^cdrom:/) { print uris[1]; found = 1; exit }
                }
            delete field
        }
        /^[ \t]*#/ { next }
        /^[ \t]*$/ { check(); next }
        /^[ \t]/ { if (key != "") field[key] = field[key] " " $0; next }
        {
            key = tolower(substr($0, 1, index($0, ":") - 1))
            value = substr($0, index($0, ":") + 1)
            gsub(/^[ \t]+|[ \t]+$/, "", value)
            field[key] = value
        }
        END { if (!found) check() }' "$1"
}

for file in "$etc/sources.list" "$etc"/sources.list.d/*.list "$etc"/sources.list.d/*.sources; do
    [ -f "$file" ] || continue
    case $file in
    *.sources) mirror=$(deb822_entry "$file") ;;
    *) mirror=$(one_line_entry "$file") ;;
    esac
    if [ -n "$mirror" ]; then
        echo "${mirror%/}"
        exit 0
    fi
done
echo "package-mirror: no package source for $codename with the component main in $etc/sources.list or" \
    "$etc/sources.list.d/ (*.list or *.sources); add the Debian archive you use there" \
    "(see sources.list(5))" >&2
exit 1
