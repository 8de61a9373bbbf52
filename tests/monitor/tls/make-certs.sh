#!/usr/bin/env bash
# Makes the TLS files of the endpoint tests in DIR: a CA, a server certificate for 127.0.0.1 (and a
# renewed one with a new serial), a client certificate signed by the CA, and one signed by another CA.
# The users' hashes are made with htpasswd -nbBC 10.
set -euo pipefail
dir=$1
cd "$dir"
ssl() { openssl "$@" 2>/dev/null; }
ca() { # NAME
    ssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -days 2 -subj "/CN=$1" \
        -keyout "$1.key" -out "$1.crt"
}
leaf() { # NAME CA EXTENSIONS
    ssl req -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -subj "/CN=$1" -keyout "$1.key" -out "$1.csr"
    printf '%s\n' "$3" >"$1.ext"
    ssl x509 -req -in "$1.csr" -CA "$2.crt" -CAkey "$2.key" -CAcreateserial -days 2 -extfile "$1.ext" -out "$1.crt"
}
ca ca
ca other-ca
leaf server ca "subjectAltName=IP:127.0.0.1
extendedKeyUsage=serverAuth"
leaf renewed ca "subjectAltName=IP:127.0.0.1
extendedKeyUsage=serverAuth"
leaf client ca "extendedKeyUsage=clientAuth"
leaf stranger other-ca "extendedKeyUsage=clientAuth"
htpasswd -nbBC 10 prometheus scrape-secret | tr -d '\n' | sed 's/^prometheus://' >prometheus.hash
