#!/bin/bash
# Makes a throw-away PKI for TLS tests in OUTDIR (created when missing; existing files replaced):
#
#   ca.pem                          test CA (trust it where the client runs: wine-trust-ca.sh)
#   server.pem, server.key          valid now, for IP 127.0.0.1 and DNS localhost
#   wrong-host.pem, wrong-host.key  valid now, but for DNS other.invalid only
#   expired.pem, expired.key        for 127.0.0.1 and localhost, expired in 2020
#   untrusted.pem, untrusted.key    for 127.0.0.1 and localhost, signed by untrusted-ca.pem; the
#                                   file holds the chain (the certificate, then that CA), as a
#                                   server with a private CA sends it
#   untrusted-leaf.pem              the same certificate alone: a chain that ends nowhere
#   untrusted-ca.pem                a second CA that nobody trusts
#
# Keys are ECDSA P-256 (quick to make; Schannel takes them), signatures SHA-256; server
# certificates carry the serverAuth usage. The CA keys are thrown away: nothing else can ever be
# signed by these CAs.
#
#   make-test-pki.sh OUTDIR
set -euo pipefail

if (( $# != 1 )); then
    echo "usage: $0 OUTDIR" >&2
    exit 2
fi
out=$1
mkdir -p "$out"
work="$(mktemp -d "${TMPDIR:-/tmp}/ostrevane-pki.XXXXXX")"
trap 'rm -rf "$work"' EXIT
umask 077

# Valid certificates start a day back, so that a clock a little behind still agrees.
start="$(date -u -d '-1 day' +%Y%m%d%H%M%SZ)"
end="$(date -u -d '+365 days' +%Y%m%d%H%M%SZ)"
ca_start=20190101000000Z   # before the expired certificate, so that only its own dates are wrong
ca_end="$(date -u -d '+3650 days' +%Y%m%d%H%M%SZ)"

cat >"$work/openssl.cnf" <<'CNF'
[ca]
default_ca = test_ca
[test_ca]
dir = $ENV::CA_DIR
database = $dir/index.txt
serial = $dir/serial
new_certs_dir = $dir
default_md = sha256
policy = any_name
unique_subject = no
copy_extensions = none
[any_name]
commonName = supplied
[req]
distinguished_name = req_name
prompt = no
[req_name]
CN = unused
[ca_ext]
basicConstraints = critical, CA:TRUE
keyUsage = critical, keyCertSign, cRLSign
subjectKeyIdentifier = hash
[server_ext]
basicConstraints = critical, CA:FALSE
keyUsage = critical, digitalSignature
extendedKeyUsage = serverAuth
subjectKeyIdentifier = hash
authorityKeyIdentifier = keyid
subjectAltName = $ENV::SAN
CNF

# The configuration names both; openssl reads the whole file on every call.
export CA_DIR="$work" SAN=DNS:unused

ssl() {
    openssl "$@" 2>"$work/openssl.err" || { cat "$work/openssl.err" >&2; exit 1; }
}

# make_ca NAME SUBJECT: a self-signed CA in $work/NAME
make_ca() {
    local dir="$work/$1"
    mkdir -p "$dir"
    : >"$dir/index.txt"
    openssl rand -hex 16 >"$dir/serial"
    ssl genpkey -algorithm EC -pkeyopt ec_paramgen_curve:P-256 -out "$dir/key.pem"
    ssl req -new -config "$work/openssl.cnf" -key "$dir/key.pem" -subj "/CN=$2" -out "$dir/req.pem"
    CA_DIR="$dir" ssl ca -batch -notext -config "$work/openssl.cnf" -selfsign \
        -keyfile "$dir/key.pem" -extensions ca_ext -startdate "$ca_start" -enddate "$ca_end" \
        -in "$dir/req.pem" -out "$dir/cert.pem"
}

# make_server CA NAME SAN START END: OUTDIR/NAME.pem and OUTDIR/NAME.key, signed by that CA
make_server() {
    local dir="$work/$1" name=$2
    ssl genpkey -algorithm EC -pkeyopt ec_paramgen_curve:P-256 -out "$work/$name.key"
    ssl req -new -config "$work/openssl.cnf" -key "$work/$name.key" -subj "/CN=Ostrevane test $name" \
        -out "$work/$name.req"
    CA_DIR="$dir" SAN="$3" ssl ca -batch -notext -config "$work/openssl.cnf" -cert "$dir/cert.pem" \
        -keyfile "$dir/key.pem" -extensions server_ext -startdate "$4" -enddate "$5" \
        -in "$work/$name.req" -out "$work/$name.pem"
    install -m 644 "$work/$name.pem" "$out/$name.pem"
    install -m 600 "$work/$name.key" "$out/$name.key"
}

make_ca trusted "Ostrevane test CA"
make_ca untrusted "Ostrevane untrusted test CA"
local_names="IP:127.0.0.1, DNS:localhost"
make_server trusted server "$local_names" "$start" "$end"
make_server trusted wrong-host "DNS:other.invalid" "$start" "$end"
make_server trusted expired "$local_names" 20200101000000Z 20200201000000Z
make_server untrusted untrusted "$local_names" "$start" "$end"
install -m 644 "$work/trusted/cert.pem" "$out/ca.pem"
install -m 644 "$work/untrusted/cert.pem" "$out/untrusted-ca.pem"
install -m 644 "$out/untrusted.pem" "$out/untrusted-leaf.pem"
cat "$work/untrusted/cert.pem" >>"$out/untrusted.pem"
